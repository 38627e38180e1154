#!/usr/bin/python3
"""The residual network the trainer fits, and its export to the engine's ONNX contract.

Input: the engine's feature planes [N, C, H, W] (C = 40, or 42 under Renju). A 3x3
convolution stem, residual blocks (conv3x3-BN-ReLU-conv3x3-BN, skip, ReLU), then
  policy head: 1x1 conv-BN-ReLU, 1x1 conv to one logit per cell, flattened [N, H*W];
  value head:  mean and max over the cells, a hidden layer, then win (tanh) and draw
               (a logit here; the exported model applies the sigmoid).
Pooling keeps the weights independent of the board size.

export() writes the model in eval mode (batch norm folded into the convolutions) with
opset 17, input "spatial_feature" and outputs "policy", "win_rate", "draw_rate", the
batch and board dimensions symbolic: batch_size, board_height, board_width, policy_size.
"""

import torch
from torch import nn

CANDIDATE_PLANE = 3


class Block(nn.Module):
    def __init__(self, channels):
        super().__init__()
        self.conv1 = nn.Conv2d(channels, channels, 3, padding=1, bias=False)
        self.bn1 = nn.BatchNorm2d(channels)
        self.conv2 = nn.Conv2d(channels, channels, 3, padding=1, bias=False)
        self.bn2 = nn.BatchNorm2d(channels)

    def forward(self, x):
        t = torch.relu(self.bn1(self.conv1(x)))
        return torch.relu(x + self.bn2(self.conv2(t)))


class Network(nn.Module):
    def __init__(self, planes, blocks, channels):
        super().__init__()
        self.config = dict(planes=planes, blocks=blocks, channels=channels)
        self.stem = nn.Sequential(nn.Conv2d(planes, channels, 3, padding=1, bias=False),
                                  nn.BatchNorm2d(channels), nn.ReLU())
        self.blocks = nn.Sequential(*[Block(channels) for _ in range(blocks)])
        self.policy = nn.Sequential(nn.Conv2d(channels, channels, 1, bias=False),
                                    nn.BatchNorm2d(channels), nn.ReLU(), nn.Conv2d(channels, 1, 1))
        self.value_conv = nn.Sequential(nn.Conv2d(channels, channels, 1, bias=False),
                                        nn.BatchNorm2d(channels), nn.ReLU())
        self.value = nn.Sequential(nn.Linear(2 * channels, channels), nn.ReLU(), nn.Linear(channels, 2))

    def forward(self, x):
        """policy logits [N, H*W], win rate [N] in -1..1, draw logit [N]."""
        h = self.blocks(self.stem(x))
        policy = self.policy(h).flatten(1)
        v = self.value_conv(h)
        pooled = torch.cat([nn.functional.adaptive_avg_pool2d(v, 1), nn.functional.adaptive_max_pool2d(v, 1)],
                           dim=1).flatten(1)
        v = self.value(pooled)
        return policy, torch.tanh(v[:, 0]), v[:, 1]


class _Exported(nn.Module):
    def __init__(self, net):
        super().__init__()
        self.net = net

    def forward(self, spatial_feature):
        policy, win, draw_logit = self.net(spatial_feature)
        return policy, win, torch.sigmoid(draw_logit)


def candidate_softmax(logits, planes):
    """The engine's decoding: softmax of the logits over the candidate cells, 0 elsewhere."""
    mask = planes[:, CANDIDATE_PLANE].flatten(1) > 0
    return torch.softmax(logits.masked_fill(~mask, float("-inf")), dim=1).nan_to_num(0.0)


def export(net, path, height=15, width=15):
    was_training = net.training
    net.eval()
    dummy = torch.zeros(1, net.config["planes"], height, width)
    dims = {0: "batch_size"}
    torch.onnx.export(_Exported(net), dummy, path, opset_version=17, do_constant_folding=True,
                      input_names=["spatial_feature"], output_names=["policy", "win_rate", "draw_rate"],
                      dynamic_axes={"spatial_feature": {0: "batch_size", 2: "board_height", 3: "board_width"},
                                    "policy": {0: "batch_size", 1: "policy_size"},
                                    "win_rate": dims, "draw_rate": dims})
    net.train(was_training)
