#!/usr/bin/python3
"""Gating: a candidate model replaces the best one only after it beats it at equal time.

The two play pairs of games over the protocol with tools/match.py's runner, one opening
a pair and each side once with each colour, the same engine binary with each model, at
the same time per move. After each pair a sequential probability ratio test (Elo 0
against Elo --elo1, 5% error each way) may end the match early; it ends at --max-games at
the latest. The candidate is accepted only when the 95% interval of its Elo difference
then lies above zero.

Usage: gate.py --candidate FILE --best FILE [--rule R] [--size N] [--turn-ms MS]
               [--max-games N] [--min-games N] [--engine build/pbrain-tovan]
"""

import argparse
import os
import sys
import tempfile

import match
import selfplay_jobs
from tovan import elo, paths

ALPHA = BETA = 0.05


def gate(candidate, best, rule="freestyle", size=15, turn_ms=1000, max_games=100, min_games=20, elo1=40.0,
         engine=paths.ENGINE, openings=paths.OPENINGS, progress=print):
    """Plays the match; returns a dict: accepted, wins, draws, losses (the candidate's), elo,
    low, high, and faults (how each game lost by a fault of either engine ended)."""
    with tempfile.TemporaryDirectory(prefix="tovan-gate-") as folder:
        specs = {index: match.engine_spec([os.path.abspath(engine)], name=name,
                                          cwd=selfplay_jobs.engine_folder(os.path.join(folder, name), path))
                 for index, name, path in ((1, "candidate", candidate), (2, "best", best))}
        settings = match.Settings(width=size, height=size, rule=rule, turn_ms=turn_ms)
        opening_list = match.read_openings(openings, size, size, rule) if openings and size == 15 else [[]]
        games, faults = [], []
        lower, upper = elo.sprt_bounds(ALPHA, BETA)
        for game in match.schedule(settings, specs, opening_list, max_games):
            game.play()
            games.append(game)
            if game.faulty is not None:
                faults.append(f"game {game.number}: {game.reason}")
                progress(f"gate: {faults[-1]}")
            wins, draws, losses = match.tally(games)
            difference, low, high = elo.elo_interval(wins, draws, losses)
            ratio = elo.llr(wins, draws, losses, elo1)
            progress(f"gate: game {game.number}: {wins}-{draws}-{losses}, Elo {difference:+.0f} ({low:+.0f} .. "
                     f"{high:+.0f}), LLR {ratio:+.2f} ({lower:+.2f} .. {upper:+.2f})")
            if game.number % 2 == 0 and game.number >= min_games and not lower < ratio < upper:
                break
    return {"accepted": low > 0, "wins": wins, "draws": draws, "losses": losses, "elo": difference, "low": low,
            "high": high, "faults": faults}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--candidate", required=True)
    parser.add_argument("--best", required=True)
    parser.add_argument("--rule", default="freestyle", choices=sorted(match.RULES))
    parser.add_argument("--size", type=int, default=15)
    parser.add_argument("--turn-ms", type=int, default=1000)
    parser.add_argument("--max-games", type=int, default=100)
    parser.add_argument("--min-games", type=int, default=20)
    parser.add_argument("--elo1", type=float, default=40.0, help="the Elo gain the test looks for")
    parser.add_argument("--engine", default=paths.ENGINE)
    args = parser.parse_args(argv)
    result = gate(args.candidate, args.best, args.rule, args.size, args.turn_ms, args.max_games, args.min_games,
                  args.elo1, args.engine)
    verdict = "accepted" if result["accepted"] else "rejected"
    print(f"candidate {verdict}: {result['wins']}-{result['draws']}-{result['losses']}, Elo {result['elo']:+.0f} "
          f"({result['low']:+.0f} .. {result['high']:+.0f})")
    return 0 if result["accepted"] else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
