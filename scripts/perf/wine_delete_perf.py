#!/usr/bin/env python3
"""Times the Windows program under Wine against Wine's own `reg delete` on
the same job: a patch whose key holds a tree of 10,000 keys below
HKCR\\Installer\\Patches, plus a product with a Patches key.

In one Wine prefix, with its server kept running and an X display (Xvfb)
for the program's window, each round imports the tree into a cleared
HKCR\\Installer before each timed run, and times `Brindlex.exe -p:setup.inf`
(which deletes the product's Patches key and then the patch's tree) and
`reg delete HKCR\\Installer\\Patches\\<patch> /f`, in alternating order. Each
run is checked to have deleted the tree. Both are timed whole, from starting
the Wine loader to its end: nothing is subtracted.

The program is timed on two displays:
- "bare": Xvfb as the tests use it, with no window manager. Wine's X11
  driver then waits up to 2 seconds, in vain, for a window manager to take
  the dialog's window (its trace says "wait_for_withdrawn_state ... wait
  timed out"), a cost that a desktop does not have;
- "unmanaged": the same display with Wine's X11 driver told not to hand
  windows to a window manager (HKCU\\Software\\Wine\\X11 Driver,
  Managed=N), which removes that wait and leaves the program's own cost.
To explain the difference it also times each program with nothing to delete
(the program with a product that is not there, reg.exe querying a missing
key) and the program with its log on (-l).

Usage: wine_delete_perf.py [--exe build/win64/Brindlex.exe] [--keys 10000] [--make-hive TOOL]
                           [--rounds 5] [--prefix DIR]
Exits with status 1 when the program, on the unmanaged display, is slower
than 1.5x reg delete (medians)."""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT_DIR = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT_DIR, "tests", "wine"))
import make_hive  # noqa: E402
from winehost import WineHost, add_wine_argument  # noqa: E402

GOAL_RATIO = 1.5
INSTALLER = "HKEY_CLASSES_ROOT\\Installer"


def write_inputs(work, keys, tool):
    """Writes tree.reg (the product and the patch tree) and setup.inf in
    `work`. Returns (product, patch, the tree's deepest last key, keys)."""
    _, targets = make_hive.make_hive(os.path.join(work, "tree.reg"), keys, tree=keys,
                                     setup=os.path.join(work, "setup.inf"), tool=tool)
    product, patch, last_key = targets[0]
    make_hive.write_setup(os.path.join(work, "missing.inf"), "0" * 32, patch)
    return product, patch, "HKEY_CLASSES_ROOT\\" + last_key, keys


class Bench:
    def __init__(self, host, exe, work, product, patch, last_key):
        self.host, self.exe, self.work = host, exe, work
        self.patch_key = f"{INSTALLER}\\Patches\\{patch}"
        self.product_patches = f"{INSTALLER}\\Products\\{product}\\Patches"
        self.last_key = last_key

    def exists(self, key):
        return self.host.run([self.host.wine, "reg", "query", key], check=False).returncode == 0

    def fresh_tree(self):
        self.host.reg_clear(INSTALLER)
        self.host.reg_import(os.path.join(self.work, "tree.reg"))
        if not self.exists(self.last_key):
            raise RuntimeError("the tree was not imported")

    def timed(self, argv):
        """Seconds from starting `argv` (a Wine program) to its end."""
        start = time.monotonic()
        result = subprocess.run(argv, cwd=self.work, env=self.host.env, timeout=600,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elapsed = time.monotonic() - start
        if result.returncode != 0:
            raise RuntimeError(f"{argv} ended with status {result.returncode}")
        return elapsed

    def check_deleted(self, what, product_too):
        if self.exists(self.patch_key) or (product_too and self.exists(self.product_patches)):
            raise RuntimeError(f"{what} left the tree in place")

    def set_display(self, display):
        """"bare" or "unmanaged" (see the top of this file)."""
        key = "HKCU\\Software\\Wine\\X11 Driver"
        if display == "unmanaged":
            self.host.run([self.host.wine, "reg", "add", key, "/v", "Managed", "/d", "N", "/f"])
        else:
            self.host.run([self.host.wine, "reg", "delete", key, "/v", "Managed", "/f"],
                          check=False)

    def program(self, display, *extra):
        self.set_display(display)
        self.fresh_tree()
        seconds = self.timed([self.host.wine, self.exe, "-p:setup.inf", *extra])
        self.check_deleted("Brindlex.exe", product_too=True)
        log = os.path.join(self.work, "Brindlex.log")
        if os.path.exists(log):
            os.remove(log)
        return seconds

    def reg_delete(self):
        self.fresh_tree()
        seconds = self.timed([self.host.wine, "reg", "delete", self.patch_key, "/f"])
        self.check_deleted("reg delete", product_too=False)
        return seconds

    def program_idle(self, display):
        """The program with a product that is not there: it starts, reads
        the setup file, fails to open the product, shows its window and
        ends."""
        self.set_display(display)
        return self.timed([self.host.wine, self.exe, "-p:missing.inf"])

    def reg_idle(self):
        """reg.exe starting and failing to find a key."""
        start = time.monotonic()
        self.host.run([self.host.wine, "reg", "query", f"{INSTALLER}\\Missing"], check=False)
        return time.monotonic() - start


def measure(bench, rounds):
    steps = {
        "reg delete": bench.reg_delete,
        "program, bare display": lambda: bench.program("bare"),
        "program, unmanaged": lambda: bench.program("unmanaged"),
        "program -l, unmanaged": lambda: bench.program("unmanaged", "-l"),
        "reg.exe, nothing to delete": bench.reg_idle,
        "program, nothing to delete, bare display": lambda: bench.program_idle("bare"),
        "program, nothing to delete, unmanaged": lambda: bench.program_idle("unmanaged"),
    }
    times = {name: [] for name in steps}
    # One untimed round: the first start of each program loads its DLLs
    # from disk and starts Wine's desktop process.
    for step in steps.values():
        step()
    for round_index in range(rounds):
        order = list(steps.items())
        for name, step in order if round_index % 2 == 0 else reversed(order):
            times[name].append(step())
    bench.set_display("bare")
    return times


def ratio(times, name):
    """The median of `name` over the median of reg delete."""
    return statistics.median(times[name]) / statistics.median(times["reg delete"])


def report(times, keys, exe):
    print(f"Deleting a tree of {keys:,} keys under Wine ({exe}); seconds per round:\n")
    print("| what | runs | median | best |")
    print("|---|---|---:|---:|")
    for name, values in times.items():
        runs = ", ".join(f"{value:.2f}" for value in values)
        print(f"| {name} | {runs} | {statistics.median(values):.2f} | {min(values):.2f} |")
    print()
    for display in ("bare display", "unmanaged"):
        print(f"program / reg delete, {display}: {ratio(times, 'program, ' + display):.2f} "
              f"(medians); goal <= {GOAL_RATIO}")
    work = {
        "program": statistics.median(times["program, unmanaged"]) -
        statistics.median(times["program, nothing to delete, unmanaged"]),
        "reg delete": statistics.median(times["reg delete"]) -
        statistics.median(times["reg.exe, nothing to delete"]),
    }
    print(f"deleting alone (median less the median with nothing to delete): program "
          f"{work['program']:.2f} s, reg delete {work['reg delete']:.2f} s")
    return ratio(times, "program, unmanaged") <= GOAL_RATIO


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(ROOT_DIR, "build", "win64", "Brindlex.exe"))
    parser.add_argument("--keys", type=int, default=10000)
    parser.add_argument("--make-hive", help="the hive generator (default: the native build's)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--prefix", help="Wine prefix to use (default: a new temporary one)")
    add_wine_argument(parser)
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    with tempfile.TemporaryDirectory() as work:
        product, patch, last_key, keys = write_inputs(
            work, args.keys, args.make_hive or make_hive.find_tool())
        prefix = args.prefix or os.path.join(work, "prefix")
        with WineHost(prefix, args.wine_kind or "win64") as host:
            bench = Bench(host, exe, work, product, patch, last_key)
            times = measure(bench, args.rounds)
            host.reg_clear(INSTALLER)
    sys.exit(0 if report(times, keys, exe) else 1)


if __name__ == "__main__":
    main()
