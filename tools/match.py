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
import math
import os
import queue
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

EMPTY, BLACK, WHITE = 0, 1, 2
STONE = {EMPTY: ".", BLACK: "X", WHITE: "O"}
COLOUR = {BLACK: "Black", WHITE: "White"}

# rule name: the value of INFO rule
RULES = {"freestyle": 0, "standard": 1, "renju": 4, "caro": 8}

MOVE_RE = re.compile(r"^\s*(-?\d+)\s*,\s*(-?\d+)\s*$")
DIRECTIONS = ((1, 0), (0, 1), (1, 1), (1, -1))


# --------------------------------------------------------------------------- rules


class Board:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.cells = [[EMPTY] * width for _ in range(height)]
        self.count = 0

    def on_board(self, x, y):
        return 0 <= x < self.width and 0 <= y < self.height

    def get(self, x, y):
        return self.cells[y][x]

    def place(self, x, y, colour):
        self.cells[y][x] = colour
        self.count += 1

    def full(self):
        return self.count >= self.width * self.height

    def line_through(self, x, y, dx, dy):
        """Returns (first, last, beyond_first, beyond_last) of the run of the stone's colour
        through (x, y) along (dx, dy); the 'beyond' values are the cells just past the run
        ends (None when off the board)."""
        colour = self.get(x, y)
        x0, y0 = x, y
        while self.on_board(x0 - dx, y0 - dy) and self.get(x0 - dx, y0 - dy) == colour:
            x0, y0 = x0 - dx, y0 - dy
        x1, y1 = x, y
        while self.on_board(x1 + dx, y1 + dy) and self.get(x1 + dx, y1 + dy) == colour:
            x1, y1 = x1 + dx, y1 + dy
        before = self.get(x0 - dx, y0 - dy) if self.on_board(x0 - dx, y0 - dy) else None
        after = self.get(x1 + dx, y1 + dy) if self.on_board(x1 + dx, y1 + dy) else None
        return (x0, y0), (x1, y1), before, after


def winning_line(board, x, y, rule):
    """The run that the stone just placed at (x, y) wins with under `rule`, as
    ((x0, y0), (x1, y1)), or None."""
    colour = board.get(x, y)
    opponent = WHITE if colour == BLACK else BLACK
    for dx, dy in DIRECTIONS:
        first, last, before, after = board.line_through(x, y, dx, dy)
        length = max(abs(last[0] - first[0]), abs(last[1] - first[1])) + 1
        if length < 5:
            continue
        if rule == "freestyle":
            wins = True
        elif rule == "standard":
            wins = length == 5
        elif rule == "renju":
            wins = length == 5 if colour == BLACK else True
        else:  # caro: the board edge does not block, only the opponent's stones do
            wins = length == 5 and not (before == opponent and after == opponent)
        if wins:
            return first, last
    return None


# --------------------------------------------------------------------------- engines


class Reply:
    """One reply to a request: kind is 'line', 'timeout' or 'exit'."""

    def __init__(self, kind, text="", elapsed=0.0):
        self.kind, self.text, self.elapsed = kind, text, elapsed


class Engine:
    """A running engine process with a reader thread collecting its output lines."""

    def __init__(self, argv, cwd, label, show_debug):
        self.label = label
        self.show_debug = show_debug
        self.lines = queue.Queue()
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            argv,
            cwd=cwd,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=self.stderr,
            start_new_session=True,
        )
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        try:
            for raw in self.proc.stdout:
                self.lines.put((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\r\n")))
        except (OSError, ValueError):
            pass
        self.lines.put((time.monotonic(), None))

    def send(self, text):
        """Writes one or more command lines; False when the engine no longer reads."""
        try:
            self.proc.stdin.write((text + "\n").encode())
            self.proc.stdin.flush()
            return True
        except (BrokenPipeError, OSError, ValueError):
            return False

    def read_reply(self, sent_at, limit):
        """Waits for the next reply line (skipping DEBUG/MESSAGE diagnostics and blank
        lines) until sent_at + limit seconds."""
        deadline = sent_at + limit
        while True:
            remaining = deadline - time.monotonic()
            try:
                # A little slack, so a line read just before the deadline is not lost;
                # its own receipt time decides whether it was in time.
                at, line = self.lines.get(timeout=max(0.0, remaining) + 0.02)
            except queue.Empty:
                return Reply("timeout", elapsed=time.monotonic() - sent_at)
            if line is None:
                return Reply("exit", elapsed=at - sent_at)
            if at - sent_at > limit:
                return Reply("timeout", elapsed=at - sent_at)
            word = line.split(" ", 1)[0].upper()
            if word in ("DEBUG", "MESSAGE"):
                if self.show_debug:
                    print(f"    [{self.label}] {line}", flush=True)
                continue
            if not line.strip():
                continue
            return Reply("line", line.strip(), at - sent_at)

    def exit_description(self):
        """Describes how the process ended, with the tail of its standard error."""
        try:
            code = self.proc.wait(timeout=1.0)
        except subprocess.TimeoutExpired:
            return "closed its output"
        if code < 0:
            try:
                text = f"killed by signal {signal.Signals(-code).name}"
            except ValueError:
                text = f"killed by signal {-code}"
        else:
            text = f"exited with status {code}"
        tail = self.stderr_tail()
        return text + (f" (stderr: {tail})" if tail else "")

    def stderr_tail(self, limit=300):
        try:
            self.stderr.flush()
            self.stderr.seek(0)
            data = self.stderr.read().decode("utf-8", "replace").strip()
        except (OSError, ValueError):
            return ""
        data = " | ".join(data.splitlines()[-5:])
        return data if len(data) <= limit else "..." + data[-limit:]

    def close(self, grace=1.0):
        """Asks the engine to end, then kills its process group if it has not exited."""
        if self.proc.poll() is None:
            self.send("END")
            try:
                self.proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                pass
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                self.proc.kill()
            self.proc.wait()
        self.reader.join(timeout=1.0)
        for stream in (self.proc.stdin, self.proc.stdout):
            try:
                stream.close()
            except (OSError, ValueError):
                pass
        self.stderr.close()


# --------------------------------------------------------------------------- games


class Fault(Exception):
    """An engine fault that loses it the game."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


class Player:
    def __init__(self, index, spec, colour):
        self.index = index  # 1 or 2: which engine of the match
        self.spec = spec
        self.colour = colour
        self.engine = None
        self.asked = False  # has it been asked for a move in this game yet
        self.time_left = None  # ms, when a match time is set

    @property
    def name(self):
        return self.spec["name"]


class Game:
    def __init__(self, number, args, specs, engine1_colour, opening):
        self.number = number
        self.args = args
        self.board = Board(args.width, args.height)
        colour2 = WHITE if engine1_colour == BLACK else BLACK
        self.players = {engine1_colour: Player(1, specs[1], engine1_colour),
                        colour2: Player(2, specs[2], colour2)}
        self.opening = opening
        self.moves = []  # (x, y, colour, ms or None for opening stones)
        self.winner = None  # colour, or None for a draw
        self.reason = ""
        self.faulty = None  # the player whose fault ended the game
        self.times = {1: [], 2: []}  # ms per move, by engine index

    # ---- engine set-up

    def start_player(self, player):
        args = self.args
        try:
            player.engine = Engine(player.spec["argv"], player.spec["cwd"],
                                   f"{player.name} {STONE[player.colour]}", args.show_debug)
        except OSError as error:
            raise Fault(f"could not be started: {error}")
        if args.width == args.height:
            command = f"START {args.width}"
        else:
            command = f"RECTSTART {args.width},{args.height}"
        reply = self.request(player, command, args.init_ms / 1000.0, what=command.split()[0])
        if reply.text.upper() != "OK":
            raise Fault(f"answered {command.split()[0]} with {reply.text!r} instead of OK")
        infos = [f"INFO timeout_turn {args.turn_ms}",
                 f"INFO timeout_match {args.match_ms}",
                 f"INFO max_memory {args.memory_mb * 1024 * 1024}",
                 f"INFO rule {RULES[args.rule]}"]
        if args.match_ms:
            player.time_left = args.match_ms
            infos.append(f"INFO time_left {args.match_ms}")
        if not player.engine.send("\n".join(infos)):
            raise Fault("closed its input: " + player.engine.exit_description())

    def request(self, player, command, limit, what):
        """Sends a command and returns its reply line; faults on timeout, exit or ERROR."""
        engine = player.engine
        sent_at = time.monotonic()
        if not engine.send(command):
            raise Fault(f"could not be sent {what}: " + engine.exit_description())
        reply = engine.read_reply(sent_at, limit)
        if reply.kind == "exit":
            raise Fault(f"crashed on {what}: " + engine.exit_description())
        if reply.kind == "timeout":
            raise Fault(f"timed out on {what}: no reply within {limit * 1000:.0f} ms")
        if reply.text.upper().startswith("ERROR") or reply.text.upper().startswith("UNKNOWN"):
            raise Fault(f"replied to {what} with an error: {reply.text!r}")
        return reply

    # ---- moves

    def ask_move(self, player):
        """Asks the player for its move and returns (x, y, ms); raises Fault."""
        args = self.args
        engine = player.engine
        if player.time_left is not None:
            engine.send(f"INFO time_left {max(0, int(player.time_left))}")
        if not self.moves:
            command, what = "BEGIN", "BEGIN"
        elif not player.asked and self.opening:
            # it has not seen the opening yet: the whole position, in playing order
            stones = [f"{x},{y},{1 if c == player.colour else 2}" for x, y, c, _ in self.moves]
            command, what = "\n".join(["BOARD"] + stones + ["DONE"]), "BOARD"
        else:
            x, y = self.moves[-1][:2]
            command, what = f"TURN {x},{y}", f"TURN {x},{y}"
        player.asked = True
        turn_limit = args.turn_ms
        match_limit = player.time_left if player.time_left is not None else math.inf
        limit_ms = min(turn_limit, match_limit) + args.margin_ms
        sent_at = time.monotonic()
        if not engine.send(command):
            raise Fault(f"could not be sent {what}: " + engine.exit_description())
        reply = engine.read_reply(sent_at, limit_ms / 1000.0)
        ms = reply.elapsed * 1000.0
        if reply.kind == "exit":
            raise Fault(f"crashed on {what}: " + engine.exit_description())
        if player.time_left is not None:
            player.time_left -= ms
        if reply.kind == "timeout":
            if match_limit < turn_limit:
                raise Fault(f"ran out of match time on {what}: no move within {limit_ms:.0f} ms "
                            f"({match_limit:.0f} ms left + {args.margin_ms} ms margin)")
            raise Fault(f"timed out on {what}: no move within {limit_ms:.0f} ms "
                        f"({turn_limit} ms + {args.margin_ms} ms margin)")
        text = reply.text
        if text.upper().startswith("ERROR") or text.upper().startswith("UNKNOWN"):
            raise Fault(f"replied to {what} with an error: {text!r}")
        match = MOVE_RE.match(text)
        if not match:
            raise Fault(f"replied to {what} with an unparsable move: {text!r}")
        x, y = int(match.group(1)), int(match.group(2))
        if not self.board.on_board(x, y):
            raise Fault(f"played {x},{y}, off the {self.board.width}x{self.board.height} board "
                        f"(after {what})")
        if self.board.get(x, y) != EMPTY:
            raise Fault(f"played {x},{y}, an occupied cell (after {what})")
        return x, y, ms

    def play(self):
        args = self.args
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
                    self.faulty = player
                    self.end(WHITE if colour == BLACK else BLACK, f"{self.describe(player)} {fault.reason}")
                    return
            while True:
                if self.board.full():
                    self.end(None, "the board is full")
                    return
                colour = BLACK if len(self.moves) % 2 == 0 else WHITE
                player = self.players[colour]
                try:
                    x, y, ms = self.ask_move(player)
                except Fault as fault:
                    self.faulty = player
                    self.end(WHITE if colour == BLACK else BLACK, f"{self.describe(player)} {fault.reason}")
                    return
                self.board.place(x, y, colour)
                self.moves.append((x, y, colour, ms))
                self.times[player.index].append(ms)
                if args.show_moves:
                    extra = ""
                    if player.time_left is not None:
                        extra = f", {max(0, player.time_left):.0f} ms left"
                    print(f"  {len(self.moves):3d}. {STONE[colour]} {f'{x},{y}':<6}"
                          f"{ms:6.0f} ms{extra}  [{player.name}]", flush=True)
                    if args.show_board:
                        print(self.render(indent="       "), flush=True)
                run = winning_line(self.board, x, y, args.rule)
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

    def engine1_points(self):
        if self.winner is None:
            return 0.5
        return 1.0 if self.players[self.winner].index == 1 else 0.0


# --------------------------------------------------------------------------- match


def elo_from_score(score, clamp=0.999):
    score = min(max(score, 1.0 - clamp), clamp)
    return -400.0 * math.log10(1.0 / score - 1.0)


def score_and_variance(wins, draws, losses):
    """The mean score of the games and the variance of one game's score."""
    n = wins + draws + losses
    score = (wins + 0.5 * draws) / n
    return score, (wins * (1 - score) ** 2 + draws * (0.5 - score) ** 2 + losses * score ** 2) / n


def elo_interval(wins, draws, losses):
    """The Elo difference the score gives and its 95% interval (normal approximation)."""
    score, variance = score_and_variance(wins, draws, losses)
    stderr = math.sqrt(variance / (wins + draws + losses))
    return elo_from_score(score), elo_from_score(score - 1.96 * stderr), elo_from_score(score + 1.96 * stderr)


def signed(value):
    return f"{int(round(value)):+d}"


def summarise(games, specs, args):
    n = len(games)
    if n == 0:
        print("No game was finished.")
        return
    wins = sum(1 for g in games if g.engine1_points() == 1.0)
    draws = sum(1 for g in games if g.engine1_points() == 0.5)
    losses = n - wins - draws
    score = (wins + 0.5 * draws) / n
    name1, name2 = specs[1]["name"], specs[2]["name"]
    print("=" * 72)
    print(f"Match: {name1} (engine1) vs {name2} (engine2), {n} game(s), "
          f"{args.width}x{args.height}, rule {args.rule}")
    print(f"Score of {name1}: {wins} wins, {draws} draws, {losses} losses "
          f"({wins + 0.5 * draws:g}/{n} = {100 * score:.1f}%)")
    for colour in (BLACK, WHITE):
        sub = [g for g in games if g.players[colour].index == 1]
        if sub:
            w = sum(1 for g in sub if g.engine1_points() == 1.0)
            d = sum(1 for g in sub if g.engine1_points() == 0.5)
            print(f"  as {COLOUR[colour]}: {w} wins, {d} draws, {len(sub) - w - d} losses")
    elo, low, high = elo_interval(wins, draws, losses)
    clamped = " (clamped: the score is 0 or 1)" if score in (0.0, 1.0) else ""
    print(f"Elo of {name1} over {name2}: {signed(elo)} +/- {(high - low) / 2:.0f} "
          f"(95% interval {signed(low)} .. {signed(high)}){clamped}")
    if wins + losses:
        los = 0.5 * (1 + math.erf((wins - losses) / math.sqrt(2.0 * (wins + losses))))
        print(f"Likelihood of superiority: {100 * los:.1f}%")
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
                match = MOVE_RE.match(token)
                if not match:
                    raise ValueError(f"{path}:{number}: bad move {token!r}")
                x, y = int(match.group(1)), int(match.group(2))
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


def engine_spec(command, cwd, name, about_ms):
    argv = shlex.split(command)
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
        engine = Engine(argv, cwd, "about", False)
    except OSError:
        return ""
    try:
        sent_at = time.monotonic()
        engine.send("ABOUT")
        reply = engine.read_reply(sent_at, about_ms / 1000.0)
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
Exit status: 0 when the match ran, whatever its results; 2 for usage errors; 130 when
interrupted (the finished games are still summarised).

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
    if args.turn_ms <= 0:
        parser.error("--turn-ms must be positive")
    for name in ("match_ms", "margin_ms", "memory_mb"):
        if getattr(args, name) < 0:
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
    for index in (1, 2):
        about = specs[index]["about"] or "(no ABOUT reply)"
        print(f"engine{index}: {specs[index]['name']}: {' '.join(specs[index]['argv'])}  -- {about}")
    limits = f"turn {args.turn_ms} ms"
    if args.match_ms:
        limits += f", match {args.match_ms} ms"
    print(f"{args.games} game(s), {args.width}x{args.height}, rule {args.rule}, {limits}, "
          f"margin {args.margin_ms} ms"
          + (f", {len(args.openings_list)} opening(s)" if args.openings else ""))
    print(flush=True)

    games = []
    try:
        for i in range(args.games):
            opening = args.openings_list[(i // 2) % len(args.openings_list)]
            engine1_colour = BLACK if i % 2 == 0 else WHITE
            game = Game(i + 1, args, specs, engine1_colour, opening)
            black, white = game.players[BLACK].name, game.players[WHITE].name
            header = f"Game {i + 1}/{args.games}: X {black} vs O {white}"
            if opening:
                header += ", opening " + " ".join(f"{x},{y}" for x, y in opening)
            if not args.brief or args.show_moves:
                print(header, flush=True)
            game.play()
            games.append(game)
            if args.brief:
                print(f"Game {i + 1}: X {black} vs O {white}: {game.result_text()} "
                      f"in {len(game.moves)} moves, {game.reason}", flush=True)
            else:
                print(game.render())
                print("Moves:")
                print(game.move_list())
                print(f"Result: {game.result_text()}, {game.reason}")
                print(flush=True)
    except KeyboardInterrupt:
        print("\nInterrupted; summary of the finished games:")
        summarise(games, specs, args)
        return 130
    summarise(games, specs, args)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
