#!/usr/bin/python3
"""Visits per second of the engine in real games: it plays itself with tools/match.py's
runner, and the last search report of every move (its "Visits") is summed over the move
times the runner measured. With --engine2, the two engines play each other instead and
each one's rate is given: both then search the positions of the same games, which matters,
since a game's later, tactical positions are searched more slowly.

    tools/visit_rate.py --engine DIR/pbrain-tovan --cwd DIR --games 2
    tools/visit_rate.py --engine A/pbrain-tovan --cwd A --engine2 B/pbrain-tovan --cwd2 B --games 4
"""
import argparse
import re

import match
from tovan import paths

REPORT = re.compile(r"DEBUG Win .*Visits (\d+) \| Depth \S+ \| Time \S+")


def move_visits(diagnostics):
    """The visits of a move's last search report (0 without one)."""
    reports = [REPORT.match(line) for line in diagnostics]
    return next((float(found.group(1)) for found in reversed(reports) if found), 0.0)


def visits_and_seconds(games, index):
    """Engine `index`'s visits and seconds over all its moves of the games."""
    visits = sum(move_visits(lines) for game in games for lines in game.diagnostics[index])
    return visits, sum(ms for game in games for ms in game.times[index]) / 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", required=True, help="engine executable")
    parser.add_argument("--cwd", required=True, help="its working directory (config.toml, models)")
    parser.add_argument("--engine2", help="a second engine, to play against the first")
    parser.add_argument("--cwd2", help="its working directory")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--turn-ms", type=int, default=1000)
    parser.add_argument("--rule", default="freestyle", choices=sorted(match.RULES))
    args = parser.parse_args()
    if (args.engine2 is None) != (args.cwd2 is None):
        parser.error("--engine2 and --cwd2 go together")
    specs = {1: match.engine_spec([args.engine], args.cwd, "A"),
             2: match.engine_spec([args.engine2 or args.engine], args.cwd2 or args.cwd, "B")}
    settings = match.Settings(rule=args.rule, turn_ms=args.turn_ms)
    openings = match.read_openings(paths.OPENINGS, settings.width, settings.height, settings.rule)
    games = list(match.schedule(settings, specs, openings, args.games))
    for game in games:
        game.play()
    # Each engine's indices in the match: both for an engine that plays itself.
    engines = [(args.engine, (1,)), (args.engine2, (2,))] if args.engine2 else [(args.engine, (1, 2))]
    for engine, indices in engines:
        visits, seconds = map(sum, zip(*(visits_and_seconds(games, index) for index in indices)))
        print(f"{engine}: {visits:.0f} visits in {seconds:.1f} s of moves: {visits / seconds:.0f} visits per second")


if __name__ == "__main__":
    main()
