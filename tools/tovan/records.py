"""Readers of the engine's training files (README, "Self-play" and "Training").

Self-play records (`pbrain-tovan selfplay`): read_games(path) yields each complete game;
positions(path) yields (game, position) for every fully searched position. A file cut off
at its end yields every game before the cut; a damaged chunk inside a file raises
RecordError.

Training samples (`pbrain-tovan dataset`): SampleFile(path) maps a sample file into
memory; batch(indices) unpacks the samples at those indices into float32 arrays: "planes"
(n, C, H, W) of zeros and ones, "policy" (n, H*W) of target probabilities, "result",
"draw", "root_value", "root_draw" (n), and when the file holds a model's answers,
"model_policy" (n, H*W), "model_win" and "model_draw" (n).
"""

import os
import struct
import zlib
from dataclasses import dataclass

import numpy as np

RULES = ("freestyle", "standard", "renju", "caro")  # by their code in both kinds of file
RECORD_MAGIC = b"TVSP"
RECORD_VERSION = 1
WINNERS = ("Black", "White", "draw")
ENDS = ("five", "board", "proven")
# One entry of a visit distribution: the cell and its probability.
WEIGHT = np.dtype([("x", "u1"), ("y", "u1"), ("p", "<f4")])


class RecordError(ValueError):
    pass


@dataclass
class Position:
    ply: int          # index of the move played from it: stones on the board
    side: int         # to move: 0 Black, 1 White
    value: float      # root value for the side to move, -1..1
    draw_rate: float
    policy: np.ndarray  # WEIGHT entries, probabilities summing to 1

    def policy_plane(self, width, height):
        """The distribution as a height x width array."""
        plane = np.zeros((height, width), dtype=np.float32)
        plane[self.policy["y"], self.policy["x"]] = self.policy["p"]
        return plane


@dataclass
class Game:
    rule: str
    width: int
    height: int
    moves: list       # (x, y) from the empty board, Black first
    vcf: list         # (x, y): the VCF found after the last move, attacker first; else empty
    winner: int       # 0 Black, 1 White, 2 draw
    end: str          # "five", "board" (full, or no legal move left) or "proven"
    positions: list   # Position, in game order


class _Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values


def _game(payload):
    r = _Reader(payload)
    rule, width, height, winner, end, move_count = r.take("BBBBBH")
    moves = [r.take("BB") for _ in range(move_count)]
    vcf = [r.take("BB") for _ in range(r.take("H")[0])]
    (position_count,) = r.take("H")
    positions = []
    for _ in range(position_count):
        ply, side, value, draw_rate, entries = r.take("HBffH")
        policy = np.frombuffer(payload, dtype=WEIGHT, count=entries, offset=r.at)
        r.at += entries * WEIGHT.itemsize
        positions.append(Position(ply, side, value, draw_rate, policy))
    if r.at != len(payload):
        raise RecordError(f"{len(payload) - r.at} bytes left over in a game")
    return Game(RULES[rule], width, height, moves, vcf, winner, ENDS[end], positions)


def read_games(path, stats=None):
    """Yields every complete game of the file. `stats`, a dict, gets "cut_bytes": the
    length of an incomplete chunk at the end (0 if none)."""
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    header = struct.Struct("<4sBI")
    while at < len(data):
        if len(data) - at < header.size:
            break
        magic, version, size = header.unpack_from(data, at)
        if magic != RECORD_MAGIC:
            raise RecordError(f"{path}: no record at byte {at}")
        if version != RECORD_VERSION:
            raise RecordError(f"{path}: record version {version} at byte {at}, this reader knows {RECORD_VERSION}")
        if at + header.size + size > len(data):
            break
        try:
            payload = zlib.decompress(data[at + header.size:at + header.size + size])
        except zlib.error as error:
            raise RecordError(f"{path}: damaged record at byte {at}: {error}") from None
        yield _game(payload)
        at += header.size + size
    if stats is not None:
        stats["cut_bytes"] = len(data) - at


def positions(path):
    """Yields (game, position) for every recorded position of every complete game."""
    for game in read_games(path):
        for position in game.positions:
            yield game, position


# --------------------------------------------------------------------------- samples

SAMPLE_MAGIC = b"TVDS"
SAMPLE_VERSION = 2
HEADER_BYTES = 16


class SampleError(ValueError):
    pass


class SampleFile:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as file:
            header = file.read(HEADER_BYTES)
        if len(header) < HEADER_BYTES or header[:4] != SAMPLE_MAGIC:
            raise SampleError(f"{path}: not a sample file")
        if header[4] != SAMPLE_VERSION:
            raise SampleError(f"{path}: sample file version {header[4]}, this reader knows {SAMPLE_VERSION}")
        rule, self.width, self.height, self.channels, flags = header[5:10]
        if rule >= len(RULES) or not (5 <= self.width <= 20 and 5 <= self.height <= 20):
            raise SampleError(f"{path}: damaged header")
        self.rule = RULES[rule]
        self.has_model = bool(flags & 1)
        cells = self.width * self.height
        fields = [("planes", "u1", ((self.channels * cells + 7) // 8,)), ("codes", "<u2", (cells, 8)),
                  ("policy", "<f4", (cells,)),
                  ("result", "<f4"), ("draw", "<f4"), ("root_value", "<f4"), ("root_draw", "<f4")]
        if self.has_model:
            fields += [("model_policy", "<f4", (cells,)), ("model_win", "<f4"), ("model_draw", "<f4")]
        self.dtype = np.dtype(fields)
        # A file cut off inside a sample keeps every sample before the cut.
        count = (os.path.getsize(path) - HEADER_BYTES) // self.dtype.itemsize
        self.samples = np.memmap(path, dtype=self.dtype, mode="r", offset=HEADER_BYTES, shape=(count,))

    def __len__(self):
        return len(self.samples)

    def batch(self, indices):
        rows = self.samples[np.asarray(indices).reshape(-1)]
        cells = self.width * self.height
        bits = np.unpackbits(rows["planes"], axis=1, bitorder="little")[:, :self.channels * cells]
        out = {"planes": bits.reshape(-1, self.channels, self.height, self.width).astype(np.float32)}
        out["codes"] = np.array(rows["codes"], dtype=np.int64)
        for name in self.dtype.names[2:]:
            out[name] = np.array(rows[name], dtype=np.float32)
        return out
