#!/usr/bin/python3
"""Writes the ONNX networks the engine evaluates positions with.

Run it with Debian's Python (/usr/bin/python3), which has the `onnx` and `numpy`
packages. Every model is written with opset 17 and IR version 8, and every run
writes the same bytes.

Tensor contract (all models except the deliberately broken test models):

  input  "spatial_feature"  float32 [batch_size, C, board_height, board_width]
  output "policy"           float32 [batch_size, policy_size]   policy_size = H * W,
                            move logits, index y * W + x (row y, column x)
  output "win_rate"         float32 [batch_size]   value for the side to move, -1..1
  output "draw_rate"        float32 [batch_size]   draw probability, 0..1

C is 40 (Freestyle, Standard, StandardCaro) or 42 (Renju). The batch and board
dimensions are symbolic, so one file serves every batch size and every board from
5 x 5 to 20 x 20, rectangular ones included.

Input planes, all 0/1. B basic planes (B = 4, or 6 for Renju):
  0 on board, 1 side-to-move stones, 2 opponent stones, 3 candidate moves,
  Renju only: 4 all ones when Black is to move, 5 Black's forbidden points.
Then one block of 18 pattern planes for the side to move (starting at B) and one
for the opponent (starting at B + 18); see PATTERNS (tools/pattern_weights.py) for their order.

Subcommands
-----------
  pattern --out DIR [--only KEY ...]
      The shipped networks, hand-weighted (no training): freestyle.onnx,
      freestyle_large.onnx, standard.onnx, standard_caro.onnx (C = 40) and
      renju.onnx (C = 42); next to each, KEY.weights, the same numbers for the
      engine's built-in pattern evaluator (format below).

  random --out FILE [--blocks N] [--channels K] [--planes C] [--seed S]
      A randomly initialised residual network for benchmarks: a 3x3 conv stem,
      N residual blocks (conv3x3-ReLU-conv3x3, skip, ReLU), a 1x1-conv policy head
      and a value head (global average pool, Gemm, tanh / sigmoid). Same
      arguments, same bytes.

  testmodels --out DIR
      Small models for the engine's unit tests:
        tiny40.onnx, tiny42.onnx   random residual net, 1 block x 8 channels
                                   (seeds 40 and 42), C = 40 / 42
        linear40.onnx, linear42.onnx
                                   deterministic, formulas below
        bad_input_name.onnx        input called "input" instead of
                                   "spatial_feature" (otherwise linear40)
        bad_channels.onnx          input has 39 planes (otherwise linear40)
        int8_input.onnx            input declared int8 (otherwise linear40)
        missing_draw_rate.onnx     no "draw_rate" output (otherwise linear40)
        batch_value.onnx           "win_rate" is one value [1] for the whole batch
                                   (their mean): loads and runs one position, but a
                                   batch of several gets too few values

Weights files of the built-in pattern evaluator (KEY.weights)
-------------------------------------------------------------
Text: '#' starts a comment, the first entry is "tovan-pattern-weights 1", then one
line per name with its numbers (tools/pattern_weights.py writes and reads it);
vectors have 18 numbers, one per pattern plane in the order of PATTERNS. The names
and the formulas they enter are those of the pattern networks below (policy_own =
POLICY_OWN, value_opponent_max = VALUE_OPP_MAX, proximity_ring = PROXIMITY_RING[1],
PROXIMITY_RING[2], and so on).

Deterministic test model (linear40.onnx, linear42.onnx)
-------------------------------------------------------
With x the input and S_k the sum of plane k over the whole board of sample n:

  policy[n, y * W + x]  = x[n, 1, y, x] + 2 * x[n, 3, y, x]
                          (own stone: 1, candidate: 2, anything else: 0)
  win_rate[n]           = (S_1 - S_2) / S_0
                          (own stones minus opponent stones, over on-board cells)
  draw_rate[n]          = S_3 / S_0
                          (candidates over on-board cells)

All values are exact small integers or a single float32 division, so a test can
compare with a tolerance of 1e-6. S_0 must not be 0 (plane 0 is all ones on a
real board). The broken variants that keep these outputs compute the same
formulas (int8_input casts its input to float first).
"""

import argparse
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

from pattern_weights import PAT, PATTERNS, format_weights

OPSET = 17
IR_VERSION = 8
INPUT = "spatial_feature"
BATCH, HEIGHT, WIDTH, POLICY = "batch_size", "board_height", "board_width", "policy_size"

# PATTERNS: the order of the 18 pattern planes of one player's block (pattern_weights.py).

# Keys of the shipped networks: file name -> number of basic planes.
PATTERN_MODELS = {
    "freestyle": 4,
    "freestyle_large": 4,
    "standard": 4,
    "standard_caro": 4,
    "renju": 6,
}

# ---------------------------------------------------------------------------------
# Hand-set weights of the pattern networks.
#
# Policy: each cell's logit is
#     max over pattern planes p of TIER[p] * plane_p          (the most urgent reason)
#   + COMBO_SCALE * tanh(sum_p TIER[p] * plane_p / COMBO_DIV) (small bonus for several)
#   + PROXIMITY_SCALE * tanh(stones nearby, PROXIMITY_RING)   (quiet moves near stones)
#   + EDGE_PER_CELL * (on-board cells in the 5x5 square - 25) (stay off the edge)
#   - MASK for a non-candidate, - MASK more off the board, and under Renju - MASK on
#     Black's forbidden points when Black is to move.
# The extras add at most COMBO_SCALE + PROXIMITY_SCALE = 1.2, and the tiers that
# decide games are at least 1.5 apart, so the extras only reorder moves of about
# the same urgency.
# ---------------------------------------------------------------------------------

# Tier of each pattern plane of the side to move.
POLICY_OWN = {
    "five":                  30.0,  # wins on the spot: nothing else matters
    "straight_four":         22.0,  # unstoppable four: wins next move
    "four_four":             22.0,  # two fours: only one can be blocked
    "four_open_three":       22.0,  # four-three: the block leaves a straight four
    "open_three_open_three": 17.0,  # double three: wins unless the opponent has fours
    "four_three":            14.0,  # forcing four that also builds a three (VCF material)
    "open_three_three":      14.0,  # open three plus a three: a near double threat
    "four_open_two":         13.0,  # forcing four that also builds an open two
    "open_three_open_two":   13.0,  # open three plus a fresh open two
    "open_three":            12.0,  # threatens a straight four: the opponent must answer
    "four":                  10.5,  # forcing, but spends a threat
    "three_three":            8.5,  # two threes: builds two future fours
    "three_open_two":         8.0,  # three plus open two
    "open_two_open_two":      7.5,  # two open twos: a good shape move
    "three":                  5.0,  # closed three: one future four
    "open_two":               4.5,  # development
    "two":                    3.0,  # weak development
    "one":                    2.0,  # a stone with room to grow
}

# Tier of each pattern plane of the opponent: how urgent it is to take that cell
# (or, for spans, any cell of the shape) away from them.
POLICY_OPP = {
    "five":                  26.0,  # must block their five unless we have our own
    "straight_four":         19.0,  # their open three: stop the straight four now
    "four_four":             19.0,  # their four-four point: take it
    "four_open_three":       19.0,  # their four-three point: take it
    "open_three_open_three": 15.5,  # their double three point (below our own double three)
    "four_three":            11.5,  # their forcing four that also builds a three
    "open_three_three":      11.5,  # their open three plus three
    "four_open_two":         10.0,  # their four plus open two
    "open_three_open_two":   10.0,  # their open three plus open two
    "open_three":             9.0,  # keep them from making an open three
    "three_three":            7.0,  # their two-threes point
    "three_open_two":         6.5,  # their three plus open two point
    "open_two_open_two":      6.0,  # their double open two point
    "four":                   5.5,  # their closed three's four points
    "three":                  4.0,  # their closed-three points
    "open_two":               3.5,  # their open-two points
    "two":                    2.5,  # their two points
    "one":                    1.5,  # their room to grow
}

COMBO_SCALE = 0.4          # at most this much for a cell serving several purposes
COMBO_DIV = 30.0           # tanh argument scale of that bonus
PROXIMITY_SCALE = 0.8      # at most this much for being next to stones
PROXIMITY_RING = {1: 0.25, 2: 0.1}   # per stone at Chebyshev distance 1 / 2 (either colour)
EDGE_PER_CELL = 0.02       # per off-board cell of the 5x5 square around the move
MASK = 1.0e4               # logit penalty for cells that must not be played

# Value head. Pattern planes are pooled over the board: "max" says whether the side
# has such a move at all, "sum" counts the cells marked (used for cell planes only).
# s = VALUE_TEMPO + sum(own weights) - sum(opponent weights), and the quiet-position
# value is VALUE_QUIET * tanh(s).
VALUE_OWN_MAX = {
    "four":                  0.4,   # a forcing four in hand
    "open_three":            0.6,   # can make an open three
    "three":                 0.2,   # can make a closed three
    "open_two":              0.15,  # can make an open two
    "four_three":            0.8,   # four plus three available
    "four_open_two":         0.6,   # four plus open two available
    "open_three_open_three": 1.2,   # double three available: usually winning
    "open_three_three":      0.9,   # open three plus three available
    "open_three_open_two":   0.7,   # open three plus open two available
    "three_three":           0.5,   # two threes available
    "three_open_two":        0.4,   # three plus open two available
    "open_two_open_two":     0.35,  # two open twos available
}
VALUE_OWN_SUM = {
    "open_two":              0.02,  # each open-two point: more room to build
    "two":                   0.01,  # each two point
}
VALUE_OPP_MAX = {
    "straight_four":         0.9,   # they have an open three: we must answer it
    "four_four":             0.9,   # they have a four-four point: we must take it
    "four_open_three":       0.9,   # they have a four-three point: we must take it
    "four":                  0.3,   # they hold forcing fours
    "open_three":            0.5,   # they can make an open three
    "three":                 0.15,  # they can make a closed three
    "open_two":              0.12,  # they can make an open two
    "four_three":            0.6,   # their four plus three
    "four_open_two":         0.5,   # their four plus open two
    "open_three_open_three": 0.9,   # their double three point
    "open_three_three":      0.7,   # their open three plus three
    "open_three_open_two":   0.55,  # their open three plus open two
    "three_three":           0.4,   # their two threes
    "three_open_two":        0.3,   # their three plus open two
    "open_two_open_two":     0.3,   # their two open twos
}
VALUE_OPP_SUM = {
    "open_two":              0.02,  # each of their open-two points
    "two":                   0.01,  # each of their two points
}
VALUE_TEMPO = 0.1          # being to move is worth a little
VALUE_QUIET = 0.7          # |value| cap when nothing is decided
VALUE_OWN_FIVE = 0.95      # we can make five now
VALUE_OPP_DOUBLE_FIVE = -0.95   # they have two five points (straight or double four) and we have none
VALUE_OWN_STRONG = 0.85    # we have a straight four / four-four / four-three point and they have no five point
VALUE_FORCED = 0.6         # they have one five point: we must block; cap of the value then
VALUE_FORCED_SHIFT = -0.5  # and the tanh argument is shifted against us

# Draw rate: sigmoid(DRAW_BIAS + DRAW_FILL * stones / on-board cells).
DRAW_BIAS = -4.5
DRAW_FILL = 4.0


# ---------------------------------------------------------------------------------
# A small graph builder.
# ---------------------------------------------------------------------------------
class Graph:
    def __init__(self):
        self.nodes = []
        self.inits = []
        self.count = 0

    def _name(self, base):
        self.count += 1
        return f"{base}_{self.count}"

    def const(self, base, array):
        name = self._name(base)
        self.inits.append(numpy_helper.from_array(np.array(array, order="C"), name))
        return name

    def f32(self, base, values):
        return self.const(base, np.asarray(values, dtype=np.float32))

    def i64(self, base, values):
        return self.const(base, np.asarray(values, dtype=np.int64))

    def op(self, op_type, inputs, output=None, **attrs):
        out = output or self._name(op_type.lower())
        self.nodes.append(helper.make_node(op_type, list(inputs), [out],
                                           name=self._name("n_" + op_type.lower()), **attrs))
        return out

    def model(self, name, inputs, outputs, doc):
        graph = helper.make_graph(self.nodes, name, inputs, outputs, initializer=self.inits)
        m = helper.make_model(graph, producer_name="build_models.py", producer_version="1",
                              opset_imports=[helper.make_opsetid("", OPSET)])
        m.ir_version = IR_VERSION
        m.doc_string = doc
        onnx.checker.check_model(m, full_check=True)
        return m


def input_info(planes, name=INPUT, elem=TensorProto.FLOAT):
    return helper.make_tensor_value_info(name, elem, [BATCH, planes, HEIGHT, WIDTH])


def output_infos(policy_dims=(BATCH, POLICY), draw=True):
    outs = [helper.make_tensor_value_info("policy", TensorProto.FLOAT, list(policy_dims)),
            helper.make_tensor_value_info("win_rate", TensorProto.FLOAT, [BATCH])]
    if draw:
        outs.append(helper.make_tensor_value_info("draw_rate", TensorProto.FLOAT, [BATCH]))
    return outs


def flatten_policy(g, score):
    """[N, 1, H, W] -> "policy" [N, H*W], row-major."""
    return g.op("Flatten", [score], "policy", axis=1)


def to_batch(g, column, output):
    """[N, 1] -> [N]."""
    return g.op("Reshape", [column, g.i64("shape_n", [-1])], output)


def save(model, path):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        f.write(model.SerializeToString())


# ---------------------------------------------------------------------------------
# Pattern networks.
# ---------------------------------------------------------------------------------
def plane_vector(planes, basic, own, opp):
    """A [planes] vector from tables keyed by pattern name for each block."""
    v = np.zeros(planes, dtype=np.float32)
    for table, start in ((own, basic), (opp, basic + 18)):
        for key, w in table.items():
            v[start + PAT[key]] = w
    return v


def build_pattern(key, basic):
    planes = basic + 36
    renju = basic == 6
    g = Graph()
    x = INPUT

    if renju:
        # Black's forbidden points are no threats of Black's: clear Black's pattern
        # planes there (own block when Black is to move, opponent block otherwise).
        def plane(i):
            return g.op("Slice", [x, g.i64("start", [i]), g.i64("end", [i + 1]),
                                  g.i64("axis", [1])])
        black_to_move, forbidden = plane(4), plane(5)
        q = g.op("Mul", [black_to_move, forbidden])                 # Black to move, forbidden
        one = g.f32("one", 1.0)
        own_keep = g.op("Sub", [one, q])                            # 1 - q
        opp_keep = g.op("Add", [g.op("Sub", [one, forbidden]), q])  # 1 - (1 - b) * f
        base = g.op("Slice", [x, g.i64("start", [0]), g.i64("end", [basic]), g.i64("axis", [1])])
        own = g.op("Slice", [x, g.i64("start", [basic]), g.i64("end", [basic + 18]),
                             g.i64("axis", [1])])
        opp = g.op("Slice", [x, g.i64("start", [basic + 18]), g.i64("end", [basic + 36]),
                             g.i64("axis", [1])])
        x = g.op("Concat", [base, g.op("Mul", [own, own_keep]), g.op("Mul", [opp, opp_keep])],
                 axis=1)

    # ---- policy ----
    tiers = plane_vector(planes, basic, POLICY_OWN, POLICY_OPP)
    weighted = g.op("Mul", [x, g.const("tier", tiers.reshape(1, planes, 1, 1))])
    best = g.op("ReduceMax", [weighted], axes=[1], keepdims=1)

    combo = g.op("Conv", [x, g.const("combo_w", (tiers / COMBO_DIV).reshape(1, planes, 1, 1))])
    combo = g.op("Mul", [g.op("Tanh", [combo]), g.f32("combo_scale", COMBO_SCALE)])

    prox_w = np.zeros((1, planes, 5, 5), dtype=np.float32)
    for dy in range(-2, 3):
        for dx in range(-2, 3):
            ring = max(abs(dy), abs(dx))
            if ring:
                prox_w[0, 1:3, dy + 2, dx + 2] = PROXIMITY_RING[ring]
    prox = g.op("Conv", [x, g.const("prox_w", prox_w)], pads=[2, 2, 2, 2])
    prox = g.op("Mul", [g.op("Tanh", [prox]), g.f32("prox_scale", PROXIMITY_SCALE)])

    edge_w = np.zeros((1, planes, 5, 5), dtype=np.float32)
    edge_w[0, 0] = EDGE_PER_CELL
    edge = g.op("Conv", [x, g.const("edge_w", edge_w), g.f32("edge_b", [-25 * EDGE_PER_CELL])],
                pads=[2, 2, 2, 2])

    mask_w = np.zeros((1, planes, 1, 1), dtype=np.float32)
    mask_w[0, 0] = MASK   # on board
    mask_w[0, 3] = MASK   # candidate
    mask = g.op("Conv", [x, g.const("mask_w", mask_w), g.f32("mask_b", [-2 * MASK])])
    if renju:
        mask = g.op("Sub", [mask, g.op("Mul", [q, g.f32("mask", MASK)])])

    score = best
    for term in (combo, prox, edge, mask):
        score = g.op("Add", [score, term])
    flatten_policy(g, score)

    # ---- value ----
    pooled_max = g.op("Flatten", [g.op("GlobalMaxPool", [x])], axis=1)               # [N, C]
    pooled_sum = g.op("ReduceSum", [x, g.i64("axes", [2, 3])], keepdims=0)          # [N, C]

    def column(pooled, weights):
        return g.op("MatMul", [pooled, g.const("vw", weights.reshape(planes, 1))])   # [N, 1]

    s = g.op("Add", [column(pooled_max, plane_vector(planes, basic, VALUE_OWN_MAX,
                                                      {k: -w for k, w in VALUE_OPP_MAX.items()})),
                     column(pooled_sum, plane_vector(planes, basic, VALUE_OWN_SUM,
                                                      {k: -w for k, w in VALUE_OPP_SUM.items()}))])
    s = g.op("Add", [s, g.f32("tempo", VALUE_TEMPO)])
    one = g.f32("one", 1.0)

    own_five = column(pooled_max, plane_vector(planes, basic, {"five": 1.0}, {}))
    opp_fives = column(pooled_sum, plane_vector(planes, basic, {}, {"five": 1.0}))
    opp_ge1 = g.op("Min", [opp_fives, one])
    opp_ge2 = g.op("Min", [g.op("Relu", [g.op("Sub", [opp_fives, one])]), one])
    own_strong = g.op("Min", [column(pooled_max, plane_vector(
        planes, basic, {"straight_four": 1.0, "four_four": 1.0, "four_open_three": 1.0}, {})), one])

    not_five = g.op("Sub", [one, own_five])
    g_double = g.op("Mul", [not_five, opp_ge2])
    g_forced = g.op("Mul", [not_five, g.op("Sub", [opp_ge1, opp_ge2])])
    free = g.op("Mul", [not_five, g.op("Sub", [one, opp_ge1])])
    g_strong = g.op("Mul", [free, own_strong])
    g_quiet = g.op("Mul", [free, g.op("Sub", [one, own_strong])])

    quiet = g.op("Mul", [g.op("Tanh", [s]), g.f32("quiet", VALUE_QUIET)])
    forced = g.op("Mul", [g.op("Tanh", [g.op("Add", [s, g.f32("shift", VALUE_FORCED_SHIFT)])]),
                          g.f32("forced", VALUE_FORCED)])
    v = g.op("Mul", [own_five, g.f32("v_five", VALUE_OWN_FIVE)])
    v = g.op("Add", [v, g.op("Mul", [g_double, g.f32("v_double", VALUE_OPP_DOUBLE_FIVE)])])
    v = g.op("Add", [v, g.op("Mul", [g_strong, g.f32("v_strong", VALUE_OWN_STRONG)])])
    v = g.op("Add", [v, g.op("Mul", [g_forced, forced])])
    v = g.op("Add", [v, g.op("Mul", [g_quiet, quiet])])
    to_batch(g, v, "win_rate")

    # ---- draw ----
    fill_w = np.zeros(planes, dtype=np.float32)
    fill_w[1] = fill_w[2] = 1.0
    stones = column(pooled_sum, fill_w)
    on_board = column(pooled_sum, np.eye(planes, dtype=np.float32)[0])
    fill = g.op("Div", [stones, g.op("Max", [on_board, one])])
    d = g.op("Add", [g.op("Mul", [fill, g.f32("draw_fill", DRAW_FILL)]), g.f32("draw_bias", DRAW_BIAS)])
    to_batch(g, g.op("Sigmoid", [d]), "draw_rate")

    doc = (f"Hand-weighted pattern network '{key}' ({planes} planes): policy from pattern "
           "tiers, value from pooled threats. Written by tools/build_models.py.")
    return g.model(f"pattern_{key}", [input_info(planes)], output_infos(), doc)


def pattern_weights(key):
    """The text of KEY.weights: the numbers build_pattern puts into the network."""
    def planes(table):
        return [table.get(name, 0.0) for name in PATTERNS]

    values = {
        "policy_own": planes(POLICY_OWN),
        "policy_opponent": planes(POLICY_OPP),
        "combo_scale": [COMBO_SCALE],
        "combo_divisor": [COMBO_DIV],
        "proximity_scale": [PROXIMITY_SCALE],
        "proximity_ring": [PROXIMITY_RING[1], PROXIMITY_RING[2]],
        "edge_per_cell": [EDGE_PER_CELL],
        "value_own_max": planes(VALUE_OWN_MAX),
        "value_opponent_max": planes(VALUE_OPP_MAX),
        "value_own_sum": planes(VALUE_OWN_SUM),
        "value_opponent_sum": planes(VALUE_OPP_SUM),
        "value_tempo": [VALUE_TEMPO],
        "value_quiet": [VALUE_QUIET],
        "value_own_five": [VALUE_OWN_FIVE],
        "value_opponent_double_five": [VALUE_OPP_DOUBLE_FIVE],
        "value_own_strong": [VALUE_OWN_STRONG],
        "value_forced": [VALUE_FORCED],
        "value_forced_shift": [VALUE_FORCED_SHIFT],
        "draw_bias": [DRAW_BIAS],
        "draw_fill": [DRAW_FILL],
    }
    return format_weights(values, [f"Built-in pattern evaluator weights '{key}': the numbers of {key}.onnx.",
                                   "Written by tools/build_models.py; plane order: " + " ".join(PATTERNS) + "."])


# ---------------------------------------------------------------------------------
# Random residual networks.
# ---------------------------------------------------------------------------------
def build_random(blocks, channels, planes, seed, name=None):
    rng = np.random.default_rng(seed)
    g = Graph()

    def conv_w(out_c, in_c, k, gain=1.0):
        std = gain * np.sqrt(2.0 / (in_c * k * k))
        return (rng.standard_normal((out_c, in_c, k, k)) * std).astype(np.float32)

    def bias(n, scale=0.01):
        return (rng.standard_normal(n) * scale).astype(np.float32)

    h = g.op("Relu", [g.op("Conv", [INPUT, g.const("stem_w", conv_w(channels, planes, 3)),
                                    g.const("stem_b", bias(channels))], pads=[1, 1, 1, 1])])
    for b in range(blocks):
        t = g.op("Relu", [g.op("Conv", [h, g.const(f"b{b}_c1_w", conv_w(channels, channels, 3)),
                                        g.const(f"b{b}_c1_b", bias(channels))], pads=[1, 1, 1, 1])])
        t = g.op("Conv", [t, g.const(f"b{b}_c2_w", conv_w(channels, channels, 3, gain=0.3)),
                          g.const(f"b{b}_c2_b", bias(channels))], pads=[1, 1, 1, 1])
        h = g.op("Relu", [g.op("Add", [h, t])])

    p = g.op("Conv", [h, g.const("policy_w", conv_w(1, channels, 1, gain=0.5)),
                      g.const("policy_b", np.zeros(1, np.float32))])
    flatten_policy(g, p)

    pooled = g.op("Flatten", [g.op("GlobalAveragePool", [h])], axis=1)
    for out, act in (("win_rate", "Tanh"), ("draw_rate", "Sigmoid")):
        w = (rng.standard_normal((channels, 1)) / np.sqrt(channels)).astype(np.float32)
        col = g.op("Gemm", [pooled, g.const(f"{out}_w", w), g.const(f"{out}_b", bias(1))])
        to_batch(g, g.op(act, [col]), out)

    doc = f"Random residual network: {blocks} blocks x {channels} channels, {planes} planes, seed {seed}."
    return g.model(name or f"random_{blocks}x{channels}_{planes}", [input_info(planes)],
                   output_infos(), doc)


# ---------------------------------------------------------------------------------
# Test models.
# ---------------------------------------------------------------------------------
def build_linear(planes, name, input_name=INPUT, input_elem=TensorProto.FLOAT, draw=True, batch_value=False):
    g = Graph()
    x = input_name
    if input_elem != TensorProto.FLOAT:
        x = g.op("Cast", [x], to=TensorProto.FLOAT)
    w = np.zeros((1, planes, 1, 1), dtype=np.float32)
    w[0, 1] = 1.0
    w[0, 3] = 2.0
    flatten_policy(g, g.op("Conv", [x, g.const("policy_w", w)]))
    sums = g.op("ReduceSum", [x, g.i64("axes", [2, 3])], keepdims=0)       # [N, C]

    def plane_sum(k):
        return g.op("Gather", [sums, g.i64("plane", k)], axis=1)         # [N]

    s0, s1, s2, s3 = (plane_sum(k) for k in range(4))
    value = g.op("Div", [g.op("Sub", [s1, s2]), s0])
    if batch_value:
        # One value for the whole batch: right for a single position, wrong for more.
        g.op("ReduceMean", [value], "win_rate", axes=[0], keepdims=1)
    else:
        g.op("Identity", [value], "win_rate")
    if draw:
        g.op("Div", [s3, s0], "draw_rate")
    doc = ("Deterministic test model: policy = plane1 + 2*plane3; win_rate = (S1 - S2)/S0; "
           "draw_rate = S3/S0 (Sk = sum of plane k).")
    outputs = output_infos(draw=draw)
    if batch_value:
        outputs[1] = helper.make_tensor_value_info("win_rate", TensorProto.FLOAT, [1])
    return g.model(name, [input_info(planes, input_name, input_elem)], outputs, doc)


def test_models():
    return {
        "tiny40.onnx": build_random(1, 8, 40, 40, "tiny40"),
        "tiny42.onnx": build_random(1, 8, 42, 42, "tiny42"),
        "linear40.onnx": build_linear(40, "linear40"),
        "linear42.onnx": build_linear(42, "linear42"),
        "bad_input_name.onnx": build_linear(40, "bad_input_name", input_name="input"),
        "bad_channels.onnx": build_linear(39, "bad_channels"),
        "int8_input.onnx": build_linear(40, "int8_input", input_elem=TensorProto.INT8),
        "missing_draw_rate.onnx": build_linear(40, "missing_draw_rate", draw=False),
        "batch_value.onnx": build_linear(40, "batch_value", batch_value=True),
    }


# ---------------------------------------------------------------------------------
def main(argv=None):
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Run '%(prog)s COMMAND --help' for the options of each command.")
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("pattern", help="the shipped hand-weighted networks",
                       description="Writes " + ", ".join(k + ".onnx" for k in PATTERN_MODELS)
                       + " (hand-set weights, no training).")
    p.add_argument("--out", required=True, help="folder to write into")
    p.add_argument("--only", action="append", choices=sorted(PATTERN_MODELS),
                   help="write only this model (may be repeated)")

    r = sub.add_parser("random", help="a random residual network for benchmarks",
                       description="Writes one randomly initialised residual network.")
    r.add_argument("--out", required=True, help="file to write (.onnx)")
    r.add_argument("--blocks", type=int, default=6, help="residual blocks (default 6)")
    r.add_argument("--channels", type=int, default=64, help="channels (default 64)")
    r.add_argument("--planes", type=int, default=40, choices=[40, 42],
                   help="input planes: 40, or 42 for Renju (default 40)")
    r.add_argument("--seed", type=int, default=0, help="random seed (default 0)")

    t = sub.add_parser("testmodels", help="tiny and contract-breaking models for unit tests",
                       description="Writes tiny40/42, linear40/42 and the broken models "
                       "(bad_input_name, bad_channels, int8_input, missing_draw_rate, "
                       "batch_value); see the docstring for what each one is.")
    t.add_argument("--out", required=True, help="folder to write into")

    args = parser.parse_args(argv)
    if args.command == "pattern":
        for key in args.only or PATTERN_MODELS:
            path = os.path.join(args.out, key + ".onnx")
            save(build_pattern(key, PATTERN_MODELS[key]), path)
            print(path)
            path = os.path.join(args.out, key + ".weights")
            with open(path, "w") as f:
                f.write(pattern_weights(key))
            print(path)
    elif args.command == "random":
        if args.blocks < 0 or args.channels < 1:
            parser.error("--blocks must be >= 0 and --channels >= 1")
        save(build_random(args.blocks, args.channels, args.planes, args.seed), args.out)
        print(args.out)
    else:
        for name, model in test_models().items():
            path = os.path.join(args.out, name)
            save(model, path)
            print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
