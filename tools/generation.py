#!/usr/bin/python3
"""Runs generations of training: self-play with the best model, samples, a trained
candidate, a gate match against the best, and promotion when the candidate wins.

A run lives in one folder (README, "Training"). What is committed resumes it anywhere:
run.json (its settings), best.weights, best.onnx or best.codenet (the best model so far; a
network or code network run starts from the rule's built-in weights), network.pt or
network.codenet (a network or code network run's training state),
log.csv (one row per generation) and plot.png (loss and Elo by generation). Everything
else goes under work/ (records, samples, candidates, gate results): regenerated, never
committed. Each step writes its result whole or not at all, so a run stopped at any time
(Ctrl-C) goes on from the step it was in.

Usage: generation.py --run FOLDER [--generations N] [--workers N | --scheduler ADDRESS]
       generation.py --run FOLDER --new --kind weights|network|codenet --rule R --size N [--init MODEL] [settings]
       generation.py --run FOLDER --plot
"""

import argparse
import csv
import json
import os
import shutil
import subprocess
import sys
import time

import gate
import selfplay_jobs
from tovan.paths import ENGINE, PYTHON, ROOT, TOOLS

# The trainers' losses: a weights run's fit_pattern.py scores the held-out samples before and
# after its fit; a network run's train.py gives the loss of its first and last training batches.
LOSSES = {"weights": ("holdout_loss_before", "holdout_loss_after"), "network": ("train_loss_first", "train_loss_last")}
LOSSES["codenet"] = LOSSES["weights"]  # train_codenet.py scores held-out samples before and after
SUFFIXES = {"weights": ".weights", "network": ".onnx", "codenet": ".codenet"}
LOG_FIELDS = ["generation", "games", "positions", "samples", *LOSSES["weights"], *LOSSES["network"], "accepted",
              "wins", "draws", "losses", "elo", "elo_low", "elo_high", "elo_vs_first", "minutes"]
# The settings of a new run; each is a command-line option of --new.
DEFAULTS = {"kind": "weights", "rule": "freestyle", "size": 15, "games": 400, "window": 3, "full_visits": 800,
            "fast_visits": 100, "train_steps": 400, "turn_ms": 1000, "gate_games": 100, "gate_min_games": 20,
            "blocks": 4, "channels": 32}
RULE_FILES = {"freestyle": "freestyle", "standard": "standard", "renju": "renju", "caro": "standard_caro"}


def say(text):
    print(text, flush=True)


class Run:
    def __init__(self, folder, engine=ENGINE):
        self.folder = folder
        self.settings = read_json(os.path.join(folder, "run.json"))
        self.engine = engine

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    @property
    def best(self):
        """The best model: a network or code network run starts from the rule's built-in
        weights and plays them until a network beats them."""
        own = self.path("best" + self.candidate_suffix)
        return own if os.path.exists(own) else self.path("best.weights")

    @property
    def candidate_suffix(self):
        return SUFFIXES[self.settings["kind"]]

    def log(self):
        if not os.path.exists(self.path("log.csv")):
            return []
        with open(self.path("log.csv"), encoding="utf-8") as file:
            return [self.named_losses(row) for row in csv.DictReader(file)]

    def named_losses(self, record):
        """A log row or trainer summary of an earlier version, its two losses named by their kind."""
        if "loss_before" in record:
            before, after = LOSSES[self.settings["kind"]]
            record[before], record[after] = record.pop("loss_before"), record.pop("loss_after")
        return record

    def generation(self, number, scheduler=None, workers=None):
        s, work = self.settings, self.path("work", f"gen-{number}")
        os.makedirs(work, exist_ok=True)
        records = os.path.join(work, "records.tvsp")
        stats = self.self_play(records, number, scheduler, workers)
        samples = os.path.join(work, "samples.tvds")
        recent = range(max(1, number - s["window"] + 1), number + 1)
        window = [self.path("work", f"gen-{g}", "records.tvsp") for g in recent]
        window = [w for w in window if os.path.exists(w)]
        started = time.time()
        if not os.path.exists(samples):
            say(f"generation {number}: samples from the records of {len(window)} generation(s)")
            step([self.engine, "dataset", "--out", samples + ".part", *window], cwd=ROOT)
            os.replace(samples + ".part", samples)
        candidate = os.path.join(work, "candidate" + self.candidate_suffix)
        losses = self.train(samples, candidate, work, started)
        verdict = self.gate(candidate, work)
        minutes = (stats["seconds"] + losses["seconds"] + verdict["seconds"]) / 60
        self.promote(number, candidate, stats, losses, verdict, minutes)

    def self_play(self, records, number, scheduler, workers):
        def play():
            s = self.settings
            client = selfplay_jobs.make_client(workers, scheduler)
            jobs = 4 * len(client.scheduler_info()["workers"])
            options = ["--rule", s["rule"], "--size", str(s["size"]), "--full-visits", str(s["full_visits"]),
                       "--fast-visits", str(s["fast_visits"])]
            games, positions, seconds = selfplay_jobs.run(client, self.engine, self.best, s["games"], jobs,
                                                          1000 * number, records, options)
            client.close()
            return {"games": games, "positions": positions, "seconds": seconds}
        return once(records + ".json", play)

    def train(self, samples, candidate, work, started):
        """Trains the candidate; returns the trainer's losses and the seconds since `started`
        (the samples were made then)."""
        def fit():
            s, summary = self.settings, os.path.join(work, "train.json.trainer")
            say(f"training the candidate on {samples}")
            if s["kind"] == "weights":
                step([PYTHON, os.path.join(TOOLS, "fit_pattern.py"), "--init", self.best, "--out",
                      candidate + ".part", "--steps", str(s["train_steps"]), "--summary", summary, samples])
            elif s["kind"] == "codenet":  # the network goes on from its own last state, promoted or not
                last = self.path("network.codenet")
                step([PYTHON, os.path.join(TOOLS, "train_codenet.py"), "train",
                      *(["--init", last] if os.path.exists(last) else []), "--out", candidate + ".part",
                      "--steps", str(s["train_steps"]), "--summary", summary, samples])
                shutil.copyfile(candidate + ".part", last + ".part")
                os.replace(last + ".part", last)
            else:  # the network goes on from its own last state, promoted or not
                step([PYTHON, os.path.join(TOOLS, "train.py"), "train", "--checkpoint",
                      self.path("network.pt"), "--blocks", str(s["blocks"]), "--channels", str(s["channels"]),
                      "--optimizer", "adam", "--steps", str(s["train_steps"]), "--export", candidate + ".part",
                      "--summary", summary, samples])
            losses = read_json(summary)
            os.remove(summary)
            os.replace(candidate + ".part", candidate)
            return dict(losses, seconds=time.time() - started)
        return self.named_losses(once(os.path.join(work, "train.json"), fit))

    def gate(self, candidate, work):
        def play():
            s, started = self.settings, time.time()
            say(f"gate: {candidate} against {self.best}")
            verdict = gate.gate(candidate, self.best, s["rule"], s["size"], s["turn_ms"], s["gate_games"],
                                s["gate_min_games"], engine=self.engine, progress=say)
            return dict(verdict, seconds=time.time() - started)
        return once(os.path.join(work, "gate.json"), play)

    def promote(self, number, candidate, stats, losses, verdict, minutes):
        rows = self.log()
        elo_vs_first = float(rows[-1]["elo_vs_first"]) if rows else 0.0
        if verdict["accepted"]:
            elo_vs_first += verdict["elo"]
            best = self.path("best" + self.candidate_suffix)
            shutil.copyfile(candidate, best + ".part")
            os.replace(best + ".part", best)
        rows.append({"generation": number, "games": stats["games"], "positions": stats["positions"],
                     "samples": losses.get("samples", ""),
                     **{key: f"{losses[key]:.4f}" for key in LOSSES[self.settings["kind"]]},
                     "accepted": int(verdict["accepted"]),
                     "wins": verdict["wins"], "draws": verdict["draws"], "losses": verdict["losses"],
                     "elo": f"{verdict['elo']:.0f}", "elo_low": f"{verdict['low']:.0f}",
                     "elo_high": f"{verdict['high']:.0f}", "elo_vs_first": f"{elo_vs_first:.0f}",
                     "minutes": f"{minutes:.1f}"})
        self.write_log(rows)
        plot(self)
        say(f"generation {number}: {'promoted' if verdict['accepted'] else 'kept the best'}, "
            f"Elo {verdict['elo']:+.0f} ({verdict['low']:+.0f} .. {verdict['high']:+.0f}), "
            f"Elo against the first {elo_vs_first:+.0f}")

    def write_log(self, rows):
        with open(self.path("log.csv.part"), "w", encoding="utf-8", newline="") as file:
            writer = csv.DictWriter(file, LOG_FIELDS, restval="")
            writer.writeheader()
            writer.writerows(rows)
        os.replace(self.path("log.csv.part"), self.path("log.csv"))


def step(command, cwd=None):
    """Runs one step's command, its output shown as it comes; a failure stops the run."""
    done = subprocess.run(command, cwd=cwd)
    if done.returncode != 0:
        sys.exit(f"generation: '{' '.join(command[:3])} ...' failed with status {done.returncode}")


def write_json(path, value):
    with open(path + ".part", "w", encoding="utf-8") as file:
        json.dump(value, file)
    os.replace(path + ".part", path)


def read_json(path):
    with open(path, encoding="utf-8") as file:
        return json.load(file)


def once(path, compute):
    """A step's result: computed and written whole the first time, read back after (resume)."""
    if not os.path.exists(path):
        write_json(path, compute())
    return read_json(path)


def plot(run):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    rows = run.log()
    generations = [int(r["generation"]) for r in rows]
    figure, (loss, elo) = plt.subplots(1, 2, figsize=(9, 3.2))
    if run.settings["kind"] in ("weights", "codenet"):
        columns, title = LOSSES["weights"], "held-out loss of each generation's samples"
        labels = ("before the fit", "after")
    else:
        columns, title = LOSSES["network"], "training loss of each generation"
        labels = ("first steps", "last steps")
    for column, label in zip(columns, labels):
        loss.plot(generations, [float(r[column]) for r in rows], marker="o", label=label)
    loss.set(title=title, xlabel="generation")
    loss.legend()
    elo.plot([0] + generations, [0] + [float(r["elo_vs_first"]) for r in rows], marker="o")
    elo.set(title="Elo against the first model", xlabel="generation")
    for axes in (loss, elo):
        axes.set_xlim(-0.5, generations[-1] + 0.5)
        axes.xaxis.set_major_locator(matplotlib.ticker.MaxNLocator(integer=True))
    figure.tight_layout()
    figure.savefig(run.path("plot.png"), dpi=80)
    plt.close(figure)


def new_run(folder, settings, engine, init=None):
    """A new run in `folder`; `init` (a model of the run's kind, a network run excepted) is
    its first best model and, for a code network run, the state its training goes on from."""
    os.makedirs(folder, exist_ok=True)
    write_json(os.path.join(folder, "run.json"), settings)
    run = Run(folder, engine)
    models = os.path.join(os.path.dirname(engine), "models")
    shutil.copyfile(os.path.join(models, RULE_FILES[settings["rule"]] + ".weights"), run.path("best.weights"))
    if init is not None:
        shutil.copyfile(init, run.path("best" + run.candidate_suffix))
        if settings["kind"] == "codenet":
            shutil.copyfile(init, run.path("network.codenet"))
    with open(os.path.join(folder, ".gitignore"), "w", encoding="utf-8") as file:
        file.write("work/\n")
    return run


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--run", required=True, help="the run's folder")
    parser.add_argument("--new", action="store_true", help="start a run with the settings below")
    parser.add_argument("--init", help="with --new: the run's first best model (and a code network run's "
                        "training state) instead of the rule's built-in weights")
    for name, value in DEFAULTS.items():
        parser.add_argument("--" + name.replace("_", "-"), type=type(value), default=value)
    parser.add_argument("--generations", type=int, default=1, help="generations to run now")
    parser.add_argument("--workers", type=int, help="local self-play workers (default: one per core)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler for self-play")
    parser.add_argument("--plot", action="store_true", help="only redraw plot.png from log.csv")
    parser.add_argument("--engine", default=ENGINE,
                        help="the engine binary, its built models next to it in models/")
    args = parser.parse_args(argv)
    engine = os.path.abspath(args.engine)
    if args.init is not None:
        if not args.new or args.kind == "network":
            parser.error("--init starts a new weights or codenet run (--new --kind weights|codenet)")
        if not args.init.endswith(SUFFIXES[args.kind]) or not os.path.isfile(args.init):
            parser.error(f"--init: no {SUFFIXES[args.kind]} file {args.init}")
    if args.new:
        run = new_run(args.run, {name: getattr(args, name) for name in DEFAULTS}, engine, args.init)
    else:
        run = Run(args.run, engine)
    if args.plot:
        plot(run)
        return 0
    first = len(run.log()) + 1
    for number in range(first, first + args.generations):
        run.generation(number, args.scheduler, args.workers)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except KeyboardInterrupt:
        sys.exit("generation: stopped; run the same command again to go on")
