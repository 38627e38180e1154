"""Where things are in the repository, and the interpreter the tools run under."""

import os

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROOT = os.path.dirname(TOOLS)
# Debian's interpreter carries numpy, onnx, torch and dask: every script runs under it.
PYTHON = "/usr/bin/python3"
ENGINE = os.path.join(ROOT, "build", "pbrain-tovan")
CONFIG = os.path.join(ROOT, "config.toml")
OPENINGS = os.path.join(TOOLS, "openings-15x15.txt")
