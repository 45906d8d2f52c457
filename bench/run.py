"""Runs every bench/bench_*.py (or those whose case names contain one of the arguments)."""

import importlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import harness  # noqa: E402


def main(argv):
    harness.select(argv)
    for name in sorted(os.listdir(HERE)):
        if name.startswith("bench_") and name.endswith(".py"):
            importlib.import_module(name[:-3]).run()


if __name__ == "__main__":
    main(sys.argv[1:])
