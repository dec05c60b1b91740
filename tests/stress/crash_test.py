#!/usr/bin/env python3
"""Kills the POSIX program at many moments of a run that deletes a large key
tree from a large hive, and checks after each kill that the hive file holds
either the old bytes or the new bytes exactly, and that nothing else (no
temporary or lock file) is left beside it. The one exception is a kill
between the moment the new file gets its temporary name and its rename over
the hive, a window of microseconds: its temporary file must be gone after
the next run, which must then leave the new bytes.

The hive is sized so that one uninterrupted run takes about half a second;
the kills are spread from the moment the program starts to past the end of
such a run, so they land in every phase: start-up, reading, deleting,
writing the new file, renaming it, and after the end.

Usage: crash_test.py BRINDLEX [--kills N] [--keys N] [--seed N]"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "perf"))
import make_hive  # noqa: E402

HIVE = "registry.reg"
SETUP = "setup.inf"
TEMP_NAME = re.compile(r"^\.registry\.reg\.brindlex-new\.\d+\.\d+\.\d+\.tmp$")
# One uninterrupted run should take this long; the hive is resized once when
# the first one is far off (a slow machine, a sanitizer build).
TARGET_SECONDS = (0.3, 1.0)
AIM_SECONDS = 0.5


class Fixture:
    """The hive before and after one uninterrupted run, and the program."""

    def __init__(self, program, scratch, keys):
        self.program = program
        self.scratch = scratch
        self.master = os.path.join(scratch, "master")
        os.makedirs(self.master)
        self.make(keys)

    def make(self, keys):
        self.keys, _ = make_hive.make_hive(os.path.join(self.master, HIVE), keys,
                                           setup=os.path.join(self.master, SETUP),
                                           tool=make_hive.find_tool(self.program))
        with open(os.path.join(self.master, HIVE), "rb") as f:
            self.old = f.read()

    def fresh_copy(self, name):
        work = os.path.join(self.scratch, name)
        if os.path.exists(work):
            shutil.rmtree(work)
        os.makedirs(work)
        for file in (HIVE, SETUP):
            shutil.copyfile(os.path.join(self.master, file), os.path.join(work, file))
        return work

    def start(self, work):
        return subprocess.Popen([self.program, "-p:" + SETUP], cwd=work,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def full_run(self):
        """Seconds of one uninterrupted run; sets the new bytes."""
        work = self.fresh_copy("reference")
        start = time.monotonic()
        status = self.start(work).wait()
        seconds = time.monotonic() - start
        if status != 0:
            raise AssertionError(f"the uninterrupted run ended with status {status}")
        problems = leftovers(work)
        if problems:
            raise AssertionError(f"the uninterrupted run left {problems}")
        with open(os.path.join(work, HIVE), "rb") as f:
            self.new = f.read()
        if self.new == self.old:
            raise AssertionError("the uninterrupted run did not change the hive")
        return seconds

    def calibrate(self):
        """Resizes the hive once when a run is far from the target time, and
        returns the duration of a run on the final hive."""
        seconds = min(self.full_run() for _ in range(2))
        if not TARGET_SECONDS[0] <= seconds <= TARGET_SECONDS[1]:
            self.make(max(1000, int(self.keys * AIM_SECONDS / seconds)))
            seconds = min(self.full_run() for _ in range(2))
        return seconds


def leftovers(work):
    return sorted(set(os.listdir(work)) - {HIVE, SETUP})


def kill_delays(count, run_seconds, rng):
    """`count` delays covering 0 to 1.15 times a run, one in each of `count`
    equal slices, in random order; the first slice starts at 0 exactly."""
    span = run_seconds * 1.15
    delays = [span * (i + rng.random()) / count for i in range(count)]
    delays[0] = 0.0
    rng.shuffle(delays)
    return delays


def kill_after(fixture, delay):
    """Starts a run on a fresh copy, kills it after `delay` seconds and
    returns (outcome, problems)."""
    work = fixture.fresh_copy("killed")
    process = fixture.start(work)
    if delay > 0:
        time.sleep(delay)
    finished = process.poll() is not None
    process.send_signal(signal.SIGKILL)
    status = process.wait()
    problems = []
    if status not in (0, -signal.SIGKILL):
        problems.append(f"status {status}")
    hive = os.path.join(work, HIVE)
    data = open(hive, "rb").read() if os.path.exists(hive) else None
    if data is None:
        outcome = "missing"
        problems.append("the hive is gone")
    elif data == fixture.old:
        outcome = "old"
    elif data == fixture.new:
        outcome = "new"
    else:
        outcome = "torn"
        problems.append(f"the hive is neither the old nor the new file ({len(data)} bytes)")
    when = "finished" if finished or status == 0 else "killed"
    left = leftovers(work)
    if left and all(TEMP_NAME.match(name) for name in left):
        # Killed between naming the new file and renaming it over the hive:
        # the next run must clear it away.
        problems += next_run_cleans_up(fixture, work)
        return f"{when}, {outcome} file, temporary file left", problems
    if left:
        problems.append(f"left behind: {left}")
    return f"{when}, {outcome} file", problems


def next_run_cleans_up(fixture, work):
    if fixture.start(work).wait() != 0:
        return ["the run after the kill failed"]
    problems = []
    left = leftovers(work)
    if left:
        problems.append(f"the run after the kill left {left}")
    with open(os.path.join(work, HIVE), "rb") as f:
        if f.read() != fixture.new:
            problems.append("the run after the kill did not write the new file")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program")
    parser.add_argument("--kills", type=int, default=200)
    parser.add_argument("--keys", type=int, default=150000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="brindlex-crash-") as scratch:
        fixture = Fixture(os.path.abspath(args.program), scratch, args.keys)
        run_seconds = fixture.calibrate()
        print(f"hive: {fixture.keys} keys, {len(fixture.old) / 1e6:.1f} MB; "
              f"one run: {run_seconds:.2f} s")
        outcomes = {}
        failures = 0
        for delay in kill_delays(args.kills, run_seconds, rng):
            outcome, problems = kill_after(fixture, delay)
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
            for problem in problems:
                print(f"FAILED after {delay * 1000:.1f} ms: {problem}")
            failures += bool(problems)
    for outcome, count in sorted(outcomes.items()):
        print(f"{count:5}  {outcome}")
    print(f"{args.kills} kills, {failures} failures, {time.monotonic() - started:.0f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
