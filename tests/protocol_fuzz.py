#!/usr/bin/python3
"""Seeded protocol fuzzer for pbrain-tovan.

Each session runs one engine process and sends it random commands, valid and broken, each
followed by ABOUT: whatever the engine writes before the about line is that command's reply
(DEBUG lines aside). The fuzzer keeps its own model of the game, judged with its own
five-in-a-row rules, and checks every reply against it. A session fails on a crash, a
sanitizer report or other standard-error text, a hang, a late move, an illegal move, a move
after the game has ended, a missing, extra or refused reply. The exact input of a failing
session is written to a file, to be replayed with `pbrain-tovan < FILE`.

    tests/protocol_fuzz.py --engine build-sanitize/pbrain-tovan --seed 1 --sessions 200 --jobs 2
"""
import argparse
import concurrent.futures
import copy
import os
import queue
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ABOUT = 'name="Tovan", version="2024", author="Oren Valsk", country="Marovia"'
BLACK, WHITE = 0, 1
LINES = ((1, 0), (0, 1), (1, 1), (1, -1))
OPENING_MARGIN = 4  # opening.margin_range of the shipped configuration
HANG_SECONDS = 30  # no reply (or no exit) within this, past any time limit, is a hang
EXIT_SECONDS = 10  # after END or the end of input
# The first move request of a game, or after a rule change, builds the engine and loads a
# model: at most 0.32 s measured in the sanitizer build (every rule, sides 7, 15 and 20, on the
# 2-core machine under a load of 8); generous, as sessions and other work share the cores.
LOAD_SECONDS = 2.0
ALLOWED_STDERR = {"forbidden point update timeout!"}
SANITIZER = re.compile(r"ERROR: (Address|Leak|Undefined)Sanitizer|runtime error|Sanitizer")


class Failure(Exception):
    def __init__(self, category, detail):
        super().__init__(f"{category}: {detail}")
        self.category, self.detail, self.label = category, detail, category


# ---- rules and the model of the game ------------------------------------------------------

def rule_name(bits):
    return "StandardCaro" if bits & 8 else "Standard" if bits & 1 else "Renju" if bits & 4 else "Freestyle"


def makes_five(rule, colour, length, closed_both_ends):
    if rule == "Freestyle" or (rule == "Renju" and colour == WHITE):
        return length >= 5
    return length == 5 and not (rule == "StandardCaro" and closed_both_ends)


class Game:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.stones = {}  # (x, y) -> colour
        self.history = []  # cells in playing order
        self.unordered = 0  # leading history cells whose order is unknown (colours from who fields)

    def on_board(self, x, y):
        return 0 <= x < self.width and 0 <= y < self.height

    def to_move(self):
        return BLACK if len(self.stones) % 2 == 0 else WHITE

    def run(self, cell, dx, dy, colour):
        """Stones of the colour in a row from the cell's neighbour in direction (dx, dy) on."""
        n = 0
        while self.stones.get((cell[0] + (n + 1) * dx, cell[1] + (n + 1) * dy)) == colour:
            n += 1
        return n

    def winners(self, rule):
        won = set()
        for (x, y), c in self.stones.items():
            for dx, dy in LINES:
                if self.stones.get((x - dx, y - dy)) == c:
                    continue  # not the first stone of its run
                n = 1 + self.run((x, y), dx, dy, c)
                closed = self.stones.get((x - dx, y - dy)) == 1 - c == self.stones.get((x + n * dx, y + n * dy))
                if makes_five(rule, c, n, closed):
                    won.add(c)
        return won

    def over(self, rule):
        return bool(self.winners(rule)) or len(self.stones) == self.width * self.height

    def play(self, cell, colour=None):
        self.stones[cell] = self.to_move() if colour is None else colour
        self.history.append(cell)


class Model:
    """What the engine must have done so far; expect(op) says which replies op may get."""

    def __init__(self):
        self.game = None  # before the first start, rectstart or restart
        self.size = (20, 20)  # width, height kept by restart
        self.rule = self.board_rule = "Freestyle"  # board_rule: the rule of the last move request
        self.turn_ms = 1000
        self.time_left = 1000000
        self.fresh = True  # the next move request builds the engine

    def engine_move(self, game, text):
        cell = tuple(map(int, text.split(",")))
        if not game.on_board(*cell) or cell in game.stones:
            return "illegal move", f"{text} is off the board or on a stone"
        game.play(cell)
        self.game, self.fresh = game, False

    def new_game(self, size):
        self.size, self.game, self.fresh = size, Game(*size), True

    def expect(self, op):
        """(allowed, seconds, reason): allowed maps each acceptable reply kind to a function
        applying it (it may return a failure); seconds limits a move request's reply; reason
        says why an ERROR is expected ('over' when the game has ended)."""
        kind, game, rule = op[0], self.game, self.rule
        none = lambda line: None
        error = {"ERROR": none}
        if kind in ("start", "rectstart"):
            size = op[1]
            if size is None or not all(5 <= side <= 20 for side in size):
                return error, None, "bad size"
            return {"OK": lambda line: self.new_game(size)}, None, ""
        if kind == "restart":
            return {"OK": lambda line: self.new_game(self.size)}, None, ""
        if kind == "info":
            key, value = op[1], op[2]
            if value is None:
                return error, None, "bad value"
            if key == "rule":
                self.fresh |= rule_name(value) != self.rule
                self.rule = rule_name(value)
            elif key == "timeout_turn":
                self.turn_ms = value
            elif key == "time_left":
                self.time_left = value
            return {"none": none}, None, ""
        if kind == "silent":
            return {"none": none}, None, ""
        if kind == "forbid":
            return {"FORBID": self.check_forbid}, None, ""
        if kind == "takeback":
            return self.expect_takeback(op[1])
        # Move requests. The rule in force is the one last set; its change takes effect now.
        self.board_rule = rule
        seconds = max(self.turn_ms, 0) / 1000 + 1 + (LOAD_SECONDS if self.fresh else 0)
        if game is None or (kind == "turn" and op[1] is None) or (kind == "board" and None in op[1]):
            return error, seconds, "no game or malformed"
        if kind == "begin":
            if game.stones:
                return error, seconds, "over" if game.over(rule) else "stones"
            return {"move": lambda line: self.engine_move(copy.deepcopy(game), line)}, seconds, ""
        if kind == "turn":
            cell = op[1]
            if not game.on_board(*cell) or cell in game.stones:
                return error, seconds, "illegal"
            if game.over(rule):
                return error, seconds, "over"
            after = copy.deepcopy(game)
            after.play(cell)
            if after.over(rule):
                # The opponent's move ended the game: it stands, and there is no move to answer.
                return {"ERROR": lambda line: setattr(self, "game", after)}, seconds, "over"
            return {"move": lambda line: self.engine_move(after, line)}, seconds, ""
        return self.expect_list(op[1], op[2], seconds)

    def expect_takeback(self, cell):
        error = {"ERROR": lambda line: None}
        game = self.game
        if cell is None or game is None or cell not in game.stones:
            return error, None, "no stone"

        def take(line):
            index = game.history.index(cell)
            game.unordered -= index < game.unordered
            del game.history[index], game.stones[cell]

        if len(game.history) > game.unordered:
            return ({"OK": take} if cell == game.history[-1] else error), None, "not last"
        # Colours came from who fields: any stone of the side that moved last may be the last one.
        if game.stones[cell] == 1 - game.to_move():
            return {"OK": take, "ERROR": lambda line: None}, None, ""
        return error, None, "not last"

    def expect_list(self, words, swap2, seconds):
        error = {"ERROR": lambda line: None}
        game = Game(self.game.width, self.game.height)
        cells = [(x, y) for x, y, _ in words]
        if not all(game.on_board(*cell) for cell in cells) or len(set(cells)) != len(cells):
            return error, seconds, "illegal"
        to_move = BLACK if len(words) % 2 == 0 else WHITE
        colours = [BLACK if i % 2 == 0 else WHITE for i in range(len(words))]
        whos = [who for _, _, who in words]
        if words and all(who in (1, 2) for who in whos):  # 1: the engine's own stones, the side to move
            ones, twos = whos.count(1), whos.count(2)
            to_move = BLACK if ones == twos else WHITE if twos == ones + 1 else None
            if to_move is None:
                return error, seconds, "who counts"
            colours = [to_move if who == 1 else 1 - to_move for who in whos]
        ordered = colours == [BLACK if i % 2 == 0 else WHITE for i in range(len(words))]
        for cell, colour in zip(cells, colours):
            game.play(cell, colour)
        game.unordered = 0 if ordered else len(cells)
        won = game.winners(self.rule)
        if won - {1 - to_move}:
            return error, seconds, "over"  # the list goes on past a five
        adopt = lambda line: setattr(self, "game", game)
        if game.over(self.rule):
            # A finished position gets no reply (a board filled without a five may be refused).
            return {"none": adopt, **(error if swap2 or not won else {})}, seconds, "over"
        move = lambda line: self.engine_move(game, line)
        if not swap2:
            return {"move": move}, seconds, ""
        if words:
            return {"move": move, "SWAP": adopt}, seconds, ""
        # The first two stones keep the margin from the edges and differ: fewer than two such
        # points leave no opening to propose.
        small = max(0, game.width - 2 * OPENING_MARGIN) * max(0, game.height - 2 * OPENING_MARGIN) < 2
        return {"opening": lambda line: self.opening(game, line), **(error if small else {})}, seconds, ""

    def opening(self, game, line):
        for text in line.split():
            if self.engine_move(game, text):
                return "illegal move", f"opening {line}"

    def check_forbid(self, line):
        match = re.fullmatch(r"FORBID ((?:\d{4})*)\.", line)
        if not match:
            return "unexpected reply", line
        digits = match.group(1)
        points = [(int(digits[i:i + 2]), int(digits[i + 2:i + 4])) for i in range(0, len(digits), 4)]
        if points and ("Renju" not in (self.rule, self.board_rule) or self.game is None or
                       any(not self.game.on_board(*p) or p in self.game.stones for p in points)):
            return "wrong forbidden points", line


def reply_kind(line):
    if line is None:
        return "none"
    if line in ("OK", "SWAP"):
        return line
    if line.startswith("ERROR"):
        return "ERROR"
    if line.startswith("FORBID "):
        return "FORBID"
    if re.fullmatch(r"-?\d+,-?\d+", line):
        return "move"
    if re.fullmatch(r"(-?\d+,-?\d+ ){2}-?\d+,-?\d+", line):
        return "opening"
    return "garbage"


def category(allowed, got, reason):
    if got == "none":
        return "missing reply"
    if got == "garbage":
        return "unexpected reply"
    if got in ("move", "opening", "SWAP") and reason == "over":
        return "move after game end"
    if got == "ERROR":
        return "refused valid command"
    if "ERROR" in allowed:
        return "accepted invalid command"
    return "unexpected reply"


# ---- random commands ----------------------------------------------------------------------

BAD_INTEGERS = ["abc", "x", "-", "+", "--1", "+-2", "9999999999", "2147483648", "-2147483649"]
BAD_WORDS = ["a,b,1", "7", "7,7,1,1", "7,7,x", "x,7", ",", "1;2;3;4", "--"]
NOISE = ["hello", "done", "DONE", "yxboard", "swap", "7,7", "-1", "yxhashclear", "yxnbest 3", "pos", "suggest"]
CUTS = ["turn 7,", "turn", "board\n1,1\n2,2", "start", "rectstart 10,", "info timeout_turn", "info", "takeback 3",
        "swap2board\n7,7", "BOARD", "info rule"]
BIG = [-2147483648, -129, -1, 127, 128, 255, 256, 263, 1000, 2147483647]


class Generator:
    """The next command for the model's state: (text, op)."""

    def __init__(self, rng):
        self.rng = rng
        self.left = rng.randint(3, 60)

    def integer(self, good, bad=0.1):
        if self.rng.random() < bad:
            return self.rng.choice(BAD_INTEGERS), None
        return str(good), good

    def case(self, word):
        return self.rng.choice([word, word.upper(), word.capitalize()])

    def coordinate(self, side):
        r = self.rng
        return r.choice([r.randint(-2, side + 2), r.choice(BIG), r.randint(0, side - 1)])

    def __call__(self, model):
        r = self.rng
        self.left -= 1
        if self.left < 0:
            return r.choice([(self.case("end"), ("end",)), (self.case("exit"), ("end",)), ("", ("eof",)),
                             (r.choice(CUTS), ("cut",))])
        kinds = ["start", "rectstart", "info", "turn", "takeback", "board", "swap2", "restart", "begin",
                 "yxshowforbid", "noise"]
        kind = r.choices(kinds, [6, 4, 10, 30 if model.game else 3, 8, 10, 4, 3, 4, 3, 3])[0]
        if kind == "noise":
            return r.choice(NOISE), ("silent",)
        if kind in ("restart", "begin", "yxshowforbid"):
            return self.case(kind), ({"yxshowforbid": "forbid"}.get(kind, kind),)
        return getattr(self, "gen_" + kind)(model)

    def gen_start(self, model):
        text, side = self.integer(self.rng.choice([self.rng.randint(5, 20)] * 4 + [self.rng.randint(3, 25)]))
        return f"{self.case('start')} {text}", ("start", None if side is None else (side, side))

    def gen_rectstart(self, model):
        (w_text, w), (h_text, h) = (self.integer(self.rng.randint(3, 25), 0.05) for _ in range(2))
        return f"{self.case('rectstart')} {w_text},{h_text}", ("rectstart", None if None in (w, h) else (w, h))

    def gen_info(self, model):
        r = self.rng
        key = r.choice(["rule", "rule", "timeout_turn", "timeout_turn", "time_left", "timeout_match", "max_memory",
                        "unknown"])
        if key == "unknown":
            return r.choice(["info evaluate 7,7", "info folder games start 15", "INFO TIMEOUT_TURN 5000",
                             "info Rule 4", "info game_type 1"]), ("silent",)
        if key == "rule":
            value = r.choice([0, 1, 4, 8, 0, 1, 4, 8, 2, 3, 5, 6, 9, 12, -1])
        elif key == "timeout_turn":
            value = r.choice([r.randint(50, 1500)] * 8 + [0, -5, 100000, 2147483647])
        else:
            value = r.choice([r.randint(0, 100000), r.randint(0, 20000), 0, -1, 2147483647, -2147483648])
        text, value = self.integer(value)
        # A long turn with a long match time would let a swap2 opening search for as long.
        if key == "timeout_turn" and value is not None and value > 3000 and model.time_left > 3000:
            text, value = "1000", 1000
        if key == "time_left" and value is not None and value > 3000 and model.turn_ms > 3000:
            text, value = "1000", 1000
        return f"{self.case('info')} {key} {text}", ("info", key, value)

    def good_cell(self, game):
        """An empty cell next to the stones, often the one making the side to move's longest line."""
        empty = [(x, y) for y in range(game.height) for x in range(game.width) if (x, y) not in game.stones]
        near = [c for c in empty if any((c[0] + dx, c[1] + dy) in game.stones
                                        for dx in (-1, 0, 1) for dy in (-1, 0, 1))] or empty
        if self.rng.random() < 0.5:
            return self.rng.choice(near)
        colour = game.to_move()
        longest = {c: max(game.run(c, dx, dy, colour) + game.run(c, -dx, -dy, colour) for dx, dy in LINES)
                   for c in near}
        return self.rng.choice([c for c in near if longest[c] == max(longest.values())])

    def cell_text(self, game):
        """Any cell: the text and the move, None when malformed."""
        side = max(game.width, game.height) if game else 15
        (x_text, x), (y_text, y) = (self.integer(self.coordinate(side), 0.15) for _ in range(2))
        return f"{x_text},{y_text}", None if None in (x, y) else (x, y)

    def gen_turn(self, model):
        r, game = self.rng, model.game
        roll = r.random()
        if game and roll < 0.75 and len(game.stones) < game.width * game.height:
            cell = self.good_cell(game)
            text = f"{cell[0]},{cell[1]}"
        elif game and game.stones and roll < 0.85:
            cell = r.choice(sorted(game.stones))
            text = f"{cell[0]},{cell[1]}"
        else:
            text, cell = self.cell_text(game)
        return f"{self.case('turn')} {text}", ("turn", cell)

    def gen_takeback(self, model):
        r, game = self.rng, model.game
        roll = r.random()
        if game and game.history and roll < 0.6:
            cell = game.history[-1] if roll < 0.5 else r.choice(game.history)
            text = f"{cell[0]},{cell[1]}"
        else:
            text, cell = self.cell_text(game)
        return f"{self.case('takeback')} {text}", ("takeback", cell)

    def gen_swap2(self, model):
        # An empty list asks for an opening, which may search for the whole turn: keep it short.
        if self.rng.random() < 0.3 and min(model.turn_ms, model.time_left) <= 3000:
            return f"{self.case('swap2board')}\n{self.case('done')}", ("board", [], True)
        return self.gen_board(model, True)

    def gen_board(self, model, swap2=False):
        """A list of stones: random cells, often with a line of four to six of one colour,
        in playing order or grouped by colour, with or without who fields, sometimes broken."""
        r, game = self.rng, model.game
        width, height = (game.width, game.height) if game else model.size
        cells = [(x, y) for y in range(height) for x in range(width)]
        r.shuffle(cells)
        n = min(len(cells), r.choice([r.randint(0, 6), r.randint(1, 16), r.randint(1, 50)]))
        lists = ([], [])
        if r.random() < 0.5:
            length, (dx, dy), colour = r.choice([4, 5, 5, 6]), r.choice(LINES), r.randint(0, 1)
            x, y = r.randrange(width), r.randrange(height)
            line = [(x + i * dx, y + i * dy) for i in range(length)]
            if all(0 <= a < width and 0 <= b < height for a, b in line):
                lists[colour].extend(line)
                n = min(len(cells), max(n, 2 * length + colour))
        cells = [c for c in cells if c not in lists[0] + lists[1]]
        while len(lists[0]) + len(lists[1]) < n:
            lists[len(lists[0]) > len(lists[1])].append(cells.pop())
        for stones in lists:
            r.shuffle(stones)
        to_move = len(lists[1]) < len(lists[0])  # White when Black has one stone more
        order = [c for pair in zip(lists[0], lists[1] + [None]) for c in pair if c is not None]
        style = r.choice(["plain", "who", "grouped", "wrong", "odd"]) if not swap2 else "plain"
        if style == "grouped":
            order = lists[to_move] + lists[1 - to_move] if r.random() < 0.5 else lists[1 - to_move] + lists[to_move]
        colour_of = {c: 0 for c in lists[0]} | {c: 1 for c in lists[1]}
        words = []
        for x, y in order:
            who = {"plain": None, "odd": r.choice([None, 0, 3, 1]), "wrong": r.choice([1, 2])}.get(
                style, 1 if colour_of[(x, y)] == to_move else 2)
            words.append((f"{x},{y}" + ("" if who is None else f",{who}"), (x, y, who)))
        if r.random() < 0.25 and words:  # a duplicate, a stone off the board or a malformed word
            roll, at = r.random(), r.randint(0, len(words))
            text, cell = self.cell_text(game)
            broken = r.choice(words) if roll < 0.4 else (text, cell and (*cell, None)) if roll < 0.7 else (
                r.choice(BAD_WORDS), None)
            words.insert(at, broken)
        separator = r.choice(["\n", "\n", " "])
        body = separator.join([self.case("swap2board" if swap2 else "board")] + [t for t, _ in words] +
                              [self.case("done")])
        return body, ("board", [w for _, w in words], swap2)


# ---- sessions -----------------------------------------------------------------------------

def run_session(engine, workdir, source):
    """Runs one engine process on the commands source(model) gives until a terminal one
    (end, eof, cut) and judges every reply. Returns (failure or None, script, ops)."""
    env = dict(os.environ)
    supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
    env.setdefault("LSAN_OPTIONS", f"suppressions={supp}:print_suppressions=0")
    proc = subprocess.Popen([engine], cwd=workdir, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    out, err = queue.Queue(), []

    def read_out():
        for raw in proc.stdout:
            out.put((time.monotonic(), raw.decode(errors="replace").rstrip("\r\n")))
        out.put((time.monotonic(), None))

    readers = [threading.Thread(target=read_out, daemon=True),
               threading.Thread(target=lambda: err.extend(l.decode(errors="replace").rstrip() for l in proc.stderr),
                                daemon=True)]
    for thread in readers:
        thread.start()
    model, script, ops, failure = Model(), [], [], None

    def send(text):
        script.append(text)
        try:
            proc.stdin.write(text.encode())
            proc.stdin.flush()
        except OSError:
            pass

    def replies(deadline, until_about=True):
        lines = []
        while True:
            try:
                stamp, line = out.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise Failure("hang", "no reply")
            if line is None:
                if until_about:
                    raise Failure("exit before reply", "the engine stopped before replying")
                return lines
            if line == ABOUT and until_about:
                return lines
            if not line.startswith("DEBUG "):
                lines.append((stamp, line))

    try:
        send("ABOUT\n")
        if replies(time.monotonic() + 120):
            raise Failure("extra reply", "at start-up")
        while True:
            text, op = source(model) or ("", ("eof",))
            ops.append((text, op))
            if op[0] in ("end", "eof", "cut"):
                send(text + "\n" * (op[0] == "end"))
                break
            send(text + "\nABOUT\n")
            start = time.monotonic()
            allowed, seconds, reason = model.expect(op)
            lines = replies(start + min(seconds or 0, HANG_SECONDS) + HANG_SECONDS)
            where = f"{text!r} got {[l for _, l in lines]}, expected {sorted(allowed)}"
            if len(lines) > 1:
                raise Failure("extra reply", where)
            stamp, line = lines[0] if lines else (time.monotonic(), None)
            kind = reply_kind(line)
            if kind not in allowed:
                raise Failure(category(allowed, kind, reason), where)
            problem = allowed[kind](line)
            if problem:
                raise Failure(problem[0], f"{text!r}: {problem[1]}")
            if seconds is not None and stamp - start > seconds:
                raise Failure("late reply", f"{text!r}: {stamp - start:.2f} s, limit {seconds:.2f} s")
    except Failure as caught:
        failure = caught
    try:
        proc.stdin.close()
    except OSError:
        pass
    try:
        proc.wait(EXIT_SECONDS)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        failure = failure or Failure("hang", "no exit after the end of input")
    killed = proc.returncode == -9
    for thread in readers:
        thread.join(5)
    if not failure:
        try:
            extra = replies(time.monotonic() + 1, until_about=False)
            if extra:
                failure = Failure("extra reply", f"after the last command: {[l for _, l in extra]}")
        except Failure:
            pass
    if proc.returncode != 0 and not killed:
        failure = Failure("crash", f"exit status {proc.returncode}" + (f" (after {failure})" if failure else ""))
    stray = [line for line in err if line and line not in ALLOWED_STDERR]
    if any(SANITIZER.search(line) for line in stray):
        failure = Failure("sanitizer", next(line for line in stray if SANITIZER.search(line)))
    elif stray and not failure:
        failure = Failure("stderr", stray[0])
    if failure:  # named after the command it happened on, e.g. "missing reply (board)"
        failure.label = f"{failure.category} ({ops[-1][1][0] if ops else 'start-up'})"
    return failure, "".join(script), ops


def make_workdir(root):
    """A working folder with the repository's configuration, its searches made short."""
    workdir = tempfile.mkdtemp(prefix="tovan-fuzz-")
    with open(os.path.join(root, "config.toml")) as f:
        text = re.sub(r"(?m)^visits_limit = \d+", "visits_limit = 200", f.read())
    with open(os.path.join(workdir, "config.toml"), "w") as f:
        f.write(text)
    return workdir


def replay(engine, workdir, ops):
    source = iter(ops)
    return run_session(engine, workdir, lambda model: next(source, None))


def minimize(engine, workdir, ops, label):
    """Drops commands while the session still fails the same way."""
    def fails(trial):
        failure = replay(engine, workdir, trial)[0]
        return failure and failure.label == label

    chunk = max(1, len(ops) // 2)
    while True:
        i = 0
        while i < len(ops) - 1:
            trial = ops[:i] + ops[i + chunk:]
            if fails(trial):
                ops = trial
            else:
                i += chunk
        if chunk == 1:
            return ops
        chunk //= 2


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--engine", default=os.path.join(root, "build-sanitize", "pbrain-tovan"))
    parser.add_argument("--seed", type=int, default=1, help="first seed; session i uses seed + i")
    parser.add_argument("--sessions", type=int, default=100)
    parser.add_argument("--jobs", type=int, default=1, help="sessions run at once")
    parser.add_argument("--out", default="fuzz-failures", help="folder for the scripts of failing sessions")
    parser.add_argument("--minimize", action="store_true", help="shrink the first failing script of each kind")
    args = parser.parse_args()
    engine, workdir = os.path.abspath(args.engine), make_workdir(root)
    os.makedirs(args.out, exist_ok=True)
    try:
        return run_all(args, engine, workdir)
    finally:
        shutil.rmtree(workdir)


def run_all(args, engine, workdir):
    started, failures = time.monotonic(), {}

    def one(seed):
        return seed, *run_session(engine, workdir, Generator(random.Random(seed)))

    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for seed, failure, script, ops in pool.map(one, range(args.seed, args.seed + args.sessions)):
            if not failure:
                continue
            path = os.path.join(args.out, f"seed-{seed}.txt")
            with open(path, "w") as f:
                f.write(script)
            print(f"seed {seed}: {failure.label}: {failure.detail} (input: {path})", flush=True)
            failures.setdefault(failure.label, []).append((seed, ops))
    elapsed = time.monotonic() - started
    print(f"{args.sessions - sum(map(len, failures.values()))}/{args.sessions} sessions passed, "
          f"{elapsed / max(1, args.sessions) * args.jobs:.1f} s per session")
    for name, cases in sorted(failures.items()):
        print(f"  {name}: {len(cases)} (seeds {', '.join(str(s) for s, _ in cases[:10])})")
        if args.minimize:
            seed, ops = min(cases, key=lambda case: len(case[1]))
            ops = minimize(engine, workdir, ops, name)
            failure, script, _ = replay(engine, workdir, ops)
            path = os.path.join(args.out, "minimal-" + re.sub(r"\W+", "-", name).strip("-") + ".txt")
            with open(path, "w") as f:
                f.write(script)
            print(f"    minimal, from seed {seed}: {path} ({failure and failure.detail})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
