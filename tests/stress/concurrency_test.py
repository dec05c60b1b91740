#!/usr/bin/env python3
"""Runs two copies of the POSIX program at once on one hive, one removing
product A's patch and the other product B's, with the second started at
varied offsets from the first (before it, with it, while it reads, while it
writes, after it). After each pair the hive must hold both runs' deletions
and nothing else changed: exactly the bytes of the two runs made one after
the other. Neither run may report a problem or leave a file behind.

Usage: concurrency_test.py BRINDLEX [--rounds N] [--keys N]"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "perf"))
import make_hive  # noqa: E402

HIVE = "registry.reg"
SETUPS = ("a.inf", "b.inf")


def write_inputs(folder, keys, program):
    """A hive of about `keys` keys holding two products, each with its own
    patch, and a setup information file for each."""
    _, targets = make_hive.make_hive(os.path.join(folder, HIVE), keys, tree=200, targets=2,
                                     tool=make_hive.find_tool(program))
    for setup, (product, patch, _) in zip(SETUPS, targets):
        make_hive.write_setup(os.path.join(folder, setup), product, patch)


class Pair:
    def __init__(self, program, scratch, master):
        self.program = program
        self.scratch = scratch
        self.master = master

    def fresh_copy(self):
        work = os.path.join(self.scratch, "work")
        if os.path.exists(work):
            shutil.rmtree(work)
        shutil.copytree(self.master, work)
        return work

    def start(self, work, setup):
        return subprocess.Popen([self.program, "-p:" + setup], cwd=work,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)

    def run(self, offset):
        """Starts run A, then run B `offset` seconds later (B first when
        negative). Returns the folder and the problems the runs reported."""
        work = self.fresh_copy()
        first, second = SETUPS if offset >= 0 else reversed(SETUPS)
        processes = [self.start(work, first)]
        time.sleep(abs(offset))
        processes.append(self.start(work, second))
        problems = []
        for process in processes:
            _, stderr = process.communicate()
            if process.returncode != 0:
                problems.append(f"exit status {process.returncode}")
            if stderr:
                problems.append("stderr: " + stderr.decode(errors="replace").strip())
        return work, problems

    def sequential(self):
        """The hive after run A and then run B, and the seconds run A took."""
        work = self.fresh_copy()
        start = time.monotonic()
        for setup in SETUPS:
            if self.start(work, setup).wait() != 0:
                raise AssertionError(f"the run with {setup} failed")
            if setup == SETUPS[0]:
                seconds = time.monotonic() - start
        with open(os.path.join(work, HIVE), "rb") as f:
            return f.read(), seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program")
    parser.add_argument("--rounds", type=int, default=60)
    parser.add_argument("--keys", type=int, default=30000)
    args = parser.parse_args()
    rng = random.Random(1)
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="brindlex-concurrency-") as scratch:
        master = os.path.join(scratch, "master")
        os.makedirs(master)
        write_inputs(master, args.keys, args.program)
        with open(os.path.join(master, HIVE), "rb") as f:
            original = f.read()
        pair = Pair(os.path.abspath(args.program), scratch, master)
        expected, run_seconds = pair.sequential()
        if expected == original:
            raise AssertionError("the runs deleted nothing")
        print(f"one run: {run_seconds:.2f} s; offsets from -{run_seconds:.2f} to "
              f"+{1.2 * run_seconds:.2f} s")
        failures = 0
        for round_number in range(args.rounds):
            # Even spread with jitter; a few rounds start both at once.
            share = (round_number + rng.random()) / args.rounds
            offset = 0.0 if round_number % 10 == 0 else run_seconds * (2.2 * share - 1.0)
            work, problems = pair.run(offset)
            with open(os.path.join(work, HIVE), "rb") as f:
                if f.read() != expected:
                    problems.append("the hive does not hold both runs' deletions")
            left = sorted(set(os.listdir(work)) - set(os.listdir(master)))
            if left:
                problems.append(f"left behind: {left}")
            for problem in problems:
                print(f"FAILED with B at {offset * 1000:+.0f} ms: {problem}")
            failures += bool(problems)
    print(f"{args.rounds} rounds, {failures} failures, {time.monotonic() - started:.0f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
