#!/usr/bin/env python3
"""Checks the release zip: it holds exactly Brindlex.exe, README.md and
setup.inf, its Brindlex.exe is byte for byte the built program, and that
program is the one the Wine tests ran (the SHA-256 each harness recorded).

Usage: check_release.py (--zip ZIP | --cpack CPACK --config CPackConfig.cmake)
                        --exe EXE [--tested RECORD]...
With --cpack, the zip is made first from the build's package configuration,
in the build's folder, as `cpack --preset` makes it."""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import zipfile

CONTENTS = {"Brindlex.exe", "README.md", "setup.inf"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--zip")
    parser.add_argument("--exe", required=True, help="the built program")
    parser.add_argument("--tested", action="append", default=[],
                        help="a harness's record of the program it ran (SHA-256, path)")
    parser.add_argument("--cpack", help="make the zip with this cpack first")
    parser.add_argument("--config", help="the build's CPackConfig.cmake (with --cpack)")
    args = parser.parse_args()

    if args.cpack:
        made = subprocess.run([args.cpack, "--config", args.config, "-B",
                               os.path.dirname(os.path.abspath(args.config))],
                              check=True, stdout=subprocess.PIPE, text=True).stdout
        found = re.search(r"package: (.*\.zip) generated", made)
        if not found:
            print(made)
            print("cpack made no zip")
            return 1
        args.zip = found.group(1)
    elif not args.zip:
        parser.error("--zip or --cpack is needed")
    problems = []
    with zipfile.ZipFile(args.zip) as archive:
        names = set(archive.namelist())
        if names != CONTENTS:
            problems.append(f"the zip holds {sorted(names)}, not {sorted(CONTENTS)}")
        packaged = archive.read("Brindlex.exe") if "Brindlex.exe" in names else None
    with open(args.exe, "rb") as f:
        built = f.read()
    if packaged is not None and packaged != built:
        problems.append(f"the zip's Brindlex.exe is not {args.exe}")
    digest = hashlib.sha256(packaged if packaged is not None else built).hexdigest()
    for record in args.tested:
        if not os.path.exists(record):
            problems.append(f"no record of a test run: {record}")
            continue
        with open(record) as f:
            tested = f.read().split()
        if not tested or tested[0] != digest:
            problems.append(f"the zip's Brindlex.exe is not the program {record} records")

    for problem in problems:
        print(problem)
    if not problems:
        print(f"ok: {args.zip}: Brindlex.exe (sha256 {digest}) is the tested program"
              if args.tested else f"ok: {args.zip}: Brindlex.exe is {args.exe}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
