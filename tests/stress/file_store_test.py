#!/usr/bin/env python3
"""The POSIX program's registry file against the rest of the world: file
systems that are read-only or full, files that are read-only, linked,
owned by another user or carry extended attributes and access control
lists, things that are not regular files, a foreign lock, a foreign writer
racing the run, files beside it that it did not make, a log named as the
registry. Each case runs the real program in a fresh folder and checks the
files it leaves and the log it writes (the log is the only report: a run
whose deletions did not reach the file must not read as a success).

The cases about the file rather than its format run again with the registry
in a binary hive (a SOFTWARE hive named SOFTWARE, made as the end-to-end
hive cases make theirs and read back with hivexregedit), which the program
is told of through BRINDLEX_REGISTRY.

Cases that need mounts, another user or another owner run only as root
(mounts in a private mount namespace, made with unshare); elsewhere they are
skipped with a message. Exit status 1 when a case fails.

Usage: file_store_test.py BRINDLEX [--empty-hive-tool TOOL] [--filter TEXT]
(TOOL: brindlex_make_empty_hive, by default the one beside BRINDLEX)"""

import argparse
import fcntl
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

import hive_fixture  # noqa: E402
import regfile  # noqa: E402

HIVE = "registry.reg"
SOFTWARE = "SOFTWARE"
PRODUCT = "4080110900063D11C8EF10054038389C"
PATCH = "8A1D5C2E6F3B4A7D9E0F1A2B3C4D5E6F"
SETUP = f"[Upgrade]\nProductKey={PRODUCT}\nPatchKey1={PATCH}\n"
HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"
KEPT = (f"[HKEY_CLASSES_ROOT\\Installer\\Products\\{PRODUCT}]\r\n\"ProductName\"=\"Mail\"\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\Installer\\Patches]\r\n\r\n")
REMOVED = [
    f"[HKEY_CLASSES_ROOT\\Installer\\Products\\{PRODUCT}\\Patches]\r\n\"{PATCH}\"=\"\"\r\n\r\n",
    f"[HKEY_CLASSES_ROOT\\Installer\\Patches\\{PATCH}]\r\n\"State\"=dword:00000001\r\n\r\n",
    f"[HKEY_CLASSES_ROOT\\Installer\\Patches\\{PATCH}\\SourceList]\r\n\"Path\"=\"C:\\\\x\"\r\n\r\n",
]
SUCCESS = f"\tSuccessfuly DELETE HKEY_CLASSES_ROOT\\Installer\\Products\\{PRODUCT}\\Patches\n"
DENIED = f"\tUnable to OPEN HKEY_CLASSES_ROOT\\Installer\\Products\\{PRODUCT}\n"
NOT_SAVED = "ERROR: Registry not saved, no deletion of this run reached the registry --> 1016\n"
UNREADABLE = "\tERROR: Registry unavailable --> 1012\n"
RUN_TIMEOUT = 60


def unrelated(count):
    return [f"[HKEY_CLASSES_ROOT\\Unrelated\\K{i:05d}]\r\n\"v\"=\"{'x' * 60}\"\r\n\r\n"
            for i in range(count)]


def hive_text(extra=0):
    """The registry before a run and after a run that deleted the patches."""
    tail = unrelated(extra)
    before = HEADER + KEPT + "".join(REMOVED) + "".join(tail)
    after = HEADER + KEPT + "".join(tail)
    return before.encode("latin-1"), after.encode("latin-1")


class Registries:
    """The registry file's content before a run and what it holds after a
    run that deleted the patches, in either kind of file."""

    def __init__(self, empty_hive_tool, scratch):
        self.empty_hive_tool = empty_hive_tool
        self.scratch = scratch
        self.hives = {}

    def before(self, kind, extra=0):
        text = hive_text(extra)[0]
        if kind == "text":
            return text
        if extra not in self.hives:
            path = os.path.join(self.scratch, f"software-{extra}.hive")
            hive_fixture.build(text, path, self.empty_hive_tool, "software")
            with open(path, "rb") as f:
                self.hives[extra] = f.read()
        return self.hives[extra]

    def holds_after(self, kind, data, path):
        """Whether the file `path`, read as `data`, is the cleaned registry."""
        after = hive_text()[1]
        if kind == "text":
            return data == after
        if data == self.before(kind):
            return False

        def keys(reg):
            return regfile.describe(hive_fixture.canonical_keys(
                regfile.read_keys(reg, root="HKEY_CLASSES_ROOT")))
        return keys(hive_fixture.export(path)) == keys(after)


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Folder:
    """A fresh folder with the registry and the setup file; the log goes to
    a folder of its own, so that it can be written when this one cannot."""

    def __init__(self, scratch, name, kind, registries):
        self.path = os.path.join(scratch, name)
        os.makedirs(self.path)
        self.logs = os.path.join(scratch, name + "-log")
        os.makedirs(self.logs)
        self.log = os.path.join(self.logs, "run.log")
        self.kind = kind
        self.registries = registries
        # The registry file's name: the program's own for the text file,
        # the platform's setting for the hive.
        self.registry = HIVE if kind == "text" else SOFTWARE
        self.env = dict(os.environ)
        self.env.pop("BRINDLEX_REGISTRY", None)
        if kind == "hive":
            self.env["BRINDLEX_REGISTRY"] = SOFTWARE
        self.before = registries.before(kind)
        self.write(self.registry, self.before)
        self.write("setup.inf", SETUP.encode())

    def cleaned(self, name=None):
        """Whether the registry file (or `name`) holds the run's deletions."""
        name = name or self.registry
        return self.registries.holds_after(self.kind, self.read(name), self.file(name))

    def file(self, name):
        return os.path.join(self.path, name)

    def write(self, name, data):
        with open(self.file(name), "wb") as f:
            f.write(data)

    def read(self, name=None):
        with open(self.file(name or self.registry), "rb") as f:
            return f.read()

    def listing(self):
        return sorted(os.listdir(self.path))

    def read_log(self):
        if not os.path.exists(self.log):
            return ""
        with open(self.log, encoding="latin-1") as f:
            return f.read()


class Runner:
    def __init__(self, program, scratch):
        self.program = os.path.abspath(program)
        self.scratch = scratch

    def command(self, folder, log=None):
        return [self.program, "-p:setup.inf", "-l:" + (log or folder.log)]

    def run(self, folder, log=None, prefix=(), shell=None, after="", timeout=RUN_TIMEOUT):
        """Runs the program in `folder` (between the shell commands `shell`
        and `after`, in a private mount namespace, when given). Returns its
        stderr."""
        command = self.command(folder, log)
        if shell is not None:
            script = shell + "\ncd \"$PWD\"\n\"$@\"\n" + after
            command = ["unshare", "-m", "--propagation", "private",
                       "sh", "-ec", script, "sh"] + command
        try:
            done = subprocess.run(list(prefix) + command, cwd=folder.path, env=folder.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the run did not end within {timeout} s")
        expect(done.returncode == 0, f"exit status {done.returncode}")
        return done.stderr.decode(errors="replace")


def need_root():
    if os.geteuid() != 0:
        raise Skip("needs root (mounts, other users and owners)")


def expect_refused(folder, stderr, reason):
    """The run opened no key with full access and left the file as it was."""
    log = folder.read_log()
    expect(DENIED in log and SUCCESS not in log, "the log does not show the refused open:\n" + log)
    expect(folder.read() == folder.before, "the registry file was changed")
    expect(reason in stderr, f"stderr does not say {reason!r}: {stderr}")


def expect_cleaned(folder, name=None):
    log = folder.read_log()
    expect(SUCCESS in log and NOT_SAVED not in log, "the run did not succeed:\n" + log)
    expect(folder.cleaned(name), "the registry file does not hold the deletions")


# --- the cases: each takes the runner and a fresh folder ---------------------

def case_read_only_mount(runner, folder):
    need_root()
    stderr = runner.run(folder, shell=f"mount --bind '{folder.path}' '{folder.path}'\n"
                                      f"mount -o remount,bind,ro '{folder.path}'")
    expect_refused(folder, stderr, "Read-only file system")


def case_full_file_system(runner, folder):
    need_root()
    # The registry and a filler that takes the rest of a small file system.
    stderr = runner.run(folder, shell=(
        f"mount -t tmpfs -o size=64k tmpfs '{folder.path}'\n"
        f"cp '{folder.logs}/setup.inf' '{folder.logs}/{folder.registry}' '{folder.path}/'\n"
        f"dd if=/dev/zero of='{folder.path}/filler' bs=4k 2>/dev/null || true"),
        after=f"cp {folder.registry} '{folder.logs}/after.reg'; ls -a > '{folder.logs}/listing'")
    log = folder.read_log()
    expect(DENIED in log and SUCCESS not in log, "the log does not show the refused open:\n" + log)
    expect("No space left on device" in stderr, "stderr does not name the full disk: " + stderr)
    with open(os.path.join(folder.logs, "after.reg"), "rb") as f:
        expect(f.read() == folder.before, "the registry file was changed")
    with open(os.path.join(folder.logs, "listing")) as f:
        listing = f.read().split()
    expect(listing == sorted([".", "..", "filler", folder.registry, "setup.inf"]),
           f"files left: {listing}")


def case_read_only_folder_for_user(runner, folder):
    need_root()
    os.chmod(folder.path, 0o755)
    os.chown(folder.file(folder.registry), 65534, 65534)
    os.chmod(folder.logs, 0o777)
    stderr = runner.run(folder, prefix=["setpriv", "--reuid=65534", "--regid=65534",
                                        "--clear-groups"])
    expect_refused(folder, stderr, "cannot be written")


def case_read_only_file(runner, folder):
    os.chmod(folder.file(folder.registry), 0o444)
    stderr = runner.run(folder)
    expect_refused(folder, stderr, "it is read-only")
    expect(stat.S_IMODE(os.stat(folder.file(folder.registry)).st_mode) == 0o444, "the mode changed")


def case_hard_link(runner, folder):
    os.link(folder.file(folder.registry), folder.file("other.reg"))
    stderr = runner.run(folder)
    expect_refused(folder, stderr, "hard links")
    expect(folder.read("other.reg") == folder.before, "the other link changed")


def case_symbolic_link(runner, folder):
    os.makedirs(folder.file("store"))
    os.rename(folder.file(folder.registry), folder.file("store/real"))
    os.symlink("store/real", folder.file(folder.registry))
    runner.run(folder)
    expect(os.path.islink(folder.file(folder.registry)), "the link was replaced by a file")
    expect_cleaned(folder, "store/real")
    expect(os.listdir(folder.file("store")) == ["real"], "files were left beside the target")


def case_owner_and_mode_kept(runner, folder):
    need_root()
    os.chown(folder.file(folder.registry), 65534, 65534)
    os.chmod(folder.file(folder.registry), 0o640)
    runner.run(folder)
    expect_cleaned(folder)
    info = os.stat(folder.file(folder.registry))
    expect((info.st_uid, info.st_gid) == (65534, 65534), f"owner now {info.st_uid}:{info.st_gid}")
    expect(stat.S_IMODE(info.st_mode) == 0o640, f"mode now {oct(info.st_mode)}")


def case_attributes_and_acl_kept(runner, folder):
    path = folder.file(folder.registry)
    try:
        subprocess.run(["setfattr", "-n", "user.origin", "-v", "exported", path], check=True,
                       stderr=subprocess.PIPE)
        subprocess.run(["setfacl", "-m", "u:65534:rw", path], check=True, stderr=subprocess.PIPE)
    except (OSError, subprocess.CalledProcessError) as error:
        raise Skip(f"no extended attributes or access control lists here ({error})")
    acl = subprocess.run(["getfacl", "-c", path], capture_output=True, text=True).stdout
    runner.run(folder)
    expect_cleaned(folder)
    got = subprocess.run(["getfattr", "--only-values", "-n", "user.origin", path],
                         capture_output=True, text=True).stdout
    expect(got == "exported", f"the extended attribute is now {got!r}")
    now = subprocess.run(["getfacl", "-c", path], capture_output=True, text=True).stdout
    expect(now == acl, f"the access control list is now:\n{now}")


def case_fifo(runner, folder):
    os.remove(folder.file(folder.registry))
    os.mkfifo(folder.file(folder.registry))
    stderr = runner.run(folder, timeout=20)
    expect(UNREADABLE in folder.read_log(), "the log does not say the registry is unavailable")
    expect("not a regular file" in stderr, stderr)


def case_device_link(runner, folder):
    for device in ("/dev/zero", "/dev/urandom"):
        os.remove(folder.file(folder.registry))
        os.symlink(device, folder.file(folder.registry))
        stderr = runner.run(folder, timeout=20)
        expect(UNREADABLE in folder.read_log(), f"{device}: the log does not say so")
        expect("not a regular file" in stderr, stderr)


def case_foreign_lock(runner, folder):
    with open(folder.file(folder.registry), "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        start = time.monotonic()
        stderr = runner.run(folder, timeout=90)
        waited = time.monotonic() - start
    expect(25 <= waited <= 60, f"the run waited {waited:.1f} s")
    expect(UNREADABLE in folder.read_log(), "the log does not say the registry is unavailable")
    expect(f"locked by process {os.getpid()} (" in stderr, "stderr does not name the holder: " + stderr)
    expect(folder.read() == folder.before, "the registry file was changed")


def case_foreign_writer(runner, folder):
    """An editor's save in place, in pieces, while the run reads and writes:
    the writer's file must be what stays, and the log must not claim a
    deletion that was lost."""
    before = folder.registries.before(folder.kind, extra=2000)
    if folder.kind == "text":
        # Whole sections at a time, so that what a reader sees at any moment
        # is a file that parses.
        sections = before.split(b"\r\n\r\n")
        pieces = [b"".join(part + b"\r\n\r\n" for part in sections[i:i + 50] if part)
                  for i in range(0, len(sections), 50)]
    else:
        # A hive read part-written is cut short: it is refused.
        pieces = [before[i:i + 16384] for i in range(0, len(before), 16384)]
    assert b"".join(pieces) == before
    for attempt in range(6):
        folder.write(folder.registry, folder.registries.before(folder.kind))
        if os.path.exists(folder.log):
            os.remove(folder.log)

        def rewrite():
            with open(folder.file(folder.registry), "r+b") as f:
                f.truncate(0)
                for piece in pieces:
                    f.write(piece)
                    f.flush()
                    time.sleep(0.6 / len(pieces))

        writer = threading.Thread(target=rewrite)
        writer.start()
        time.sleep(0.05 * attempt)
        runner.run(folder)
        writer.join()
        expect(folder.read() == before,
               f"try {attempt}: the writer's changes were lost ({len(folder.read())} of "
               f"{len(before)} bytes)")
        log = folder.read_log()
        expect(SUCCESS not in log or NOT_SAVED in log,
               f"try {attempt}: the log reads as a success:\n{log}")


def case_other_temporary_files_kept(runner, folder):
    mine = [".registry.reg.2026.12.09.tmp", ".registry.reg.1.2.3.tmp"]
    for name in mine:
        folder.write(name, b"keep")
    runner.run(folder)
    expect_cleaned(folder)
    for name in mine:
        expect(os.path.exists(folder.file(name)), f"{name} was removed")


def case_log_named_as_registry(runner, folder):
    for log in (folder.registry, "./" + folder.registry, folder.file(folder.registry)):
        folder.write(folder.registry, folder.before)
        stderr = runner.run(folder, log=log)
        expect(folder.cleaned(), f"-l:{log}: the registry file is not the cleaned one")
        expect(stderr == "", f"-l:{log}: stderr: {stderr}")


CASES = [(name[5:], function) for name, function in sorted(globals().items())
         if name.startswith("case_")]
# The cases about the file, not its format, that run on a hive too.
HIVE_CASES = {"read_only_mount", "full_file_system", "read_only_folder_for_user",
              "read_only_file", "hard_link", "symbolic_link", "owner_and_mode_kept",
              "attributes_and_acl_kept", "fifo", "device_link", "foreign_lock",
              "foreign_writer", "log_named_as_registry"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--empty-hive-tool")
    parser.add_argument("--filter", default="")
    args = parser.parse_args()
    empty_hive_tool = args.empty_hive_tool or os.path.join(
        os.path.dirname(os.path.abspath(args.program)), "brindlex_make_empty_hive")
    failures = 0
    runs = [(name, function, "text") for name, function in CASES]
    runs += [("hive_" + name, function, "hive") for name, function in CASES if name in HIVE_CASES]
    with tempfile.TemporaryDirectory(prefix="brindlex-store-") as scratch:
        os.chmod(scratch, 0o755)
        runner = Runner(args.program, scratch)
        registries = Registries(empty_hive_tool, scratch)
        for name, function, kind in runs:
            if args.filter not in name:
                continue
            folder = Folder(scratch, name, kind, registries)
            # Inputs a case copies in from outside the folder.
            shutil.copy(folder.file(folder.registry), folder.logs)
            shutil.copy(folder.file("setup.inf"), folder.logs)
            try:
                function(runner, folder)
                print(f"ok      {name}")
            except Skip as skip:
                print(f"skipped {name}: {skip}")
            except Failure as failure:
                failures += 1
                print(f"FAILED  {name}: {failure}")
            sys.stdout.flush()
    print(f"{len(runs)} cases, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
