"""Windows programs on a private X display, driven by real keystrokes.

The end-to-end tests run KESTREL's Windows programs under Wine inside a Wine virtual
desktop on an X server of their own (Xvfb), find the programs' windows with
xdotool, send them keys and take screenshots. Key presses reach a Wine program
under Xvfb only inside a virtual desktop, so every program is started as

    wine-run.sh explorer /desktop=NAME,800x600 PROGRAM.exe ARGS...

Everything here has a hard time limit, every key pressed is released again, and
the desktop's Wine processes and the X server are ended when the WineDesktop is
closed, whether the test passed or not.

    with WineDesktop(wine_run="tools/wine-run.sh", prefix="build/windows/wineprefix",
                     screenshots="build/windows/e2e-screens") as desk:
        program = desk.start("build/windows/tests/kestrel_ui_probe.exe", "popmsg", ...)
        box = desk.find_window("^Attenzione$")
        desk.focus(box)
        desk.key("Return")
        desk.wait_exit(program)

Needs: Xvfb, xdotool, ImageMagick's import (screenshots only; a missing one never
fails a test), Wine. Python 3 standard library only.
"""

import contextlib
import ctypes
import ctypes.util
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

XDOTOOL_TIMEOUT = 10  # seconds for one xdotool call
XVFB_START_TIMEOUT = 15
SHUTDOWN_TIMEOUT = 20


def _die_with_parent():
    """In a child about to run: end it when the harness dies, even by SIGKILL (a test
    runner's hard timeout), so no X server or Wine program outlives the test."""
    libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def exit_cleanly_on_sigterm():
    """Turns SIGTERM (a test runner giving up) into a normal exit, so that every
    finally block and tearDown still releases keys and ends Wine and Xvfb."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))


class DesktopError(AssertionError):
    """Something on the desktop did not happen in time (a test failure, not an error)."""


def windows_path(path):
    """The Wine path of a file of this machine: Z: is the root of the Unix tree."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_until(condition, timeout, interval=0.05, what="a condition"):
    """Polls condition() until it gives a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DesktopError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def read_line(process, timeout):
    """The next line of a program's standard output, without its line end, waited
    for at most `timeout` s; fails when none comes or the program ends first."""
    line = b""
    deadline = time.monotonic() + timeout
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        ready, _, _ = select.select([process.stdout], [], [], max(0.0, left))
        if not ready:
            raise DesktopError(f"no line from the program within {timeout:g} s")
        byte = os.read(process.stdout.fileno(), 1)
        if not byte:
            raise DesktopError(f"the program ended with no line (so far: {line!r})")
        line += byte
    return line.decode("latin-1").strip()


class Report:
    """A program's report file of "name=value" lines, read while it is written."""

    def __init__(self, path):
        self.path = path
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)

    @property
    def windows_path(self):
        return windows_path(self.path)

    def lines(self):
        try:
            with open(self.path, "rb") as f:
                text = f.read().decode("latin-1")
        except FileNotFoundError:
            return []
        # Only complete lines: the last one may still be being written.
        return [tuple(line.split("=", 1)) for line in text.split("\n")[:-1] if "=" in line]

    def values(self, name):
        return [value for key, value in self.lines() if key == name]

    def value(self, name):
        values = self.values(name)
        if len(values) != 1:
            raise DesktopError(f"report {self.path}: expected one {name!r}, got {values!r}")
        return values[0]

    def bytes(self, name):
        return bytes.fromhex(self.value(name))

    def wait_for(self, name, timeout=30):
        wait_until(lambda: self.values(name), timeout, what=f"{name!r} in {self.path}")
        return self.value(name)


class WineDesktop:
    """An Xvfb display with a Wine virtual desktop on it, for one group of tests."""

    def __init__(self, wine_run, prefix, name="kestrel-e2e", size="800x600",
                 screenshots=None):
        self.wine_run = os.path.abspath(wine_run)
        self.prefix = os.path.abspath(prefix)
        self.name = name
        self.size = size
        self.screenshots = screenshots
        self.display = None
        self._xvfb = None
        self._programs = []
        self._held = []  # keys pressed and not yet released, in order
        for tool in ("Xvfb", "xdotool"):
            if shutil.which(tool) is None:
                raise RuntimeError(f"{tool} is not installed (tools/install-deps.sh)")

    # -- life ---------------------------------------------------------------

    def __enter__(self):
        try:
            self._start_xvfb()
            self._wine("--prepare", timeout=300)
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        """Releases every key, ends the prefix's Wine processes and the X server."""
        try:
            self.release_all()
        finally:
            try:
                self.end_wine()
            finally:
                self._stop_xvfb()

    def _start_xvfb(self):
        # -displayfd: the server picks a free display number and writes it to us.
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True, preexec_fn=_die_with_parent)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + XVFB_START_TIMEOUT
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                ready, _, _ = select.select([read_end], [], [], max(left, 0))
                if not ready:
                    raise DesktopError("Xvfb did not start in time")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise DesktopError("Xvfb ended before it chose a display")
                number += chunk
            self.display = ":" + number.decode().strip()
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)

    def _stop_xvfb(self):
        if self._xvfb is None:
            return
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self._xvfb.pid, signal.SIGTERM)
        try:
            self._xvfb.wait(timeout=SHUTDOWN_TIMEOUT)
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self._xvfb.pid, signal.SIGKILL)
            self._xvfb.wait(timeout=SHUTDOWN_TIMEOUT)
        self._xvfb = None

    def environment(self):
        env = dict(os.environ)
        env.pop("WAYLAND_DISPLAY", None)
        env.update(DISPLAY=self.display, WINEPREFIX=self.prefix)
        return env

    def _wine(self, *args, timeout):
        return subprocess.run([self.wine_run, *args], env=self.environment(),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, check=False)

    # -- programs -----------------------------------------------------------

    def start(self, program, *args, cwd=None):
        """Starts a Windows program (a path on this machine) inside the virtual desktop."""
        command = [self.wine_run, "explorer", f"/desktop={self.name},{self.size}",
                   windows_path(program), *args]
        process = subprocess.Popen(command, env=self.environment(), cwd=cwd,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True,
                                   preexec_fn=_die_with_parent)
        self._programs.append(process)
        return process

    def start_console(self, program, *args, cwd=None, env=None, stdin=subprocess.DEVNULL):
        """Starts a Windows console program on this display, outside the virtual
        desktop (its windows are then the display's own), with its standard output
        and error piped to the test (and its input too, given subprocess.PIPE);
        `env` adds variables to its environment."""
        process = subprocess.Popen([self.wine_run, windows_path(program), *args],
                                   env={**self.environment(), **(env or {})}, cwd=cwd,
                                   stdin=stdin,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True, preexec_fn=_die_with_parent)
        self._programs.append(process)
        return process

    def run_console(self, program, *args, timeout=120):
        """Runs a Windows console program on this display to its end (outside the
        virtual desktop); its completed process, with standard output and error."""
        return subprocess.run([self.wine_run, program, *args], env=self.environment(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                              check=False)

    def ping(self, reader, caption_prefix, seconds):
        """Sends the window whose caption starts with `caption_prefix` WM_NULL after
        WM_NULL for `seconds`, from another program of the prefix (the window reader,
        tests/e2e/window_reader_win32.cpp), and answers what it counted: "pings",
        "longest_ms", "median_ms", "timeouts", and "gone" when the window went away."""
        result = self.run_console(reader, "--ping", caption_prefix, str(seconds), self.name)
        if result.returncode != 0:
            raise DesktopError(f"no window {caption_prefix!r} to ping: {result.stderr!r}")
        return dict(line.split("=", 1) for line in result.stdout.decode().split() if "=" in line)

    def handled_messages(self, reader, caption_prefix):
        """Returns once the window's thread has answered a message sent now: it is back
        at its messages, and has taken in what reached its queue before; fails when it
        does not answer or the window goes away."""
        pinged = self.ping(reader, caption_prefix, 0.05)
        if int(pinged.get("pings", 0)) < 1 or pinged.get("timeouts") != "0" or "gone" in pinged:
            raise DesktopError(f"the window {caption_prefix!r} did not answer: {pinged}")

    def log_text(self, reader, caption_prefix):
        """The text the log control of the window whose caption starts with
        `caption_prefix` shows now, read by the window reader; fails when there is no
        such window or control."""
        result = self.run_console(reader, "--log", caption_prefix, self.name)
        shown = [line[4:] for line in result.stdout.decode().split() if line.startswith("log=")]
        if result.returncode != 0 or not shown:
            raise DesktopError(f"no log in {caption_prefix!r} to read: {result.stderr!r}")
        return bytes.fromhex(shown[0])

    def wait_exit(self, process, timeout=30):
        """Waits for a program started here to end; fails the test when it does not."""
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise DesktopError(f"the program did not end within {timeout:g} s") from None

    def end_wine(self):
        """Ends every Wine process of the prefix (wineserver -k) and their launchers."""
        with contextlib.suppress(subprocess.TimeoutExpired):
            self._wine("--shutdown", timeout=SHUTDOWN_TIMEOUT)
        for process in self._programs:
            if process.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(process.pid, signal.SIGKILL)
                with contextlib.suppress(subprocess.TimeoutExpired):
                    process.wait(timeout=SHUTDOWN_TIMEOUT)
            for stream in (process.stdout, process.stderr):
                if stream is not None:
                    stream.close()
        self._programs.clear()

    # -- windows ------------------------------------------------------------

    def xdotool(self, *args, timeout=XDOTOOL_TIMEOUT, check=True):
        result = subprocess.run(["xdotool", *args], env=self.environment(),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=timeout, check=False)
        if check and result.returncode != 0:
            raise DesktopError(f"xdotool {' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def windows(self, name_pattern):
        """The visible windows whose name matches the regular expression, as ids."""
        output = self.xdotool("search", "--onlyvisible", "--name", name_pattern, check=False)
        return [line for line in output.split() if line.isdigit()]

    def find_window(self, name_pattern, timeout=30):
        """The one visible window whose name matches; fails when none shows in time."""
        return wait_until(lambda: (self.windows(name_pattern) or [None])[-1], timeout,
                          interval=0.1, what=f"a window named {name_pattern!r}")

    def window_name(self, window):
        return self.xdotool("getwindowname", window).rstrip("\n")

    def desktop_window(self, timeout=30):
        return self.find_window("^" + re.escape(self.name) + " - Wine desktop$", timeout)

    def desktop_origin(self):
        """Where the Wine desktop's top left corner is on the X screen."""
        geometry = self.xdotool("getwindowgeometry", self.desktop_window())
        return tuple(int(n) for n in re.search(r"Position: (-?\d+),(-?\d+)", geometry).groups())

    def click(self, x, y, button="1"):
        """Clicks a mouse button at a point of the Wine desktop (in its coordinates)."""
        left, top = self.desktop_origin()
        self.xdotool("mousemove", str(left + x), str(top + y), "click", button)

    def focus(self, window):
        """Gives the window the keyboard focus."""
        self.xdotool("windowfocus", "--sync", window)

    # -- keys ---------------------------------------------------------------

    def key(self, *keys):
        """Presses and releases each key in turn (xdotool key names: Return, Escape...)."""
        for name in keys:
            with self.holding(name):
                time.sleep(0.03)

    @contextlib.contextmanager
    def holding(self, name):
        """Holds a key down for the duration of the with block, then releases it."""
        self._held.append(name)
        try:
            self.xdotool("keydown", name)
            yield
        finally:
            self._release(name)

    def type_text(self, text):
        """Types plain text into the focused window, one key at a time."""
        for character in text:
            self.key(_KEY_NAMES.get(character, character))

    def _release(self, name):
        try:
            self.xdotool("keyup", name, check=False)
        finally:
            self._held.remove(name)

    def release_all(self):
        """Releases every key still held (a test that died mid-press)."""
        for name in reversed(list(self._held)):
            with contextlib.suppress(Exception):
                self._release(name)

    # -- pictures -----------------------------------------------------------

    def capture(self, path):
        """Saves the whole screen as a PNG file at `path`; fails when it cannot."""
        subprocess.run(["import", "-window", "root", path], env=self.environment(),
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=XDOTOOL_TIMEOUT, check=True)

    def screenshot(self, label):
        """Saves the whole screen as LABEL.png under the screenshot folder; the path,
        or None when no picture could be taken (never an error)."""
        if not self.screenshots or self.display is None or shutil.which("import") is None:
            return None
        os.makedirs(self.screenshots, exist_ok=True)
        path = os.path.join(self.screenshots, re.sub(r"[^A-Za-z0-9_.-]", "_", label) + ".png")
        try:
            self.capture(path)
        except (OSError, subprocess.SubprocessError):
            return None
        return path

    @contextlib.contextmanager
    def scene(self, label):
        """A step of a test: on any failure inside it, a screenshot named after it is
        saved first, then the program's Wine processes are ended so the next test
        starts clean; the failure goes on."""
        try:
            yield
        except BaseException:
            self.screenshot(label + "-failed")
            self.release_all()
            self.end_wine()
            raise


# xdotool key names for the characters that are not their own name.
_KEY_NAMES = {".": "period", " ": "space", "-": "minus", "_": "underscore",
              "\\": "backslash", "/": "slash", ":": "colon", ";": "semicolon"}


def desktop_from_environment():
    """A started WineDesktop for a group of tests, configured by the test run's
    environment: KESTREL_WINE_RUN, WINEPREFIX and KESTREL_E2E_SCREENSHOTS. The caller
    closes it (desk.close())."""
    desk = WineDesktop(wine_run=os.environ["KESTREL_WINE_RUN"], prefix=os.environ["WINEPREFIX"],
                       screenshots=os.environ.get("KESTREL_E2E_SCREENSHOTS"))
    desk.__enter__()
    return desk


def temporary_folder(prefix="kestrel-e2e-"):
    """A fresh folder that a test may fill; remove it with shutil.rmtree."""
    return tempfile.mkdtemp(prefix=prefix)


class DesktopTestCase(unittest.TestCase):
    """Tests on one Wine desktop shared by the class (`self.desk`); each test gets a
    fresh folder (`self.folder`)."""

    @classmethod
    def setUpClass(cls):
        cls.desk = desktop_from_environment()

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    def setUp(self):
        self.folder = temporary_folder()
        self.addCleanup(shutil.rmtree, self.folder, True)


class ProbeTestCase(DesktopTestCase):
    """Tests that drive a probe program: the probe's report file is in the test's
    folder (`self.report`); the probe writes "done=STATUS" last."""

    def setUp(self):
        super().setUp()
        self.report = Report(os.path.join(self.folder, "report.txt"))

    def press(self, window_title, *keys):
        """Focuses the window that the probe opened and presses the keys."""
        window = self.desk.find_window(window_title)
        self.desk.focus(window)
        if keys:
            self.desk.key(*keys)

    def finish(self, program):
        """The probe reported success and its process ended."""
        self.assertEqual(self.report.wait_for("done"), "0", self.report.lines())
        self.desk.wait_exit(program)
