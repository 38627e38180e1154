#!/usr/bin/python3
"""Reads the training samples of `pbrain-tovan dataset` (README, "Training").

SampleFile(path) maps a sample file into memory; batch(indices) unpacks the samples at
those indices into float32 arrays: "planes" (n, C, H, W) of zeros and ones, "policy"
(n, H*W) of target probabilities, "result", "draw", "root_value", "root_draw" (n), and
when the file holds a model's answers, "model_policy" (n, H*W), "model_win" and
"model_draw" (n).

Usage: training_samples.py FILE...   prints each file's board, rule and sample count
"""

import os
import sys

import numpy as np

MAGIC = b"TVDS"
VERSION = 1
HEADER_BYTES = 16
RULES = ("freestyle", "standard", "renju", "caro")


class SampleError(ValueError):
    pass


class SampleFile:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as file:
            header = file.read(HEADER_BYTES)
        if len(header) < HEADER_BYTES or header[:4] != MAGIC:
            raise SampleError(f"{path}: not a sample file")
        if header[4] != VERSION:
            raise SampleError(f"{path}: sample file version {header[4]}, this reader knows {VERSION}")
        rule, self.width, self.height, self.channels, flags = header[5:10]
        if rule >= len(RULES) or not (5 <= self.width <= 20 and 5 <= self.height <= 20):
            raise SampleError(f"{path}: damaged header")
        self.rule = RULES[rule]
        self.has_model = bool(flags & 1)
        cells = self.width * self.height
        fields = [("planes", "u1", ((self.channels * cells + 7) // 8,)), ("policy", "<f4", (cells,)),
                  ("result", "<f4"), ("draw", "<f4"), ("root_value", "<f4"), ("root_draw", "<f4")]
        if self.has_model:
            fields += [("model_policy", "<f4", (cells,)), ("model_win", "<f4"), ("model_draw", "<f4")]
        self.dtype = np.dtype(fields)
        # A file cut off inside a sample keeps every sample before the cut.
        count = (os.path.getsize(path) - HEADER_BYTES) // self.dtype.itemsize
        self.samples = np.memmap(path, dtype=self.dtype, mode="r", offset=HEADER_BYTES, shape=(count,))

    def __len__(self):
        return len(self.samples)

    def batch(self, indices):
        rows = self.samples[np.asarray(indices).reshape(-1)]
        cells = self.width * self.height
        bits = np.unpackbits(rows["planes"], axis=1, bitorder="little")[:, :self.channels * cells]
        out = {"planes": bits.reshape(-1, self.channels, self.height, self.width).astype(np.float32)}
        for name in self.dtype.names[1:]:
            out[name] = np.array(rows[name], dtype=np.float32)
        return out


def main(paths):
    for path in paths:
        samples = SampleFile(path)
        model = ", with a model's answers" if samples.has_model else ""
        print(f"{path}: {samples.rule} {samples.width}x{samples.height}, {samples.channels} planes, "
              f"{len(samples)} samples{model}")


if __name__ == "__main__":
    main(sys.argv[1:])
