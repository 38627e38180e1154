#!/usr/bin/env bash
# Checks tools/match.py: rule judging, fault reporting, openings sent with BOARD, usage
# errors, and (when the engine is built) a short game of the engine against itself.
# Uses a tiny scripted engine written below; exits non-zero on the first failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=/usr/bin/python3
match="$py $root/tools/match.py"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# fake.py MODE [MOVE...]: answers the protocol; on each move request it
#   script  plays the given moves in order      offboard  plays 99,99
#   taken   plays the opponent's last move      garbage   answers "hello"
#   error   answers "ERROR no move"             crash     exits with status 3
#   sleep   sleeps 1 s, then plays               slow      sleeps 0.15 s per move
# With --log=FILE first, every command line it reads is appended to FILE.
cat >"$tmp/fake.py" <<'EOF'
import sys, time
args = sys.argv[1:]
log = open(args.pop(0)[len("--log="):], "a") if args[0].startswith("--log=") else None
mode, script = args[0], args[1:]
last, in_board = "7,7", False
def say(text):
    print("DEBUG thinking about it")
    print(text, flush=True)
def move():
    if mode == "offboard": return say("99,99")
    if mode == "taken": return say(last)
    if mode == "garbage": return say("hello")
    if mode == "error": return say("ERROR no move")
    if mode == "crash": sys.exit(3)
    if mode == "sleep": time.sleep(1.0)
    if mode == "slow": time.sleep(0.15)
    say(script.pop(0) if script else "ERROR out of moves")
for line in sys.stdin:
    line = line.strip()
    if log: log.write(line + "\n"); log.flush()
    word = line.split(" ")[0].upper()
    if in_board:
        if word == "DONE": in_board = False; move()
        else: last = ",".join(line.split(",")[:2])
    elif word in ("START", "RECTSTART"): print("OK", flush=True)
    elif word == "ABOUT": print('name="Fake", version="1"', flush=True)
    elif word == "BEGIN": move()
    elif word == "TURN": last = line.split(" ")[1]; move()
    elif word == "BOARD": in_board = True
    elif word == "END": break
EOF
fake="$py $tmp/fake.py"

# expect NAME PATTERN ARGS...: runs a match, which must exit 0 and print PATTERN (grep -E),
# and not print $reject where that is set.
expect() {
  local name=$1 pattern=$2; shift 2
  local out
  out=$($match "$@" 2>&1 </dev/null); local rc=$?
  if [[ $rc -ne 0 ]] || ! grep -Eq -- "$pattern" <<<"$out" || { [[ -n ${reject:-} ]] && grep -q -- "$reject" <<<"$out"; }; then
    echo "FAIL $name (exit $rc): expected /$pattern/"; sed 's/^/    /' <<<"$out" | tail -25
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

# Games of the fake engines on 9 x 9 (later options override): name | engine1's mode and
# moves | engine2's | more options | the report expected. Black's 11th move 5,0 makes an
# overline of six, White's 12th move five. Caro: Black's five 1,0..5,0 is closed by O at
# 0,0 and 6,0; White's five 0,8..4,8 touches the edge, which does not block.
while IFS='|' read -r name one two options pattern; do
  expect "$name" "$pattern" --engine1 "$fake $one" --engine2 "$fake $two" --size 9 --games 1 $options
done <<'EOF'
freestyle overline wins|script 0,0 1,0 2,0 4,0 5,0 3,0 0,8|script 0,5 1,5 2,5 3,5 8,8 4,5|--rule freestyle|Result: 1-0, X \(Fake-1\) made five \(0,0 to 5,0\)
standard overline does not win|script 0,0 1,0 2,0 4,0 5,0 3,0 0,8|script 0,5 1,5 2,5 3,5 8,8 4,5|--rule standard|Result: 0-1, O \(Fake-2\) made five \(0,5 to 4,5\)
renju black overline does not win|script 0,0 1,0 2,0 4,0 5,0 3,0 0,8|script 0,5 1,5 2,5 3,5 8,8 4,5|--rule renju|Result: 0-1, O \(Fake-2\) made five
caro blocked five, edge does not block|script 1,0 2,0 3,0 4,0 5,0 8,3 8,4|script 0,0 6,0 0,8 1,8 2,8 3,8 4,8|--rule caro|Result: 0-1, O \(Fake-2\) made five \(0,8 to 4,8\)
draw on a full board|script 3,4 4,1 0,4 2,2 4,4 1,0 4,2 2,3 1,2 0,1 1,4 1,3 3,1|script 1,1 0,3 3,2 2,0 2,1 2,4 0,0 3,3 4,3 3,0 4,0 0,2|--size 5 --rule freestyle|Result: 1/2-1/2, the board is full
off-board move|offboard|script 0,0||X \(Fake-1\) played 99,99, off the 9x9 board
occupied cell|script 4,4|taken||O \(Fake-2\) played 4,4, an occupied cell \(after TURN 4,4\)
unparsable reply|garbage|script 0,0||unparsable move: 'hello'
error reply|error|script 0,0||X \(Fake-1\) replied to BEGIN with an error: 'ERROR no move'
crash|script 4,4|crash||O \(Fake-2\) crashed on TURN 4,4: exited with status 3
turn timeout|sleep|script 0,0|--turn-ms 100|X \(Fake-1\) timed out on BEGIN: no move within 300 ms \(100 ms \+ 200 ms margin\)
match time exhausted|slow 0,0 1,1 2,2 3,3 4,4 5,5|script 0,1 0,2 0,3 0,4 0,6 0,7|--match-ms 400 --margin-ms 50 --rule freestyle|X \(Fake-1\) ran out of match time
score and elo|script 0,0 1,0 2,0 3,0 4,0|script 0,0 1,0 2,0 3,0 4,0|--games 2 --rule freestyle --brief|Score of Fake-1: 1 wins, 0 draws, 1 losses .*
EOF

# Openings: the side to move gets BOARD with its own stones as 1, then its opponent gets
# BOARD on its first turn; colours swap in the second game of the opening.
printf '# one opening\n4,4 5,5 4,5\n' >"$tmp/openings.txt"
expect "opening, engine1 Black" 'Result: 1-0, X \(A\) made five \(0,0 to 4,0\)' \
  --engine1 "$fake --log=$tmp/log1 script 0,0 1,0 2,0 3,0 4,0" --engine2 "$fake --log=$tmp/log2 script 8,8 6,8 8,6 6,6 2,8" \
  --size 9 --games 1 --openings "$tmp/openings.txt" --rule freestyle --name1 A --name2 B
if tr '\n' ' ' <"$tmp/log2" | grep -q 'BOARD 4,4,2 5,5,1 4,5,2 DONE TURN 0,0' &&
   tr '\n' ' ' <"$tmp/log1" | grep -q 'BOARD 4,4,1 5,5,2 4,5,1 8,8,2 DONE TURN 6,8'; then
  echo "ok   opening sent with BOARD"
else
  echo "FAIL opening BOARD lines:"; sed 's/^/    engine1: /' "$tmp/log1"; sed 's/^/    engine2: /' "$tmp/log2"
  failures=$((failures + 1))
fi
expect "opening replayed, colours swapped" 'Game 2/2: X B vs O A, opening 4,4 5,5 4,5' \
  --engine1 "$fake script 8,8" --engine2 "$fake script 8,8" --size 9 --games 2 --openings "$tmp/openings.txt" \
  --name1 A --name2 B

# Odds: each engine is told and held to its own turn time.
expect "engine2's own turn time" 'O \(Fake-2\) timed out on TURN 0,0: no move within 300 ms \(100 ms' \
  --engine1 "$fake --log=$tmp/odds1 script 0,0" --engine2 "$fake --log=$tmp/odds2 sleep" --size 9 --games 1 \
  --turn-ms 2000 --turn-ms2 100
if ! grep -q 'timeout_turn 2000' "$tmp/odds1" || ! grep -q 'timeout_turn 100' "$tmp/odds2"; then
  echo "FAIL odds: engine1 was told $(grep timeout_turn "$tmp/odds1"), engine2 $(grep timeout_turn "$tmp/odds2")"
  failures=$((failures + 1))
fi

# A recorded match resumes: recorded games are counted, not played again; more --games
# extends it; a record of other limits is refused.
recorded=(--engine1 "$fake script 0,0 1,0 2,0 3,0 4,0" --engine2 "$fake script 0,0 1,0 2,0 3,0 4,0" --size 9
          --rule freestyle --brief --record "$tmp/record.jsonl")
expect "record" 'Score of Fake-1: 1 wins, 0 draws, 1 losses' "${recorded[@]}" --games 2
reject='Game 1:' expect "record resumed" '2 game\(s\) recorded.*' "${recorded[@]}" --games 2
reject='Game 2:' expect "record extended" 'Score of Fake-1: 2 wins, 0 draws, 2 losses' \
  "${recorded[@]}" --games 4
if $match "${recorded[@]}" --games 4 --turn-ms 999 >/dev/null 2>&1; [[ $? -ne 2 ]]; then
  echo "FAIL a record of other limits was not refused"; failures=$((failures + 1))
fi

# Usage errors exit 2.
usage_failures=$failures
for bad in "--engine1 x" "--engine1 /bin/true --engine2 /nonexistent/engine" \
           "--engine1 /bin/true --engine2 /bin/true --size 3" \
           "--engine1 /bin/true --engine2 /bin/true --openings /nonexistent"; do
  $match $bad >/dev/null 2>&1; rc=$?
  if [[ $rc -ne 2 ]]; then echo "FAIL usage error '$bad' gave exit $rc"; failures=$((failures + 1)); fi
done
if [[ $failures -eq $usage_failures ]]; then echo "ok   usage errors"; fi

# The engine itself, when built: whole games against itself under every rule, on 15 x 15
# and on a rectangular board; any illegal reply, error, crash or timeout would be a fault.
engine=$root/build/pbrain-tovan
if [[ -x $engine ]]; then
  for game in "--rule freestyle" "--rule standard" "--rule renju" "--rule caro" "--width 20 --height 12"; do
    reject='Games lost by a fault' expect "engine against itself, $game" 'Result: .*(made five|the board is full)' \
      --engine1 "$engine" --engine2 "$engine" --turn-ms 150 --games 1 $game
  done
else
  echo "skip engine game ($engine not built)"
fi

if [[ $failures -ne 0 ]]; then echo "$failures failure(s)"; exit 1; fi
echo "all match runner checks passed"
