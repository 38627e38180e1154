#!/usr/bin/env bash
# Checks `pbrain-tovan selfplay` and `dataset` end to end: tiny games under two rules read
# back with tools/selfplay_records.py and judged by the match runner's own five-in-a-row
# rules (moves on free cells, the result against the final position, the winning line that
# ended a game played out with every block of a four forced, distributions over free cells
# summing to 1); a repeat with the same seed gives the same file, a cut-off file still reads
# its complete games, and bad options fail with a message. Their samples (tools/training_samples.py)
# hold the replayed stones, the targets and the model's answers, one per searched position
# and winning-line move; mixed or damaged records fail. $1: the engine (build/pbrain-tovan).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
engine=${1:-$root/build/pbrain-tovan}
py=/usr/bin/python3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
fail() { echo "FAIL $*"; exit 1; }

tiny="--size 13 --games 3 --full-visits 60 --fast-visits 12 --full-share 0.5 --temperature-moves 6"
$engine selfplay $tiny --rule freestyle --seed 5 --out a.tvsp >a.log || fail "freestyle run: $(cat a.log)"
$engine selfplay $tiny --rule renju --seed 6 --threads 2 --out b.tvsp >b.log || fail "renju run: $(cat b.log)"
$engine selfplay $tiny --rule freestyle --seed 5 --out again.tvsp >/dev/null || fail "repeat run"
cmp -s a.tvsp again.tvsp || fail "the same seed gave another file"
cat a.tvsp b.tvsp >all.tvsp
head -c $(($(stat -c %s all.tvsp) - 20)) all.tvsp >cut.tvsp

PYTHONPATH=$root/tools $py - <<'EOF2' || exit 1
from match import Board, winning_line, BLACK, WHITE, EMPTY
from selfplay_records import read_games

def fives(board, colour, rule):
    """The empty cells where `colour` would make five."""
    found = []
    for x, y in [(x, y) for y in range(board.height) for x in range(board.width) if board.get(x, y) == EMPTY]:
        board.cells[y][x] = colour
        if winning_line(board, x, y, rule):
            found.append((x, y))
        board.cells[y][x] = EMPTY
    return found

def check(game):
    board = Board(game.width, game.height)
    boards, made_five = [], []
    for ply, (x, y) in enumerate(game.moves):
        assert board.on_board(x, y) and board.get(x, y) == EMPTY, f"move {ply} on {x},{y} is not free"
        boards.append([row[:] for row in board.cells])
        board.place(x, y, BLACK if ply % 2 == 0 else WHITE)
        made_five.append(winning_line(board, x, y, game.rule) is not None)
    assert not any(made_five[:-1]), "a five before the last move"
    if game.end == "five":
        assert made_five[-1] and game.winner == (len(game.moves) - 1) % 2, "the five is not the winner's"
    else:
        assert not made_five[-1], "a five stands, yet the game ended otherwise"
    if game.vcf:  # the winner's VCF, or a VCT's line: every four blocked at its only five, to a five or a four
        assert game.end == "proven" and game.winner == len(game.moves) % 2, "a winning line for the wrong side"
        for i, (x, y) in enumerate(game.vcf):
            assert board.get(x, y) == EMPTY, "winning line's move on a stone"
            if i % 2 == 1 and fives(board, game.winner + 1, game.rule):
                assert fives(board, game.winner + 1, game.rule) == [(x, y)], "a block of a four that is not forced"
            board.place(x, y, BLACK + (game.winner + i) % 2)
        assert winning_line(board, x, y, game.rule) or fives(board, game.winner + 1, game.rule), "the line wins nothing"
        assert game.winner != 2 or board.count >= game.width * game.height - 25, "a draw on an open board"
    for p in game.positions:
        assert p.ply < len(game.moves) and p.side == p.ply % 2, "position out of place"
        assert -1 <= p.value <= 1 and 0 <= p.draw_rate <= 1, "value out of range"
        assert abs(p.policy["p"].sum() - 1) < 1e-4 and (p.policy["p"] > 0).all(), "distribution does not sum to 1"
        assert all(boards[p.ply][y][x] == EMPTY for x, y in zip(p.policy["x"], p.policy["y"])), "weight on a stone"
        assert tuple(game.moves[p.ply]) in set(zip(p.policy["x"], p.policy["y"])), "played move has no weight"

games = list(read_games("all.tvsp"))
assert [g.rule for g in games] == ["freestyle"] * 3 + ["renju"] * 3, [g.rule for g in games]
assert sum(len(g.positions) for g in games) > 0, "no position recorded"
for g in games:
    check(g)
assert len(list(read_games("cut.tvsp"))) == 5, "the cut-off file lost complete games"
EOF2
$engine dataset --model "$(dirname "$engine")/models/freestyle.weights" --out a.tvds a.tvsp >a.log ||
  fail "dataset: $(cat a.log)"
$engine dataset --out b.tvds b.tvsp >b.log || fail "renju dataset: $(cat b.log)"
PYTHONPATH=$root/tools $py - <<'EOF2' || exit 1
import numpy as np
from match import Board, BLACK, WHITE
from selfplay_records import read_games
from training_samples import SampleFile

def expected(game):
    """(board after the moves, side to move, policy plane, result) per sample, in file order."""
    def board_after(moves):
        board = Board(game.width, game.height)
        for ply, (x, y) in enumerate(moves):
            board.place(x, y, BLACK if ply % 2 == 0 else WHITE)
        return np.array(board.cells)
    for p in game.positions:
        result = 0 if game.winner == 2 else 1 if game.winner == p.side else -1
        yield board_after(game.moves[:p.ply]), p.side, p.policy_plane(game.width, game.height), result
    for i, (x, y) in enumerate(game.vcf):
        side = (len(game.moves) + i) % 2
        plane = np.zeros((game.height, game.width), np.float32)
        plane[y, x] = 1
        yield board_after(game.moves + game.vcf[:i]), side, plane, 1 if side == game.winner else -1

for name, records, renju in (("a", "a.tvsp", False), ("b", "b.tvsp", True)):
    samples = SampleFile(name + ".tvds")
    want = [e for g in read_games(records) for e in expected(g)]
    assert samples.channels == (42 if renju else 40) and len(samples) == len(want), (len(samples), len(want))
    s = samples.batch(np.arange(len(samples)))
    for i, (cells, side, policy, result) in enumerate(want):
        planes = s["planes"][i]
        assert (planes[0] == 1).all(), "a cell off the board"
        assert (planes[1] == (cells == BLACK + side)).all() and (planes[2] == (cells == WHITE - side)).all(), i
        assert np.allclose(s["policy"][i], policy.reshape(-1)) and s["result"][i] == result, f"targets of {i}"
        assert (s["policy"][i].reshape(policy.shape)[planes[3] == 0] == 0).all(), "a target off the candidates"
        assert not renju or (planes[4] == (side == 0)).all(), "the Renju side plane"
    if samples.has_model:
        model = s["model_policy"].reshape(-1, samples.height, samples.width)
        assert ((model > 0) == (s["planes"][:, 3] == 1)).all() and np.allclose(model.sum(axis=(1, 2)), 1)
        assert (np.abs(s["model_win"]) <= 1).all() and ((0 <= s["model_draw"]) & (s["model_draw"] <= 1)).all()
EOF2
$engine dataset --out mixed.tvds all.tvsp >out.log 2>&1 && fail "records of two rules were accepted"
grep -q "^dataset: all.tvsp: game 4: " out.log && [ ! -e mixed.tvds ] || fail "mixed records: $(cat out.log)"
printf 'x' | dd of=all.tvsp bs=1 seek=100 conv=notrunc 2>/dev/null
$engine dataset --out bad.tvds all.tvsp >out.log 2>&1 && fail "a damaged record was accepted"
grep -q "^dataset: all.tvsp: " out.log || fail "damaged record: $(cat out.log)"
for bad in "" "--out" "--bogus a.tvsp" "--out a.tvsp a.tvsp" "missing.tvsp" "--model missing.onnx a.tvsp"; do
  $engine dataset $bad >out.log 2>&1 && fail "dataset '$bad' was accepted"
  grep -q "^dataset: " out.log || fail "dataset '$bad' gave no message: $(cat out.log)"
done
cmp -s a.tvsp again.tvsp || fail "a failed dataset run touched its records"

summary=$($py "$root/tools/selfplay_records.py" cut.tvsp) && grep -q "5 games" <<<"$summary" || fail "summary: $summary"

for bad in "--size 4" "--full-share 1.5" "--rule gomoku" "--games" "--bogus 1" "--out /nonexistent/x"; do
  $engine selfplay $bad >out.log 2>&1 && fail "'$bad' was accepted"
  grep -q "^selfplay: " out.log || fail "'$bad' gave no message: $(cat out.log)"
done
echo "all selfplay checks passed"
