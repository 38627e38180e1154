#!/usr/bin/python3
"""Fits the built-in pattern evaluator's weights to self-play samples.

Reads training samples (`pbrain-tovan dataset` files of one rule), starts from the
weights of --init and minimises with Adam, over random batches of one file at a time,

  policy cross-entropy of the candidates' softmax against the search's visit share
  + value_weight * (win rate - target)^2, target = (1 - value_mix) * result + value_mix * root value
  + draw_weight * binary cross-entropy of the draw rate against the drawn games,

through the torch mirror of the evaluator (pattern_mirror.py; the losses: tovan/losses.py).
The last --holdout share of every file (its last games) is left out of the fit and scored
before and after; --summary writes those held-out losses, weighted as above
(holdout_loss_before, holdout_loss_after). The weights keep their structure: a five to
play stays the highest tier and blocking the opponent's five the next, each at least 1
above the rest; combo_divisor keeps its sign and stays at least 1 away from 0; the fixed
values of decided positions stay within -1..1 and the caps of the quiet and forced values
within 0..1. Writes --out in the .weights format.

Example:
  tools/fit_pattern.py --init build/models/freestyle.weights --out fitted.weights \\
      --steps 2000 samples/*.tvds
"""

import argparse
import json
import sys

import numpy as np
import torch

from pattern_mirror import PatternMirror
from pattern_weights import format_weights, read_weights
from tovan.losses import add_weight_options, pattern_losses, weighted
from tovan.records import SampleFile


def score(model, parts, args):
    """Mean losses and top-move agreement over (file, indices) parts, weighted by size."""
    totals, count = np.zeros(4), 0
    with torch.no_grad():
        for f, idx in parts:
            for start in range(0, len(idx), 512):
                chunk = idx[start:start + 512]
                parts = pattern_losses(model, f.batch(chunk), args.value_mix)
                totals += len(chunk) * np.array([float(v) for v in parts])
                count += len(chunk)
    return totals / max(count, 1)


def constrain(w, divisor_sign):
    with torch.no_grad():
        # Fives come first: one's own, then blocking the opponent's, each a tier above the
        # rest (the games rarely show a five to play, so the data alone would not hold it).
        own, opp = w["policy_own"], w["policy_opponent"]
        rest = max(own[1:].max(), opp[1:].max())
        opp[0] = opp[0].clamp(min=rest + 1)
        own[0] = own[0].clamp(min=opp[0] + 1)
        w["combo_divisor"].copy_(divisor_sign * w["combo_divisor"].abs().clamp(min=1.0))
        for name in ("value_own_five", "value_opponent_double_five", "value_own_strong"):
            w[name].clamp_(-1, 1)
        for name in ("value_quiet", "value_forced"):
            w[name].clamp_(0, 1)


def describe(name, v):
    return f"{name}: policy {v[0]:.4f}  value {v[1]:.4f}  draw {v[2]:.4f}  top move {100 * v[3]:.1f}%"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("samples", nargs="+", help="sample files of one rule")
    parser.add_argument("--init", required=True, help="weights to start from")
    parser.add_argument("--out", required=True, help="weights file to write")
    parser.add_argument("--steps", type=int, default=1000, help="Adam steps (default 1000)")
    parser.add_argument("--batch", type=int, default=256, help="positions per step (default 256)")
    parser.add_argument("--lr", type=float, default=0.01, help="learning rate (default 0.01)")
    add_weight_options(parser)
    parser.add_argument("--holdout", type=float, default=0.1, help="share of each file held out (default 0.1)")
    parser.add_argument("--report", type=int, default=100, help="steps between progress lines (default 100)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--summary", help="write the training positions and the held-out losses here (JSON)")
    args = parser.parse_args(argv)

    files = [SampleFile(path) for path in args.samples]
    if len({(f.rule, f.channels) for f in files}) != 1:
        parser.error("the sample files are of different rules")
    train, held = [], []
    for f in files:
        cut = len(f) - int(round(len(f) * args.holdout))
        train.append((f, np.arange(cut)))
        held.append((f, np.arange(cut, len(f))))
    sizes = np.array([len(idx) for _, idx in train], dtype=np.float64)
    if sizes.sum() == 0:
        parser.error("no training samples")
    print(f"{int(sizes.sum())} training and {sum(len(i) for _, i in held)} held-out positions "
          f"in {len(files)} files", flush=True)

    torch.manual_seed(args.seed)
    rng = np.random.default_rng(args.seed)
    model = PatternMirror(read_weights(args.init), dtype=torch.float32)
    divisor_sign = float(np.sign(model.w["combo_divisor"].item()))
    before = score(model, held, args)
    print(describe("held out, before", before), flush=True)

    optimiser = torch.optim.Adam(model.parameters(), lr=args.lr)
    running = np.zeros(4)
    for step in range(1, args.steps + 1):
        f, idx = train[rng.choice(len(train), p=sizes / sizes.sum())]
        batch = f.batch(np.sort(rng.choice(idx, size=min(args.batch, len(idx)), replace=False)))
        policy, value, draw, top = pattern_losses(model, batch, args.value_mix)
        loss = weighted(policy, value, draw, args)
        optimiser.zero_grad()
        loss.backward()
        optimiser.step()
        constrain(model.w, divisor_sign)
        running += [policy.item(), value.item(), draw.item(), top.item()]
        if step % args.report == 0 or step == args.steps:
            print(describe(f"step {step}", running / (args.report if step % args.report == 0 else step % args.report)),
                  flush=True)
            running[:] = 0

    after = score(model, held, args)
    print(describe("held out, after", after), flush=True)
    values = {name: [float(np.float32(v)) for v in numbers] for name, numbers in model.values().items()}
    comments = [f"Fitted by tools/fit_pattern.py from {args.init}: {args.steps} steps of {args.batch} over "
                f"{int(sizes.sum())} positions of {len(files)} sample files.",
                f"Held-out policy loss {before[0]:.4f} -> {after[0]:.4f}, value {before[1]:.4f} -> {after[1]:.4f}, "
                f"draw {before[2]:.4f} -> {after[2]:.4f}."]
    with open(args.out, "w") as out:
        out.write(format_weights(values, comments))
    print(args.out)
    if args.summary:
        with open(args.summary, "w", encoding="utf-8") as file:
            json.dump({"samples": int(sizes.sum()), "holdout_loss_before": float(weighted(*before[:3], args)),
                       "holdout_loss_after": float(weighted(*after[:3], args))}, file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
