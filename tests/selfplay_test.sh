#!/usr/bin/env bash
# Checks `pbrain-tovan selfplay` end to end: tiny games under two rules read back with
# tools/selfplay_records.py and judged by the match runner's own five-in-a-row rules (moves
# on free cells, the result against the final position, the VCF that ended a game played
# out with every block forced, distributions over free cells summing to 1); a repeat with the same seed gives the same file, a cut-off file still reads its
# complete games, and bad options fail with a message. $1: the engine (build/pbrain-tovan).
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
    if game.vcf:  # the winner's fours, each blocked at its only five, to a five or a four
        assert game.end == "proven" and game.winner == len(game.moves) % 2, "a VCF for the wrong side"
        for i, (x, y) in enumerate(game.vcf):
            assert board.get(x, y) == EMPTY, "VCF move on a stone"
            if i % 2 == 1:
                assert fives(board, game.winner + 1, game.rule) == [(x, y)], "a VCF block that is not forced"
            board.place(x, y, BLACK + (game.winner + i) % 2)
        assert winning_line(board, x, y, game.rule) or fives(board, game.winner + 1, game.rule), "VCF wins nothing"
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
summary=$($py "$root/tools/selfplay_records.py" cut.tvsp) && grep -q "5 games" <<<"$summary" || fail "summary: $summary"

for bad in "--size 4" "--full-share 1.5" "--rule gomoku" "--games" "--bogus 1" "--out /nonexistent/x"; do
  $engine selfplay $bad >out.log 2>&1 && fail "'$bad' was accepted"
  grep -q "^selfplay: " out.log || fail "'$bad' gave no message: $(cat out.log)"
done
echo "all selfplay checks passed"
