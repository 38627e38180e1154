"""The built-in pattern evaluator in torch: from a batch of feature planes and the
weights of a .weights file, the move logits, win rate and draw rate that the engine
(src/evaluation/pattern_evaluator.cpp) and the pattern network of the same numbers
(tools/build_models.py, build_pattern) compute, differentiable in the weights.
"""

import torch
import torch.nn.functional as F

from pattern_weights import ENTRIES

PLANES = 18


def _ring_kernels():
    """Two 5 x 5 kernels counting the stones at Chebyshev distance 1 and 2."""
    d = torch.arange(5) - 2
    ring = torch.maximum(d.abs()[:, None], d.abs()[None, :])
    return torch.stack([(ring == 1), (ring == 2)]).unsqueeze(1)   # [2, 1, 5, 5]


class PatternMirror(torch.nn.Module):
    def __init__(self, values, dtype=torch.float64):
        """`values`: {name: numbers} as pattern_weights.read_weights gives."""
        super().__init__()
        self.w = torch.nn.ParameterDict({
            name: torch.nn.Parameter(torch.tensor(values[name], dtype=dtype)) for name, _ in ENTRIES})
        self.register_buffer("rings", _ring_kernels().to(dtype))

    def values(self):
        return {name: self.w[name].detach().tolist() for name, _ in ENTRIES}

    def forward(self, x):
        """x: [N, C, H, W] planes (C = 40, or 42 under Renju). Returns the logits [N, H*W]
        (-inf off the candidates), the win rate [N] of the side to move and the draw rate [N]."""
        x = x.to(self.rings.dtype)
        basic = x.shape[1] - 2 * PLANES
        own, opp = x[:, basic:basic + PLANES], x[:, basic + PLANES:]
        if basic == 6:
            # Black's forbidden points hold no threat of Black's.
            black, forbidden = x[:, 4:5], x[:, 5:6]
            own = own * (1 - black * forbidden)
            opp = opp * (1 - (1 - black) * forbidden)
        w = self.w
        n = x.shape[0]

        # Policy: the largest tier (0 at least), the combo bonus, proximity and edge terms.
        own_t = own * w["policy_own"][None, :, None, None]
        opp_t = opp * w["policy_opponent"][None, :, None, None]
        best = torch.cat([own_t, opp_t], 1).amax(1).clamp(min=0)
        combo = torch.tanh((own_t.sum(1) + opp_t.sum(1)) / w["combo_divisor"]) * w["combo_scale"]
        stones = (x[:, 1:2] + x[:, 2:3])
        near, far = F.conv2d(stones, self.rings, padding=2).unbind(1)
        prox = torch.tanh(w["proximity_ring"][0] * near + w["proximity_ring"][1] * far) * w["proximity_scale"]
        playable = F.conv2d(x[:, 0:1], torch.ones(1, 1, 5, 5, dtype=x.dtype), padding=2)[:, 0]
        edge = w["edge_per_cell"] * (playable - 25)
        logits = (best + combo + prox + edge).reshape(n, -1)
        logits = logits.masked_fill(x[:, 3].reshape(n, -1) == 0, float("-inf"))

        # Value: weighted planes present anywhere and counted, then the cases.
        own_any, opp_any = own.amax((2, 3)), opp.amax((2, 3))
        own_count, opp_count = own.sum((2, 3)), opp.sum((2, 3))
        s = (w["value_tempo"] + own_any @ w["value_own_max"] - opp_any @ w["value_opponent_max"]
             + own_count @ w["value_own_sum"] - opp_count @ w["value_opponent_sum"])
        five = own_any[:, 0] > 0
        opp_fives = opp_count[:, 0]
        strong = (own_any[:, [1, 8, 9]] > 0).any(1)
        quiet = torch.tanh(s) * w["value_quiet"]
        win = torch.where(strong, w["value_own_strong"].expand(n), quiet)
        win = torch.where(opp_fives == 1, torch.tanh(s + w["value_forced_shift"]) * w["value_forced"], win)
        win = torch.where(opp_fives >= 2, w["value_opponent_double_five"].expand(n), win)
        win = torch.where(five, w["value_own_five"].expand(n), win)

        # Draw rate from the filled share of the playable cells.
        fill = x[:, 1:3].sum((1, 2, 3)) / x[:, 0].sum((1, 2)).clamp(min=1)
        draw = torch.sigmoid(w["draw_bias"] + w["draw_fill"] * fill)
        return logits, win, draw
