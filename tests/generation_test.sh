#!/usr/bin/env bash
# The whole training pipeline on a tiny budget: one generation of a network run, one of a
# weights run and one of a code network run started from the shipped Standard network
# (self-play over local Dask workers, samples, training, export, a gate match that the
# engine plays with the new model), the log and the plot;
# then a stopped run resumed: the generation's finished steps are not redone and it logs
# the same row. $1: the engine (build/pbrain-tovan), its built models next to it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=/usr/bin/python3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL $*"; exit 1; }
engine=${1:-$root/build/pbrain-tovan}
tiny="--engine $engine --games 4 --full-visits 32 --fast-visits 8 --train-steps 20 --turn-ms 400 --gate-games 2 --gate-min-games 2"

declare -A start=([network]="--blocks 1 --channels 8" [weights]=""
  [codenet]="--rule standard --init $(dirname "$engine")/models/standard-1.codenet")
for kind in network weights codenet; do
  $py "$root/tools/generation.py" --run "$tmp/$kind" --new --kind $kind $tiny ${start[$kind]} --workers 2 \
    >"$tmp/$kind.log" 2>&1 || fail "$kind generation: $(tail -5 "$tmp/$kind.log")"
  for file in run.json log.csv plot.png work/gen-1/gate.json; do
    [ -s "$tmp/$kind/$file" ] || fail "$kind run has no $file"
  done
  # The new model loads and answers (a loaded machine may still run out of the short time).
  $py -c 'import json, sys; faults = json.load(open(sys.argv[1]))["faults"]
sys.exit(any("(candidate)" in f and "timed out" not in f for f in faults))' "$tmp/$kind/work/gen-1/gate.json" ||
    fail "$kind gate: $(cat "$tmp/$kind/work/gen-1/gate.json")"
done
[ -s "$tmp/network/network.pt" ] && [ -s "$tmp/network/work/gen-1/candidate.onnx" ] || fail "no network"
# The code network run trained on from its first model: a new network's held-out loss
# before training is above 4 (a policy near uniform over 50 and more candidates); the
# shipped one's far below.
$py -c 'import json, sys; sys.exit(json.load(open(sys.argv[1]))["holdout_loss_before"] > 2.5)' \
  "$tmp/codenet/work/gen-1/train.json" || fail "the code network run did not start from --init"

# Stopped after its last step, before the log: the generation is done again from its files.
cd "$tmp/weights" || exit 1
cp log.csv logged.csv && rm log.csv
touch -d '2000-01-01' work/gen-1/records.tvsp
$py "$root/tools/generation.py" --run . --engine "$engine" >resume.log 2>&1 || fail "resume: $(tail -5 resume.log)"
cmp -s log.csv logged.csv || fail "the resumed generation logged another row: $(cat log.csv)"
[ "$(stat -c %Y work/gen-1/records.tvsp)" = "$(date -d 2000-01-01 +%s)" ] || fail "self-play was done again"
echo "all generation checks passed"
