"""The harness of kestrel-serve's end-to-end tests: tools/remote_sim.py plays the remote
machine on the pty's master, the program holds the slave as its serial line, and
its keyboard, where a test needs one, is a second pty that the test types on. The
network lines are TCP connections on 127.0.0.1, the simulator at their other end.

Every wait is on something observed (a byte on the line, a line of output, the
program's exit) and has a generous hard limit, so a fault fails instead of hanging."""

import fcntl
import os
import re
import socket
import subprocess
import tempfile
import termios
import threading
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))

import remote_sim
import tapfile

SERVE = os.environ.get("KESTREL_SERVE") or os.path.join(ROOT, "build", "native", "kestrel-serve")
PATIENT = 15.0  # seconds: the limit of any awaited event; passing runs take far less
WAITING = "Waiting command (ESC or q to exit)..."
TAPE_OVER = "tape over: end byte sent"
DEMO = tapfile.build_tape(tapfile.demo_entries())
EXIT_SERVED, EXIT_STOPPED, EXIT_PORT, EXIT_LOST = 0, 1, 2, 3


def small_tape(count):
    return tapfile.build_tape(tapfile.TapEntry.make(3, f"E{n}", bytes([n]) * (n + 1), n, 2 * n)
                              for n in range(count))


def big_entry(size):
    return tapfile.TapEntry.make(3, "BIG", bytes(range(256)) * (size // 256))


def zipped(*members, compression=zipfile.ZIP_DEFLATED):
    """A zip archive, made by Python's own zipfile, of (name, bytes) members."""
    path = tempfile.mktemp(suffix=".zip")
    try:
        with zipfile.ZipFile(path, "w", compression) as archive:
            for name, data in members:
                archive.writestr(name, data)
        with open(path, "rb") as f:
            return f.read()
    finally:
        os.unlink(path)


def bad_checksum(image, at=40):
    flipped = bytearray(image)
    flipped[at] ^= 0x01  # a data byte of the first entry
    return bytes(flipped)


def answer(entry):
    return b"\x00" + entry.header_payload() + entry.data


class Lines(threading.Thread):
    """Collects a pipe's lines as they come, so a test can wait for one."""

    def __init__(self, pipe):
        super().__init__(daemon=True)
        self.pipe = pipe
        self.lines = []
        self.changed = threading.Condition()
        self.start()

    def run(self):
        for raw in self.pipe:
            with self.changed:
                self.lines.append(raw.decode("latin-1").rstrip("\n"))
                self.changed.notify_all()

    def wait_for(self, text, timeout=PATIENT):
        with self.changed:
            if not self.changed.wait_for(lambda: any(text in line for line in self.lines),
                                         timeout):
                raise AssertionError(f"no line with {text!r} within {timeout} s: {self.lines}")

    def text(self):
        self.join(PATIENT)
        return "\n".join(self.lines)


class Screen(threading.Thread):
    """The program's screen, read from the master of the pty that is its terminal:
    the frames it draws (each from ESC [ H to ESC [ J), as plain lines."""

    FRAME = re.compile(rb"\x1b\[H(.*?)\x1b\[J", re.S)
    SEQUENCE = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")

    def __init__(self, master):
        super().__init__(daemon=True)
        self.master = master
        self.output = b""
        self.changed = threading.Condition()
        self.start()

    def run(self):
        while True:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                break  # the program has closed the terminal
            if not chunk:
                break
            with self.changed:
                self.output += chunk
                self.changed.notify_all()

    def frame(self):
        frames = self.FRAME.findall(self.output)
        if not frames:
            return []
        text = self.SEQUENCE.sub(b"", frames[-1]).decode("latin-1").replace("\r", "")
        return text.split("\n")

    def wait_for(self, found, what, timeout=PATIENT):
        """Until the last frame drawn has a line for which `found` is true."""
        with self.changed:
            if not self.changed.wait_for(lambda: any(found(line) for line in self.frame()),
                                         timeout):
                raise AssertionError(f"no {what} on the screen within {timeout} s: "
                                     f"{self.frame()}")

    def wait_mark(self, number):
        mark = re.compile(rf">\s+{number}(\s|$)")
        self.wait_for(lambda line: mark.match(line) is not None, f"mark on entry {number}")

    def wait_text(self, text):
        self.wait_for(lambda line: text in line, repr(text))


class ServeCase(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        self.link = os.path.join(self.folder, "line")
        self.line = remote_sim.LinkedPty(self.link)
        self.line_open = True
        self.addCleanup(self.close_line)
        self.proc = None
        self.keyboard = None

    def close_line(self):
        if self.line_open:
            self.line_open = False
            self.line.close()

    def tape_file(self, image, name="tape.tap"):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(image)
        return path

    def start(self, image, keyboard=False, name="tape.tap", screen=False, args=(), line=None):
        """kestrel-serve on the pty (or the `line` options given); with `keyboard`, its
        standard input (and controlling terminal) is a pty of the test's, typed on
        through self.keyboard; with `screen`, that pty is its standard output too, read
        through self.screen."""
        keyboard = keyboard or screen
        stdin = subprocess.DEVNULL
        if keyboard:
            self.keyboard, self.keyboard_slave = os.openpty()
            self.addCleanup(os.close, self.keyboard)
            self.addCleanup(os.close, self.keyboard_slave)
            stdin = self.keyboard_slave
        self.proc = subprocess.Popen(
            [SERVE, *(line or ["--port", self.link]), *args, self.tape_file(image, name)],
            stdin=stdin, stdout=self.keyboard_slave if screen else subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=keyboard,
            preexec_fn=(lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0)) if keyboard else None)
        self.addCleanup(self.stop_program)
        if screen:
            self.screen = Screen(self.keyboard)
        else:
            self.out = Lines(self.proc.stdout)
        self.err = Lines(self.proc.stderr)
        return self.proc

    def stop_program(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(PATIENT)
        if self.proc.stdout:
            self.proc.stdout.close()
        self.proc.stderr.close()

    def wait_exit(self):
        try:
            return self.proc.wait(PATIENT)
        except subprocess.TimeoutExpired:
            self.fail(f"kestrel-serve still running after {PATIENT} s")

    def remote(self, script, original, fd=None, **options):
        sim = remote_sim.RemoteSimulator(self.line.master if fd is None else fd,
                                         answer_timeout=PATIENT, settle=0.1, max_time=120,
                                         **options)
        self.assertTrue(sim.wait_for_peer(PATIENT), "kestrel-serve did not open the line")
        return sim.run(remote_sim.parse_script(script), original)

    def line_end(self):
        """The remote end of the line, opened by kestrel-serve, for a test that talks
        to it byte by byte."""
        sim = remote_sim.RemoteSimulator(self.line.master)
        self.assertTrue(sim.wait_for_peer(PATIENT), "kestrel-serve did not open the line")
        return sim

    def assert_served(self, report):
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertTrue(report.splitter.ended, report.text())
        self.assertIn("Result: PASS", report.text())


def free_port():
    """A port of 127.0.0.1 that nothing listens on now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]
