#!/usr/bin/python3
"""Seeded protocol fuzzer for pbrain-tovan: each session runs one engine process on random
commands, valid and broken, each followed by ABOUT (what comes before the about line, DEBUG lines
aside, is the command's reply), and judges every reply by the fuzzer's own model of the game and
five-in-a-row rules. A crash, sanitizer or other standard-error text, a hang, a late, illegal,
missing, extra or refused reply or a move after the end fails the session, whose exact input is
kept for `pbrain-tovan < FILE`."""
import argparse, concurrent.futures, os, pathlib, random, re, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from tovan import paths  # noqa: E402
from tovan.engine import Engine  # noqa: E402
from tovan.rules import BLACK, WHITE, rule_of_info, wins  # noqa: E402

ABOUT = 'name="Tovan", version="2024", author="Oren Valsk", country="Marovia"'
LINES = ((1, 0), (0, 1), (1, 1), (1, -1))
OPENING_MARGIN = 4  # opening.margin_range of the shipped configuration
HANG_SECONDS, EXIT_SECONDS = 30, 10  # past any time limit; after END or the end of input
# For building the engine and loading a model on a game's first move request or after a rule change:
LOAD_SECONDS = 2.0  # at most 0.32 s measured in the sanitizer build under load; generous, as cores are shared
ALLOWED_STDERR = {"", "forbidden point update timeout!"}
SANITIZER = re.compile(r"ERROR: (Address|Leak|Undefined)Sanitizer|runtime error|Sanitizer")
REPLIES = {"OK": "OK", "SWAP": "SWAP", "ERROR": "ERROR.*", "FORBID": "FORBID .*", "move": r"-?\d+,-?\d+",
           "opening": r"(-?\d+,-?\d+ ){2}-?\d+,-?\d+",
           "analysis": r"(ANALYSIS .*\n)+ANALYSIS DONE VISITS \d+ WIN [01]\.\d{3} DRAW [01]\.\d{3} TIME \d+\.\d\d"}
ANALYSIS_LINE = re.compile(r"ANALYSIS (\d+,\d+) VISITS \d+ WIN (-|[01]\.\d{3}) DRAW (-|[01]\.\d{3}) PRIOR [01]\.\d{4} "
                           r"PV ((\d+,\d+ )*\d+,\d+)")
NOTHING = {"ERROR": lambda line: None}  # an ERROR is the only answer, and changes nothing


class Failure(Exception):  # (label, detail)
    pass


def five(rule, colour, length, closed_both_ends):  # colour 0 Black, 1 White
    return wins(rule, WHITE if colour else BLACK, length, closed_both_ends)


class Game:
    def __init__(self, width, height):
        self.width, self.height, self.stones, self.history = width, height, {}, []  # (x, y) -> 0 Black, 1 White
        self.unordered = 0  # leading history cells whose order is unknown (colours from who fields)

    def on_board(self, cell):
        return 0 <= cell[0] < self.width and 0 <= cell[1] < self.height

    def to_move(self):
        return len(self.stones) % 2

    def run(self, cell, dx, dy, colour):  # stones of the colour in a row past the cell in direction (dx, dy)
        return next(n for n in range(26) if self.stones.get((cell[0] + (n + 1) * dx, cell[1] + (n + 1) * dy)) != colour)

    def winners(self, rule):
        s = self.stones  # each run from its first stone; closed: the other colour at both ends
        return {c for (x, y), c in s.items() for dx, dy in LINES if s.get((x - dx, y - dy)) != c and
                five(rule, c, n := 1 + self.run((x, y), dx, dy, c),
                     s.get((x - dx, y - dy)) == 1 - c == s.get((x + n * dx, y + n * dy)))}

    def made_by_one_stone(self, rule, colour):  # some stone stands in every five of the colour: a last move
        for cell in [cell for cell, c in self.stones.items() if c == colour]:
            del self.stones[cell]
            made_all = colour not in self.winners(rule)
            self.stones[cell] = colour
            if made_all:
                return True
        return False

    def over(self, rule):
        return bool(self.winners(rule)) or len(self.stones) == self.width * self.height

    def play(self, cell, colour=None):
        self.stones[cell] = self.to_move() if colour is None else colour
        self.history.append(cell)

    def take(self, cell):
        index = self.history.index(cell)
        self.unordered -= index < self.unordered
        del self.history[index], self.stones[cell]


class Model:
    """What the engine must have done so far. expect(op) gives (allowed, seconds, over): allowed maps each
    acceptable reply kind to a function applying it (it may return a failure), seconds limits a move
    request's reply, over says the game has ended."""

    def __init__(self):
        self.game, self.size, self.fresh = None, (20, 20), True  # fresh: the next move request builds the engine
        self.info, self.board_rule = {"rule": 0, "timeout_turn": 1000, "time_left": 1000000}, "freestyle"

    def moved(self, game, text):
        cell = tuple(map(int, text.split(",")))
        if not game.on_board(cell) or cell in game.stones:
            return "illegal move", f"{text} is off the board or on a stone"
        game.play(cell)
        self.game, self.fresh = game, False

    def new_game(self, size):
        self.size, self.game, self.fresh = size, Game(*size), True

    def expect(self, op):
        kind, game, rule = op[0], self.game, rule_of_info(self.info["rule"])
        if kind == "start":
            valid = op[1] is not None and all(5 <= side <= 20 for side in op[1])
            return ({"OK": lambda line: self.new_game(op[1])} if valid else NOTHING), None, False
        if kind == "info" and op[2] is not None:
            self.fresh |= op[1] == "rule" and rule_of_info(op[2]) != rule
            self.info[op[1]] = op[2]
        if kind in ("info", "silent", "forbid"):
            silent = {"none": lambda line: None} if op[-1] is not None else NOTHING  # not for a bad info value
            return {"FORBID": self.check_forbid} if kind == "forbid" else silent, None, False
        if kind == "analyze":  # the engine is built for the rule in force, the game stays as it was
            if None in op[1:] or game is None:
                return NOTHING, None, False
            self.board_rule = rule
            seconds = op[1] / 1000 + 2 + (LOAD_SECONDS if self.fresh else 0)
            analysis = {"analysis": lambda block: self.check_analysis(block, op[2])}
            return NOTHING if game.over(rule) else analysis, seconds, False
        if kind == "takeback":  # the last stone; while colours came from who fields, any of the side that moved last
            cell, known = op[1], game and len(game.history) > game.unordered
            if cell is None or game is None or cell not in game.stones or \
                    not (cell == game.history[-1] if known else game.stones[cell] != game.to_move()):
                return NOTHING, None, False
            return {"OK": lambda line: game.take(cell), **({} if known else NOTHING)}, None, False
        # Move requests. The rule in force is the one last set; its change takes effect now.
        self.board_rule = rule
        seconds = max(self.info["timeout_turn"], 0) / 1000 + 1 + (LOAD_SECONDS if self.fresh else 0)
        if game is None or (kind == "turn" and op[1] is None) or (kind == "board" and None in op[1]):
            return NOTHING, seconds, False
        if kind == "board":
            return self.expect_list(op[1], op[2], seconds, rule)
        if kind == "begin" and game.stones or kind == "turn" and (not game.on_board(op[1]) or op[1] in game.stones):
            return NOTHING, seconds, kind == "begin" and game.over(rule)
        if kind == "turn" and not game.over(rule):
            game.play(op[1])  # it stands even when it ends the game, which leaves no move to answer
        if game.over(rule):
            return NOTHING, seconds, True
        return {"move": lambda line: self.moved(game, line)}, seconds, False

    def expect_list(self, words, swap2, seconds, rule):
        game, cells, whos = Game(self.game.width, self.game.height), [w[:2] for w in words], [w[2] for w in words]
        alternate, counted = [i % 2 for i in range(len(words))], words and all(who in (1, 2) for who in whos)
        to_move = whos.count(2) - whos.count(1) if counted else len(words) % 2  # who 1: the engine's, to move
        if not all(map(game.on_board, cells)) or len(set(cells)) != len(cells) or to_move not in (0, 1):
            return NOTHING, seconds, False
        colours = [to_move if who == 1 else 1 - to_move for who in whos] if counted else alternate
        for cell, colour in zip(cells, colours):
            game.play(cell, colour)
        game.unordered, won = 0 if colours == alternate else len(cells), game.winners(rule)
        if won - {1 - to_move} or (won and not game.made_by_one_stone(rule, 1 - to_move)):
            return NOTHING, seconds, True  # the list goes on past a five
        adopt, move = lambda line: setattr(self, "game", game), lambda line: self.moved(game, line)
        if game.over(rule):  # no reply to a finished position (a board filled without a five may be refused)
            return {"none": adopt, **(NOTHING if swap2 or not won else {})}, seconds, True
        if words or not swap2:
            return {"move": move, **({"SWAP": adopt} if swap2 else {})}, seconds, False
        # An opening's first two stones keep the margin from the edges: it needs two such points.
        inner = max(0, game.width - 2 * OPENING_MARGIN) * max(0, game.height - 2 * OPENING_MARGIN)
        opening = lambda line: any(map(move, line.split())) and ("illegal move", f"opening {line}")
        return {"opening": opening, **(NOTHING if inner < 2 else {})}, seconds, False

    def check_analysis(self, block, count):  # at most count moves, each with a line of empty cells from it
        listed = []
        for line in block.split("\n")[:-1]:
            match = ANALYSIS_LINE.fullmatch(line)
            line_cells = match and [tuple(map(int, word.split(","))) for word in match[4].split()]
            if not match or line_cells[0] in listed or len(set(line_cells)) < len(line_cells) or \
                    any(not self.game.on_board(cell) or cell in self.game.stones for cell in line_cells):
                return "wrong analysis", line
            listed.append(line_cells[0])
        if len(listed) > count:
            return "wrong analysis", f"{len(listed)} moves for {count}"
        self.fresh = False

    def check_forbid(self, line):
        points = [(int(p[:2]), int(p[2:])) for p in re.findall(r"\d{4}", line)]
        if not re.fullmatch(r"FORBID (\d{4})*\.", line):
            return "unexpected reply", line
        if points and ("renju" not in (rule_of_info(self.info["rule"]), self.board_rule) or self.game is None or
                       any(not self.game.on_board(p) or p in self.game.stones for p in points)):
            return "wrong forbidden points", line



BAD_INTEGERS = ["abc", "x", "-", "+", "--1", "+-2", "9999999999", "2147483648", "-2147483649"]
BAD_WORDS = ["a,b,1", "7", "7,7,1,1", "7,7,x", "x,7", ",", "1;2;3;4", "--"]
NOISE = ["hello", "done", "DONE", "yxboard", "swap", "7,7", "-1", "yxhashclear", "yxnbest 3", "pos", "suggest",
         "info evaluate 7,7", "info folder games start 15", "INFO TIMEOUT_TURN 5000", "info Rule 4", "info game_type 1"]
CUTS = ["turn 7,", "turn", "board\n1,1\n2,2", "start", "rectstart 10,", "info timeout_turn", "info", "takeback 3",
        "swap2board\n7,7", "BOARD", "info rule", "analyze time"]
BIG = [-2147483648, -129, -1, 127, 128, 255, 256, 263, 1000, 2147483647]
KINDS = {"start": 6, "rectstart": 4, "info": 10, "turn": 30, "takeback": 8, "board": 10, "swap2board": 4,
         "restart": 3, "begin": 4, "yxshowforbid": 3, "analyze": 4, "noise": 3}
INFO = {"rule": lambda r: [0, 1, 4, 8] * 2 + [2, 3, 5, 6, 9, 12, -1],
        "timeout_turn": lambda r: [r.randint(50, 1500)] * 8 + [0, -5, 100000, 2147483647],
        "time_left": lambda r: [r.randint(0, 100000), r.randint(0, 20000), 0, -1, 2147483647, -2147483648]}
INFO_KEYS = ["rule", "rule", "timeout_turn", "timeout_turn", "time_left", "timeout_match", "max_memory"]


def integer(r, good, bad=0.1):
    return (r.choice(BAD_INTEGERS), None) if r.random() < bad else (str(good), good)


def case(r, word):
    return r.choice([word, word.upper(), word.capitalize()])


def any_cell(r, game):  # often off the board: the text and the cell, None when malformed
    side = max(game.width, game.height) if game else 15
    (x_text, x), (y_text, y) = (integer(r, r.choice([r.randint(-2, side + 2), r.choice(BIG), r.randint(0, side - 1)]),
                                        0.15) for _ in range(2))
    return f"{x_text},{y_text}", None if None in (x, y) else (x, y)


def good_cell(r, game):  # an empty cell next to the stones, often one making the side to move's longest line
    empty = [(x, y) for y in range(game.height) for x in range(game.width) if (x, y) not in game.stones]
    near = [c for c in empty if any((c[0] + dx, c[1] + dy) in game.stones
                                    for dx in (-1, 0, 1) for dy in (-1, 0, 1))] or empty
    longest = {c: max(game.run(c, dx, dy, game.to_move()) + game.run(c, -dx, -dy, game.to_move())
                      for dx, dy in LINES) for c in near}
    best = max(longest.values())
    return r.choice(near if r.random() < 0.5 else [c for c in near if longest[c] == best])


def command(r, model):
    game, info = model.game, model.info
    kind = r.choices(list(KINDS), [w if game or k != "turn" else 3 for k, w in KINDS.items()])[0]
    word = case(r, kind)
    if kind in ("restart", "begin", "yxshowforbid", "noise"):
        ops = {"restart": ("start", model.size), "begin": ("begin",), "yxshowforbid": ("forbid",)}
        return (r.choice(NOISE), ("silent",)) if kind == "noise" else (word, ops[kind])
    if kind in ("start", "rectstart"):  # start N is rectstart N,N
        sides = [integer(r, r.randint(3, 25), 0.05) for _ in range(2)] if kind == "rectstart" else \
            [integer(r, r.choice([r.randint(5, 20)] * 4 + [r.randint(3, 25)]))]
        size = [side for _, side in sides] * (3 - len(sides))
        return f"{word} {','.join(t for t, _ in sides)}", ("start", None if None in size else tuple(size[:2]))
    if kind == "info":
        key = r.choice(INFO_KEYS)
        text, value = integer(r, r.choice(INFO.get(key, INFO["time_left"])(r)))
        if key == "max_memory":  # bytes, 64 bits: only a negative count is refused
            value = int(text) if re.fullmatch(r"-?\d+", text) and int(text) >= 0 else None
        if (value or 0) > 3000 < info.get({"timeout_turn": "time_left", "time_left": "timeout_turn"}.get(key), 0):
            text, value = "1000", 1000  # not both long, or a swap2 opening might search for as long
        return f"{case(r, 'info')} {key} {text}", ("info", key, value)
    if kind in ("turn", "takeback"):  # a good cell, the last or another stone, or any cell
        roll, cell = r.random(), None
        if kind == "turn" and game and roll < 0.75 and len(game.stones) < game.width * game.height:
            cell = good_cell(r, game)
        elif game and game.history and roll < (0.85 if kind == "turn" else 0.6):
            cell = game.history[-1] if kind == "takeback" and roll < 0.5 else r.choice(game.history)
        text, cell = (f"{cell[0]},{cell[1]}", cell) if cell else any_cell(r, game)
        return f"{word} {text}", (kind, cell)
    if kind == "analyze":  # op: ("analyze", milliseconds, count), None where refused; 300 visits take no longer
        what = case(r, r.choice(["time", "visits"])) if r.random() < 0.9 else r.choice(["depth", "7,7", "1000"])
        most = {"time": 600000, "visits": 10000000}.get(what.lower(), 0)
        amount_text, amount = integer(r, r.choice([r.randint(1, 300)] * 8 + [0, -5, most + 1]))
        count_text, count = integer(r, r.choice([r.randint(1, 8)] * 6 + [400, 0, 401]))
        milliseconds = None if amount is None or not 1 <= amount <= most else amount if most == 600000 else 300
        return f"{word} {what} {amount_text} {count_text}", \
            ("analyze", milliseconds, count if count is not None and 1 <= count <= 400 else None)
    # An empty swap2 list asks for an opening, which may search for the whole turn: keep it short.
    if kind == "swap2board" and r.random() < 0.3 and min(info["timeout_turn"], info["time_left"]) <= 3000:
        return f"{word}\n{case(r, 'done')}", ("board", [], True)
    return board(r, model, word, kind == "swap2board")


def board(r, model, word, swap2):
    """A list of stones, Black's and White's in turn: random cells, often with a line of four to
    six of one colour, in playing order or grouped by colour, with or without who fields, sometimes broken."""
    width, height = (model.game.width, model.game.height) if model.game else model.size
    cells = r.sample([(x, y) for y in range(height) for x in range(width)], width * height)
    n = min(len(cells), r.choice([r.randint(0, 6), r.randint(1, 16), r.randint(1, 50)]))
    length, (dx, dy), colour, x, y = r.choice([4, 5, 5, 6]), r.choice(LINES), r.randint(0, 1), \
        r.randrange(width), r.randrange(height)
    line = [(x + i * dx, y + i * dy) for i in range(length)]
    if r.random() < 0.5 and all(0 <= a < width and 0 <= b < height for a, b in line):
        rest, n = iter([c for c in cells if c not in line]), min(len(cells), max(n, 2 * length + colour))
        cells = [line[i // 2] if i % 2 == colour and i < 2 * length else next(rest) for i in range(n)]
    lists, to_move = [r.sample(cells[i:n:2], len(cells[i:n:2])) for i in (0, 1)], n % 2
    order = [c for pair in zip(lists[0], lists[1] + [None]) for c in pair if c is not None]
    style = "plain" if swap2 else r.choice(["plain", "who", "grouped", "wrong", "odd"])
    if style == "grouped":
        order = sum(r.sample([lists[to_move], lists[1 - to_move]], 2), [])
    whos = [{"plain": None, "odd": r.choice([None, 0, 3, 1]), "wrong": r.choice([1, 2])}.get(
        style, 2 - (cell in lists[to_move])) for cell in order]
    words = [(f"{x},{y}" + ("" if who is None else f",{who}"), (x, y, who)) for (x, y), who in zip(order, whos)]
    if r.random() < 0.25 and words:  # a duplicate, a stone off the board or a malformed word
        roll, (text, cell) = r.random(), any_cell(r, model.game)
        words.insert(r.randint(0, len(words)), r.choice(words) if roll < 0.4 else
                     (text, cell and (*cell, None)) if roll < 0.7 else (r.choice(BAD_WORDS), None))
    body = r.choice(["\n", "\n", " "]).join([word] + [t for t, _ in words] + [case(r, "done")])
    return body, ("board", [w for _, w in words], swap2)



def run_session(program, workdir, seed):
    """One engine process on seeded commands, every reply judged: (label and detail or None, input)."""
    r, supp = random.Random(seed), os.path.join(paths.ROOT, "tests", "lsan.supp")
    env = {"LSAN_OPTIONS": f"suppressions={supp}:print_suppressions=0", **os.environ}
    engine = Engine([program], cwd=workdir, env=env)  # its lines timed as they arrive
    model, script, failure, op = Model(), [], None, ("start-up",)

    def send(text):
        script.append(text)
        engine.write(text)

    def replies(deadline):  # (time, line) of the lines before the next about line
        lines = []
        while (item := engine.read_line(deadline))[1] != ABOUT:
            if item[1] is None:
                raise Failure("exit before reply", "the engine stopped before replying")
            lines += [] if item[1].startswith("DEBUG ") else [item]
        return lines

    try:
        send("ABOUT\n")
        if replies(time.monotonic() + 120):
            raise Failure("extra reply", "at start-up")
        for _ in range(r.randint(3, 60)):
            text, op = command(r, model)
            send(text + "\nABOUT\n")
            start, (allowed, seconds, over) = time.monotonic(), model.expect(op)
            lines = replies(start + min(seconds or 0, HANG_SECONDS) + HANG_SECONDS)
            stamp = lines[-1][0] if lines else time.monotonic()
            where = f"{text!r} got {[t for _, t in lines]}, expected {sorted(allowed)}"
            block = "\n".join(t for _, t in lines)  # one line, or an analysis's lines
            got = "none" if not lines else next((k for k, p in REPLIES.items() if re.fullmatch(p, block)), "garbage")
            if got not in allowed:
                raise Failure("extra reply" if len(lines) > 1 and got == "garbage" else
                              "missing reply" if got == "none" else
                              "move after game end" if over and got in ("move", "opening", "SWAP") else
                              "refused valid command" if got == "ERROR" else
                              "accepted invalid command" if "ERROR" in allowed else "unexpected reply", where)
            if problem := allowed[got](block):
                raise Failure(problem[0], f"{text!r}: {problem[1]}")
            if seconds is not None and stamp - start > seconds:
                raise Failure("late reply", f"{text!r}: {stamp - start:.2f} s, limit {seconds:.2f} s")
        text, op = r.choice([(case(r, "end"), ("end",)), (case(r, "exit"), ("end",)), ("", ("eof",)),
                             (r.choice(CUTS), ("cut",))])  # the input may stop mid-command
        send(text + "\n" * (op[0] == "end"))
    except TimeoutError:
        failure = ("hang", "no reply")
    except Failure as caught:
        failure = caught.args
    if engine.end_input(EXIT_SECONDS) is None:
        failure = failure or ("hang", "no exit after the end of input")
    engine.reader.join(5)
    rest = [t for t in engine.pending() if t is not None and not t.startswith("DEBUG ")]
    if rest and not failure:
        failure = ("extra reply", f"after the last command: {rest}")
    code = engine.proc.returncode
    if code not in (0, -9):  # -9: killed here after a hang
        failure = ("crash", f"exit status {code}" + (f" (after {': '.join(failure)})" if failure else ""))
    stray = [line for line in engine.stderr_text().splitlines() if line.strip() not in ALLOWED_STDERR]
    engine.close()
    reports = [line for line in stray if SANITIZER.search(line)]
    if reports or (stray and not failure):
        failure = ("sanitizer", reports[0]) if reports else ("stderr", stray[0])
    # The label names the command it happened on, e.g. "missing reply (board)".
    return failure and (f"{failure[0]} ({op[0]})", failure[1]), "".join(script)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--engine", default=os.path.join(paths.ROOT, "build-sanitize", "pbrain-tovan"))
    parser.add_argument("--seed", type=int, default=1, help="first seed; session i uses seed + i")
    parser.add_argument("--sessions", type=int, default=100)
    parser.add_argument("--jobs", type=int, default=1, help="sessions run at once")
    parser.add_argument("--out", default="fuzz-failures", help="folder for the scripts of failing sessions")
    args = parser.parse_args()
    engine, seeds, started, failures = os.path.abspath(args.engine), range(args.seed, args.seed + args.sessions), \
        time.monotonic(), {}
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="tovan-fuzz-") as workdir, \
            concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        config = pathlib.Path(paths.CONFIG).read_text()  # the repository's, its searches made short:
        pathlib.Path(workdir, "config.toml").write_text(re.sub(r"(?m)^visits_limit = \d+", "visits_limit = 200",
                                                               config))
        for seed, (failure, script) in zip(seeds, pool.map(lambda s: run_session(engine, workdir, s), seeds)):
            if failure:
                (path := pathlib.Path(args.out, f"seed-{seed}.txt")).write_text(script)
                print(f"seed {seed}: {failure[0]}: {failure[1]} (input: {path})", flush=True)
                failures.setdefault(failure[0], []).append(str(seed))
    print(f"{args.sessions - sum(map(len, failures.values()))}/{args.sessions} sessions passed, "
          f"{(time.monotonic() - started) / max(1, args.sessions) * args.jobs:.1f} s per session")
    for label, failed in sorted(failures.items()):
        print(f"  {label}: {len(failed)} (seeds {', '.join(failed[:10])})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
