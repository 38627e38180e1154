"""The training losses: of the residual network (network.py, trained by train.py) and of
the pattern evaluator's torch mirror (pattern_mirror.py, fitted by fit_pattern.py).

Both take a batch of training samples (tovan/records.py): the policy cross-entropy over
the candidate cells against the search's visit shares, and the win rate's squared error
against (1 - value_mix) * result + value_mix * root_value. Their draw losses differ: the
network's draw output is a logit and its target mixes in the root's draw rate; the
mirror's is a rate, fitted to the drawn games alone.
"""

import torch

from network import CANDIDATE_PLANE


def mixed(outcome, root, value_mix):
    """A value or draw target: the game's outcome with the share value_mix of the root's."""
    return (1 - value_mix) * outcome + value_mix * root


def network_losses(net, b, value_mix):
    """(policy, value, draw) mean losses of the network on a batch of tensors."""
    logits, win, draw_logit = net(b["planes"].contiguous(memory_format=torch.channels_last))
    mask = b["planes"][:, CANDIDATE_PLANE].flatten(1) > 0
    log_p = torch.log_softmax(logits.masked_fill(~mask, -1e9), dim=1)
    policy = -(b["policy"] * log_p).sum(1).mean()
    value = ((win - mixed(b["result"], b["root_value"], value_mix)) ** 2).mean()
    draw = torch.nn.functional.binary_cross_entropy_with_logits(draw_logit, mixed(b["draw"], b["root_draw"], value_mix))
    return policy, value, draw


def pattern_losses(model, batch, value_mix):
    """(policy, value, draw) mean losses of the pattern mirror on a batch of arrays, and the
    share of positions whose most visited move gets the highest logit."""
    logits, win, draw = model(torch.from_numpy(batch["planes"]))
    target = torch.from_numpy(batch["policy"]).to(win.dtype)
    on = torch.isfinite(logits)
    target = torch.where(on, target, torch.zeros_like(target))   # weight off the candidates: none
    target = target / target.sum(1, keepdim=True).clamp(min=1e-12)
    logp = torch.log_softmax(logits, 1)
    policy = -torch.where(target > 0, target * logp, torch.zeros_like(logp)).sum(1).mean()
    value = ((win - mixed(torch.from_numpy(batch["result"]), torch.from_numpy(batch["root_value"]), value_mix))
             ** 2).mean()
    drawn = torch.from_numpy(batch["draw"]).to(win.dtype)
    draw_loss = torch.nn.functional.binary_cross_entropy(draw.clamp(1e-7, 1 - 1e-7), drawn)
    top = (logits.argmax(1) == target.argmax(1)).to(win.dtype).mean()
    return policy, value, draw_loss, top


def add_weight_options(parser):
    """The command-line options of the loss weights and the value target."""
    parser.add_argument("--value-weight", type=float, default=1.0, help="weight of the value loss (default 1)")
    parser.add_argument("--draw-weight", type=float, default=1.0, help="weight of the draw loss (default 1)")
    parser.add_argument("--value-mix", type=float, default=0.0,
                        help="share of the search's root value in the value target (and the network's draw "
                             "target), 0..1 (default 0: the game's outcome)")


def weighted(policy, value, draw, args):
    """The loss minimised: policy + value_weight * value + draw_weight * draw."""
    return policy + args.value_weight * value + args.draw_weight * draw
