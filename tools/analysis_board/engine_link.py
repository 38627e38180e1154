"""One engine process serving one page: it keeps the engine's game in step with the page's
and asks it for moves, analyses and Renju's forbidden points over the protocol."""

import os
import re
import time

from game import GameError
from tovan.engine import Engine, board_command
from tovan.rules import BLACK, RULES, WHITE

# Seconds allowed beyond a request's own search time: building the engine, a busy machine.
SLACK_SECONDS = 10.0
WIN_REPORT = re.compile(r"DEBUG Win ([\d.]+)")
ANALYSIS_LINE = re.compile(r"ANALYSIS (\d+),(\d+) VISITS (\d+) WIN (\S+) DRAW (\S+) PRIOR (\S+) PV ([\d, ]+)")
ANALYSIS_END = re.compile(r"ANALYSIS DONE VISITS (\d+) WIN (\S+) DRAW (\S+) TIME (\S+)")


class EngineFault(RuntimeError):
    """The engine did not answer as the protocol says: no reply in time, an exit, an ERROR."""


def _rate(text):
    return None if text == "-" else float(text)


class EngineLink:
    def __init__(self, program, memory_bytes):
        self.engine = Engine([program], cwd=os.path.dirname(program))
        self._send(f"INFO max_memory {memory_bytes}")
        self.settings = None  # (rule, width, height) of the engine's game
        self.moves = None  # the moves of the engine's game, as far as they are known
        self.turn_ms = None

    def close(self):
        self.engine.close()

    def move(self, game, milliseconds):
        """The engine's move in the game's position, searched for at most `milliseconds`, and
        its win rate for the side that moves (from its last search report; None without one)."""
        if game.result:
            raise GameError("the game is over")
        self._start(game)
        self._turn_time(milliseconds)
        # As a manager asks: the opening move on an empty board, the opponent's move when the
        # engine's game is one move short, else the whole position.
        if not game.moves:
            self._place(game)
            command = "BEGIN"
        elif self.moves == game.moves[:-1]:
            command = "TURN {},{}".format(*game.moves[-1])
        else:
            command = self._board_list(game)
        reply = self._request(command, milliseconds / 1000)
        move = self._move_of(reply.text, game)
        self.moves = game.moves + [move]
        reports = [match[1] for line in reply.diagnostics if (match := WIN_REPORT.match(line))]
        return move, float(reports[-1]) if reports else None

    def analyze(self, game, milliseconds, count):
        """The engine's analysis of the game's position: its `count` best moves (move, visits,
        win, draw, prior, pv; win and draw None where unvisited) and the root's figures."""
        if game.result:
            raise GameError("the game is over")
        self._place(game)
        sent_at = self._send(f"ANALYZE time {milliseconds} {count}")
        moves = []
        while True:
            line = self._reply(sent_at, milliseconds / 1000).text
            if match := ANALYSIS_LINE.fullmatch(line):
                moves.append({"move": [int(match[1]), int(match[2])], "visits": int(match[3]), "win": _rate(match[4]),
                              "draw": _rate(match[5]), "prior": float(match[6]),
                              "pv": [[int(c) for c in word.split(",")] for word in match[7].split()]})
            elif match := ANALYSIS_END.fullmatch(line):
                return {"moves": moves, "visits": int(match[1]), "win": float(match[2]), "draw": float(match[3]),
                        "seconds": float(match[4])}
            else:
                raise EngineFault(f"the engine answered {line!r} during an analysis")

    def forbidden(self, game):
        """Black's forbidden points in the game's position: under Renju, from the engine."""
        if game.rule != "renju" or game.result:
            return []
        self._place(game)
        line = self._request("YXSHOWFORBID").text
        if not re.fullmatch(r"FORBID (\d{4})*\.", line):
            raise EngineFault(f"the engine answered {line!r} for the forbidden points")
        return [[int(p[:2]), int(p[2:])] for p in re.findall(r"\d{4}", line)]

    def _start(self, game):
        """A new game of the page's rule and size, unless the engine's game already has them."""
        if self.settings == (game.rule, game.width, game.height):
            return
        self._send(f"INFO rule {RULES[game.rule]}")
        self._request(f"START {game.width}" if game.width == game.height else f"RECTSTART {game.width},{game.height}")
        self.settings, self.moves = (game.rule, game.width, game.height), []

    def _place(self, game):
        """Puts the game's position on the engine's board. The protocol places no stones without
        an answer: a board list searched for 1 ms, whose answer is taken back."""
        self._start(game)
        if self.moves == game.moves:
            return
        if not game.moves:
            self._request("RESTART")
        else:
            self._turn_time(1)
            x, y = self._move_of(self._request(self._board_list(game)).text, game)
            self._request(f"TAKEBACK {x},{y}")
        self.moves = list(game.moves)

    def _board_list(self, game):
        stones = [(x, y, WHITE if i % 2 else BLACK) for i, (x, y) in enumerate(game.moves)]
        return board_command(stones, game.colour_to_move())

    def _turn_time(self, milliseconds):
        if milliseconds != self.turn_ms:
            self._send(f"INFO timeout_turn {milliseconds}")
            self.turn_ms = milliseconds

    def _move_of(self, text, game):
        match = re.fullmatch(r"(\d+),(\d+)", text)
        move = match and (int(match[1]), int(match[2]))
        if not move or not game.board.on_board(*move) or game.board.get(*move):
            raise EngineFault(f"the engine answered {text!r}, no free cell of the board")
        return move

    def _send(self, command):
        if not self.engine.send(command):
            raise EngineFault("the engine " + self.engine.exit_description())
        return time.monotonic()

    def _reply(self, sent_at, seconds):
        reply = self.engine.read_reply(sent_at, seconds + SLACK_SECONDS)
        if reply.kind == "timeout":
            raise EngineFault("the engine did not answer in time")
        if reply.kind == "exit":
            raise EngineFault("the engine " + self.engine.exit_description())
        if reply.text.startswith("ERROR"):
            raise EngineFault(f"the engine refused: {reply.text}")
        return reply

    def _request(self, command, seconds=0.0):
        return self._reply(self._send(command), seconds)
