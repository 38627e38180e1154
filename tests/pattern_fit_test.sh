#!/usr/bin/env bash
# Checks the torch mirror of the built-in pattern evaluator (tools/pattern_mirror.py)
# against the engine: tiny self-play games under Freestyle, Renju and Standard on a 12 x 9
# board become samples holding the shipped weights' answers (`dataset --model`), and the
# mirror's move probabilities, win and draw rates must agree within 1e-4. Then a short
# fit (tools/fit_pattern.py) writes weights unlike the shipped ones, which the engine must
# read and answer with exactly as the mirror does. $1: the engine (build/pbrain-tovan).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
engine=$(realpath "${1:-$root/build/pbrain-tovan}")
models=$(dirname "$engine")/models
py=/usr/bin/python3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
fail() { echo "FAIL $*"; exit 1; }

tiny="--games 3 --full-visits 60 --fast-visits 12 --full-share 0.5 --temperature-moves 6"
samples() {  # NAME WEIGHTS SELFPLAY-OPTIONS...
  local name=$1 weights=$2
  shift 2
  $engine selfplay $tiny "$@" --out "$name.tvsp" >"$name.log" 2>&1 || fail "$name self-play: $(cat "$name.log")"
  $engine dataset --model "$weights" --out "$name.tvds" "$name.tvsp" >"$name.log" 2>&1 ||
    fail "$name samples: $(cat "$name.log")"
}
samples freestyle "$models/freestyle.weights" --rule freestyle --seed 5
samples renju "$models/renju.weights" --rule renju --seed 6
samples standard "$models/standard.weights" --rule standard --width 12 --height 9 --seed 7
$py "$root/tools/fit_pattern.py" --init "$models/freestyle.weights" --out fitted.weights --steps 30 --batch 32 \
  --lr 0.05 --report 30 freestyle.tvds >fit.log 2>&1 || fail "fit: $(cat fit.log)"
grep -q "^held out, after: policy" fit.log || fail "fit output: $(cat fit.log)"
$engine dataset --model "$tmp/fitted.weights" --out fitted.tvds freestyle.tvsp >fit.log 2>&1 ||
  fail "engine with the fitted weights: $(cat fit.log)"

PYTHONPATH=$root/tools $py - "$models" <<'EOF' || exit 1
import sys
import numpy as np
import torch
from pattern_mirror import PatternMirror
from pattern_weights import read_weights
from training_samples import SampleFile

models = sys.argv[1]
shipped = read_weights(f"{models}/freestyle.weights")
assert read_weights("fitted.weights") != shipped, "the fit changed nothing"
checks = [(rule, f"{models}/{rule}.weights") for rule in ("freestyle", "renju", "standard")]
for samples, weights in checks + [("fitted", "fitted.weights")]:
    f = SampleFile(samples + ".tvds")
    b = f.batch(np.arange(len(f)))
    assert f.has_model and len(f) > 20, f"{samples}: {len(f)} samples"
    with torch.no_grad():
        logits, win, draw = PatternMirror(read_weights(weights))(torch.from_numpy(b["planes"]))
    gaps = [np.abs(torch.softmax(logits, 1).numpy() - b["model_policy"]).max(),
            np.abs(win.numpy() - b["model_win"]).max(), np.abs(draw.numpy() - b["model_draw"]).max()]
    assert max(gaps) < 1e-4, f"{samples} with {weights}: policy, win, draw differ by {gaps}"
EOF
echo "all pattern fit checks passed"
