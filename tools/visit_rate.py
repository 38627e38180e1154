#!/usr/bin/env python3
"""Visits per second of the engine in real games: it plays itself under tools/match.py,
and the last search report of every move (its "Visits") is summed over the move times the
manager measured. With --engine2, the two engines play each other instead and each one's
rate is given: both then search the positions of the same games, which matters, since a
game's later, tactical positions are searched more slowly.

    /usr/bin/python3 tools/visit_rate.py --engine DIR/pbrain-tovan --cwd DIR --games 2
    /usr/bin/python3 tools/visit_rate.py --engine A/pbrain-tovan --cwd A --engine2 B/pbrain-tovan --cwd2 B --games 4
"""
import argparse
import os
import re
import subprocess
import sys

REPORT = r"\[%s .\] DEBUG Win .*Visits (\d+) \| Depth \S+ \| Time (\S+)"
MOVE_TIMES = r"Time per move, %s \(engine\d\): average (\d+) ms, max \d+ ms over (\d+) moves"


def last_reports(output, name):
    """The last report of each move: a move's reports grow in visits and time."""
    finals, last = [], None
    for match in re.finditer(REPORT % name, output):
        visits, seconds = float(match.group(1)), float(match.group(2))
        if last is not None and (seconds < last[1] or visits < last[0]):
            finals.append(last)
        last = (visits, seconds)
    return finals + ([last] if last else [])


def visits_and_seconds(output, name):
    visits = sum(v for v, _ in last_reports(output, name))
    seconds = sum(float(m.group(1)) * float(m.group(2)) for m in re.finditer(MOVE_TIMES % name, output)) / 1000
    return visits, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True, help="engine executable")
    parser.add_argument("--cwd", required=True, help="its working directory (config.toml, models)")
    parser.add_argument("--engine2", help="a second engine, to play against the first")
    parser.add_argument("--cwd2", help="its working directory")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--turn-ms", type=int, default=1000)
    parser.add_argument("--rule", default="freestyle")
    args = parser.parse_args()
    if (args.engine2 is None) != (args.cwd2 is None):
        parser.error("--engine2 and --cwd2 go together")
    here = os.path.dirname(os.path.abspath(__file__))
    output = subprocess.run([sys.executable, os.path.join(here, "match.py"), "--engine1", args.engine,
                             "--engine2", args.engine2 or args.engine, "--cwd1", args.cwd,
                             "--cwd2", args.cwd2 or args.cwd, "--name1", "A", "--name2", "B", "--rule", args.rule,
                             "--turn-ms", str(args.turn_ms), "--openings", os.path.join(here, "openings-15x15.txt"),
                             "--games", str(args.games), "--show-debug"],
                            capture_output=True, text=True, check=True).stdout
    # Each engine's match names: both for an engine that plays itself.
    engines = [(args.engine, ("A",)), (args.engine2, ("B",))] if args.engine2 else [(args.engine, ("A", "B"))]
    for engine, names in engines:
        visits, seconds = map(sum, zip(*(visits_and_seconds(output, name) for name in names)))
        print(f"{engine}: {visits:.0f} visits in {seconds:.1f} s of moves: {visits / seconds:.0f} visits per second")


if __name__ == "__main__":
    main()
