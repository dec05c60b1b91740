"""Runs Windows programs under Wine for the tests: a private prefix, a
private X display (Xvfb) and the registry commands of Wine's reg.exe."""

import os
import shutil
import subprocess
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


class WineHost:
    """A Wine prefix and an X display, both made on first use and shut down
    by close(). Only processes started here are ever stopped."""

    def __init__(self, prefix, managed_windows=True):
        """managed_windows=False makes Wine show windows without waiting for
        a window manager, which the bare display does not have: hiding a
        window then takes no time instead of a two-second timeout, but the
        close command and virtual desktops no longer work."""
        self.prefix = os.path.abspath(prefix)
        self.managed_windows = managed_windows
        self.xvfb = None
        self.display = None
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all")

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        self._start_display()
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            os.makedirs(self.prefix, exist_ok=True)
            self.run([WINE, "wineboot", "-i"], timeout=120)
        # Keep one server up for the whole session, so that each program
        # starts quickly.
        subprocess.run([WINESERVER, "-p"], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.run([WINE, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
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
        subprocess.run([WINESERVER, "-k"], env=self.env, check=False,
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
        self.run([WINE, "reg", "delete", key, "/f"], check=False)

    def reg_import(self, reg_file):
        result = self.run([WINE, "reg", "import", self.windows_path(reg_file)], check=False)
        if result.returncode != 0:
            raise RuntimeError(f"reg import {reg_file} failed: {result.stderr!r}")

    def reg_export(self, key):
        """The bytes `reg export` writes for `key`, or None when it is missing."""
        with tempfile.TemporaryDirectory() as scratch:
            out = os.path.join(scratch, "export.reg")
            result = self.run([WINE, "reg", "export", key, self.windows_path(out), "/y"],
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
