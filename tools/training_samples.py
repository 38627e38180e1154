#!/usr/bin/python3
"""Prints what `pbrain-tovan dataset` training sample files hold (reader: tovan/records.py).

Usage: training_samples.py FILE...   prints each file's board, rule and sample count
"""

import sys

from tovan.records import SampleFile


def main(paths):
    for path in paths:
        samples = SampleFile(path)
        model = ", with a model's answers" if samples.has_model else ""
        print(f"{path}: {samples.rule} {samples.width}x{samples.height}, {samples.channels} planes, "
              f"{len(samples)} samples{model}")


if __name__ == "__main__":
    main(sys.argv[1:])
