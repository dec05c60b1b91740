#!/usr/bin/env python3
"""Large registry hives for the timings and the stress tests, made by
brindlex_make_hive (bench/make_hive.cpp, built beside brindlex): the one
generator of the benchmark hive shape (bench/hive_shape.cpp), a real
HKEY_CLASSES_ROOT\\Installer export in `reg export` form (UTF-16LE, CRLF)
whose target product's patch carries a tree of keys for a run to delete.

As a program: make_hive.py OUT.reg SETUP.inf --keys N [--tree M]
[--order sorted|random] [--tool BRINDLEX_MAKE_HIVE]"""

import argparse
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT_DIR = os.path.dirname(os.path.dirname(HERE))
TOOL_NAME = "brindlex_make_hive"


def find_tool(program=None):
    """The generator: $BRINDLEX_MAKE_HIVE, else the one beside `program` (a
    native brindlex), else the native build's."""
    candidates = [os.environ.get("BRINDLEX_MAKE_HIVE")]
    if program:
        candidates.append(os.path.join(os.path.dirname(os.path.abspath(program)), TOOL_NAME))
    candidates.append(os.path.join(ROOT_DIR, "build", "native", TOOL_NAME))
    for candidate in candidates:
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise RuntimeError(f"{TOOL_NAME} not found: build the native preset "
                       "(cmake --build --preset native) or set BRINDLEX_MAKE_HIVE")


def make_hive(path, keys, tree=None, targets=1, order="sorted", setup=None, tool=None):
    """Writes a hive of about `keys` keys to `path` whose target patch has a
    tree of `tree` keys (default a tenth), with `targets` products with a
    patch in all, sections sorted as an export lists them or in random
    order; also the setup information file `setup` naming the first target.
    Returns (the number of keys, [(product, patch, last key path of its
    tree below HKEY_CLASSES_ROOT)] for each target)."""
    argv = [tool or find_tool(), path, "--keys", str(keys), "--targets", str(targets),
            "--order", order]
    if tree is not None:
        argv += ["--tree", str(tree)]
    if setup:
        argv += ["--setup", setup]
    lines = subprocess.run(argv, check=True, stdout=subprocess.PIPE, text=True).stdout.split("\n")
    found = [tuple(line.split()[1:4]) for line in lines if line.startswith("target ")]
    return int(lines[0].split()[0]), found


def write_setup(path, product, patch):
    """A setup information file naming `product` and its patch `patch`."""
    with open(path, "w", newline="\r\n") as setup:
        setup.write(f"[Upgrade]\nProductKey={product}\nPatchKey1={patch}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("hive")
    parser.add_argument("setup")
    parser.add_argument("--keys", type=int, required=True)
    parser.add_argument("--tree", type=int)
    parser.add_argument("--order", choices=("sorted", "random"), default="sorted")
    parser.add_argument("--tool")
    args = parser.parse_args()
    keys, _ = make_hive(args.hive, args.keys, args.tree, order=args.order, setup=args.setup,
                        tool=args.tool)
    print(f"{keys} keys")


if __name__ == "__main__":
    main()
