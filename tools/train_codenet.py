#!/usr/bin/python3
"""Trains a code network (tools/tovan/codenet.py) on the samples of `pbrain-tovan dataset`.

  train_codenet.py train --out NET.codenet [--init NET.codenet] [options] DATA.tvds...
      Trains from the newest --window samples of the files (given oldest first), drawn
      uniformly, the last --holdout of them kept apart and scored before and after;
      starts from --init when given, else from a new network; writes the weights file.
  train_codenet.py score --model NET.codenet DATA.tvds...
      The policy and outcome losses and the top-1 agreement with the search on the samples.
  train_codenet.py init --channels C --out NET.codenet
      An untrained network of C input planes (40, or 42 under Renju), as training starts it.

The network is the same under every board symmetry by its make (cell by cell, directions
summed), so no symmetries are drawn. Losses: the policy's cross-entropy against the
search's visit shares; the outcome's cross-entropy against the game's win, draw or loss,
with the share --value-mix of the search root's.
"""

import argparse
import json
import sys

import numpy as np
import torch

from train import Window
from tovan import codenet

KEYS = ("planes", "codes", "policy", "result", "draw", "root_value", "root_draw")


def score(model, window, indices, value_mix, batch=512):
    """Mean (policy loss, outcome loss, top-1 agreement) over the window's samples at `indices`."""
    model.eval()
    sums, count = np.zeros(3), 0
    with torch.no_grad():
        for start in range(0, len(indices), batch):
            part = indices[start:start + batch]
            b = window.take(part, KEYS)
            sums += np.array([x.item() for x in codenet.losses(model, b, value_mix)]) * len(part)
            count += len(part)
    model.train()
    return sums / max(count, 1)


def train(args):
    torch.manual_seed(args.seed)
    torch.set_num_threads(args.threads)
    rng = np.random.default_rng(args.seed)
    window = Window(args.data, args.window)
    holdout = np.arange(window.total - min(args.holdout, len(window) // 5), window.total)
    train_end = holdout[0] if len(holdout) else window.total
    model = codenet.load(args.init) if args.init else codenet.CodeNet(window.channels)
    if model.channels != window.channels:
        raise ValueError(f"the network reads {model.channels} planes, the samples have {window.channels}")
    before = score(model, window, holdout, args.value_mix) if len(holdout) else None
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=args.weight_decay)
    print(f"code network, {window.channels} planes; {train_end - window.start} training and {len(holdout)} "
          f"held-out samples, {window.width}x{window.height}", flush=True)
    sums, count = np.zeros(3), 0
    for step in range(1, args.steps + 1):
        b = window.take(np.sort(rng.integers(window.start, train_end, args.batch)), KEYS)
        policy, value, top = codenet.losses(model, b, args.value_mix)
        opt.zero_grad()
        (policy + args.value_weight * value).backward()
        opt.step()
        sums += [policy.item(), value.item(), top.item()]
        count += 1
        if step % args.log_every == 0 or step == args.steps:
            p, v, t = sums / count
            print(f"step {step}  policy {p:.4f}  outcome {v:.4f}  top-1 {t:.3f}", flush=True)
            sums, count = np.zeros(3), 0
    codenet.save(model, args.out)
    after = score(model, window, holdout, args.value_mix) if len(holdout) else None
    if before is not None:
        print(f"held out: policy {before[0]:.4f} -> {after[0]:.4f}, outcome {before[1]:.4f} -> {after[1]:.4f}, "
              f"top-1 {before[2]:.3f} -> {after[2]:.3f}", flush=True)
    if args.summary:
        summary = {"samples": len(window)}
        if before is not None:
            summary.update(holdout_loss_before=float(before[0] + args.value_weight * before[1]),
                           holdout_loss_after=float(after[0] + args.value_weight * after[1]))
        with open(args.summary, "w", encoding="utf-8") as file:
            json.dump(summary, file)
    print(f"wrote {args.out}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    t = commands.add_parser("train", help="train and write a weights file")
    t.add_argument("data", nargs="+", help="TVDS sample files, oldest first")
    t.add_argument("--out", required=True, help="the .codenet file to write")
    t.add_argument("--init", help="start from this .codenet file")
    t.add_argument("--steps", type=int, default=2000, help="training steps (2000)")
    t.add_argument("--batch", type=int, default=256, help="samples per step (256)")
    t.add_argument("--window", type=int, default=0, help="train on the newest N samples (0: all)")
    t.add_argument("--holdout", type=int, default=2000, help="newest samples kept apart, at most a fifth (2000)")
    t.add_argument("--lr", type=float, default=0.003, help="AdamW learning rate (0.003)")
    t.add_argument("--weight-decay", type=float, default=1e-4, help="weight decay (1e-4)")
    t.add_argument("--value-weight", type=float, default=1.0, help="weight of the outcome loss (1)")
    t.add_argument("--value-mix", type=float, default=0.0, help="share of the root's outcome in its target (0)")
    t.add_argument("--summary", help="write the window's size and the held-out losses here (JSON)")
    t.add_argument("--seed", type=int, default=1, help="random seed (1)")
    t.add_argument("--threads", type=int, default=1, help="torch threads (1)")
    t.add_argument("--log-every", type=int, default=100, help="steps between progress lines (100)")
    s = commands.add_parser("score", help="losses and top-1 agreement of a weights file on samples")
    s.add_argument("data", nargs="+", help="TVDS sample files")
    s.add_argument("--model", required=True, help="the .codenet file")
    s.add_argument("--value-mix", type=float, default=0.0, help="share of the root's outcome in its target (0)")
    i = commands.add_parser("init", help="write an untrained network")
    i.add_argument("--channels", type=int, required=True, help="input planes: 40, or 42 under Renju")
    i.add_argument("--out", required=True, help="the .codenet file to write")
    args = parser.parse_args(argv)
    if args.command == "train":
        train(args)
    elif args.command == "init":
        torch.manual_seed(1)
        codenet.save(codenet.CodeNet(args.channels), args.out)
    else:
        window = Window(args.data, 0)
        p, v, t = score(codenet.load(args.model), window, np.arange(window.total), args.value_mix)
        print(f"{window.total} samples: policy {p:.4f}  outcome {v:.4f}  top-1 {t:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
