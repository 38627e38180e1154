"""Unit tests of the tools' package (tools/tovan): Elo and the sequential test against known
values, and the protocol client on a scripted engine."""
import math
import os
import sys
import textwrap
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from tovan import elo, paths  # noqa: E402
from tovan.engine import Engine, board_command  # noqa: E402
from tovan.rules import BLACK, WHITE  # noqa: E402


class EloTest(unittest.TestCase):
    def test_known_differences(self):
        self.assertAlmostEqual(elo.elo_from_score(0.75), 190.8485, places=4)  # 400 log10(3)
        self.assertEqual(elo.elo_from_score(0.5), 0.0)
        self.assertAlmostEqual(elo.expected_score(190.8485), 0.75, places=6)
        self.assertAlmostEqual(elo.elo_from_score(1.0), 1199.8, places=1)  # clamped at 0.999: 400 log10(999)

    def test_interval(self):
        # 50 wins, 50 losses: score 0.5 with a standard error of 0.05, so 0.402 .. 0.598.
        middle, low, high = elo.elo_interval(50, 0, 50)
        self.assertAlmostEqual(middle, 0.0)
        self.assertAlmostEqual(high, 68.990, places=3)
        self.assertAlmostEqual(low, -68.990, places=3)

    def test_sequential_test(self):
        # 6 wins, 2 draws, 2 losses: score 0.7, variance of a game 0.16; against Elo 400 log10(3),
        # expected score 0.75: LLR = 10 ((0.7 - 0.5)^2 - (0.7 - 0.75)^2) / (2 * 0.16) = 1.171875.
        self.assertAlmostEqual(elo.llr(6, 2, 2, 400 * math.log10(3)), 1.171875, places=9)
        lower, upper = elo.sprt_bounds(0.05, 0.05)
        self.assertAlmostEqual(upper, 2.944439, places=6)  # ln 19
        self.assertAlmostEqual(lower, -2.944439, places=6)
        self.assertGreater(elo.llr(20, 0, 0, 40), upper)  # all games alike still decide
        self.assertLess(elo.llr(0, 0, 20, 40), lower)


FAKE = textwrap.dedent("""
    import sys
    for line in sys.stdin:
        word = line.split()[0] if line.split() else ""
        if word == "BEGIN":
            print("DEBUG thinking\\nMESSAGE hello\\n\\n7,7", flush=True)
        elif word == "SILENT":
            pass
        elif word == "QUIT":
            sys.exit(3)
        else:
            print(repr(line), flush=True)
""")


class EngineTest(unittest.TestCase):
    def setUp(self):
        self.seen = []
        self.engine = Engine([paths.PYTHON, "-c", FAKE], crlf=True, on_diagnostic=self.seen.append)
        self.addCleanup(self.engine.close, 0.2)

    def test_replies_skip_diagnostics_and_blank_lines(self):
        reply = self.engine.request("BEGIN", 30)
        self.assertEqual((reply.kind, reply.text), ("line", "7,7"))
        self.assertEqual(reply.diagnostics, ["DEBUG thinking", "MESSAGE hello"])
        self.assertEqual(self.seen, reply.diagnostics)
        self.assertEqual(self.engine.request("TURN 1,2", 30).text, repr("TURN 1,2\r\n"))

    def test_every_read_has_a_deadline(self):
        self.assertEqual(self.engine.request("SILENT", 0.1).kind, "timeout")
        with self.assertRaises(TimeoutError):
            self.engine.read_line(time.monotonic() + 0.1)
        self.assertEqual(self.engine.request("QUIT", 30).kind, "exit")
        self.assertIn("exited with status 3", self.engine.exit_description())

    def test_board_command(self):
        stones = [(7, 7, BLACK), (8, 8, WHITE), (7, 8, BLACK)]
        self.assertEqual(board_command(stones, WHITE), "BOARD\n7,7,2\n8,8,1\n7,8,2\nDONE")


if __name__ == "__main__":
    unittest.main()
