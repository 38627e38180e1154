#!/usr/bin/python3
"""Plays a match between two five-in-a-row engines over the tournament line protocol.

Each game starts both engines as fresh child processes, tells them the board, the rule and
the time limits, and asks them for moves in turn (BEGIN / TURN / BOARD). The runner judges
every reply itself: the move must parse, lie on the board and on an empty cell, and the
game ends on a five (by the chosen rule), a full board, or a fault of either engine
(timeout, exit, ERROR reply, unparsable or illegal move), which loses the game.

Only Python's standard library is used. Run `tools/match.py --help` for the options.
"""

import argparse
import dataclasses
import json
import math
import os
import re
import shlex
import shutil
import sys
import time

from tovan.elo import elo_interval, likelihood_of_superiority
from tovan.engine import Engine, board_command
from tovan.rules import BLACK, EMPTY, RULES, WHITE, Board, winning_line  # noqa: F401 (Board and EMPTY for importers)

STONE = {EMPTY: ".", BLACK: "X", WHITE: "O"}
COLOUR = {BLACK: "Black", WHITE: "White"}
MOVE_RE = re.compile(r"^\s*(-?\d+)\s*,\s*(-?\d+)\s*$")


def parse_move(text):
    """(x, y) of a move "x,y", or None."""
    found = MOVE_RE.match(text)
    return (int(found.group(1)), int(found.group(2))) if found else None


@dataclasses.dataclass
class Settings:
    """How the games are played and shown; the defaults are those of the command line."""
    width: int = 15
    height: int = 15
    rule: str = "standard"
    turn_ms: int = 5000
    match_ms: int = 0
    # engine2's own limits where it plays at other odds; None: engine1's
    turn_ms2: int | None = None
    match_ms2: int | None = None
    margin_ms: int = 200
    init_ms: int = 15000
    memory_mb: int = 0
    show_moves: bool = False
    show_board: bool = False
    show_debug: bool = False

    def limits(self, index):
        """(turn ms, match ms) of engine `index`."""
        if index == 2:
            return (self.turn_ms if self.turn_ms2 is None else self.turn_ms2,
                    self.match_ms if self.match_ms2 is None else self.match_ms2)
        return self.turn_ms, self.match_ms


# --------------------------------------------------------------------------- games


class Fault(Exception):
    """An engine fault that loses it the game."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


class Player:
    def __init__(self, index, spec, colour, limits):
        self.index = index  # 1 or 2: which engine of the match
        self.spec = spec
        self.colour = colour
        self.turn_ms, self.match_ms = limits
        self.engine = None
        self.asked = False  # has it been asked for a move in this game yet
        self.time_left = None  # ms, when a match time is set

    @property
    def name(self):
        return self.spec["name"]


class Game:
    """One game of the match; `settings` is a Settings (or the parsed command line)."""

    def __init__(self, number, settings, specs, engine1_colour, opening):
        self.number = number
        self.settings = settings
        self.board = Board(settings.width, settings.height)
        colour2 = WHITE if engine1_colour == BLACK else BLACK
        self.players = {engine1_colour: Player(1, specs[1], engine1_colour, settings.limits(1)),
                        colour2: Player(2, specs[2], colour2, settings.limits(2))}
        self.opening = opening
        self.moves = []  # (x, y, colour, ms or None for opening stones)
        self.winner = None  # colour, or None for a draw
        self.reason = ""
        self.faulty = None  # the player whose fault ended the game
        self.times = {1: [], 2: []}  # ms per move, by engine index
        self.diagnostics = {1: [], 2: []}  # per move, the DEBUG/MESSAGE lines written while asked

    # ---- engine set-up

    def start_player(self, player):
        settings = self.settings
        label = f"{player.name} {STONE[player.colour]}"
        show = (lambda line: print(f"    [{label}] {line}", flush=True)) if settings.show_debug else None
        try:
            player.engine = Engine(player.spec["argv"], player.spec["cwd"], on_diagnostic=show)
        except OSError as error:
            raise Fault(f"could not be started: {error}")
        if settings.width == settings.height:
            command = f"START {settings.width}"
        else:
            command = f"RECTSTART {settings.width},{settings.height}"
        reply = self.request(player, command, settings.init_ms / 1000.0, what=command.split()[0])
        if reply.text.upper() != "OK":
            raise Fault(f"answered {command.split()[0]} with {reply.text!r} instead of OK")
        infos = [f"INFO timeout_turn {player.turn_ms}",
                 f"INFO timeout_match {player.match_ms}",
                 f"INFO max_memory {settings.memory_mb * 1024 * 1024}",
                 f"INFO rule {RULES[settings.rule]}"]
        if player.match_ms:
            player.time_left = player.match_ms
            infos.append(f"INFO time_left {player.match_ms}")
        if not player.engine.send("\n".join(infos)):
            raise Fault("closed its input: " + player.engine.exit_description())

    @staticmethod
    def exchange(player, command, limit, what):
        """Sends a command and reads its reply (or its timeout); faults when the engine is gone."""
        engine = player.engine
        sent_at = time.monotonic()
        if not engine.send(command):
            raise Fault(f"could not be sent {what}: " + engine.exit_description())
        reply = engine.read_reply(sent_at, limit)
        if reply.kind == "exit":
            raise Fault(f"crashed on {what}: " + engine.exit_description())
        return reply

    @staticmethod
    def refuse_error(reply, what):
        if reply.text.upper().startswith("ERROR") or reply.text.upper().startswith("UNKNOWN"):
            raise Fault(f"replied to {what} with an error: {reply.text!r}")

    def request(self, player, command, limit, what):
        """Sends a command and returns its reply line; faults on timeout, exit or ERROR."""
        reply = self.exchange(player, command, limit, what)
        if reply.kind == "timeout":
            raise Fault(f"timed out on {what}: no reply within {limit * 1000:.0f} ms")
        self.refuse_error(reply, what)
        return reply

    # ---- moves

    def ask_move(self, player):
        """Asks the player for its move and returns (x, y, ms); raises Fault."""
        settings = self.settings
        if player.time_left is not None:
            player.engine.send(f"INFO time_left {max(0, int(player.time_left))}")
        if not self.moves:
            command, what = "BEGIN", "BEGIN"
        elif not player.asked and self.opening:
            # it has not seen the opening yet: the whole position, in playing order
            command, what = board_command([move[:3] for move in self.moves], player.colour), "BOARD"
        else:
            x, y = self.moves[-1][:2]
            command, what = f"TURN {x},{y}", f"TURN {x},{y}"
        player.asked = True
        turn_limit = player.turn_ms
        match_limit = player.time_left if player.time_left is not None else math.inf
        limit_ms = min(turn_limit, match_limit) + settings.margin_ms
        reply = self.exchange(player, command, limit_ms / 1000.0, what)
        ms = reply.elapsed * 1000.0
        if player.time_left is not None:
            player.time_left -= ms
        if reply.kind == "timeout":
            if match_limit < turn_limit:
                raise Fault(f"ran out of match time on {what}: no move within {limit_ms:.0f} ms "
                            f"({match_limit:.0f} ms left + {settings.margin_ms} ms margin)")
            raise Fault(f"timed out on {what}: no move within {limit_ms:.0f} ms "
                        f"({turn_limit} ms + {settings.margin_ms} ms margin)")
        self.refuse_error(reply, what)
        move = parse_move(reply.text)
        if not move:
            raise Fault(f"replied to {what} with an unparsable move: {reply.text!r}")
        x, y = move
        if not self.board.on_board(x, y):
            raise Fault(f"played {x},{y}, off the {self.board.width}x{self.board.height} board "
                        f"(after {what})")
        if self.board.get(x, y) != EMPTY:
            raise Fault(f"played {x},{y}, an occupied cell (after {what})")
        self.diagnostics[player.index].append(reply.diagnostics)
        return x, y, ms

    def play(self):
        settings = self.settings
        for x, y in self.opening:
            colour = BLACK if len(self.moves) % 2 == 0 else WHITE
            self.board.place(x, y, colour)
            self.moves.append((x, y, colour, None))
        try:
            for colour in (BLACK, WHITE):
                player = self.players[colour]
                try:
                    self.start_player(player)
                except Fault as fault:
                    return self.forfeit(player, fault)
            while True:
                if self.board.full():
                    self.end(None, "the board is full")
                    return
                colour = BLACK if len(self.moves) % 2 == 0 else WHITE
                player = self.players[colour]
                try:
                    x, y, ms = self.ask_move(player)
                except Fault as fault:
                    return self.forfeit(player, fault)
                self.board.place(x, y, colour)
                self.moves.append((x, y, colour, ms))
                self.times[player.index].append(ms)
                if settings.show_moves:
                    extra = ""
                    if player.time_left is not None:
                        extra = f", {max(0, player.time_left):.0f} ms left"
                    print(f"  {len(self.moves):3d}. {STONE[colour]} {f'{x},{y}':<6}"
                          f"{ms:6.0f} ms{extra}  [{player.name}]", flush=True)
                    if settings.show_board:
                        print(self.render(indent="       "), flush=True)
                run = winning_line(self.board, x, y, settings.rule)
                if run:
                    (x0, y0), (x1, y1) = run
                    self.end(colour, f"{self.describe(player)} made five ({x0},{y0} to {x1},{y1})")
                    return
        finally:
            for player in self.players.values():
                if player.engine:
                    # a faulty engine may be stuck: it gets little time to read END
                    player.engine.close(grace=0.2 if player is self.faulty else 1.0)

    def end(self, winner, reason):
        self.winner, self.reason = winner, reason

    def forfeit(self, player, fault):
        """The player's fault ends the game: its opponent wins."""
        self.faulty = player
        self.end(WHITE if player.colour == BLACK else BLACK, f"{self.describe(player)} {fault.reason}")

    def describe(self, player):
        return f"{STONE[player.colour]} ({player.name})"

    # ---- display

    def render(self, indent=""):
        last = (self.moves[-1][0], self.moves[-1][1]) if self.moves else None
        rows = [indent + ("   " + "".join(f"{x:>2} " for x in range(self.board.width))).rstrip()]
        for y in range(self.board.height):
            cells = []
            for x in range(self.board.width):
                mark = STONE[self.board.get(x, y)]
                cells.append(f"({mark})" if (x, y) == last else f" {mark} ")
            rows.append(indent + f"{y:>3}" + "".join(cells).rstrip())
        return "\n".join(rows)

    def move_list(self, per_line=8):
        items = []
        for i, (x, y, colour, ms) in enumerate(self.moves, 1):
            items.append(f"{i}.{STONE[colour]} {x},{y}" + ("*" if ms is None else ""))
        width = max((len(item) for item in items), default=0) + 1
        lines = []
        for i in range(0, len(items), per_line):
            lines.append("  " + "".join(f"{item:<{width}}" for item in items[i:i + per_line]).rstrip())
        return "\n".join(lines) if lines else "  (none)"

    def result_text(self):
        if self.winner is None:
            return "1/2-1/2"
        return "1-0" if self.winner == BLACK else "0-1"

    # ---- record

    def record(self):
        """The finished game as one JSON-ready dict."""
        return {"number": self.number, "moves": [list(move) for move in self.moves],
                "winner": self.winner, "reason": self.reason,
                "faulty": None if self.faulty is None else self.faulty.colour,
                "times": self.times}

    def restore(self, record):
        """Takes the result of this game from its record."""
        self.moves = [tuple(move) for move in record["moves"]]
        for x, y, colour, _ in self.moves:
            self.board.place(x, y, colour)
        self.winner, self.reason = record["winner"], record["reason"]
        self.faulty = None if record["faulty"] is None else self.players[record["faulty"]]
        self.times = {int(index): ms for index, ms in record["times"].items()}

    def engine1_points(self):
        if self.winner is None:
            return 0.5
        return 1.0 if self.players[self.winner].index == 1 else 0.0


# --------------------------------------------------------------------------- match


def schedule(settings, specs, openings, count):
    """The match's games, not yet played: engine1 plays Black in odd games and White in even
    games; each opening (a list of (x, y), [] for none) serves two games in a row."""
    for i in range(count):
        yield Game(i + 1, settings, specs, BLACK if i % 2 == 0 else WHITE, openings[(i // 2) % len(openings)])


def tally(games):
    """(wins, draws, losses) of engine1 in the finished games."""
    points = [g.engine1_points() for g in games]
    return points.count(1.0), points.count(0.5), points.count(0.0)


def signed(value):
    return f"{int(round(value)):+d}"


def summarise(games, specs, settings):
    n = len(games)
    if n == 0:
        print("No game was finished.")
        return
    wins, draws, losses = tally(games)
    score = (wins + 0.5 * draws) / n
    name1, name2 = specs[1]["name"], specs[2]["name"]
    print("=" * 72)
    print(f"Match: {name1} (engine1) vs {name2} (engine2), {n} game(s), "
          f"{settings.width}x{settings.height}, rule {settings.rule}")
    print(f"Score of {name1}: {wins} wins, {draws} draws, {losses} losses "
          f"({wins + 0.5 * draws:g}/{n} = {100 * score:.1f}%)")
    for colour in (BLACK, WHITE):
        sub = [g for g in games if g.players[colour].index == 1]
        if sub:
            print("  as {}: {} wins, {} draws, {} losses".format(COLOUR[colour], *tally(sub)))
    elo, low, high = elo_interval(wins, draws, losses)
    clamped = " (clamped: the score is 0 or 1)" if score in (0.0, 1.0) else ""
    print(f"Elo of {name1} over {name2}: {signed(elo)} +/- {(high - low) / 2:.0f} "
          f"(95% interval {signed(low)} .. {signed(high)}){clamped}")
    if wins + losses:
        print(f"Likelihood of superiority: {100 * likelihood_of_superiority(wins, losses):.1f}%")
    for index in (1, 2):
        times = [ms for g in games for ms in g.times[index]]
        if times:
            print(f"Time per move, {specs[index]['name']} (engine{index}): "
                  f"average {sum(times) / len(times):.0f} ms, max {max(times):.0f} ms "
                  f"over {len(times)} moves")
        else:
            print(f"Time per move, {specs[index]['name']} (engine{index}): no move played")
    faults = [g for g in games if g.faulty is not None]
    if faults:
        print("Games lost by a fault:")
        for g in faults:
            print(f"  game {g.number}: {g.reason}")


def match_key(specs, settings, openings):
    """What a record's games must share with the match that resumes them."""
    fields = ("width", "height", "rule", "turn_ms", "turn_ms2", "match_ms", "match_ms2", "margin_ms", "memory_mb")
    return {"engines": [{key: specs[index][key] for key in ("argv", "cwd", "name")} for index in (1, 2)],
            "settings": {field: getattr(settings, field) for field in fields},
            "openings": [[list(move) for move in opening] for opening in openings]}


def read_record(path, key):
    """The games recorded in `path` by number, its first line being the match's key; a
    missing or empty file starts a new record. ValueError when it records another match."""
    try:
        with open(path, encoding="utf-8") as handle:
            lines = [line for line in handle if line.strip()]
    except FileNotFoundError:
        lines = []
    if not lines:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(json.dumps({"match": key}) + "\n")
        return {}
    try:
        recorded = json.loads(lines[0]).get("match")
        games = [json.loads(line) for line in lines[1:]]
    except (json.JSONDecodeError, AttributeError) as error:
        raise ValueError(f"{path}: not a match record ({error})")
    if recorded != key:
        differing = [part for part in key if not isinstance(recorded, dict) or recorded.get(part) != key[part]]
        raise ValueError(f"{path} records another match: its {', '.join(differing) or 'key'} differ(s)")
    return {game["number"]: game for game in games}


def read_openings(path, width, height, rule):
    openings = []
    with open(path, encoding="utf-8") as handle:
        for number, line in enumerate(handle, 1):
            text = line.split("#", 1)[0].strip()
            if not text:
                continue
            moves = []
            board = Board(width, height)
            for token in text.split():
                move = parse_move(token)
                if not move:
                    raise ValueError(f"{path}:{number}: bad move {token!r}")
                x, y = move
                if not board.on_board(x, y) or board.get(x, y) != EMPTY:
                    raise ValueError(f"{path}:{number}: move {x},{y} is off the board or taken")
                board.place(x, y, BLACK if len(moves) % 2 == 0 else WHITE)
                moves.append((x, y))
                if winning_line(board, x, y, rule):
                    raise ValueError(f"{path}:{number}: move {x},{y} ends the game")
            openings.append(moves)
    if not openings:
        raise ValueError(f"{path}: no opening")
    return openings


def engine_spec(command, cwd=None, name=None, about_ms=0):
    """An engine of the match: `command`, its argument list or a command line split like a
    shell would, checked to start, and its ABOUT line when about_ms > 0."""
    argv = shlex.split(command) if isinstance(command, str) else list(command)
    if not argv:
        raise ValueError("empty engine command")
    program = argv[0]
    if "/" in program:
        program = os.path.abspath(program)
        if not os.access(program, os.X_OK):
            raise ValueError(f"{argv[0]}: not an executable file")
        argv[0] = program
    elif shutil.which(program) is None:
        raise ValueError(f"{program}: command not found")
    if cwd is not None and not os.path.isdir(cwd):
        raise ValueError(f"{cwd}: not a directory")
    return {"argv": argv, "cwd": cwd, "name": name, "about": ask_about(argv, cwd, about_ms)}


def ask_about(argv, cwd, about_ms):
    """Runs the engine once to read its ABOUT line ('' when it gives none in time)."""
    if about_ms <= 0:
        return ""
    try:
        engine = Engine(argv, cwd)
    except OSError:
        return ""
    try:
        reply = engine.request("ABOUT", about_ms / 1000.0)
        return reply.text if reply.kind == "line" else ""
    finally:
        engine.close(grace=0.5)


def about_name(about):
    match = re.search(r'name\s*=\s*"([^"]*)"', about)
    return match.group(1) if match else ""


HELP_EPILOG = """\
Games: engine1 plays Black in odd games and White in even games. With --openings, each
opening (one a line: moves "x,y x,y ..." from Black's first stone; '#' starts a comment)
is played twice in a row, colours swapped; the side to move gets the position with
BOARD, its opponent gets BOARD on its own first turn, then both get TURN. Without an
opening, Black gets BEGIN and White TURN.

Judging: a reply must be "x,y" on the board and on an empty cell. A five by the rule ends
the game; a full board is a draw. No reply within the turn limit (or the match time left)
plus --margin-ms, an exit, an ERROR/UNKNOWN reply, an unparsable or an illegal move loses
the game for that engine. Lines starting with DEBUG or MESSAGE are diagnostics, never
replies (shown with --show-debug).

Rules: freestyle (five or more), standard (exactly five), renju (Black exactly five, a
Black overline does not win; White five or more), caro (exactly five, not blocked at both
ends by the opponent; the edge does not block). Renju forbidden moves of Black
(double-three, double-four, overline) are NOT detected: such a move is played on as legal.

Output: each finished game as a board ('X' Black, 'O' White, the last move in brackets),
the move list (opening stones marked *), the result and its reason; at the end the score
of engine1, its Elo over engine2 with a 95% interval, and the time per move of each engine.
With --record, a long match can be stopped and run again with the same command: it goes
on after the recorded games, and the summary counts them all (a larger --games extends it).
Exit status: 0 when the match ran, whatever its results; 2 for usage errors or a record of
another match; 130 when interrupted (the finished games are still summarised).

Example:
  tools/match.py --engine1 build/pbrain-tovan --engine2 build/pbrain-tovan \\
      --size 15 --turn-ms 300 --games 1 --show-moves
"""


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="match.py",
        description="Plays games between two five-in-a-row engines over the tournament "
                    "protocol and judges them.",
        epilog=HELP_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine1", required=True, metavar="CMD",
                        help="command line of the first engine (split like a shell would)")
    parser.add_argument("--engine2", required=True, metavar="CMD",
                        help="command line of the second engine")
    parser.add_argument("--cwd1", metavar="DIR", help="working directory of engine1")
    parser.add_argument("--cwd2", metavar="DIR", help="working directory of engine2")
    parser.add_argument("--name1", metavar="NAME",
                        help="name shown for engine1 (default: the name in its ABOUT reply; "
                             "each engine is run once for it, waiting up to 5 s)")
    parser.add_argument("--name2", metavar="NAME", help="name shown for engine2 (default: from ABOUT)")
    parser.add_argument("--games", type=int, default=2, metavar="N",
                        help="number of games (default 2)")
    parser.add_argument("--rule", choices=sorted(RULES), default="standard",
                        help="rule of the games (default standard)")
    parser.add_argument("--size", type=int, metavar="N", help="square board size (default 15)")
    parser.add_argument("--width", type=int, metavar="W", help="board width (RECTSTART when not square)")
    parser.add_argument("--height", type=int, metavar="H", help="board height")
    parser.add_argument("--turn-ms", type=int, default=5000, metavar="MS",
                        help="time per move, sent as timeout_turn (default 5000)")
    parser.add_argument("--match-ms", type=int, default=0, metavar="MS",
                        help="time per engine per game, sent as timeout_match; time_left is "
                             "then tracked and sent before each move (default 0: none)")
    parser.add_argument("--turn-ms2", type=int, metavar="MS",
                        help="engine2's own time per move, for matches at odds (default: --turn-ms)")
    parser.add_argument("--match-ms2", type=int, metavar="MS",
                        help="engine2's own time per game (default: --match-ms)")
    parser.add_argument("--margin-ms", type=int, default=200, metavar="MS",
                        help="grace over the limit before a timeout is declared (default 200)")
    parser.add_argument("--init-ms", type=int, default=15000, metavar="MS",
                        help="time allowed for the START reply (default 15000)")
    parser.add_argument("--memory-mb", type=int, default=0, metavar="MB",
                        help="memory limit sent as max_memory (default 0: none)")
    parser.add_argument("--openings", metavar="FILE", help="openings file, one opening a line")
    parser.add_argument("--show-moves", action="store_true",
                        help="print each move as it is played")
    parser.add_argument("--show-board", action="store_true",
                        help="print the board after each move (implies --show-moves)")
    parser.add_argument("--show-debug", action="store_true",
                        help="print the engines' DEBUG/MESSAGE lines")
    parser.add_argument("--brief", action="store_true",
                        help="one line per finished game instead of the board and move list")
    parser.add_argument("--record", metavar="FILE",
                        help="append each finished game to FILE; games it already holds (of the "
                             "same engines, limits and openings) are not played again but counted")
    args = parser.parse_args(argv)

    args.show_moves = args.show_moves or args.show_board
    if args.size is not None and (args.width is not None or args.height is not None):
        parser.error("give either --size or --width/--height")
    size = args.size if args.size is not None else 15
    args.width = args.width if args.width is not None else (args.height or size)
    args.height = args.height if args.height is not None else args.width
    if args.size is not None:
        args.width = args.height = args.size
    for name in ("width", "height"):
        if not 5 <= getattr(args, name) <= 99:
            parser.error(f"--{name} must be within 5..99")
    if args.games < 1:
        parser.error("--games must be at least 1")
    if args.turn_ms <= 0 or (args.turn_ms2 is not None and args.turn_ms2 <= 0):
        parser.error("--turn-ms and --turn-ms2 must be positive")
    for name in ("match_ms", "match_ms2", "margin_ms", "memory_mb"):
        if (getattr(args, name) or 0) < 0:
            parser.error(f"--{name.replace('_', '-')} must not be negative")
    if args.init_ms <= 0:
        parser.error("--init-ms must be positive")
    args.openings_list = [[]]
    if args.openings:
        try:
            args.openings_list = read_openings(args.openings, args.width, args.height, args.rule)
        except (OSError, ValueError) as error:
            parser.error(str(error))
    try:
        specs = {}
        for index in (1, 2):
            command = getattr(args, f"engine{index}")
            cwd = getattr(args, f"cwd{index}")
            specs[index] = engine_spec(command, cwd, getattr(args, f"name{index}"), 5000)
    except ValueError as error:
        parser.error(f"engine{index}: {error}")
    for index in (1, 2):
        if not specs[index]["name"]:
            specs[index]["name"] = about_name(specs[index]["about"]) or f"engine{index}"
    if specs[1]["name"] == specs[2]["name"]:
        specs[1]["name"] += "-1"
        specs[2]["name"] += "-2"
    return args, specs


def main(argv):
    args, specs = parse_args(argv)
    settings = Settings(**{field.name: getattr(args, field.name) for field in dataclasses.fields(Settings)})
    for index in (1, 2):
        about = specs[index]["about"] or "(no ABOUT reply)"
        print(f"engine{index}: {specs[index]['name']}: {' '.join(specs[index]['argv'])}  -- {about}")
    def limits_of(index):
        turn_ms, match_ms = settings.limits(index)
        return f"turn {turn_ms} ms" + (f", match {match_ms} ms" if match_ms else "")
    limits = limits_of(1)
    if settings.limits(2) != settings.limits(1):
        limits = f"{specs[1]['name']} {limits}, {specs[2]['name']} {limits_of(2)}"
    print(f"{args.games} game(s), {args.width}x{args.height}, rule {args.rule}, {limits}, "
          f"margin {args.margin_ms} ms"
          + (f", {len(args.openings_list)} opening(s)" if args.openings else ""))
    print(flush=True)

    recorded = {}
    if args.record:
        try:
            recorded = read_record(args.record, match_key(specs, settings, args.openings_list))
        except (OSError, ValueError) as error:
            print(f"match.py: error: {error}", file=sys.stderr)
            return 2
        if recorded:
            print(f"{len(recorded)} game(s) recorded in {args.record}: counted, not played again", flush=True)

    games = []
    try:
        for game in schedule(settings, specs, args.openings_list, args.games):
            black, white = game.players[BLACK].name, game.players[WHITE].name
            if game.number in recorded:
                game.restore(recorded[game.number])
                games.append(game)
                continue
            header = f"Game {game.number}/{args.games}: X {black} vs O {white}"
            if game.opening:
                header += ", opening " + " ".join(f"{x},{y}" for x, y in game.opening)
            if not args.brief or args.show_moves:
                print(header, flush=True)
            game.play()
            games.append(game)
            if args.record:
                with open(args.record, "a", encoding="utf-8") as handle:
                    handle.write(json.dumps(game.record()) + "\n")
            if args.brief:
                print(f"Game {game.number}: X {black} vs O {white}: {game.result_text()} "
                      f"in {len(game.moves)} moves, {game.reason}", flush=True)
            else:
                print(game.render())
                print("Moves:")
                print(game.move_list())
                print(f"Result: {game.result_text()}, {game.reason}")
                print(flush=True)
    except KeyboardInterrupt:
        print("\nInterrupted; summary of the finished games:")
        summarise(games, specs, settings)
        return 130
    summarise(games, specs, settings)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
