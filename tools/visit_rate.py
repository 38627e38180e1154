#!/usr/bin/env python3
"""Visits per second of the engine in real games: it plays itself under tools/match.py,
and the last search report of every move (its "Visits") is summed over the move times the
manager measured.

    /usr/bin/python3 tools/visit_rate.py --engine DIR/pbrain-tovan --cwd DIR --games 2
"""
import argparse
import os
import re
import subprocess
import sys

REPORT = r"\[%s .\] DEBUG Win .*Visits (\d+) \| Depth \S+ \| Time (\S+)"
MOVE_TIMES = r"Time per move, .*: average (\d+) ms, max \d+ ms over (\d+) moves"


def last_reports(output, name):
    """The last report of each move: a move's reports grow in visits and time."""
    finals, last = [], None
    for match in re.finditer(REPORT % name, output):
        visits, seconds = float(match.group(1)), float(match.group(2))
        if last is not None and (seconds < last[1] or visits < last[0]):
            finals.append(last)
        last = (visits, seconds)
    return finals + ([last] if last else [])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True, help="engine executable")
    parser.add_argument("--cwd", required=True, help="its working directory (config.toml, models)")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--turn-ms", type=int, default=1000)
    parser.add_argument("--rule", default="freestyle")
    args = parser.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    output = subprocess.run([sys.executable, os.path.join(here, "match.py"), "--engine1", args.engine,
                             "--engine2", args.engine, "--cwd1", args.cwd, "--cwd2", args.cwd,
                             "--name1", "A", "--name2", "B", "--rule", args.rule, "--turn-ms",
                             str(args.turn_ms), "--openings", os.path.join(here, "openings-15x15.txt"),
                             "--games", str(args.games), "--show-debug"],
                            capture_output=True, text=True, check=True).stdout
    visits = sum(v for name in ("A", "B") for v, _ in last_reports(output, name))
    seconds = sum(float(m.group(1)) * float(m.group(2)) for m in re.finditer(MOVE_TIMES, output)) / 1000
    print(f"{visits:.0f} visits in {seconds:.1f} s of moves: {visits / seconds:.0f} visits per second")


if __name__ == "__main__":
    main()
