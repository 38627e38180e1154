"""A game as the page holds it: rule, board size and moves (Black first, then in turn),
checked on arrival and judged by the rules of tovan.rules."""

from tovan.rules import BLACK, RULES, WHITE, Board, winning_line

MIN_SIDE, MAX_SIDE = 5, 20


class GameError(ValueError):
    """A game, a move or a record that cannot be played; its text is shown to the person."""


def _side(value, name):
    if type(value) is not int or not MIN_SIDE <= value <= MAX_SIDE:
        raise GameError(f"{name} must be a whole number from {MIN_SIDE} to {MAX_SIDE}, not {value!r}")
    return value


class Game:
    """A legal game: every move on the board, on an empty cell, none after the end."""

    def __init__(self, rule, width, height, moves):
        if rule not in RULES:
            raise GameError(f"rule must be one of {', '.join(RULES)}, not {rule!r}")
        self.rule, self.width, self.height = rule, _side(width, "width"), _side(height, "height")
        self.moves, self.result, self.board = [], None, Board(self.width, self.height)
        for move in moves:
            self.play(move)

    @classmethod
    def from_json(cls, data):
        if not isinstance(data, dict):
            raise GameError("game must be an object with rule, width, height and moves")
        moves = data.get("moves")
        if not isinstance(moves, list):
            raise GameError("game.moves must be a list of [x, y] pairs")
        return cls(data.get("rule"), data.get("width"), data.get("height"), moves)

    def to_json(self):
        return {"rule": self.rule, "width": self.width, "height": self.height, "moves": [list(m) for m in self.moves]}

    def colour_to_move(self):
        return BLACK if len(self.moves) % 2 == 0 else WHITE

    def play(self, move):
        """Plays a move given as [x, y]; a five, or a full board, ends the game."""
        number = len(self.moves) + 1
        if not (isinstance(move, (list, tuple)) and len(move) == 2 and all(type(c) is int for c in move)):
            raise GameError(f"move {number} must be a pair [x, y] of whole numbers, not {move!r}")
        x, y = move
        if self.result:
            raise GameError(f"move {number} ({x},{y}) comes after the end of the game")
        if not self.board.on_board(x, y):
            raise GameError(f"move {number} ({x},{y}) is off the {self.width}x{self.height} board")
        if self.board.get(x, y):
            raise GameError(f"move {number} ({x},{y}) is on a stone")
        colour = self.colour_to_move()
        self.board.place(x, y, colour)
        self.moves.append((x, y))
        if line := winning_line(self.board, x, y, self.rule):
            self.result = {"winner": "black" if colour == BLACK else "white", "line": [list(end) for end in line]}
        elif self.board.full():
            self.result = {"winner": "draw", "line": None}
