#!/usr/bin/python3
"""Self-play spread over Dask workers: jobs of `pbrain-tovan selfplay`, one process each.

Each job gets the configuration and the model file's bytes, plays its games in a
temporary folder on its worker, and sends its records back, so workers share no files:
a worker needs only the engine binary at the path given. The records come back in job
order (job k plays with seed SEED + k), so a run repeats. By default the jobs run on a
local cluster of one single-threaded worker process per core; --scheduler ADDRESS sends
them to a running cluster instead (README, "Training", shows how to start one).

Usage: selfplay_jobs.py --engine build/pbrain-tovan --model build/models/freestyle.weights \\
           --games 400 --jobs 8 --out records.tvsp [--workers N | --scheduler ADDRESS] \\
           [-- selfplay options: --rule, --size, --full-visits, ...]
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

from tovan import paths

SUMMARY = re.compile(r"^selfplay: (\d+) games, (\d+) positions", re.M)


def config_with_model(config_text, model_name):
    """The configuration with every [eval.model] entry naming `model_name`."""
    lines, in_models = [], False
    for line in config_text.splitlines():
        if line.startswith("["):
            in_models = line.strip() == "[eval.model]"
        elif in_models and re.match(r"^\w+\s*=", line):
            line = f'{line.split("=")[0].strip()} = "{model_name}"'
        lines.append(line)
    return "\n".join(lines) + "\n"


def engine_folder(folder, model_path, config_path=paths.CONFIG):
    """Prepares `folder` as an engine's working directory: its config.toml plays `model_path`
    under every rule. Returns the folder."""
    os.makedirs(folder, exist_ok=True)
    with open(config_path, encoding="utf-8") as file:
        text = config_with_model(file.read(), os.path.abspath(model_path))
    with open(os.path.join(folder, "config.toml"), "w", encoding="utf-8") as file:
        file.write(text)
    return folder


def play_job(engine, config_text, model_name, model_bytes, options):
    """Runs one selfplay process in a scratch folder; returns (records, games, positions)."""
    with tempfile.TemporaryDirectory(prefix="tovan-job-") as folder:
        with open(os.path.join(folder, "config.toml"), "w", encoding="utf-8") as file:
            file.write(config_text)
        with open(os.path.join(folder, model_name), "wb") as file:
            file.write(model_bytes)
        done = subprocess.run([engine, "selfplay", *options, "--out", "records.tvsp"], cwd=folder,
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"selfplay failed ({done.returncode}): {done.stderr.strip()}")
        summary = SUMMARY.search(done.stdout)
        with open(os.path.join(folder, "records.tvsp"), "rb") as file:
            return file.read(), int(summary.group(1)), int(summary.group(2))


def make_client(workers=None, scheduler=None):
    from distributed import Client, LocalCluster
    if scheduler:
        return Client(scheduler)
    cluster = LocalCluster(n_workers=workers or os.cpu_count(), threads_per_worker=1, processes=True,
                           dashboard_address=None)
    return Client(cluster)


def run(client, engine, model_path, games, jobs, seed, out, options, progress=print):
    """Plays `games` games in `jobs` jobs on the client's workers and writes their records to
    `out` in job order. Returns (games, positions, seconds)."""
    from distributed import as_completed
    with open(paths.CONFIG, encoding="utf-8") as file:
        model_name = "model" + os.path.splitext(model_path)[1]
        config_text = config_with_model(file.read(), model_name)
    with open(model_path, "rb") as file:
        model_bytes = file.read()
    start = time.time()
    futures = []
    for job in range(jobs):
        share = games // jobs + (job < games % jobs)
        if share:
            argv = [*options, "--games", str(share), "--seed", str(seed + job)]
            futures.append(client.submit(play_job, os.path.abspath(engine), config_text, model_name, model_bytes,
                                         argv, pure=False))
    played = positions = 0
    for future in as_completed(futures):
        _, job_games, job_positions = future.result()
        played, positions = played + job_games, positions + job_positions
        progress(f"self-play: {played}/{games} games, {positions} positions, {time.time() - start:.0f} s")
    with open(out + ".part", "wb") as file:
        for future in futures:
            file.write(future.result()[0])
    os.replace(out + ".part", out)
    return played, positions, time.time() - start


def main(argv):
    split = argv.index("--") if "--" in argv else len(argv)
    own, options = argv[:split], argv[split + 1:]
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", default=paths.ENGINE)
    parser.add_argument("--model", required=True, help="network or .weights file the games are played with")
    parser.add_argument("--games", type=int, default=100)
    parser.add_argument("--jobs", type=int, default=0, help="selfplay processes in all (default: 4 per worker)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", default="selfplay.tvsp")
    parser.add_argument("--workers", type=int, help="local worker processes (default: one per core)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler, e.g. tcp://10.0.0.5:8786")
    args = parser.parse_args(own)
    client = make_client(args.workers, args.scheduler)
    workers = len(client.scheduler_info()["workers"])
    jobs = args.jobs or 4 * workers
    games, positions, seconds = run(client, args.engine, args.model, args.games, jobs, args.seed, args.out, options)
    print(f"{games} games, {positions} positions in {seconds:.1f} s on {workers} workers: "
          f"{3600 * games / seconds:.0f} games, {3600 * positions / seconds:.0f} positions per hour")
    client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
