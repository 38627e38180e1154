#!/usr/bin/python3
"""How well a model's answers predict the search and the games, on samples that hold them
(`pbrain-tovan dataset --model MODEL`): the same measures for every kind of model.

  model_quality.py [--last N] SAMPLES.tvds...

Per file: the policy's cross-entropy against the search's visit shares, the share of
positions whose most visited move is the model's likeliest (top-1), the win rate's squared
error against the game's result, and the outcome's cross-entropy (win, draw, loss read
from the win rate and the draw rate) against the game's.
"""

import argparse
import sys

import numpy as np

from tovan.records import SampleFile


def quality(samples, last=0):
    b = samples.batch(np.arange(max(0, len(samples) - last) if last else 0, len(samples)))
    target, model = b["policy"], b["model_policy"]
    policy = -(target * np.log(np.clip(model, 1e-12, 1))).sum(1).mean()
    top = (target.argmax(1) == model.argmax(1)).mean()
    value = ((b["model_win"] - b["result"]) ** 2).mean()
    draw = np.clip(b["model_draw"], 0, 1)
    outcomes = np.stack([(1 - draw + b["model_win"]) / 2, draw, (1 - draw - b["model_win"]) / 2], 1)
    games = np.stack([b["result"] > 0, b["draw"] > 0, (b["result"] < 0) & (b["draw"] == 0)], 1)
    outcome = -(games * np.log(np.clip(outcomes, 1e-12, 1))).sum(1).mean()
    return policy, top, value, outcome


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("samples", nargs="+", help="TVDS sample files with a model's answers")
    parser.add_argument("--last", type=int, default=0,
                        help="only the newest N samples of each file, as train_codenet.py holds out (0: all)")
    args = parser.parse_args(argv)
    for path in args.samples:
        samples = SampleFile(path)
        if not samples.has_model:
            sys.exit(f"{path}: the samples hold no model's answers (dataset --model)")
        policy, top, value, outcome = quality(samples, args.last)
        print(f"{path}: {min(len(samples), args.last or len(samples))} samples  policy {policy:.4f}  top-1 {top:.3f}  value {value:.4f}  "
              f"outcome {outcome:.4f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
