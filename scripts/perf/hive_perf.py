#!/usr/bin/env python3
"""Times whole runs of the POSIX program on large hives: for each size and
key order (sorted as `reg export` writes them, and random), a run of
`brindlex -p:setup.inf` that deletes a product's Patches key and a patch
tree of a tenth of the hive's keys, next to a streaming durable copy of the
same file (read 1 MB at a time, write it, fsync: what any design that reads
and rewrites the file must pay), and the same run with the log on (-l).
Reports every run's seconds, run / copy, peak memory against the file's
size and how time grows with the size, and checks them against the goals:
  run <= 3x the streaming copy, peak memory <= 1.5x the file,
  time growth <= n log n (from the smallest size to the largest).
For reference it also times a copy that reads the whole file into one
buffer first (slower than the streaming copy where the kernel copies into
fresh large buffers slowly).

Peak memory is the program's high-water mark of resident memory (ru_maxrss).
Linux carries the high-water mark of the process that starts a program into
that figure, so the program is started through GNU time (/usr/bin/time, the
Debian package "time") when there is one, and this script never holds a hive
in memory itself: hives are made by brindlex_make_hive (see make_hive.py)
and whole-buffer copies made in processes of their own. The floor it reports
(the same figure for /bin/true) shows what is left of the starter's share.

Usage: hive_perf.py BRINDLEX [--sizes 250000,500000,1000000] [--runs 3]
                    [--orders sorted,random] [--no-log] [--work DIR]
Exits with status 1 when a goal is missed."""

import argparse
import math
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_hive as hive_maker  # noqa: E402

CHUNK = 1 << 20

GOAL_RUN_OVER_COPY = 3.0
GOAL_PEAK_OVER_FILE = 1.5

GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def make_hive(work, keys, order, tool):
    """Writes hive.reg and setup.inf in `work`; returns the number of keys."""
    count, _ = hive_maker.make_hive(os.path.join(work, "hive.reg"), keys, tree=keys // 10,
                                    order=order, setup=os.path.join(work, "setup.inf"),
                                    tool=tool)
    return count


# Run in a process of its own: reads SOURCE whole into one buffer, writes it
# to TARGET, fsyncs it and prints the seconds that took.
WHOLE_COPY = """
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


def whole_buffer_copy(source, target):
    """Seconds to read `source` whole, write it to `target` and fsync it."""
    out = subprocess.run([sys.executable, "-c", WHOLE_COPY, source, target], check=True,
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
    """Seconds to copy `source` to `target` 1 MB at a time and fsync it."""
    start = time.monotonic()
    copy_file(source, target, sync=True)
    return time.monotonic() - start


def timed_run(argv, cwd):
    """Seconds, peak resident memory (bytes) and CPU seconds (user and
    system) of one run of `argv`. Started through GNU time where there is
    one: its own small high-water mark is all the program inherits."""
    with tempfile.NamedTemporaryFile("r") as report:
        wrapper = [GNU_TIME, "-f", "%M %U %S", "-o", report.name] if GNU_TIME else []
        start = time.monotonic()
        process = subprocess.Popen(wrapper + argv, cwd=cwd, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.monotonic() - start
        if status != 0:
            raise RuntimeError(f"{argv} ended with status {status}")
        if GNU_TIME:
            peak_kb, user, system = report.read().split()[-3:]
            peak_kb, cpu = int(peak_kb), float(user) + float(system)
        else:
            peak_kb, cpu = usage.ru_maxrss, usage.ru_utime + usage.ru_stime
    return elapsed, peak_kb * 1024, cpu


def check_run(work, hive_size, logged):
    """Fails unless the run deleted keys (the file shrank) and, with -l,
    traced the whole job."""
    if os.path.getsize(os.path.join(work, "registry.reg")) >= hive_size:
        raise RuntimeError("the run deleted nothing: is the hive readable?")
    if logged:
        with open(os.path.join(work, "Brindlex.log"), "rb") as log:
            if not log.read().rstrip().endswith(b"LEAVING: DelFromReg()"):
                raise RuntimeError("the log does not end with the end of the job")


def program_run(program, work, hive, extra):
    """(seconds, peak bytes, log bytes, CPU seconds) of one run on a fresh
    copy. The copy is synced first, so that the run's own fsync does not
    also wait for the copy's dirty pages."""
    log = os.path.join(work, "Brindlex.log")
    copy_file(hive, os.path.join(work, "registry.reg"), sync=True)
    if os.path.exists(log):
        os.remove(log)
    seconds, peak, cpu = timed_run([program, "-p:setup.inf"] + extra, work)
    check_run(work, os.path.getsize(hive), bool(extra))
    return seconds, peak, os.path.getsize(log) if extra else 0, cpu


def measure(program, work, keys, order, runs, logged, tool):
    keys = make_hive(work, keys, order, tool)
    hive = os.path.join(work, "hive.reg")
    copy = os.path.join(work, "copy.reg")
    streams, wholes, plain, logged_runs = [], [], [], []
    # Interleaved, so that all see the same machine. The whole-buffer copy,
    # only a reference, comes last: then each run follows a streaming copy,
    # as the copy it is compared with follows a run.
    for _ in range(runs):
        streams.append(streaming_copy(hive, copy))
        plain.append(program_run(program, work, hive, []))
        if logged:
            logged_runs.append(program_run(program, work, hive, ["-l"]))
        wholes.append(whole_buffer_copy(hive, copy))
    os.remove(copy)
    result = {"keys": keys, "order": order, "tree": keys // 10, "bytes": os.path.getsize(hive),
              "stream": streams, "whole": wholes, "run": plain, "run -l": logged_runs}
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
    print("Per run (seconds; each run on a fresh copy of the hive):\n")
    print("| keys | order | file MB | streaming copy | whole-buffer copy | run | run -l |")
    print("|---:|---|---:|---|---|---|---|")
    for r in results:
        print(f"| {r['keys']:,} | {r['order']} | {r['bytes'] / 1e6:.0f} | "
              f"{seconds_list(r['stream'])} | {seconds_list(r['whole'])} | "
              f"{seconds_list(run[0] for run in r['run'])} | "
              f"{seconds_list(run[0] for run in r['run -l'])} |")


def report_summary(results):
    print("\nBest of the runs:\n")
    print("| keys | order | file MB | streaming copy s | run s | run / copy | run CPU s "
          "| peak MB | peak / file | run -l s | -l per deleted key |")
    print("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        copy, run = min(r["stream"]), best(r["run"])
        peak = max(run[1] for run in r["run"])
        logged = f"{best(r['run -l']):.2f}" if r["run -l"] else "-"
        per_key = (f"{(best(r['run -l']) - run) / r['tree'] * 1e6:.1f} us" if r["run -l"]
                   else "-")
        print(f"| {r['keys']:,} | {r['order']} | {r['bytes'] / 1e6:.0f} | {copy:.2f} | "
              f"{run:.2f} | {run / copy:.2f} | {min(one[3] for one in r['run']):.2f} | "
              f"{peak / 1e6:.0f} | {peak / r['bytes']:.2f} | "
              f"{logged} | {per_key} |")


def growth(results):
    """(time growth, key growth, n log n growth) from the smallest size to
    the largest of `results` (one order)."""
    first, last = results[0], results[-1]
    n0, n1 = first["keys"], last["keys"]
    return best(last["run"]) / best(first["run"]), n1 / n0, (n1 * math.log(n1)) / (n0 * math.log(n0))


def check_goals(results, floor):
    missed = []
    for r in results:
        ratio = best(r["run"]) / min(r["stream"])
        if ratio > GOAL_RUN_OVER_COPY:
            missed.append(f"{r['keys']:,} keys, {r['order']}: run is {ratio:.2f}x the "
                          "streaming copy")
        peak = max(run[1] for run in r["run"]) / r["bytes"]
        if peak > GOAL_PEAK_OVER_FILE:
            missed.append(f"{r['keys']:,} keys, {r['order']}: peak memory is {peak:.2f}x the file")
    print()
    for order in dict.fromkeys(r["order"] for r in results):
        group = [r for r in results if r["order"] == order]
        if len(group) < 2:
            continue
        time_growth, key_growth, nlogn = growth(group)
        print(f"{order}: time grew {time_growth:.2f}x for {key_growth:.2f}x the keys "
              f"(n log n: {nlogn:.2f}x)")
        if time_growth > nlogn:
            missed.append(f"{order}: time grew faster than n log n "
                          f"({time_growth:.2f}x > {nlogn:.2f}x)")
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
    parser.add_argument("--orders", default="sorted,random")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--no-log", action="store_true", help="skip the runs with -l")
    parser.add_argument("--make-hive", help="the hive generator (default: beside PROGRAM)")
    parser.add_argument("--work", help="folder for the hives (default: a temporary one)")
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    tool = args.make_hive or hive_maker.find_tool(program)
    with tempfile.TemporaryDirectory(dir=args.work) as work:
        floor = timed_run(["/bin/true"], work)[1]
        results = [measure(program, work, int(n), order, args.runs, not args.no_log, tool)
                   for order in args.orders.split(",") for n in args.sizes.split(",")]
    report_runs(results)
    report_summary(results)
    sys.exit(0 if check_goals(results, floor) else 1)


if __name__ == "__main__":
    main()
