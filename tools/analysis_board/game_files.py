"""Game files the board loads and saves: SGF (game 4, five-in-a-row, as tournament
managers write it: SZ[15] or SZ[W:H], B[hh] and W[ih] moves with letter coordinates from
a, column first, setup stones in AB and AW) and the protocol's move lists (one x,y per
line, Black first)."""

import re

from game import Game, GameError

# The rule an SGF RU value names, looked for as a word in it; the default is the page's.
RULE_WORDS = {"renju": "renju", "caro": "caro", "standard": "standard", "exact": "standard",
              "freestyle": "freestyle", "gomoku": "freestyle"}
TOKEN = re.compile(r"\s*(?:([();])|([A-Za-z]+)((?:\s*\[(?:[^\]\\]|\\.)*\])+))", re.S)
VALUE = re.compile(r"\[((?:[^\]\\]|\\.)*)\]", re.S)


def load(text, rule, width, height):
    """The game a file's text holds: an SGF when it starts with '(', else a move list, whose
    rule and size are the given ones (an SGF's own replace them)."""
    if text.lstrip().startswith("("):
        return _load_sgf(text, rule, width, height)
    moves = []
    for number, word in enumerate(text.split(), 1):
        if not re.fullmatch(r"\d+,\d+", word):
            raise GameError(f"word {number} of the move list, {word[:20]!r}, is no x,y move")
        moves.append([int(c) for c in word.split(",")])
    return Game(rule, width, height, moves)


def save(game, kind):
    """The text of the game as an SGF ('sgf') or a move list ('moves')."""
    if kind == "moves":
        return "".join(f"{x},{y}\n" for x, y in game.moves)
    size = str(game.width) if game.width == game.height else f"{game.width}:{game.height}"
    nodes = "".join(f";{'BW'[i % 2]}[{chr(97 + x)}{chr(97 + y)}]" for i, (x, y) in enumerate(game.moves))
    return f"(;FF[4]GM[4]CA[UTF-8]AP[Tovan]SZ[{size}]RU[{game.rule}]{nodes})\n"


def _main_line(text):
    """The nodes of the game's main line, each a list of (property, values): the nodes before
    the first ')', which closes the first variation of every branching."""
    nodes, at = [], 0
    while match := TOKEN.match(text, at):
        at = match.end()
        if match[1] == ")":
            return nodes
        if match[1] == ";":
            nodes.append([])
        elif match[2]:
            if not nodes:
                raise GameError("the SGF has a property outside any node")
            nodes[-1].append((match[2].upper(), VALUE.findall(match[3])))
    raise GameError(f"the SGF cannot be read from character {at} on")


def _cell(value, number):
    if not re.fullmatch(r"[a-t]{2}", value):
        raise GameError(f"SGF move {number} [{value}] is no cell of a board of 20 or fewer lines")
    return [ord(value[0]) - 97, ord(value[1]) - 97]


def _load_sgf(text, rule, width, height):
    black, white, moves = [], [], []
    for node in _main_line(text):
        for name, values in node:
            if name == "GM" and values != ["4"]:
                raise GameError(f"the SGF is of game {values[0]}, not five-in-a-row (GM[4])")
            if name == "SZ":
                sides = re.fullmatch(r"(\d+)(?::(\d+))?", values[0].strip())
                if not sides:
                    raise GameError(f"the SGF's size SZ[{values[0]}] is no number or width:height")
                width, height = int(sides[1]), int(sides[2] or sides[1])
            if name == "RU":
                words = re.findall(r"[a-z]+", values[0].lower())
                rule = next((RULE_WORDS[w] for w in words if w in RULE_WORDS), rule)
            if name in ("AB", "AW"):
                (black if name == "AB" else white).extend(_cell(v, "setup") for v in values)
            if name in ("B", "W"):
                to_play = "BW"[(len(black) + len(white) + len(moves)) % 2]
                if name != to_play:
                    colours = {"B": "Black", "W": "White"}
                    raise GameError(f"SGF move {len(moves) + 1} is {colours[name]}'s, "
                                    f"but {colours[to_play]} is to play")
                moves.append(_cell(values[0], len(moves) + 1))
    if not 0 <= len(black) - len(white) <= 1:
        raise GameError(f"the SGF sets up {len(black)} black and {len(white)} white stones: Black must have as "
                        "many as White or one more")
    # Setup stones become moves in turn, Black first, which a game from that position has.
    setup = [stone for pair in zip(black, white + [None]) for stone in pair if stone]
    return Game(rule, width, height, setup + moves)
