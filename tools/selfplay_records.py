#!/usr/bin/python3
"""Reads the training records of `pbrain-tovan selfplay` (README, "Self-play").

read_games(path) yields each complete game; positions(path) yields (game, position) for
every fully searched position. A file cut off at its end yields every game before the
cut; a damaged chunk inside a file raises RecordError.

Usage: selfplay_records.py FILE...   prints games, positions and results
"""

import struct
import sys
import zlib
from dataclasses import dataclass

import numpy as np

MAGIC = b"TVSP"
VERSION = 1
RULES = ("freestyle", "standard", "renju", "caro")
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
        if magic != MAGIC:
            raise RecordError(f"{path}: no record at byte {at}")
        if version != VERSION:
            raise RecordError(f"{path}: record version {version} at byte {at}, this reader knows {VERSION}")
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


def summary(path):
    stats = {}
    games = list(read_games(path, stats))
    lines = [f"{path}: {len(games)} games, {sum(len(g.positions) for g in games)} positions"]
    if games:
        moves = sum(len(g.moves) for g in games)
        lines.append(f"  moves: {moves} ({moves / len(games):.1f} per game)")
        results = {}
        for g in games:
            key = f"{g.rule} {g.width}x{g.height}: " + ("draw" if g.winner == 2 else f"{WINNERS[g.winner]} wins")
            results[key] = results.get(key, 0) + 1
        lines += [f"  {key}: {count}" for key, count in sorted(results.items())]
        ends = {end: sum(g.end == end for g in games) for end in ENDS}
        lines.append("  ended by " + ", ".join(f"{end} {count}" for end, count in ends.items()))
    if stats["cut_bytes"]:
        lines.append(f"  an incomplete game at the end ({stats['cut_bytes']} bytes) was left out")
    return "\n".join(lines)


def main(argv):
    if not argv or argv[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if argv else 2
    try:
        for path in argv:
            print(summary(path))
    except (OSError, RecordError) as error:
        print(f"selfplay_records: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
