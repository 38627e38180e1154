#!/usr/bin/python3
"""Prints a summary of `pbrain-tovan selfplay` training records (reader: tovan/records.py).

Usage: selfplay_records.py FILE...   prints games, positions and results
"""

import sys

from tovan.records import ENDS, WINNERS, RecordError, read_games


def summary(path):
    stats = {}
    games = list(read_games(path, stats))
    lines = [f"{path}: {len(games)} games, {sum(len(g.positions) for g in games)} positions"]
    if games:
        moves = sum(len(g.moves) for g in games)
        lines.append(f"  moves: {moves} ({moves / len(games):.1f} per game)")
        results = {}
        for g in games:
            key = f"{g.rule} {g.width}x{g.height}: " + ("draw" if g.winner == 2 else f"{WINNERS[g.winner]} wins")
            results[key] = results.get(key, 0) + 1
        lines += [f"  {key}: {count}" for key, count in sorted(results.items())]
        ends = {end: sum(g.end == end for g in games) for end in ENDS}
        lines.append("  ended by " + ", ".join(f"{end} {count}" for end, count in ends.items()))
    if stats["cut_bytes"]:
        lines.append(f"  an incomplete game at the end ({stats['cut_bytes']} bytes) was left out")
    return "\n".join(lines)


def main(argv):
    if not argv or argv[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if argv else 2
    try:
        for path in argv:
            print(summary(path))
    except (OSError, RecordError) as error:
        print(f"selfplay_records: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
