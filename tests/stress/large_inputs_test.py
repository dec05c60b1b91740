#!/usr/bin/env python3
"""End-to-end cases whose inputs are too large to keep in the repository:
each folder under large_inputs/ is a case in the form of tests/e2e/cases/
(args, only, small inputs, expect/), and this script adds its large input
files, made by the function of the same name below, to a copy of it before
handing the copies to the end-to-end runner. Arguments are the runner's;
with --update the new expectations are copied back into large_inputs/.

Usage: large_inputs_test.py [--native BRINDLEX]
                            [--wine EXE --launcher EXE --wine-kind win32|win64]
                            [--prefix DIR] [--filter TEXT] [--update]"""

import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = os.path.join(HERE, "large_inputs")
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import run_e2e  # noqa: E402

MEGABYTE = 1 << 20
PATCH_1 = "8A1D5C2E6F3B4A7D9E0F1A2B3C4D5E6F"


def inf_huge_line(case):
    """A setup information file with a line of 4 MB between the product key
    and the first patch key, and a second patch key whose value is 2 MB."""
    with open(os.path.join(case, "setup.inf"), "rb") as f:
        lines = f.read().split(b"\r\n")
    lines.insert(2, b"Filler" + b"x" * (4 * MEGABYTE))
    lines.insert(4, b"PatchKey2=" + b"1F2E3D4C5B6A79880F1E2D3C4B5A6978" * (2 * MEGABYTE // 32))
    with open(os.path.join(case, "setup.inf"), "wb") as f:
        f.write(b"\r\n".join(lines))


def hive_huge_line(case):
    """Patch 1's section of the hive gets a string value of 3 MB characters
    and a comment line of 1 MB characters, both gone with the patch."""
    path = os.path.join(case, "registry.reg")
    with open(path, "rb") as f:
        text = f.read().decode("utf-16")
    header = f"[HKEY_CLASSES_ROOT\\Installer\\Patches\\{PATCH_1}]\r\n"
    big = '"Big"="' + "z" * (3 * MEGABYTE) + '"\r\n; ' + "c" * MEGABYTE + "\r\n"
    if header not in text:
        raise AssertionError(f"{path} has no section for patch 1")
    text = text.replace(header, header + big)
    with open(path, "wb") as f:
        f.write(text.encode("utf-16"))


GENERATORS = {"inf-huge-line": inf_huge_line, "hive-huge-line": hive_huge_line}


def main():
    update = "--update" in sys.argv
    with tempfile.TemporaryDirectory(prefix="brindlex-large-") as scratch:
        for name in sorted(os.listdir(CASES)):
            copy = os.path.join(scratch, "large", name)
            shutil.copytree(os.path.join(CASES, name), copy)
            GENERATORS[name](copy)
        run_e2e.CASES = scratch
        status = run_e2e.main()
        if update:
            for name in sorted(os.listdir(CASES)):
                expect = os.path.join(CASES, name, "expect")
                shutil.rmtree(expect, ignore_errors=True)
                shutil.copytree(os.path.join(scratch, "large", name, "expect"), expect)
    return status


if __name__ == "__main__":
    sys.exit(main())
