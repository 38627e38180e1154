#!/usr/bin/env bash
# Checks the trainer end to end: tiny self-play games (Freestyle 11x11, Renju 12x9) become
# samples, a tiny network trains a few steps on each (the Renju one in two runs, the second
# resumed from the checkpoint) and is exported to ONNX; the engine, given the exported
# model, answers every sample as the trainer's network does (move probabilities over the
# candidates, win and draw rates within 1e-4) and plays with it over the protocol.
# $1: the engine (build/pbrain-tovan).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
engine=$(realpath "${1:-$root/build/pbrain-tovan}")
py=/usr/bin/python3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
fail() { echo "FAIL $*"; exit 1; }

games="--games 3 --full-visits 16 --fast-visits 8 --full-share 0.5"
$engine selfplay $games --size 11 --seed 3 --out f.tvsp >/dev/null || fail "freestyle self-play"
$engine selfplay $games --rule renju --width 12 --height 9 --seed 4 --out r.tvsp >/dev/null || fail "renju self-play"
for k in f r; do $engine dataset --out $k.tvds $k.tvsp >/dev/null 2>&1 || fail "dataset $k"; done

train() { $py "$root/tools/train.py" "$@" >>train.log 2>&1 || fail "train.py $*: $(cat train.log)"; }
tiny="--blocks 1 --channels 8 --batch 32 --log-every 1"
train train $tiny --steps 3 --checkpoint f.pt --export f.onnx f.tvds
train train $tiny --steps 2 --checkpoint r.pt --optimizer adam r.tvds
train train $tiny --steps 2 --checkpoint r.pt --optimizer adam r.tvds
train export --checkpoint r.pt --out r.onnx
grep -q "from step 2; window" train.log && grep -q "^step 4 " train.log || fail "no resume: $(cat train.log)"
for k in f r; do $engine dataset --model $k.onnx --out $k-model.tvds $k.tvsp >/dev/null 2>&1 || fail "dataset --model $k"; done

PYTHONPATH=$root/tools $py - <<'EOF' || exit 1
import numpy as np
import torch
from network import candidate_softmax
from train import load
from training_samples import SampleFile

for k in "fr":
    samples = SampleFile(f"{k}-model.tvds")
    b = samples.batch(np.arange(len(samples)))
    net, _ = load(f"{k}.pt")
    with torch.no_grad():
        planes = torch.from_numpy(b["planes"])
        logits, win, draw_logit = net(planes)
        ours = candidate_softmax(logits, planes).numpy(), win.numpy(), torch.sigmoid(draw_logit).numpy()
    for name, mine in zip(("model_policy", "model_win", "model_draw"), ours):
        gap = np.abs(mine - b[name]).max()
        assert gap < 1e-4, f"{k}: {name} differs from the engine's by {gap}"
    assert len(samples) > 10 and np.ptp(b["model_win"]) > 0, f"{k}: too few samples or a constant network"
EOF

sed -e 's|^Freestyle = .*|Freestyle = "f.onnx"|' -e 's|^Renju = .*|Renju = "r.onnx"|' "$root/config.toml" >config.toml
play() {
  printf "$1"'INFO timeout_turn 300\nBEGIN\nTURN 4,4\nEND\n' | $engine >play.log 2>&1
  grep -q "^DEBUG load model: $2$" play.log && ! grep -q "^ERROR" play.log &&
    [ "$(grep -cE '^[0-9]+,[0-9]+$' play.log)" = 2 ] || fail "playing with $2: $(cat play.log)"
}
play 'START 15\n' f.onnx
play 'INFO rule 4\nRECTSTART 12,9\n' r.onnx
echo "all training checks passed"
