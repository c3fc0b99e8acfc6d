"""kestrel-serve end to end over pseudo-terminals: tools/remote_sim.py plays the remote
machine on the pty's master, the program holds the slave as its serial line, and
its keyboard, where a test needs one, is a second pty that the test types on. The
network lines are TCP connections on 127.0.0.1, the simulator at their other end.

Every wait is on something observed (a byte on the line, a line of output, the
program's exit) and has a generous hard limit, so a fault fails instead of hanging."""

import fcntl
import grp
import os
import pwd
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import termios
import threading
import time
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


class Serving(ServeCase):
    def test_the_worked_example_goes_out_byte_for_byte(self):
        tape = tapfile.TapEntry.make(3, "HELLO", b"\x01\x02\x03", 32768, 32768).to_bytes()
        self.start(tape)
        report = self.remote("B*", tape)
        self.assert_served(report)
        wire = b"".join(chunk for _, chunk in report.log.received)
        # Start byte; type, name "HELLO" and five blanks, N = 3, 8000h, 8000h; the
        # data; the end byte for the B that found the tape exhausted.
        self.assertEqual(wire.hex(" "), "00 03 48 45 4c 4c 4f 20 20 20 20 20 03 00 00 80 00 80 "
                                        "01 02 03 09")
        self.assertEqual(self.wait_exit(), EXIT_SERVED)
        self.assertEqual(self.out.text().split("\n"),
                         [f"serving {self.folder}/tape.tap (1 entry) on {self.link} at 115200 baud,"
                          " 8N2", WAITING, "Sending file HELLO...", TAPE_OVER])

    def test_a_tape_of_several_entries_is_rebuilt_identical_and_the_program_ends(self):
        self.start(DEMO)
        report = self.remote("B*", DEMO)
        self.assert_served(report)
        self.assertTrue(report.identical_to_original)
        # The pauses are on the wire (a late read can merge one into its neighbour).
        self.assertGreaterEqual(max(a.pause_before_header() for a in report.entries), 0.005)
        self.assertGreaterEqual(max(a.pause_before_data() for a in report.entries), 0.005)
        self.assertEqual(self.wait_exit(), EXIT_SERVED)
        names = [entry.display_name() for entry in tapfile.parse_tape(DEMO)]
        self.assertEqual(self.out.text().split("\n")[1:],
                         [WAITING] + [f"Sending file {name}..." for name in names] + [TAPE_OVER])

    def test_a_tzx_tape_is_served_as_its_tap_twin(self):
        self.start(tapfile.build_tzx(tapfile.tzx_blocks(DEMO, with_extras=True)), name="demo.tzx")
        report = self.remote("B*", DEMO)
        self.assert_served(report)
        self.assertTrue(report.identical_to_original)
        self.assertEqual(self.wait_exit(), EXIT_SERVED)

    def test_a_tape_in_a_zip_archive_is_served_byte_for_byte(self):
        self.start(zipped(("readme.txt", b"hello"), ("games/Demo.TAP", DEMO)), name="demo.zip")
        report = self.remote("B*", DEMO)
        self.assert_served(report)
        self.assertTrue(report.identical_to_original)
        self.assertEqual(self.wait_exit(), EXIT_SERVED)
        self.assertEqual(self.err.text(), "")

    def test_member_chooses_among_the_tapes_of_an_archive(self):
        other = small_tape(3)
        archive = zipped(("a.tap", DEMO), ("b.tzx", tapfile.build_tzx(tapfile.tzx_blocks(other))))
        self.start(archive, name="two.zip", args=("--member", "b.tzx"))
        report = self.remote("B*", other)
        self.assert_served(report)
        self.assertTrue(report.identical_to_original)
        self.assertEqual(self.wait_exit(), EXIT_SERVED)

    def test_a_faulty_tape_is_served_as_it_stands_after_a_warning(self):
        tape = bad_checksum(DEMO) + DEMO[:-100]
        self.start(tape)
        self.err.wait_for("warning: entry 1 (demo): a checksum is wrong")
        report = self.remote("B B B B B", tape)  # the cut sixth entry is not asked for
        self.assertEqual(len(report.entries), 5, report.text())
        self.assertEqual(bytes(report.entries[0].data), bad_checksum(DEMO)[24:24 + 41])
        self.err.wait_for("warning: entry 6 (democode): cut short; the file ends 100 bytes")

    def test_noise_and_bursts_are_dropped_and_every_b_is_answered_in_order(self):
        tape = small_tape(6)
        self.start(tape)
        report = self.remote("noise:40000 B hex:0D42 XYb XYB BB flood:0.2 B*", tape)
        self.assert_served(report)
        self.assertEqual(len(report.entries), 6)
        self.assertEqual(self.wait_exit(), EXIT_SERVED)

    def test_bytes_that_come_during_a_long_entry_are_taken_in_and_served_after_it(self):
        first, second = big_entry(40960), tapfile.TapEntry.make(3, "AFTER", b"\x42\x09\x00")
        self.start(tapfile.build_tape([first, second]))
        master = self.line.master
        line = self.line_end()
        os.write(master, b"B")
        self.assertEqual(line.receive(1, PATIENT), b"\x00")
        # The remote reads nothing more: the entry cannot be all out (the pty holds far
        # less than 40 KB), yet 64 KB of noise and a B go in, which they only can if
        # the program takes them in while its write waits.
        incoming = remote_sim.noise_bytes(65536) + b"B"
        written, end = 0, time.monotonic() + PATIENT
        while written < len(incoming) and time.monotonic() < end:
            select.select([], [master], [], 0.1)
            try:
                written += os.write(master, incoming[written:written + 4096])
            except BlockingIOError:
                pass
        self.assertEqual(written, len(incoming))
        expected = answer(first) + answer(second)
        self.assertEqual(b"\x00" + line.receive(len(expected) - 1, PATIENT), expected)
        os.write(master, b"B")
        self.assertEqual(line.receive(1, PATIENT), b"\x09")
        self.assertEqual(self.wait_exit(), EXIT_SERVED)


class Stopping(ServeCase):
    """Esc, q, Ctrl-C and SIGTERM end the session with the end byte, exit status 1."""

    def stop_mid_session(self, press, cause):
        self.start(DEMO, keyboard=True)
        self.out.wait_for(WAITING)
        taken = termios.tcgetattr(self.keyboard_slave)[3]
        self.assertFalse(taken & (termios.ICANON | termios.ECHO), "keys not taken one by one")
        report = self.remote("B", DEMO)
        self.assertEqual(len(report.entries), 1, report.text())
        line = remote_sim.RemoteSimulator(self.line.master)
        press(line)
        self.assertEqual(line.receive(1, PATIENT), b"\x09")
        self.assertEqual(self.wait_exit(), EXIT_STOPPED)
        self.assertTrue(line.quiet_for(0.2))
        self.assertIn(f"stopped ({cause})", self.err.text())
        restored = termios.tcgetattr(self.keyboard_slave)[3]
        self.assertEqual(restored & (termios.ICANON | termios.ECHO),
                         termios.ICANON | termios.ECHO, "the terminal was not restored")

    def test_esc(self):
        self.stop_mid_session(lambda line: os.write(self.keyboard, b"\x1b"), "Esc")

    def test_q(self):
        self.stop_mid_session(lambda line: os.write(self.keyboard, b"q"), "q")

    def test_cursor_and_function_keys_do_not_stop(self):
        def press(line):
            os.write(self.keyboard, b"\x1b[A\x1bOQ")  # cursor up, F2 (ends in Q)
            self.assertTrue(line.quiet_for(0.3))
            os.write(self.keyboard, b"q")

        self.stop_mid_session(press, "q")

    def test_ctrl_c(self):
        self.stop_mid_session(lambda line: os.write(self.keyboard, b"\x03"), "SIGINT")

    def test_sigterm(self):
        self.stop_mid_session(lambda line: self.proc.send_signal(signal.SIGTERM), "SIGTERM")

    def test_ctrl_z_gives_the_terminal_back_and_fg_takes_it_again(self):
        def press(line):
            stopped = threading.Thread(target=os.waitpid, args=(self.proc.pid, os.WUNTRACED))
            stopped.start()
            os.write(self.keyboard, b"\x1a")
            stopped.join(PATIENT)
            self.assertFalse(stopped.is_alive(), "Ctrl-Z did not stop the program")
            modes = termios.tcgetattr(self.keyboard_slave)[3]
            self.assertEqual(modes & (termios.ICANON | termios.ECHO),
                             termios.ICANON | termios.ECHO, "the terminal was not given back")
            self.proc.send_signal(signal.SIGCONT)
            # Paced looks at the terminal until the program has taken its keys again.
            end = time.monotonic() + PATIENT
            while termios.tcgetattr(self.keyboard_slave)[3] & termios.ICANON:
                self.assertLess(time.monotonic(), end, "the keys were not taken again")
                select.select([], [], [], 0.02)
            os.write(self.keyboard, b"q")

        self.stop_mid_session(press, "q")


class StoppingDuringAnEntry(ServeCase):
    def test_a_stop_lets_the_entry_finish_then_sends_the_end_byte(self):
        entry = big_entry(16384)  # 1.6 s at line speed
        self.start(entry.to_bytes(), keyboard=True)
        self.out.wait_for(WAITING)
        pressing = threading.Thread(target=lambda: (self.out.wait_for("Sending file BIG..."),
                                                    os.write(self.keyboard, b"\x1b")))
        pressing.start()
        report = self.remote("B wait:500", entry.to_bytes(),
                             read_rate=remote_sim.LINE_BYTES_PER_SECOND)
        pressing.join(PATIENT)
        self.assertEqual([a.kind for a in report.answers], ["entry", "end"], report.text())
        self.assertEqual(bytes(report.entries[0].data), entry.data)
        self.assertEqual(self.wait_exit(), EXIT_STOPPED)
        self.assertEqual(self.out.text().split("\n")[-2:],
                         ["Sending file BIG...", "stopping after this entry"])

    def test_a_stop_while_the_remote_reads_nothing_gives_the_write_up(self):
        self.start(big_entry(65280).to_bytes())
        line = self.line_end()
        os.write(self.line.master, b"B")
        self.assertEqual(line.receive(1, PATIENT), b"\x00")
        self.out.wait_for("Sending file BIG...")
        self.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.wait_exit(), EXIT_STOPPED)
        self.assertIn("stopped (SIGTERM)", self.err.text())


class TheLine(ServeCase):
    def test_a_second_server_on_the_same_line_is_refused_while_the_first_serves(self):
        self.start(DEMO)
        self.out.wait_for(WAITING)
        second = subprocess.run([SERVE, "--port", self.link, self.tape_file(DEMO)],
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=PATIENT)
        self.assertEqual(second.returncode, EXIT_PORT)
        self.assertIn(b"in use by another program", second.stderr)
        self.assertEqual(second.stdout, b"")
        self.assert_served(self.remote("B*", DEMO))
        self.assertEqual(self.wait_exit(), EXIT_SERVED)

    def test_a_line_that_vanishes_while_waiting_ends_the_session(self):
        self.start(DEMO)
        self.out.wait_for(WAITING)
        self.close_line()
        self.assertEqual(self.wait_exit(), EXIT_LOST)
        self.assertIn("was lost", self.err.text())

    def test_a_line_that_vanishes_during_an_entry_ends_the_session(self):
        self.start(big_entry(40960).to_bytes())
        line = self.line_end()
        os.write(self.line.master, b"B")
        self.assertEqual(line.receive(1, PATIENT), b"\x00")
        self.out.wait_for("Sending file BIG...")
        self.close_line()
        self.assertEqual(self.wait_exit(), EXIT_LOST)
        self.assertIn("was lost", self.err.text())

    def test_what_is_not_a_serial_line_is_refused(self):
        regular = self.tape_file(b"", "not-a-line")
        for device, words in (("/dev/null", b"not a serial line"),
                              (regular, b"not a serial line"),
                              (os.path.join(self.folder, "missing"), b"no such device")):
            with self.subTest(device=device):
                run = subprocess.run([SERVE, "--port", device, self.tape_file(DEMO)],
                                     stdin=subprocess.DEVNULL, capture_output=True,
                                     timeout=PATIENT)
                self.assertEqual(run.returncode, EXIT_PORT)
                self.assertIn(words, run.stderr)

    def test_a_device_the_user_may_not_open_is_refused_with_its_reason(self):
        """As root the pty belongs to the group dialout and the program runs as nobody;
        otherwise the pty is the test's own, with every permission taken away."""
        as_root = os.geteuid() == 0
        if as_root:
            os.chown(self.line.slave_name, 0, grp.getgrnam("dialout").gr_gid)
            os.chmod(self.line.slave_name, 0o660)
            os.chmod(self.folder, 0o755)  # the tape and the link, for nobody to reach
            nobody = pwd.getpwnam("nobody")
            dropped = {"user": nobody.pw_uid, "group": nobody.pw_gid, "extra_groups": []}
        else:
            os.chmod(self.line.slave_name, 0)
            dropped = {}
        run = subprocess.run([SERVE, "--port", self.link, self.tape_file(DEMO)],
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=PATIENT,
                             **dropped)
        self.assertEqual(run.returncode, EXIT_PORT, run.stderr)
        self.assertIn(b"cannot open " + self.link.encode() + b": Permission denied", run.stderr)
        if as_root:
            self.assertIn(b"; the group dialout may open it: add yourself to the group dialout: "
                          b"sudo usermod -aG dialout nobody, then log in again\n", run.stderr)
        else:
            self.assertNotIn(b"usermod", run.stderr)  # the test's own group may not open it


class TheDeck(ServeCase):
    """The keys move the mark that chooses the entry the next B gets, on the screen."""

    TAPE = small_tape(4)
    ENTRIES = tapfile.parse_tape(TAPE)

    def serve_one(self, line, index):
        os.write(self.line.master, b"B")
        expected = answer(self.ENTRIES[index])
        self.assertEqual(line.receive(len(expected), PATIENT), expected)

    def press(self, keys):
        os.write(self.keyboard, keys)

    def test_back_one_after_entry_2_serves_entry_2_again_byte_for_byte(self):
        self.start(self.TAPE, screen=True)
        self.screen.wait_text("waiting for a B")
        line = self.line_end()
        self.serve_one(line, 0)
        self.serve_one(line, 1)
        self.screen.wait_mark(3)
        self.press(b"p")
        self.screen.wait_mark(2)
        self.serve_one(line, 1)
        self.screen.wait_mark(3)
        self.press(b"\x1b[D\x1b[D")  # Left twice
        self.screen.wait_mark(1)
        self.press(b"q")
        self.assertEqual(line.receive(1, PATIENT), b"\x09")
        self.assertEqual(self.wait_exit(), EXIT_STOPPED)

    def test_a_jump_by_number_then_past_the_last_entry_the_end_byte_ends_the_tape(self):
        self.start(self.TAPE, screen=True)
        self.screen.wait_text("waiting for a B")
        line = self.line_end()
        self.press(b"9\x7f4")  # 9, Backspace, 4
        self.screen.wait_text("go to 4_")
        self.press(b"\r")
        self.screen.wait_mark(4)
        self.serve_one(line, 3)
        self.screen.wait_mark("end")
        self.press(b"3\rn")  # to 3, then one on: 4
        self.screen.wait_mark(4)
        self.press(b"n")
        self.screen.wait_mark("end")
        os.write(self.line.master, b"B")
        self.assertEqual(line.receive(1, PATIENT), b"\x09")
        self.assertEqual(self.wait_exit(), EXIT_SERVED)
        # The terminal shows its own screen again, then the end line.
        with self.screen.changed:
            self.assertTrue(self.screen.changed.wait_for(
                lambda: TAPE_OVER.encode() in self.screen.output, PATIENT), "no end line")
        self.assertIn(TAPE_OVER.encode(), self.screen.output.rsplit(b"\x1b[?1049l", 1)[1])

    def test_space_holds_a_b_until_space_again(self):
        self.start(self.TAPE, screen=True)
        self.screen.wait_text("waiting for a B")
        line = self.line_end()
        self.press(b" ")
        self.screen.wait_text("paused (Space to go on)")
        os.write(self.line.master, b"B")
        self.screen.wait_text("paused: a B waits")
        self.assertEqual(line.receive_some(0), b"", "the held B was answered")
        self.press(b" ")
        expected = answer(self.ENTRIES[0])
        self.assertEqual(line.receive(len(expected), PATIENT), expected)
        self.screen.wait_mark(2)

    def test_from_starts_with_the_mark_on_that_entry_and_a_bad_entry_is_served_as_it_is(self):
        image = bytearray(self.TAPE)
        image[sum(len(e.to_bytes()) for e in self.ENTRIES[:3]) - 1] ^= 1  # entry 3's checksum
        self.start(bytes(image), args=("--from", "3"))
        line = self.line_end()
        self.out.wait_for(WAITING)
        self.serve_one(line, 2)
        self.out.wait_for("warning: entry 3 E2 has a bad checksum; served as it stands")
        self.serve_one(line, 3)
        os.write(self.line.master, b"B")
        self.assertEqual(line.receive(1, PATIENT), b"\x09")
        self.assertEqual(self.wait_exit(), EXIT_SERVED)


def free_port():
    """A port of 127.0.0.1 that nothing listens on now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class NetworkLines(ServeCase):
    """--listen waits for the machine to connect; --port tcp:HOST:PORT connects to a
    bridge. Either way the wire carries what a serial line would."""

    def serve_listening(self, address, image=DEMO, keyboard=False):
        self.start(image, keyboard=keyboard, line=["--listen", address])
        port = int(address.rpartition(":")[2])
        self.out.wait_for(f"listening on 127.0.0.1:{port} ...")
        return port

    def serve_to_bridge(self, image=DEMO):
        bridge = remote_sim.TcpListener()
        self.addCleanup(bridge.close)
        self.start(image, line=["--port", f"tcp:127.0.0.1:{bridge.port}"])
        fd = bridge.accept(PATIENT)
        self.assertIsNotNone(fd, "kestrel-serve did not connect")
        return bridge.port, fd

    def assert_rebuilt(self, fd):
        report = self.remote("B*", DEMO, fd=fd)
        self.assert_served(report)
        self.assertTrue(report.identical_to_original, report.text())
        self.assertGreaterEqual(max(a.pause_before_header() for a in report.entries), 0.005)
        self.assertGreaterEqual(max(a.pause_before_data() for a in report.entries), 0.005)
        self.assertEqual(self.wait_exit(), EXIT_SERVED, self.err.text())

    def test_a_machine_that_connects_gets_the_tape_byte_for_byte(self):
        port = self.serve_listening(f"127.0.0.1:{free_port()}")
        fd = remote_sim.connect_tcp("127.0.0.1", port, PATIENT)
        self.addCleanup(os.close, fd)
        self.out.wait_for("connected: 127.0.0.1:")
        # One machine a session: the listening ended with the first connection.
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=PATIENT).close()
        self.assert_rebuilt(fd)
        self.assertIn(WAITING, self.out.text())

    def test_a_bridge_gets_the_tape_byte_for_byte(self):
        _, fd = self.serve_to_bridge()
        self.addCleanup(os.close, fd)
        self.assert_rebuilt(fd)

    def test_a_connection_that_drops_during_an_entry_ends_the_session(self):
        port, fd = self.serve_to_bridge(big_entry(65280).to_bytes())
        try:
            line = remote_sim.RemoteSimulator(fd)
            os.write(fd, b"B")
            self.assertEqual(line.receive(1, PATIENT), b"\x00")
            self.out.wait_for("Sending file BIG...")
        finally:
            os.close(fd)
        self.assertEqual(self.wait_exit(), EXIT_LOST)
        self.assertIn(f"the line tcp:127.0.0.1:{port} was lost", self.err.text())

    def test_a_refused_connection_names_the_address(self):
        with socket.socket() as bound:  # bound, never listening: a connection is refused
            bound.bind(("127.0.0.1", 0))
            port = bound.getsockname()[1]
            run = subprocess.run([SERVE, "--port", f"tcp:127.0.0.1:{port}", self.tape_file(DEMO)],
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=PATIENT)
        self.assertEqual(run.returncode, EXIT_PORT)
        self.assertIn(f"cannot connect to 127.0.0.1:{port}: Connection refused".encode(),
                      run.stderr)

    def stop_the_wait(self, press, cause):
        self.serve_listening(str(free_port()), keyboard=True)  # on 127.0.0.1 unless asked
        press()
        self.assertEqual(self.wait_exit(), EXIT_STOPPED)
        self.assertIn(f"stopped ({cause})", self.err.text())

    def test_q_ends_the_wait_for_a_machine(self):
        self.stop_the_wait(lambda: os.write(self.keyboard, b"q"), "q")

    def test_sigterm_ends_the_wait_for_a_machine(self):
        self.stop_the_wait(lambda: self.proc.send_signal(signal.SIGTERM), "SIGTERM")


class CommandLine(ServeCase):
    def run_serve(self, *args):
        return subprocess.run([SERVE, *args], stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=PATIENT)

    def listing(self, image, name="tape.tap", *options):
        run = self.run_serve("--list", *options, self.tape_file(image, name))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stderr, b"")
        return run.stdout.decode("ascii").splitlines()

    def test_list_prints_each_entry_without_opening_a_port(self):
        expected = [[str(n), str(e.type), e.display_name(), str(e.length), str(e.param1),
                     str(e.param2), "00", "FF", "ok"]
                    for n, e in enumerate(tapfile.parse_tape(DEMO), 1)]
        for name, image in (("demo.tap", DEMO), ("demo.zip", zipped(("DEMO.Tap", DEMO)))):
            with self.subTest(name=name):
                header, *rows, total = self.listing(image, name)
                self.assertEqual(header.split(), ["#", "type", "name", "length", "param1",
                                                  "param2", "flags", "check"])
                self.assertEqual([row.split() for row in rows], expected)
                self.assertEqual(total, "3 entries, 7219 data bytes; all ok")

    def test_list_flags_bad_checksums_cut_entries_and_headerless_blocks(self):
        headerless = tapfile.make_block(0xFF, b"z" * 40) + DEMO
        odd_name = tapfile.TapEntry.make(3, b"A\x01\x9b\\Z", b"xy").to_bytes()
        for image, in_rows, at_end in (
                (bad_checksum(DEMO), "   1     0  demo            41      10      41  00 FF  bad",
                 "3 entries, 7219 data bytes; 1 bad"),
                (DEMO[:-100], "        ^ the file ends 100 bytes before the entry does",
                 "3 entries, 7219 data bytes; 1 short, 1 structure problem"),
                (headerless, "        ^ a block of 42 bytes without a header",
                 "not a tape: the first block is not a header"),
                (odd_name, "A\\x01\\x9B\\x5CZ", "1 entry, 2 data bytes; all ok")):
            with self.subTest(at_end=at_end):
                lines = self.listing(image)
                self.assertTrue(any(in_rows in line for line in lines), lines)
                self.assertEqual(lines[-1], at_end)

    def test_a_tape_that_cannot_be_read_or_is_refused_is_reported(self):
        turbo = tapfile.build_tzx(tapfile.tzx_blocks(DEMO, turbo=2))
        archive = zipped(("a.tap", DEMO), ("b.TZX", DEMO))
        empty, blank = self.tape_file(b"", "empty.tap"), self.tape_file(b" \r\n", "blank.tap")
        for args, status, words in (
                (["--list", empty], 65, b"empty.tap: no tape in it (the file is empty)"),
                (["--port", self.link, empty], 65, b"the file is empty"),
                (["--list", blank], 65, b"nothing but blanks"),
                (["--list", self.tape_file(archive[:len(archive) // 2], "cut.zip")], 65,
                 b"cut.zip: "),
                (["--list", self.tape_file(b"PK\x03\x04 not really", "x.bin")], 65, b"x.bin: "),
                (["--list", self.tape_file(zipped(("a.txt", b"x")), "n.zip")], 65,
                 b"no .tap or .tzx file in the archive"),
                (["--list", self.tape_file(archive, "two.zip")], 65,
                 b"several tapes in the archive (a.tap, b.TZX): choose one with --member"),
                (["--list", "--member", "c.tap", self.tape_file(archive, "two.zip")], 65,
                 b"no member c.tap in the archive"),
                (["--list", "--member", "a.tap", self.tape_file(DEMO)], 65, b"not a zip archive"),
                (["--list", os.path.join(self.folder, "none.tap")], 66, b"cannot read"),
                (["--port", self.link, self.folder], 66, b"is a directory, not a tape file"),
                (["--list", self.folder], 66, b"is a directory, not a tape file"),
                (["--list", self.tape_file(turbo, "turbo.tzx")], 65, b"11h")):
            with self.subTest(args=args):
                run = self.run_serve(*args)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertIn(words, run.stderr)
                self.assertEqual(run.stdout, b"")

    def test_version_is_the_projects(self):
        with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
            version = re.search(r"project\(kestrel VERSION (\S+)", f.read()).group(1)
        run = self.run_serve("--version")
        self.assertEqual((run.returncode, run.stdout), (0, f"kestrel-serve {version}\n".encode()))

    def test_from_an_entry_the_tape_does_not_have_is_refused(self):
        run = self.run_serve("--port", self.link, "--from", "9", self.tape_file(small_tape(5)))
        self.assertEqual(run.returncode, 64)
        self.assertIn(b"--from 9: the tape has 5 entries", run.stderr)

    def test_usage_errors(self):
        tape = self.tape_file(DEMO)
        for args in ([], [tape], ["--port"], ["--port", self.link], ["--list", tape, tape],
                     ["--list", "--port", self.link, tape], ["--baud", "9600", tape],
                     ["--port", self.link, "--from", "0", tape], ["--list", "--from", "1", tape],
                     ["--list", tape, "--member"],
                     ["--port", "tcp:127.0.0.1", tape], ["--port", "tcp:127.0.0.1:0", tape],
                     ["--port", "tcp:127.0.0.1:65536", tape], ["--listen", "::1:5000", tape],
                     ["--listen", "5000", "--port", self.link, tape], ["--listen", tape]):
            with self.subTest(args=args):
                run = self.run_serve(*args)
                self.assertEqual(run.returncode, 64)
                self.assertIn(b"usage: kestrel-serve", run.stderr)


class Installing(unittest.TestCase):
    """The install and the .deb of the build tree that holds the program under test."""

    def setUp(self):
        self.build = os.path.dirname(os.path.abspath(SERVE))
        if not os.path.exists(os.path.join(self.build, "CPackConfig.cmake")):
            self.skipTest(f"{SERVE} is not in a build tree")
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name

    def check(self, *command):
        run = subprocess.run(command, capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        return run

    def test_the_install_puts_the_program_and_its_manual_page_in_place(self):
        self.check("cmake", "--install", self.build, "--prefix", self.folder)
        installed = sorted(os.path.relpath(os.path.join(top, name), self.folder)
                           for top, _, names in os.walk(self.folder) for name in names)
        self.assertEqual(installed, ["bin/kestrel-serve", "share/man/man1/kestrel-serve.1"])
        usage = self.check(os.path.join(self.folder, "bin", "kestrel-serve"), "--help").stdout
        page = os.path.join(self.folder, "share", "man", "man1", "kestrel-serve.1")
        self.assertEqual(self.check("groff", "-ww", "-man", "-z", page).stderr, b"")
        with open(page) as f:
            text = f.read().replace("\\-", "-")
        options = set(re.findall(r"--[a-z]+", usage.decode()))
        self.assertGreaterEqual(len(options), 4, usage)
        self.assertEqual(sorted(o for o in options if o not in text), [], "not in the manual")

    @unittest.skipUnless(shutil.which("dpkg-deb"), "no dpkg-deb: not a Debian system")
    def test_the_deb_holds_the_program_and_its_manual_page_and_names_its_libraries(self):
        self.check("cpack", "--config", os.path.join(self.build, "CPackConfig.cmake"),
                   "-B", self.folder)
        deb, = (os.path.join(self.folder, name) for name in os.listdir(self.folder)
                if name.endswith(".deb"))
        files = [line.split()[-1] for line in self.check("dpkg-deb", "-c", deb).stdout.decode()
                 .splitlines()]
        self.assertIn("./usr/bin/kestrel-serve", files)
        self.assertIn("./usr/share/man/man1/kestrel-serve.1.gz", files)  # as policy wants
        depends = self.check("dpkg-deb", "-f", deb, "Depends").stdout.decode()
        self.assertRegex(depends, r"(^|, )libc6 \(>= [0-9.]+\)")


if __name__ == "__main__":
    unittest.main()
