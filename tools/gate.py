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
import math
import os
import sys
import tempfile

import match
import selfplay_jobs

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ALPHA = BETA = 0.05


def expected_score(elo):
    return 1.0 / (1.0 + 10.0 ** (-elo / 400.0))


def llr(wins, draws, losses, elo1):
    """Log-likelihood ratio of Elo elo1 against Elo 0 for the score so far, in the normal
    approximation of the game results."""
    n = wins + draws + losses
    score, variance = match.score_and_variance(wins, draws, losses)
    if variance == 0:
        variance = 0.25 / n  # all games alike: take one game's largest variance, shared out
    s0, s1 = 0.5, expected_score(elo1)
    return n * (s1 - s0) * (2 * score - s0 - s1) / (2 * variance)


def gate(candidate, best, rule="freestyle", size=15, turn_ms=1000, max_games=100, min_games=20, elo1=40.0,
         engine=os.path.join(ROOT, "build", "pbrain-tovan"), openings=os.path.join(ROOT, "tools", "openings-15x15.txt"),
         progress=print):
    """Plays the match; returns a dict: accepted, wins, draws, losses (the candidate's), elo,
    low, high, and faults (how each game lost by a fault of either engine ended)."""
    with tempfile.TemporaryDirectory(prefix="tovan-gate-") as folder:
        cwd = {name: selfplay_jobs.engine_folder(os.path.join(folder, name), path)
               for name, path in (("candidate", candidate), ("best", best))}
        words = ["--engine1", os.path.abspath(engine), "--cwd1", cwd["candidate"], "--name1", "candidate",
                 "--engine2", os.path.abspath(engine), "--cwd2", cwd["best"], "--name2", "best",
                 "--rule", rule, "--size", str(size), "--turn-ms", str(turn_ms), "--games", str(max_games)]
        if openings and size == 15:
            words += ["--openings", openings]
        args, specs = match.parse_args(words)
        points, faults = {1.0: 0, 0.5: 0, 0.0: 0}, []
        upper, lower = math.log((1 - BETA) / ALPHA), math.log(BETA / (1 - ALPHA))
        for number in range(1, max_games + 1):
            opening = args.openings_list[((number - 1) // 2) % len(args.openings_list)]
            game = match.Game(number, args, specs, match.BLACK if number % 2 else match.WHITE, opening)
            game.play()
            points[game.engine1_points()] += 1
            if game.faulty is not None:
                faults.append(f"game {number}: {game.reason}")
                progress(f"gate: {faults[-1]}")
            wins, draws, losses = points[1.0], points[0.5], points[0.0]
            elo, low, high = match.elo_interval(wins, draws, losses)
            ratio = llr(wins, draws, losses, elo1)
            progress(f"gate: game {number}: {wins}-{draws}-{losses}, Elo {elo:+.0f} ({low:+.0f} .. {high:+.0f}), "
                     f"LLR {ratio:+.2f} ({lower:+.2f} .. {upper:+.2f})")
            if number % 2 == 0 and number >= min_games and not lower < ratio < upper:
                break
    return {"accepted": low > 0, "wins": wins, "draws": draws, "losses": losses, "elo": elo, "low": low,
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
    parser.add_argument("--engine", default=os.path.join(ROOT, "build", "pbrain-tovan"))
    args = parser.parse_args(argv)
    result = gate(args.candidate, args.best, args.rule, args.size, args.turn_ms, args.max_games, args.min_games,
                  args.elo1, args.engine)
    verdict = "accepted" if result["accepted"] else "rejected"
    print(f"candidate {verdict}: {result['wins']}-{result['draws']}-{result['losses']}, Elo {result['elo']:+.0f} "
          f"({result['low']:+.0f} .. {result['high']:+.0f})")
    return 0 if result["accepted"] else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
