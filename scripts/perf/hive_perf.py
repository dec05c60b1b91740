#!/usr/bin/env python3
"""Times whole runs of the POSIX program on large hives: for each size, a
run of `brindlex -p:setup.inf` that deletes a product's Patches key and a
patch tree of a tenth of the hive's keys, next to a durable copy of the same
file (read it whole into memory, write a copy, fsync: the floor for any
design that loads and rewrites the file), and the same run with the log on
(-l). Reports every run's seconds, the ratios, peak memory against the
file's size and how time grows with the size, and checks them against the
goals:
  run <= 3x the durable copy, peak memory <= 2x the file, growth <= n log n.
For reference it also times a streaming copy (1 MB at a time, then fsync),
which holds only a small buffer and is faster than the durable copy on
machines where the kernel copies into and out of large buffers slowly.

Peak memory is the program's high-water mark of resident memory (ru_maxrss).
Linux carries the high-water mark of the process that starts a program into
that figure, so the program is started through GNU time (/usr/bin/time, the
Debian package "time") when there is one, and this script never holds a hive
in memory itself: hives are made by make_hive.py, and durable copies made,
in processes of their own. The floor it reports (the same figure for
/bin/true) shows what is left of the starter's share.

Usage: hive_perf.py BRINDLEX [--sizes 250000,500000,1000000] [--runs 3]
                    [--work DIR]
Exits with status 1 when a goal is missed."""

import argparse
import math
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CHUNK = 1 << 20

GOAL_RUN_OVER_COPY = 3.0
GOAL_PEAK_OVER_FILE = 2.0

GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def make_hive(work, keys):
    """Writes hive.reg and setup.inf in `work`; returns the number of keys."""
    out = subprocess.run(
        [sys.executable, os.path.join(HERE, "make_hive.py"), os.path.join(work, "hive.reg"),
         os.path.join(work, "setup.inf"), "--keys", str(keys), "--tree", str(keys // 10)],
        check=True, stdout=subprocess.PIPE, text=True).stdout
    return int(out.split()[0])


# Run in a process of its own: reads SOURCE whole, writes it to TARGET,
# fsyncs it and prints the seconds that took.
DURABLE_COPY = """
import os, sys, time
start = time.monotonic()
with open(sys.argv[1], "rb") as source:
    data = source.read()
with open(sys.argv[2], "wb") as target:
    target.write(data)
    target.flush()
    os.fsync(target.fileno())
print(time.monotonic() - start)
"""


def durable_copy(source, target):
    """Seconds to read `source` whole, write it to `target` and fsync it."""
    out = subprocess.run([sys.executable, "-c", DURABLE_COPY, source, target], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    return float(out)


def copy_file(source, target, sync):
    with open(source, "rb") as src, open(target, "wb") as dst:
        while True:
            data = src.read(CHUNK)
            if not data:
                break
            dst.write(data)
        dst.flush()
        if sync:
            os.fsync(dst.fileno())


def streaming_copy(source, target):
    start = time.monotonic()
    copy_file(source, target, sync=True)
    return time.monotonic() - start


def timed_run(argv, cwd):
    """Seconds and peak resident memory (bytes) of one run of `argv`. Started
    through GNU time where there is one: its own small high-water mark is
    all the program inherits."""
    with tempfile.NamedTemporaryFile("r") as peak_file:
        wrapper = [GNU_TIME, "-f", "%M", "-o", peak_file.name] if GNU_TIME else []
        start = time.monotonic()
        process = subprocess.Popen(wrapper + argv, cwd=cwd, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.monotonic() - start
        if status != 0:
            raise RuntimeError(f"{argv} ended with status {status}")
        peak_kb = int(peak_file.read().split()[-1]) if GNU_TIME else usage.ru_maxrss
    return elapsed, peak_kb * 1024


def check_run(work, hive_size, logged):
    """Fails unless the run deleted keys (the file shrank) and, with -l,
    traced the whole job."""
    if os.path.getsize(os.path.join(work, "registry.reg")) >= hive_size:
        raise RuntimeError("the run deleted nothing: is the hive readable?")
    if logged:
        with open(os.path.join(work, "Brindlex.log"), "rb") as log:
            if not log.read().rstrip().endswith(b"LEAVING: DelFromReg()"):
                raise RuntimeError("the log does not end with the end of the job")


def program_runs(program, work, hive, extra, runs):
    """(seconds, peak bytes, log bytes) of each run, each on a fresh copy."""
    results = []
    log = os.path.join(work, "Brindlex.log")
    for _ in range(runs):
        copy_file(hive, os.path.join(work, "registry.reg"), sync=False)
        if os.path.exists(log):
            os.remove(log)
        seconds, peak = timed_run([program, "-p:setup.inf"] + extra, work)
        check_run(work, os.path.getsize(hive), bool(extra))
        results.append((seconds, peak, os.path.getsize(log) if extra else 0))
    return results


def measure(program, work, keys, runs):
    keys = make_hive(work, keys)
    hive = os.path.join(work, "hive.reg")
    copy = os.path.join(work, "copy.reg")
    copies = [durable_copy(hive, copy) for _ in range(runs)]
    streams = [streaming_copy(hive, copy) for _ in range(runs)]
    os.remove(copy)
    result = {"keys": keys, "tree": keys // 10, "bytes": os.path.getsize(hive), "copy": copies,
              "stream": streams,
              "run": program_runs(program, work, hive, [], runs),
              "run -l": program_runs(program, work, hive, ["-l"], runs)}
    for name in ("hive.reg", "registry.reg", "Brindlex.log", "setup.inf"):
        path = os.path.join(work, name)
        if os.path.exists(path):
            os.remove(path)
    return result


def best(runs):
    return min(run[0] for run in runs)


def seconds_list(values):
    return ", ".join(f"{value:.2f}" for value in values)


def report_runs(results):
    print("Per run (seconds; each configuration run on a fresh copy of the hive):\n")
    print("| keys | file MB | durable copy | streaming copy | run | run -l |")
    print("|---:|---:|---|---|---|---|")
    for r in results:
        print(f"| {r['keys']:,} | {r['bytes'] / 1e6:.0f} | {seconds_list(r['copy'])} | "
              f"{seconds_list(r['stream'])} | "
              f"{seconds_list(run[0] for run in r['run'])} | "
              f"{seconds_list(run[0] for run in r['run -l'])} |")


def report_summary(results):
    print("\nBest of the runs:\n")
    print("| keys | file MB | durable copy s | run s | run / copy | run / streaming copy "
          "| peak MB | peak / file | run -l s | -l extra s | -l per deleted key | log MB |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        copy, run, logged = min(r["copy"]), best(r["run"]), best(r["run -l"])
        peak = max(p for _, p, _ in r["run"])
        extra = logged - run
        print(f"| {r['keys']:,} | {r['bytes'] / 1e6:.0f} | {copy:.2f} | {run:.2f} | "
              f"{run / copy:.2f} | {run / min(r['stream']):.2f} | {peak / 1e6:.0f} | "
              f"{peak / r['bytes']:.2f} | {logged:.2f} | "
              f"{extra:.2f} | {extra / r['tree'] * 1e6:.1f} us | "
              f"{r['run -l'][0][2] / 1e6:.0f} |")


def growth(results):
    """(time growth, key growth, n log n growth) from the smallest size to
    the largest."""
    first, last = results[0], results[-1]
    n0, n1 = first["keys"], last["keys"]
    return best(last["run"]) / best(first["run"]), n1 / n0, (n1 * math.log(n1)) / (n0 * math.log(n0))


def check_goals(results, floor):
    missed = []
    for r in results:
        ratio = best(r["run"]) / min(r["copy"])
        if ratio > GOAL_RUN_OVER_COPY:
            missed.append(f"{r['keys']:,} keys: run is {ratio:.2f}x the durable copy")
        peak = max(p for _, p, _ in r["run"]) / r["bytes"]
        if peak > GOAL_PEAK_OVER_FILE:
            missed.append(f"{r['keys']:,} keys: peak memory is {peak:.2f}x the file")
    time_growth, key_growth, nlogn = growth(results)
    print(f"\ntime grew {time_growth:.2f}x for {key_growth:.2f}x the keys "
          f"(n log n: {nlogn:.2f}x)")
    if len(results) > 1 and time_growth > nlogn:
        missed.append(f"time grew faster than n log n ({time_growth:.2f}x > {nlogn:.2f}x)")
    print(f"peak memory floor (/bin/true started the same way): {floor / 1e6:.1f} MB"
          + ("" if GNU_TIME else " (no /usr/bin/time: peaks include this script's own)"))
    for miss in missed:
        print(f"GOAL MISSED: {miss}")
    if not missed:
        print("all goals met")
    return not missed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program")
    parser.add_argument("--sizes", default="250000,500000,1000000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--work", help="folder for the hives (default: a temporary one)")
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    with tempfile.TemporaryDirectory(dir=args.work) as work:
        floor = timed_run(["/bin/true"], work)[1]
        results = [measure(program, work, int(n), args.runs) for n in args.sizes.split(",")]
    report_runs(results)
    report_summary(results)
    sys.exit(0 if check_goals(results, floor) else 1)


if __name__ == "__main__":
    main()
