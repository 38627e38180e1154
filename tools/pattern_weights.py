"""The text format of the built-in pattern evaluator's weights (KEY.weights).

'#' starts a comment; the first entry is "tovan-pattern-weights 1"; then every name of
ENTRIES exactly once with its count of numbers on one line. Vectors of 18 numbers follow
the plane order of PATTERNS. The engine's reader is src/evaluation/pattern_weights.cpp.
"""

HEADER = "tovan-pattern-weights 1"

# Order of the 18 pattern planes of one player's block. "cell" planes mark only the
# move; "spans" planes mark the move, the stones of the pattern and its key cells.
PATTERNS = [
    "five",                    # +0  cell: the move makes five
    "straight_four",           # +1  spans: open four, or two fours in one line
    "four",                    # +2  spans: the move makes a four
    "open_three",              # +3  spans
    "three",                   # +4  spans: closed three
    "open_two",                # +5  cell
    "two",                     # +6  cell
    "one",                     # +7  cell
    "four_four",               # +8  spans: two fours in two lines
    "four_open_three",         # +9  spans
    "four_three",              # +10 spans
    "four_open_two",           # +11 cell
    "open_three_open_three",   # +12 spans
    "open_three_three",        # +13 spans
    "open_three_open_two",     # +14 cell
    "three_three",             # +15 spans
    "three_open_two",          # +16 cell
    "open_two_open_two",       # +17 cell
]
PAT = {name: i for i, name in enumerate(PATTERNS)}

# Every name, in the order written, with its count of numbers.
ENTRIES = [
    ("policy_own", 18), ("policy_opponent", 18),
    ("combo_scale", 1), ("combo_divisor", 1),
    ("proximity_scale", 1), ("proximity_ring", 2), ("edge_per_cell", 1),
    ("value_own_max", 18), ("value_opponent_max", 18),
    ("value_own_sum", 18), ("value_opponent_sum", 18),
    ("value_tempo", 1), ("value_quiet", 1), ("value_own_five", 1),
    ("value_opponent_double_five", 1), ("value_own_strong", 1),
    ("value_forced", 1), ("value_forced_shift", 1),
    ("draw_bias", 1), ("draw_fill", 1),
]
COUNTS = dict(ENTRIES)


def format_weights(values, comments=()):
    """The file's text: `comments` as '#' lines, the header, then values[name] (a
    sequence of numbers) for every name."""
    lines = ["# " + c for c in comments] + [HEADER]
    for name, count in ENTRIES:
        numbers = [float(v) for v in values[name]]
        assert len(numbers) == count, f"{name} takes {count} numbers, not {len(numbers)}"
        lines.append(name + " " + " ".join(repr(v) for v in numbers))
    return "\n".join(lines) + "\n"


def read_weights(path):
    """{name: list of floats} of a weights file; ValueError names the line and the
    fault, as the engine's reader would refuse it."""
    values, headed = {}, False
    with open(path) as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            if not headed:
                if " ".join(words) != HEADER:
                    raise ValueError(f"{path}, line {number}: expected \"{HEADER}\"")
                headed = True
                continue
            name, numbers = words[0], [float(w) for w in words[1:]]
            if name not in COUNTS or name in values:
                raise ValueError(f"{path}, line {number}: unknown or repeated name {name}")
            if len(numbers) != COUNTS[name]:
                raise ValueError(f"{path}, line {number}: {name} takes {COUNTS[name]} numbers")
            values[name] = numbers
    missing = [name for name, _ in ENTRIES if name not in values]
    if not headed or missing:
        raise ValueError(f"{path}: missing " + (missing[0] if missing else "the header"))
    return values
