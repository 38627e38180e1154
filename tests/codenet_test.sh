#!/usr/bin/env bash
# Checks the code network end to end against its torch twin (tools/tovan/codenet.py): tiny
# self-play games under Freestyle, Renju and Standard on a 12 x 9 board become samples; a
# few training steps (tools/train_codenet.py) write a network per rule, whose answers the
# engine records on the samples (`dataset --model`), and the torch model's move
# probabilities, win and draw rates must agree within 1e-4; so must those of the shipped
# Standard network, a file of the format's first version. The engine plays a game with a
# network named in its configuration, and refuses damaged files and a network of another
# rule's planes with a message. $1: the engine (build/pbrain-tovan).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
engine=$(realpath "${1:-$root/build/pbrain-tovan}")
py=/usr/bin/python3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
fail() { echo "FAIL $*"; exit 1; }

tiny="--games 3 --full-visits 60 --fast-visits 12 --full-share 0.5 --temperature-moves 6"
for spec in "freestyle --rule freestyle --seed 5" "renju --rule renju --seed 6" \
            "standard --rule standard --width 12 --height 9 --seed 7"; do
  set -- $spec
  name=$1
  shift
  $engine selfplay $tiny "$@" --out $name.tvsp >$name.log 2>&1 || fail "$name self-play: $(cat $name.log)"
  $engine dataset --out $name.tvds $name.tvsp >$name.log 2>&1 || fail "$name samples: $(cat $name.log)"
  $py "$root/tools/train_codenet.py" train --out $name.codenet --steps 30 --batch 32 --holdout 0 --lr 0.001 \
    $name.tvds >$name.log 2>&1 || fail "$name training: $(cat $name.log)"
  $engine dataset --model "$tmp/$name.codenet" --out $name-answers.tvds $name.tvsp >$name.log 2>&1 ||
    fail "$name answers: $(cat $name.log)"
done
shipped=$(dirname "$engine")/models/standard-1.codenet
$engine dataset --model "$shipped" --out shipped-answers.tvds standard.tvsp >shipped.log 2>&1 ||
  fail "shipped answers: $(cat shipped.log)"

PYTHONPATH=$root/tools $py - "$shipped" <<'EOF' || exit 1
import sys
import numpy as np
from tovan import codenet
from tovan.records import SampleFile

networks = {"freestyle": "freestyle.codenet", "renju": "renju.codenet", "standard": "standard.codenet",
            "shipped": sys.argv[1]}
for name, network in networks.items():
    f = SampleFile(name + "-answers.tvds")
    b = f.batch(np.arange(len(f)))
    assert f.has_model and len(f) > 20, f"{name}: {len(f)} samples"
    policy, win, draw = codenet.answers(codenet.load(network), b["planes"], b["codes"])
    gaps = [np.abs(policy - b["model_policy"]).max(), np.abs(win - b["model_win"]).max(),
            np.abs(draw - b["model_draw"]).max()]
    assert max(gaps) < 1e-4, f"{name}: policy, win, draw differ by {gaps}"
    assert np.abs(win).max() > 0 and np.ptp(b["model_win"]) > 0, f"{name}: the values say nothing"
EOF

$py "$root/tools/model_quality.py" freestyle-answers.tvds >quality.log 2>&1 || fail "quality: $(cat quality.log)"
grep -qE "^freestyle-answers.tvds: [0-9]+ samples  policy [0-9.]+  top-1 [0-9.]+" quality.log || fail "$(cat quality.log)"
$py "$root/tools/model_quality.py" freestyle.tvds >quality.log 2>&1 && fail "samples without answers were scored"

mkdir play
sed 's#^Freestyle = .*#Freestyle = "'"$tmp"'/freestyle.codenet"#' "$(dirname "$engine")/config.toml" >play/config.toml
out=$(cd play && printf 'info timeout_turn 300\nstart 15\nbegin\nturn 8,8\nend\n' | $engine 2>&1)
grep -q "^DEBUG load model: .*freestyle.codenet (code network)$" <<<"$out" || fail "no code network loaded: $out"
[ "$(grep -cE '^[0-9]+,[0-9]+$' <<<"$out")" = 2 ] || fail "no moves with the code network: $out"

head -c 100 freestyle.codenet >short.codenet
printf 'TVCN\003%011d' 0 >version.codenet
for bad in "short.codenet:bytes where 40 input planes make" "version.codenet:version 3 is not supported" \
           "renju.codenet:reads 42 input planes, Freestyle has 40"; do
  out=$($engine dataset --model "$tmp/${bad%%:*}" --out bad.tvds freestyle.tvsp 2>&1) && fail "${bad%%:*} accepted"
  grep -q "${bad#*:}" <<<"$out" || fail "${bad%%:*}: $out"
done
echo "all code network checks passed"
