"""Five-in-a-row rules: the board, and which runs of stones win under each rule."""

EMPTY, BLACK, WHITE = 0, 1, 2
DIRECTIONS = ((1, 0), (0, 1), (1, 1), (1, -1))

# rule name: the value of INFO rule
RULES = {"freestyle": 0, "standard": 1, "renju": 4, "caro": 8}


def rule_of_info(bits):
    """The rule an INFO rule value selects: Caro's bit first, then Standard's, then Renju's."""
    return "caro" if bits & 8 else "standard" if bits & 1 else "renju" if bits & 4 else "freestyle"


def wins(rule, colour, length, blocked_both_ends):
    """Whether a run of `length` stones of `colour` wins. Freestyle: five or more; standard:
    exactly five; renju: Black exactly five, White five or more; caro: exactly five, not
    blocked at both ends by the opponent's stones (the board edge does not block)."""
    if length < 5:
        return False
    if rule == "freestyle" or (rule == "renju" and colour == WHITE):
        return True
    return length == 5 and not (rule == "caro" and blocked_both_ends)


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
        if wins(rule, colour, length, before == opponent and after == opponent):
            return first, last
    return None
