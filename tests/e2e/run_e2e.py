#!/usr/bin/env python3
"""End-to-end cases: runs the real program on each case, natively and/or
under Wine, and compares the files it leaves with the case's expectations.

A case is a folder under cases/ holding:
  args         the argument text, exactly (no line end is added)
  stdin        optional: what the POSIX program reads from standard input
               (its window stays open with -s until Enter or end of input)
  only         optional: "native" for a case of the POSIX build alone (its
               hive file), with no Windows counterpart
  <inputs>     every other file, copied into a fresh working folder; a
               registry.reg is the POSIX program's registry, and is imported
               into Wine's registry for the Windows program; a log file (an
               earlier run's, written with "\n") gets CRLF line ends for it
  expect/F     the file F expected in the working folder after the run.
               Logs are compared with "\\n" line ends, the banner line as
               [***** BANNER *****] and the working folder as <CWD>.
               expect/registry.reg is compared key by key with what remains
               under HKEY_CLASSES_ROOT\\Installer. Without it, an input
               registry.reg must be left as it was.
Files left in the working folder that are neither inputs nor expected fail
the case.

--update writes the Windows program's results as the expectations (Wine is
the reference for how the platform behaves), and the POSIX program's for
the cases of the POSIX build alone; review the diff before keeping it."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "wine"))

import hive_fixture  # noqa: E402
import regfile  # noqa: E402
from winehost import TestedRecord, WineHost, add_wine_argument  # noqa: E402

CASES = os.path.join(HERE, "cases")
INSTALLER = "HKEY_CLASSES_ROOT\\Installer"
BANNER = re.compile(
    r"\[\*\*\*\*\* Today is (Sunday|Monday|Tuesday|Wednesday|Thursday|Friday|Saturday), "
    r"(January|February|March|April|May|June|July|August|September|October|November|December)"
    r"/\d\d/\d{4} @ \d\d:\d\d:\d\d\. \*\*\*\*\*\]")
PRESS_AGAIN = 3  # seconds
RUN_TIMEOUT = 60


class Case:
    def __init__(self, path):
        self.path = path
        self.name = os.path.relpath(path, CASES)
        with open(os.path.join(path, "args"), "rb") as f:
            self.args = f.read()
        stdin = os.path.join(path, "stdin")
        self.stdin = open(stdin, "rb").read() if os.path.exists(stdin) else None
        only = os.path.join(path, "only")
        self.only = open(only).read().strip() if os.path.exists(only) else None
        self.inputs = sorted(f for f in os.listdir(path)
                             if f not in ("args", "stdin", "only", "expect", "README")
                             and os.path.isfile(os.path.join(path, f)))
        expect = os.path.join(path, "expect")
        self.expected = sorted(os.listdir(expect)) if os.path.isdir(expect) else []

    def keeps_window_open(self):
        return any(t[:2].lower() == b"-s" for t in self.args.split(b" "))

    def expected_bytes(self, name):
        with open(os.path.join(self.path, "expect", name), "rb") as f:
            return f.read()

    def prepare(self, work):
        os.makedirs(work)
        for name in self.inputs:
            shutil.copyfile(os.path.join(self.path, name), os.path.join(work, name))


def find_cases(pattern):
    cases = []
    for root, dirs, files in os.walk(CASES):
        dirs.sort()
        if "args" in files:
            case = Case(root)
            if pattern is None or pattern in case.name:
                cases.append(case)
    return cases


# Normalising what a run wrote, so that both builds compare with one text.
def normalise_log(data, cwd_forms, crlf):
    text = data.decode("latin-1")
    if crlf:
        if re.search(r"(?<!\r)\n", text):
            raise AssertionError("a line end of the Windows log is not CRLF")
        text = text.replace("\r\n", "\n")
    elif "\r\n" in text:
        raise AssertionError("the POSIX log has CRLF line ends")
    text = BANNER.sub("[***** BANNER *****]", text)
    lines = []
    for line in text.split("\n"):
        for form, separator in cwd_forms:
            at = line.find(form)
            if at >= 0:
                rest = line[at + len(form):]
                line = line[:at] + "<CWD>" + rest.replace(separator, "/")
                break
        lines.append(line)
    return "\n".join(lines).encode("latin-1")


def compare_file(label, expected, actual):
    if expected == actual:
        return []
    import difflib
    diff = difflib.unified_diff(expected.decode("latin-1").splitlines(),
                                actual.decode("latin-1").splitlines(),
                                "expected", label, lineterm="", n=2)
    return [f"{label} differs:"] + ["    " + line for line in diff]


def compare_registry(label, expected_data, actual_data):
    expected = regfile.describe(regfile.read_keys(expected_data)) if expected_data else []
    actual = regfile.describe(regfile.read_keys(actual_data)) if actual_data else []
    return compare_file(label, "\n".join(expected).encode("utf-8"),
                        "\n".join(actual).encode("utf-8"))


class Runner:
    def __init__(self, label, crlf):
        self.label = label
        self.crlf = crlf

    def check(self, case, work, registry_after, update=False):
        problems = []
        produced = set(os.listdir(work)) - {"registry.reg"}
        allowed = (set(case.inputs) | set(case.expected)) - {"registry.reg"}
        if update:
            allowed |= produced
        for extra in sorted(produced - allowed):
            problems.append(f"unexpected file left behind: {extra}")
        results = {}
        for name in sorted(produced & allowed):
            with open(os.path.join(work, name), "rb") as f:
                data = f.read()
            if name in case.inputs and name not in case.expected:
                if data == self.prepared[name]:
                    continue
                if not update:
                    problems.append(f"input file changed: {name}")
                    continue
            if name.lower().endswith(".log"):
                data = normalise_log(data, self.cwd_forms(work), self.crlf)
            results[name] = data
        for name in case.expected:
            if name == "registry.reg":
                continue
            if name not in results:
                problems.append(f"expected file missing: {name}")
            elif not update and self.label.startswith("hive-"):
                problems += compare_log_of_hive_case(case, name, case.expected_bytes(name),
                                                     results[name])
            elif not update:
                problems += compare_file(name, case.expected_bytes(name), results[name])
        problems += self.check_registry(case, work, registry_after, update)
        if update:
            self.write_expectations(case, results, registry_after)
        return problems

    def check_registry(self, case, work, registry_after, update):
        if update or "registry.reg" not in case.inputs and "registry.reg" not in case.expected:
            return []
        if "registry.reg" in case.expected:
            return compare_registry("registry", case.expected_bytes("registry.reg"),
                                    registry_after)
        return self.check_registry_unchanged(case, work, registry_after)

    def write_expectations(self, case, results, registry_after):
        expect = os.path.join(case.path, "expect")
        if os.path.isdir(expect):
            shutil.rmtree(expect)
        os.makedirs(expect)
        for name, data in results.items():
            with open(os.path.join(expect, name), "wb") as f:
                f.write(data)
        if "registry.reg" in case.inputs and registry_after is not None:
            with open(os.path.join(case.path, "registry.reg"), "rb") as f:
                before = f.read()
            if regfile.read_keys(before) != regfile.read_keys(registry_after):
                with open(os.path.join(expect, "registry.reg"), "wb") as f:
                    f.write(registry_after)


class NativeRunner(Runner):
    def __init__(self, exe):
        super().__init__("native", crlf=False)
        self.exe = os.path.abspath(exe)

    def cwd_forms(self, work):
        return [(os.path.realpath(work), "/")]

    def run(self, case, work):
        # The program joins its arguments with single spaces, so splitting at
        # every single space hands it exactly the argument text.
        argv = [self.exe] + case.args.split(b" ")
        stdin = case.stdin if case.stdin is not None else (b"\n" if case.keeps_window_open() else b"")
        result = subprocess.run(argv, cwd=work, input=stdin, timeout=RUN_TIMEOUT,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        problems = [] if result.returncode == 0 else [f"exit status {result.returncode}"]
        if not case.keeps_window_open() and b"Press Enter" in result.stderr:
            problems.append("the window waited for the user in silent mode")
        hive = os.path.join(work, "registry.reg")
        after = open(hive, "rb").read() if os.path.exists(hive) else None
        return problems, after

    def check_registry_unchanged(self, case, work, registry_after):
        with open(os.path.join(case.path, "registry.reg"), "rb") as f:
            before = f.read()
        return [] if before == registry_after else ["registry.reg was rewritten"]


# Cases whose log lists subkeys that sort differently in Wine (by names
# folded to lower case) and in a hive's stored lists (folded to upper case:
# "_", "[", "^" and "`" come after the letters): their logs are compared
# line for line without regard to order. An "ENUM Key return" line shows the
# name buffer, which keeps the end of a longer name enumerated before it, so
# its text depends on the order too: only the number of those lines counts.
HIVE_ORDER_CASES = {"registry/case-and-high-byte-names", "registry/many-siblings"}
ENUM_LINE = b"\tENUM Key return --> "


class HiveRunner(NativeRunner):
    """The POSIX program on a binary hive made from the case's registry.reg
    (see hive_fixture.py), in the given shape; what remains is read back
    with hivexregedit."""

    def __init__(self, exe, empty_hive_tool, shape):
        super().__init__(exe)
        self.label = "hive-" + shape
        self.empty_hive_tool = os.path.abspath(empty_hive_tool)
        self.shape = shape
        self.hive_before = None

    def run(self, case, work):
        hive = os.path.join(work, "registry.reg")
        hive_fixture.build(self.prepared["registry.reg"], hive, self.empty_hive_tool, self.shape)
        with open(hive, "rb") as f:
            self.hive_before = f.read()
        problems, after = super().run(case, work)
        if after is not None and after != self.hive_before:
            after = hive_fixture.export(hive, self.shape)
        elif after is not None:
            after = b"unchanged"
        return problems, after

    def check_registry(self, case, work, registry_after, update):
        if update or "registry.reg" not in case.inputs:
            return []
        if "registry.reg" not in case.expected:
            return [] if registry_after == b"unchanged" else ["the hive was rewritten"]
        if registry_after == b"unchanged":
            return ["the hive was left as it was"]
        expected = regfile.describe(hive_fixture.canonical_keys(
            regfile.read_keys(case.expected_bytes("registry.reg"))))
        actual = regfile.describe(hive_fixture.canonical_keys(regfile.read_keys(registry_after)))
        return compare_file("hive", "\n".join(expected).encode("utf-8"),
                            "\n".join(actual).encode("utf-8"))


def compare_log_of_hive_case(case, label, expected, actual):
    if case.name.replace(os.sep, "/") in HIVE_ORDER_CASES:
        expected, actual = (b"\n".join(sorted(ENUM_LINE + b"..." if line.startswith(ENUM_LINE)
                                               else line for line in log.split(b"\n")))
                            for log in (expected, actual))
    return compare_file(label, expected, actual)


class WineRunner(Runner):
    def __init__(self, host, exe, launcher):
        super().__init__("wine", crlf=True)
        self.host = host
        self.exe = os.path.abspath(exe)
        self.launcher = os.path.abspath(launcher)
        self.program_name = os.path.basename(exe)
        self.installer_may_exist = True

    def cwd_forms(self, work):
        return [(self.host.windows_path(os.path.realpath(work)), "\\")]

    def run(self, case, work):
        uses_registry = "registry.reg" in case.inputs
        # Each Wine process costs about a second, so the registry is cleared
        # only when something may be there and read back only when a case
        # has a registry to compare: the program itself never creates keys.
        if self.installer_may_exist:
            self.host.reg_clear(INSTALLER)
        if uses_registry:
            self.host.reg_import(os.path.join(work, "registry.reg"))
        with tempfile.NamedTemporaryFile(delete=False) as command_line:
            command_line.write(self.program_name.encode() + b" " + case.args)
        try:
            problems = self.run_program(case, work, command_line.name)
        finally:
            os.unlink(command_line.name)
        after = self.host.reg_export(INSTALLER) if uses_registry else None
        self.installer_may_exist = uses_registry  # even when the export failed
        return problems, after

    def run_program(self, case, work, command_line_file):
        process = self.host.popen([self.host.wine, self.launcher, self.exe, command_line_file],
                                  cwd=work)
        problems = []
        deadline = time.monotonic() + RUN_TIMEOUT
        # A key pressed before the window takes input is lost: pressed again
        # every few seconds while the program runs.
        next_press = time.monotonic()
        while process.poll() is None and time.monotonic() < deadline:
            if case.keeps_window_open() and time.monotonic() >= next_press:
                window = self.host.find_window("Brindlex", timeout=1)
                if window:
                    self.host.press(window, "Return")
                    next_press = time.monotonic() + PRESS_AGAIN
            time.sleep(0.05)
        if process.poll() is None:
            process.kill()
            process.wait()
            problems.append("the program did not end")
        elif process.returncode != 0:
            problems.append(f"exit status {process.returncode}")
        return problems

    def check_registry_unchanged(self, case, work, registry_after):
        with open(os.path.join(case.path, "registry.reg"), "rb") as f:
            before = f.read()
        return compare_registry("registry", before, registry_after)


def run_case(runner, case, scratch, update):
    work = os.path.join(scratch, runner.label, case.name.replace(os.sep, "_"), "work")
    case.prepare(work)
    runner.prepared = {}
    if runner.crlf:
        # A log from an earlier run holds the platform's line ends.
        for name in case.inputs:
            if name.lower().endswith(".log"):
                path = os.path.join(work, name)
                with open(path, "rb") as f:
                    text = f.read()
                with open(path, "wb") as f:
                    f.write(text.replace(b"\n", b"\r\n"))
    for name in case.inputs:
        with open(os.path.join(work, name), "rb") as f:
            runner.prepared[name] = f.read()
    problems, registry_after = runner.run(case, work)
    problems += runner.check(case, work, registry_after, update)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--native", help="the POSIX program")
    parser.add_argument("--wine", help="the Windows program (needs --wine-kind)")
    parser.add_argument("--launcher", help="tests' launch.exe (needed with --wine)")
    add_wine_argument(parser)
    parser.add_argument("--prefix", help="the Wine prefix to use (made when missing)")
    parser.add_argument("--hive", help="the POSIX program, run on binary hives made from the "
                                       "registry cases' registry.reg")
    parser.add_argument("--empty-hive-tool", help="brindlex_make_empty_hive (needed with --hive)")
    parser.add_argument("--filter", help="run only cases whose name contains this")
    parser.add_argument("--update", action="store_true",
                        help="write the Windows program's results as the expectations")
    args = parser.parse_args()
    if args.wine and not (args.launcher and args.wine_kind):
        parser.error("--wine needs --launcher and --wine-kind")
    cases = find_cases(args.filter)
    if not cases:
        print("no cases found")
        return 1

    failures = []
    with tempfile.TemporaryDirectory(prefix="brindlex-e2e-") as scratch:
        runners = []
        host = None
        tested = None
        if args.wine:
            tested = TestedRecord(args.wine, args.tested_record)
            host = WineHost(args.prefix or os.path.join(scratch, "wineprefix"),
                            args.wine_kind, managed_windows=False)
            host.check_program(args.wine)
            host.check_program(args.launcher)
            host.start()
            runners.append(WineRunner(host, args.wine, args.launcher))
        if args.native:
            runners.append(NativeRunner(args.native))
        if args.hive:
            for shape in hive_fixture.SHAPES:
                runners.append(HiveRunner(args.hive, args.empty_hive_tool, shape))
        try:
            for case in cases:
                for runner in runners:
                    if case.only and case.only != runner.label:
                        continue
                    if runner.label.startswith("hive-") and (
                            not case.name.startswith("registry" + os.sep) or args.update):
                        continue  # the hive variant of the registry cases
                    if args.update and runner.label == "native" and case.only != "native":
                        continue  # the Windows program's results are the reference
                    problems = run_case(runner, case, scratch, args.update)
                    status = "ok" if not problems else "FAILED"
                    print(f"{status:6} {runner.label:6} {case.name}")
                    for problem in problems:
                        print("       " + problem)
                    if problems:
                        failures.append(f"{runner.label} {case.name}")
        finally:
            if host:
                host.close()
    if tested and not failures:
        for problem in tested.finish():
            print(problem)
            failures.append("the tested program")
    print(f"{len(cases)} cases, {len(failures)} failures")
    for failure in failures:
        print(f"failed: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
