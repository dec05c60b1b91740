#!/usr/bin/env python3
"""Window tests of the Windows program under Wine, on a private X display:
the default run closes its window by itself; with -s the window stays open
(after the run's log is complete) and closes on Escape, on Enter (the
default button) and on the close command, the program then ending. Saves a
screenshot of the -s window."""

import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winehost import TestedRecord, WineHost, add_wine_argument  # noqa: E402

ENDS_WITHIN = 15  # seconds


def wait_end(process, timeout):
    try:
        process.wait(timeout=timeout)
        return True
    except Exception:  # noqa: BLE001 - a timeout of any kind is a failure here
        return False


def run_silent(host, exe, work):
    process = host.popen([host.wine, exe, "-l"], cwd=work)
    if not wait_end(process, ENDS_WITHIN):
        process.kill()
        return ["the default run did not close its window by itself"]
    return [] if process.returncode == 0 else [f"exit status {process.returncode}"]


def run_without_display(host, exe, work):
    """With no display to show a window on, the dialog cannot be created;
    the run's work is still done and logged."""
    env = dict(host.env)
    env.pop("DISPLAY", None)
    log = os.path.join(work, "nodisplay.log")
    result = subprocess.run([host.wine, exe, "-l:nodisplay.log"], cwd=work, env=env, timeout=60,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(log, "rb") as f:
        done = f.read().endswith(b"ERROR: ReadINF() return 0\r\n")
    return ([] if done else ["the run was not done without a display"]) + (
        [] if result.returncode == 0 else [f"exit status {result.returncode}"])


def take_screenshot(host, exe, work, path):
    """Shows the -s window inside a Wine virtual desktop, where Wine draws
    the caption and frame itself (the bare X display has no window manager
    to draw them), and saves a picture of it."""
    desktop = host.popen([host.wine, "explorer", "/desktop=Brindlex,560x140", exe, "-s"], cwd=work)
    try:
        frame = host.find_window("Brindlex - Wine desktop", timeout=ENDS_WITHIN)
        window = host.find_window("Brindlex", timeout=ENDS_WITHIN)
        if frame is None or window is None:
            return ["no window appeared in the virtual desktop"]
        time.sleep(1.0)
        host.screenshot(path, frame)
        host.press(window, "Return")
        return []
    finally:
        desktop.kill()
        desktop.wait()


def run_open_window(host, exe, work, key):
    log = os.path.join(work, f"{key}.log")
    process = host.popen([host.wine, exe, "-s", f"-l:{key}.log"], cwd=work)
    window = host.find_window("Brindlex", timeout=ENDS_WITHIN)
    problems = []
    if window is None:
        problems.append("no window appeared with -s")
    else:
        time.sleep(1.0)
        if process.poll() is not None:
            problems.append("the -s window closed by itself")
        with open(log, "rb") as f:
            if not f.read().endswith(b"LEAVING: ReadINF()\r\nERROR: ReadINF() return 0\r\n"):
                problems.append("the run was not complete when the window appeared")
        host.press(window, key)
    if not wait_end(process, ENDS_WITHIN):
        process.kill()
        problems.append(f"{key} did not close the window")
    elif process.returncode != 0:
        problems.append(f"exit status {process.returncode}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--prefix", required=True)
    add_wine_argument(parser)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    if args.wine_kind is None:
        parser.error("--wine-kind is needed")
    exe = os.path.abspath(args.exe)
    os.makedirs(args.artifacts, exist_ok=True)
    screenshot = os.path.join(os.path.abspath(args.artifacts), "window.png")
    failures = 0
    tested = TestedRecord(exe, args.tested_record)
    host = WineHost(args.prefix, args.wine_kind)
    host.check_program(exe)
    with host, tempfile.TemporaryDirectory() as work:
        checks = [
            ("closes by itself", lambda: run_silent(host, exe, work)),
            ("-s, Escape", lambda: run_open_window(host, exe, work, "Escape")),
            ("-s, Enter", lambda: run_open_window(host, exe, work, "Return")),
            ("-s, close command", lambda: run_open_window(host, exe, work, "alt+F4")),
            ("screenshot", lambda: take_screenshot(host, exe, work, screenshot)),
            ("no display", lambda: run_without_display(host, exe, work)),
        ]
        for name, check in checks:
            problems = check()
            print(f"{'ok' if not problems else 'FAILED':6} {name}")
            for problem in problems:
                print("       " + problem)
            failures += bool(problems)
    print(f"screenshot: {screenshot}")
    if not failures:
        for problem in tested.finish():
            print(problem)
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
