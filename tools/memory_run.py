#!/usr/bin/python3
"""Plays games between two processes of one engine without restarting them (RESTART between
games) and reports each process's resident memory after its first move of every game, at
the end of the game and at its peak so far, then how many "memory limit" DEBUG lines each
wrote.

Each game opens with a few random stones near the centre (given by BOARD) so that games
differ; after that the engines answer TURN in turn. Only Python's standard library is used.

  tools/memory_run.py --engine build/pbrain-tovan --games 30 --size 20 --turn-ms 300 --max-memory 100000000
"""

import argparse
import random
import shlex
import sys

from tovan.engine import Engine, board_command
from tovan.rules import BLACK, RULES, WHITE, Board, winning_line

START_SECONDS = 15  # for START or RESTART's reply; a move may take its turn and this much more


def memory_mb(pid):
    """(current, peak) resident memory of the process in MB (10^6 bytes)."""
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0]) * 1024 / 1e6
    return values["VmRSS"], values["VmHWM"]


def start_engine(argv):
    """An engine that keeps the DEBUG lines about its memory limit in engine.limit_lines."""
    limit_lines = []
    engine = Engine(argv, on_diagnostic=lambda line: limit_lines.append(line) if "memory limit" in line else None)
    engine.limit_lines = limit_lines
    return engine


def reply(engine, command, seconds):
    """The reply to a command: its first line that is not a diagnostic; ends the run without one."""
    answer = engine.request(command, seconds)
    if answer.kind != "line":
        sys.exit(f"the engine gave no reply to {command.split()[0]}: "
                 + (f"none within {seconds:.0f} s" if answer.kind == "timeout" else engine.exit_description()))
    return answer.text


def play_game(engines, args, rng):
    """Plays one game (engines[0] is Black); returns its number of stones and each engine's
    resident MB after its first move (the engine has been rebuilt for the game by then)."""
    board = Board(args.size, args.size)
    centre = args.size // 2
    moves = []
    while len(moves) < args.opening_stones:
        x, y = centre + rng.randint(-2, 2), centre + rng.randint(-2, 2)
        if (x, y) not in moves:
            moves.append((x, y))
            board.place(x, y, BLACK if len(moves) % 2 == 1 else WHITE)
    asked = [False, False]
    at_start = [None, None]
    while not board.full():
        side = len(moves) % 2
        if asked[side]:
            command = f"TURN {moves[-1][0]},{moves[-1][1]}"
        else:
            colours = [BLACK, WHITE]
            command = board_command([(x, y, colours[i % 2]) for i, (x, y) in enumerate(moves)], colours[side])
            asked[side] = True
        x, y = (int(v) for v in reply(engines[side], command, args.turn_ms / 1000 + START_SECONDS).split(","))
        if at_start[side] is None:
            at_start[side] = memory_mb(engines[side].proc.pid)[0]
        moves.append((x, y))
        board.place(x, y, BLACK if side == 0 else WHITE)
        if winning_line(board, x, y, args.rule):
            break
    return board.count, at_start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--engine", default="build/pbrain-tovan", help="engine command")
    parser.add_argument("--games", type=int, default=30)
    parser.add_argument("--size", type=int, default=20)
    parser.add_argument("--rule", choices=sorted(RULES), default="freestyle")
    parser.add_argument("--turn-ms", type=int, default=300)
    parser.add_argument("--max-memory", type=int, help="bytes sent as INFO max_memory (default: none sent)")
    parser.add_argument("--opening-stones", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    engines = [start_engine(shlex.split(args.engine)) for _ in range(2)]
    for game in range(args.games):
        for engine in engines:
            reply(engine, f"START {args.size}" if game == 0 else "RESTART", START_SECONDS)
            engine.send(f"INFO timeout_turn {args.turn_ms}\nINFO rule {RULES[args.rule]}")
            if args.max_memory is not None:
                engine.send(f"INFO max_memory {args.max_memory}")
        # colours alternate; the columns stay with the processes
        swapped = game % 2 == 1
        moves, at_start = play_game(engines[::-1] if swapped else engines, args, rng)
        if swapped:
            at_start.reverse()
        usage = [memory_mb(engine.proc.pid) for engine in engines]
        print(f"game {game + 1:2d}: {moves:3d} stones; resident MB after the first move/at the end/peak: "
              + ", ".join(f"{start:.1f}/{now:.1f}/{peak:.1f}" for start, (now, peak) in zip(at_start, usage)),
              flush=True)
    for engine in engines:
        engine.close(grace=START_SECONDS)
        print(f"memory limit lines: {len(engine.limit_lines)}" +
              (f", first: {engine.limit_lines[0]}" if engine.limit_lines else ""))


if __name__ == "__main__":
    main()
