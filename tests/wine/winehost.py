"""Runs Windows programs under Wine for the tests: a private prefix, a
private X display (Xvfb) and the registry commands of Wine's reg.exe.

Two kinds of Wine run the two Windows builds: "win64", the host's 64-bit
Wine, runs the x86_64 program; "win32", 32-bit Wine whose i386 Linux
processes are emulated by qemu-i386 (scripts/setup-wine32.sh prepares it)
and served by the host's wineserver64, runs the shipped i686 program.
wine_run.sh holds the same two recipes for CMake's emulator."""

import hashlib
import os
import shutil
import struct
import subprocess
import tempfile
import time


class Wine:
    """One kind of Wine: its loader, its server, the environment both need
    and the machine type of the programs it runs."""

    def __init__(self, kind, loader, server, env, machine):
        self.kind = kind
        self.loader = loader
        self.server = server
        self.env = env
        self.machine = machine

    def check_usable(self):
        """Raises RuntimeError, saying why, when this Wine cannot run here."""
        try:
            subprocess.run([self.loader, "--version"], env=dict(os.environ, **self.env),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                           timeout=60)
        except (OSError, subprocess.SubprocessError) as error:
            hint = (" (run scripts/setup-wine32.sh as root)" if self.kind == "win32"
                    else " (install wine64)")
            raise RuntimeError(f"{self.kind} Wine does not run here: {error}{hint}") from None


WINE32_ROOT = os.environ.get("BRINDLEX_WINE32_ROOT", "/opt/brindlex-wine32")
WINES = {
    "win64": Wine("win64", "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver", {}, 0x8664),
    "win32": Wine("win32", os.path.join(WINE32_ROOT, "root/usr/lib/wine/wine"),
                  "/usr/lib/wine/wineserver64",
                  {"QEMU_LD_PREFIX": os.path.join(WINE32_ROOT, "root"), "WINEARCH": "win32",
                   "WINESERVER": "/usr/lib/wine/wineserver64"}, 0x14C),
}


def pe_machine(path):
    """The machine field of a PE program's file header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    if data[:2] != b"MZ":
        raise ValueError(f"{path} is not a Windows program")
    at = struct.unpack_from("<I", data, 0x3C)[0]
    if data[at:at + 4] != b"PE\0\0":
        raise ValueError(f"{path} has no PE header")
    return struct.unpack_from("<H", data, at + 4)[0]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class TestedRecord:
    """The record of which program a harness ran: the SHA-256 of the file
    when the harness started, written at the end if the file is unchanged.
    The release check compares the zip's program with these records."""

    def __init__(self, exe, record):
        self.exe = os.path.abspath(exe)
        self.record = record
        self.digest = sha256(self.exe)
        if record and os.path.exists(record):
            os.unlink(record)  # a stale record must not vouch for this run

    def finish(self):
        """Returns the problems found: the program changed during the run."""
        if sha256(self.exe) != self.digest:
            return [f"{self.exe} changed while the tests ran"]
        if self.record:
            os.makedirs(os.path.dirname(os.path.abspath(self.record)), exist_ok=True)
            with open(self.record, "w") as f:
                f.write(f"{self.digest}  {self.exe}\n")
        return []


def add_wine_argument(parser):
    parser.add_argument("--wine-kind", choices=sorted(WINES), default=None,
                        help="the Wine that runs the Windows program: win64 (x86_64 "
                             "programs) or win32 (i686 programs, emulated)")
    parser.add_argument("--tested-record",
                        help="write the SHA-256 of the Windows program here after the run")


class WineHost:
    """A Wine prefix and an X display, both made on first use and shut down
    by close(). Only processes started here are ever stopped."""

    def __init__(self, prefix, kind, managed_windows=True):
        """managed_windows=False makes Wine show windows without waiting for
        a window manager, which the bare display does not have: hiding a
        window then takes no time instead of a two-second timeout, but the
        close command and virtual desktops no longer work."""
        self.prefix = os.path.abspath(prefix)
        self.kind = WINES[kind]
        self.wine = self.kind.loader
        self.managed_windows = managed_windows
        self.xvfb = None
        self.display = None
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", **self.kind.env)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def check_program(self, exe):
        """Raises ValueError when exe is not a program of this Wine's machine."""
        machine = pe_machine(exe)
        if machine != self.kind.machine:
            raise ValueError(f"{exe} is a program for machine {machine:#x}; {self.kind.kind} "
                             f"Wine runs programs for {self.kind.machine:#x}")

    def start(self):
        self.kind.check_usable()
        self._start_display()
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            os.makedirs(self.prefix, exist_ok=True)
            self.run([self.wine, "wineboot", "-i"], timeout=300)
        # Keep one server up for the whole session, so that each program
        # starts quickly (5 s without one for emulated 32-bit Wine, against 1-2 s).
        subprocess.run([self.kind.server, "-p"], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.run([self.wine, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                  "/d", "Y" if self.managed_windows else "N", "/f"])

    def _start_display(self):
        for number in range(90, 190):
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            xvfb = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                    break
                if xvfb.poll() is not None:
                    break
                time.sleep(0.05)
            if xvfb.poll() is None:
                self.xvfb = xvfb
                self.display = f":{number}"
                self.env["DISPLAY"] = self.display
                return
        raise RuntimeError("no free X display for Xvfb")

    def close(self):
        subprocess.run([self.kind.server, "-k"], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)
            self.xvfb = None

    def run(self, argv, cwd=None, timeout=60, check=True):
        """Runs a program to its end. Its output goes to files, not pipes:
        the background processes Wine starts inherit them and keep pipes
        open long after the program has ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(argv, cwd=cwd, env=self.env, timeout=timeout, check=False,
                                    stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        if check and result.returncode != 0:
            raise subprocess.CalledProcessError(result.returncode, argv, result.stdout,
                                                result.stderr)
        return result

    def popen(self, argv, cwd=None):
        return subprocess.Popen(argv, cwd=cwd, env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def windows_path(self, path):
        """The Windows name of a Unix path (Wine's Z: drive)."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    # The registry, through Wine's own reg.exe.
    def reg_clear(self, key):
        """Deletes `key` with all below it; a missing key is no failure. A
        delete that fails while the key is still there is tried once more
        (a failure left unseen would leave one case's keys to the next)."""
        for _ in range(2):
            result = self.run([self.wine, "reg", "delete", key, "/f"], check=False)
            if result.returncode == 0 or not self.reg_exists(key):
                return
        raise RuntimeError(f"reg delete {key} failed: {result.stderr!r}")

    def reg_exists(self, key):
        return self.run([self.wine, "reg", "query", key], check=False).returncode == 0

    def reg_import(self, reg_file):
        result = self.run([self.wine, "reg", "import", self.windows_path(reg_file)], check=False)
        if result.returncode != 0:
            raise RuntimeError(f"reg import {reg_file} failed: {result.stderr!r}")

    def reg_export(self, key):
        """The bytes `reg export` writes for `key`, or None when it is missing."""
        with tempfile.TemporaryDirectory() as scratch:
            out = os.path.join(scratch, "export.reg")
            result = self.run([self.wine, "reg", "export", key, self.windows_path(out), "/y"],
                              check=False)
            if result.returncode != 0 or not os.path.exists(out):
                return None
            with open(out, "rb") as f:
                return f.read()

    # Windows on the X display.
    def find_window(self, name, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            result = subprocess.run(["xdotool", "search", "--name", f"^{name}$"], env=self.env,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            ids = result.stdout.split()
            if ids:
                return ids[-1]
            time.sleep(0.1)
        return None

    def press(self, window, key):
        subprocess.run(["xdotool", "key", "--window", window, key], env=self.env, check=False,
                       stderr=subprocess.DEVNULL)

    def screenshot(self, path, window="root"):
        tool = shutil.which("import")
        if tool is None:
            raise RuntimeError("ImageMagick's import is needed for screenshots")
        subprocess.run([tool, "-window", window, path], env=self.env, check=True)
