#!/usr/bin/python3
"""Trains the engine's network (tools/network.py) on the samples of `pbrain-tovan dataset`.

  train.py train --checkpoint CKPT [options] DATA.tvds...
      Trains from the newest --window samples of the files (given oldest first), drawn
      uniformly with a random board symmetry each; resumes from CKPT when it exists
      (its network shape wins over --blocks/--channels), saves it every --save-every
      steps and at the end, and with --export writes the ONNX model too.
  train.py export --checkpoint CKPT --out MODEL.onnx

Losses (tovan/losses.py): policy cross-entropy over the candidate cells; win rate MSE
against (1 - m) * result + m * root_value and draw BCE against (1 - m) * draw + m * root_draw,
m = --value-mix. --summary writes the window's size and the weighted loss of the first and
of the last progress line (train_loss_first, train_loss_last: losses on training batches).
"""

import argparse
import json
import os
import sys
import time

import numpy as np
import torch

from network import Network, export
from tovan.losses import add_weight_options, network_losses, weighted
from tovan.records import SampleFile

KEYS = ("planes", "policy", "result", "draw", "root_value", "root_draw")


class Window:
    """The newest `size` samples (0: all) of files given oldest first."""

    def __init__(self, paths, size):
        self.files = [SampleFile(p) for p in paths]
        shapes = {(f.rule, f.width, f.height, f.channels) for f in self.files}
        if len(shapes) != 1:
            raise ValueError(f"the files mix rules or board shapes: {sorted(shapes)}")
        self.rule, self.width, self.height, self.channels = shapes.pop()
        self.offsets = np.cumsum([0] + [len(f) for f in self.files])
        self.total = int(self.offsets[-1])
        self.start = max(0, self.total - size) if size else 0
        if self.start == self.total:
            raise ValueError("no samples")

    def __len__(self):
        return self.total - self.start

    def sample(self, rng, n):
        return self.take(np.sort(rng.integers(self.start, self.total, n)), KEYS)

    def take(self, at, keys):
        """The samples at the sorted indices `at` (counted over all the files), as tensors of `keys`."""
        which = np.searchsorted(self.offsets, at, side="right") - 1
        parts = [self.files[i].batch(at[which == i] - self.offsets[i]) for i in np.unique(which)]
        return {k: torch.from_numpy(np.concatenate([p[k] for p in parts])) for k in keys}


def symmetry(x, k):
    """Symmetry k (0..7) of the last two axes: bit 0 mirrors x, bit 1 mirrors y, bit 2 transposes."""
    if k & 1:
        x = x.flip(-1)
    if k & 2:
        x = x.flip(-2)
    return x.transpose(-1, -2) if k & 4 else x


def augment(planes, policy, rng):
    """A random symmetry per sample: 8 on square boards, the 4 that keep the shape otherwise."""
    n, _, h, w = planes.shape
    policy = policy.view(n, 1, h, w)
    kinds = rng.integers(0, 8 if h == w else 4, n)
    planes, policy = planes.clone(), policy.clone()
    for k in np.unique(kinds):
        sel = torch.from_numpy(np.nonzero(kinds == k)[0])
        planes[sel], policy[sel] = symmetry(planes[sel], k), symmetry(policy[sel], k)
    return planes, policy.view(n, h * w)


def make_optimizer(name, params, lr, momentum, weight_decay):
    if name == "adam":
        return torch.optim.AdamW(params, lr=lr, weight_decay=weight_decay)
    return torch.optim.SGD(params, lr=lr, momentum=momentum, weight_decay=weight_decay, nesterov=True)


def load(path):
    """The network of a checkpoint (eval mode) and the checkpoint itself."""
    ckpt = torch.load(path, map_location="cpu")
    net = Network(**ckpt["config"])
    net.load_state_dict(ckpt["model"])
    return net.eval(), ckpt


def save(path, net, opt, args, step):
    tmp = path + ".tmp"
    torch.save({"config": net.config, "model": net.state_dict(), "optimizer": opt.state_dict(),
                "optimizer_name": args.optimizer, "step": step}, tmp)
    os.replace(tmp, path)


def train(args):
    torch.manual_seed(args.seed)
    rng = np.random.default_rng(args.seed)
    window = Window(args.data, args.window)
    if os.path.exists(args.checkpoint):
        net, ckpt = load(args.checkpoint)
        if net.config["planes"] != window.channels:
            raise ValueError(f"checkpoint has {net.config['planes']} planes, the data {window.channels}")
        step = ckpt["step"]
    else:
        net, ckpt, step = Network(window.channels, args.blocks, args.channels), None, 0
    net = net.to(memory_format=torch.channels_last)  # about a fifth faster on the CPU
    opt = make_optimizer(args.optimizer, net.parameters(), args.lr, args.momentum, args.weight_decay)
    if ckpt and ckpt["optimizer_name"] == args.optimizer:
        opt.load_state_dict(ckpt["optimizer"])
        for group in opt.param_groups:
            group.update(lr=args.lr, weight_decay=args.weight_decay)
    c = net.config
    print(f"{c['blocks']}x{c['channels']} network, {c['planes']} planes, from step {step}; window "
          f"{len(window)} of {window.total} samples, {window.width}x{window.height}", flush=True)
    net.train()
    totals = []  # the loss of each progress line
    sums, count, started, cpu = np.zeros(3), 0, time.perf_counter(), time.process_time()
    for step in range(step + 1, step + args.steps + 1):
        b = window.sample(rng, args.batch)
        if args.symmetries:
            b["planes"], b["policy"] = augment(b["planes"], b["policy"], rng)
        parts = network_losses(net, b, args.value_mix)
        loss = weighted(*parts, args)
        opt.zero_grad()
        loss.backward()
        opt.step()
        sums += [p.item() for p in parts]
        count += 1
        if step % args.log_every == 0 or count == args.steps:
            rate = count * args.batch / (time.perf_counter() - started)
            cpu_rate = count * args.batch / (time.process_time() - cpu)
            p, v, d = sums / count
            totals.append(weighted(p, v, d, args))
            print(f"step {step}  {rate:.0f} samples/s ({cpu_rate:.0f} per CPU second)  policy {p:.4f}  "
                  f"value {v:.4f}  draw {d:.4f}", flush=True)
            sums, count, started, cpu = np.zeros(3), 0, time.perf_counter(), time.process_time()
        if step % args.save_every == 0:
            save(args.checkpoint, net, opt, args, step)
    save(args.checkpoint, net, opt, args, step)
    if args.export:
        export(net, args.export, window.height, window.width)
        print(f"exported {args.export}")
    if args.summary and totals:
        with open(args.summary, "w", encoding="utf-8") as file:
            json.dump({"samples": len(window), "train_loss_first": totals[0], "train_loss_last": totals[-1]}, file)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    t = sub.add_parser("train", help="train (or go on training) a network")
    t.add_argument("data", nargs="+", help="TVDS sample files, oldest first")
    t.add_argument("--checkpoint", required=True, help="checkpoint file, resumed when it exists")
    t.add_argument("--export", help="write the ONNX model here at the end")
    t.add_argument("--summary", help="write the window's size and the losses of the first and last progress lines "
                                     "here (JSON)")
    t.add_argument("--blocks", type=int, default=6, help="residual blocks of a new network (6)")
    t.add_argument("--channels", type=int, default=64, help="channels of a new network (64)")
    t.add_argument("--steps", type=int, default=1000, help="training steps (1000)")
    t.add_argument("--batch", type=int, default=256, help="samples per step (256)")
    t.add_argument("--window", type=int, default=0, help="train on the newest N samples (0: all)")
    t.add_argument("--optimizer", choices=("sgd", "adam"), default="sgd", help="SGD with Nesterov momentum, or AdamW")
    t.add_argument("--lr", type=float, help="learning rate (0.02 for SGD, 0.001 for AdamW)")
    t.add_argument("--momentum", type=float, default=0.9, help="SGD momentum (0.9)")
    t.add_argument("--weight-decay", type=float, default=1e-4, help="weight decay (1e-4)")
    add_weight_options(t)
    t.add_argument("--no-symmetries", dest="symmetries", action="store_false", help="no board symmetries")
    t.add_argument("--seed", type=int, default=1, help="random seed (1)")
    t.add_argument("--threads", type=int, default=1, help="torch threads (1)")
    t.add_argument("--log-every", type=int, default=50, help="steps between progress lines (50)")
    t.add_argument("--save-every", type=int, default=500, help="steps between checkpoints (500)")
    e = sub.add_parser("export", help="write a checkpoint's network as an ONNX model")
    e.add_argument("--checkpoint", required=True)
    e.add_argument("--out", required=True, help="ONNX file to write")
    args = parser.parse_args(argv)
    if args.command == "export":
        export(load(args.checkpoint)[0], args.out)
        print(f"exported {args.out}")
        return 0
    torch.set_num_threads(args.threads)
    args.lr = args.lr or (0.001 if args.optimizer == "adam" else 0.02)
    try:
        train(args)
    except ValueError as error:
        print(f"train: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
