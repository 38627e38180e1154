"""The code network in torch: the function the engine's code network computes
(src/evaluation/code_network.h), its losses, and its weights file (docs/formats.md,
"Code networks").

A batch holds the samples' input planes (N, C, H, W) and code indices (N, H*W, 8): the
side to move's four line directions, then the opponent's. Every cell on the board (plane 0
set) gets a state: the clip to 0..1 of a bias, the columns of its set planes and the
columns of its eight codes. The mean and the largest of the states are the position's
pool. The policy logits come from each cell's state, joined by the pool's context, through a
clipped hidden layer; the outcome logits (win, draw, loss) from the pool through another.
"""

import struct

import numpy as np
import torch
from torch import nn

CELL_WIDTH, POLICY_HIDDEN, VALUE_HIDDEN, OUTCOMES = 32, 16, 32, 3
CODE_INDICES = 1024
MAGIC, VERSION = b"TVCN", 2  # version 1 files have no policy context: it is read as zeros
CANDIDATE_PLANE = 3


class CodeNet(nn.Module):
    def __init__(self, channels):
        super().__init__()
        self.channels = channels
        self.planes = nn.Linear(channels, CELL_WIDTH)  # its bias is the cell bias
        self.own_codes = nn.Embedding(CODE_INDICES, CELL_WIDTH)
        self.opponent_codes = nn.Embedding(CODE_INDICES, CELL_WIDTH)
        self.policy_hidden = nn.Linear(CELL_WIDTH, POLICY_HIDDEN)
        self.policy_out = nn.Linear(POLICY_HIDDEN, 1)
        self.value_hidden = nn.Linear(2 * CELL_WIDTH, VALUE_HIDDEN)
        self.value_out = nn.Linear(VALUE_HIDDEN, OUTCOMES)
        self.policy_context = nn.Linear(2 * CELL_WIDTH, POLICY_HIDDEN, bias=False)
        for table in (self.own_codes, self.opponent_codes):
            nn.init.normal_(table.weight, std=0.05)
        with torch.no_grad():  # states start inside 0..1, where the clip passes gradients
            self.planes.bias.fill_(0.3)

    def forward(self, planes, codes):
        """(policy logits (N, H*W), -inf off the candidates; outcome logits (N, 3))."""
        n = planes.shape[0]
        cells = planes.flatten(2).transpose(1, 2)  # (N, H*W, C)
        state = self.planes(cells) + self.own_codes(codes[..., :4]).sum(2) + self.opponent_codes(codes[..., 4:]).sum(2)
        state = state.clamp(0, 1)
        on = cells[..., :1]  # 1 on the board
        state = state * on
        mean = state.sum(1) / on.sum(1).clamp(min=1)
        largest = state.max(1).values  # states are never below 0, off-board cells are 0
        pool = torch.cat([mean, largest], 1)
        hidden = self.policy_hidden(state) + self.policy_context(pool).unsqueeze(1)
        logits = self.policy_out(hidden.clamp(0, 1)).squeeze(-1)
        logits = logits.masked_fill(cells[..., CANDIDATE_PLANE] == 0, float("-inf"))
        outcome = self.value_out(self.value_hidden(pool).clamp(0, 1))
        return logits.view(n, -1), outcome


def answers(model, planes, codes):
    """What the engine answers: (policy over the cells, 0 off the candidates; win rate
    P(win) - P(loss); draw rate P(draw)), as numpy arrays."""
    with torch.no_grad():
        logits, outcome = model(torch.as_tensor(planes), torch.as_tensor(codes))
        p = torch.softmax(outcome, 1)
        return torch.softmax(logits, 1).numpy(), (p[:, 0] - p[:, 2]).numpy(), p[:, 1].numpy()


def outcome_target(result, draw, root_value, root_draw, value_mix):
    """(N, 3) target probabilities of win, draw and loss: the game's with the share value_mix
    of the search root's (its value and draw rate read as P(win) - P(loss) and P(draw))."""
    game = torch.stack([(result > 0).float(), draw, (result < 0).float() * (1 - draw)], 1)
    root_draw = root_draw.clamp(0, 1)
    root = torch.stack([((1 - root_draw + root_value) / 2).clamp(min=0), root_draw,
                        ((1 - root_draw - root_value) / 2).clamp(min=0)], 1)
    root = root / root.sum(1, keepdim=True).clamp(min=1e-6)
    return (1 - value_mix) * game + value_mix * root


def losses(model, batch, value_mix):
    """(policy, outcome) mean cross-entropies on a batch of tensors, and the share of samples
    whose most visited move gets the highest logit."""
    logits, outcome = model(batch["planes"], batch["codes"])
    target = batch["policy"]
    log_p = torch.log_softmax(logits, 1)
    policy = -torch.where(target > 0, target * log_p, torch.zeros_like(log_p)).sum(1).mean()
    goal = outcome_target(batch["result"], batch["draw"], batch["root_value"], batch["root_draw"], value_mix)
    value = -(goal * torch.log_softmax(outcome, 1)).sum(1).mean()
    top = (logits.argmax(1) == target.argmax(1)).float().mean()
    return policy, value, top


def _arrays(model):
    """The weights in the file's order, as float32 arrays."""
    return [model.planes.bias, model.planes.weight.t(), model.own_codes.weight, model.opponent_codes.weight,
            model.policy_hidden.weight, model.policy_hidden.bias, model.policy_out.weight.view(-1),
            model.policy_out.bias, model.value_hidden.weight, model.value_hidden.bias, model.value_out.weight,
            model.value_out.bias, model.policy_context.weight]


def save(model, path):
    header = MAGIC + struct.pack("<6B", VERSION, model.channels, CELL_WIDTH, POLICY_HIDDEN, VALUE_HIDDEN, 0) + bytes(6)
    with open(path, "wb") as file:
        file.write(header)
        for array in _arrays(model):
            file.write(array.detach().to(torch.float32).contiguous().numpy().astype("<f4").tobytes())


def load(path):
    data = open(path, "rb").read()
    if data[:4] != MAGIC or not 1 <= data[4] <= VERSION:
        raise ValueError(f"{path}: not a code network file of version 1 to {VERSION}")
    model = CodeNet(data[5])
    numbers = np.frombuffer(data, dtype="<f4", offset=16)
    at = 0
    with torch.no_grad():
        arrays = _arrays(model)
        if data[4] == 1:
            model.policy_context.weight.zero_()
            arrays = arrays[:-1]
        for array in arrays:
            size = array.numel()
            if at + size > len(numbers):
                raise ValueError(f"{path}: too short")
            array.copy_(torch.from_numpy(numbers[at:at + size].copy()).view(array.shape))
            at += size
    if at != len(numbers):
        raise ValueError(f"{path}: {len(numbers) - at} numbers too many")
    return model
