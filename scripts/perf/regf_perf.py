#!/usr/bin/env python3
"""Times the POSIX program on SOFTWARE-shaped binary hives (written by
build/native/brindlex_make_regf_hive, see there): a run of
`BRINDLEX_REGISTRY=HIVE brindlex -p:setup.inf` deleting a product's Patches
key and a patch tree of a tenth of the hive's keys, against
`hivexregedit --merge` of a regedit file of the same two deletions
([-...] sections), and against a streaming durable copy of the hive (read
1 MB at a time, write, fsync), best of --runs each, all in one run of this
script. Each run starts from a fresh copy of the hive (made untimed, so the
file is in the page cache for all three, and synced). Both deleters are checked to
leave the same keys under Installer.

Goals: the run faster than the merge, and within 3 times the copy.
Usage: regf_perf.py BRINDLEX [--sizes 100000,250000,1000000] [--runs 3]
                    [--work DIR]"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from hive_perf import copy_file, streaming_copy, timed_run  # noqa: E402

PREFIX = "HKEY_LOCAL_MACHINE\\SOFTWARE"


def make(tool, work, keys):
    hive = os.path.join(work, "made.hive")
    out = subprocess.run([tool, hive, "--keys", str(keys), "--setup",
                          os.path.join(work, "setup.inf")],
                         check=True, capture_output=True, text=True).stdout.split()
    return hive, int(out[0]), out[3], out[4]


def fresh(hive, work, name):
    """A synced copy of `hive`: a timed run's fsync then waits for its own
    writes only."""
    target = os.path.join(work, name)
    copy_file(hive, target, sync=True)
    return target


def installer_keys(hive):
    """The key lines of the hive's Installer key, as hivexregedit exports them."""
    text = subprocess.run(["hivexregedit", "--export", hive, "\\Classes\\Installer"],
                          check=True, capture_output=True).stdout.decode("utf-8", "replace")
    return [line for line in text.splitlines() if line.startswith("[")]


def measure(program, work, keys, runs, tool):
    hive, count, product, patch = make(tool, work, keys)
    size = os.path.getsize(hive)
    deletions = os.path.join(work, "deletions.reg")
    with open(deletions, "w") as f:
        f.write("Windows Registry Editor Version 5.00\n\n"
                f"[-{PREFIX}\\Classes\\Installer\\Products\\{product}\\Patches]\n\n"
                f"[-{PREFIX}\\Classes\\Installer\\Patches\\{patch}]\n\n")
    copies, brindlex, merges = [], [], []
    for _ in range(runs):
        copies.append(streaming_copy(hive, os.path.join(work, "copy.hive")))
        run_hive = fresh(hive, work, "run.hive")
        env_argv = ["env", "BRINDLEX_REGISTRY=" + run_hive, program, "-p:setup.inf"]
        brindlex.append(timed_run(env_argv, work)[0])
        merge_hive = fresh(hive, work, "merge.hive")
        merges.append(timed_run(["hivexregedit", "--merge", "--prefix", PREFIX, merge_hive,
                                 deletions], work)[0])
    left = installer_keys(run_hive)
    if left != installer_keys(merge_hive) or any(patch in line for line in left):
        raise RuntimeError("the program and the merge left different keys")
    for name in ("copy.hive", "run.hive", "merge.hive", "made.hive"):
        os.remove(os.path.join(work, name))
    return count, size, min(copies), min(brindlex), min(merges)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program")
    parser.add_argument("--sizes", default="100000,250000,1000000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--work")
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    tool = os.path.join(os.path.dirname(program), "brindlex_make_regf_hive")
    work = tempfile.mkdtemp(prefix="brindlex-regf-perf-", dir=args.work)
    missed = False
    try:
        print("| keys | file | streaming copy | run | run / copy | hivexregedit --merge "
              "| merge / run |")
        print("|---:|---:|---:|---:|---:|---:|---:|")
        for keys in (int(size) for size in args.sizes.split(",")):
            count, size, copy, run, merge = measure(program, work, keys, args.runs, tool)
            print(f"| {count:,} | {size / 1e6:.0f} MB | {copy:.2f} s | {run:.2f} s | "
                  f"{run / copy:.1f} | {merge:.2f} s | {merge / run:.1f} |", flush=True)
            missed |= run >= merge or run > 3 * copy
    finally:
        shutil.rmtree(work)
    print("goals (run < merge, run <= 3x copy):", "missed" if missed else "met")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
