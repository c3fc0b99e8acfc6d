"""kestrel-serve end to end over pseudo-terminals: tools/remote_sim.py plays the remote
machine on the pty's master, the program holds the slave as its serial line, and
its keyboard, where a test needs one, is a second pty that the test types on. The
network lines are TCP connections on 127.0.0.1, the simulator at their other end.

Every wait is on something observed (a byte on the line, a line of output, the
program's exit) and has a generous hard limit, so a fault fails instead of hanging."""

import fcntl
import os
import select
import signal
import socket
import subprocess
import tempfile
import termios
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))

import remote_sim
import tapfile

SERVE = os.environ.get("KESTREL_SERVE") or os.path.join(ROOT, "build", "native", "kestrel-serve")
PATIENT = 15.0  # seconds: the limit of any awaited event; passing runs take far less
WAITING = "Waiting command (ESC to exit)..."
DEMO = tapfile.build_tape(tapfile.demo_entries())
EXIT_SERVED, EXIT_STOPPED, EXIT_PORT, EXIT_LOST = 0, 1, 2, 3


def small_tape(count):
    return tapfile.build_tape(tapfile.TapEntry.make(3, f"E{n}", bytes([n]) * (n + 1), n, 2 * n)
                              for n in range(count))


def big_entry(size):
    return tapfile.TapEntry.make(3, "BIG", bytes(range(256)) * (size // 256))


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

    def start(self, image, keyboard=False, name="tape.tap", line=None):
        """kestrel-serve on the pty (or the `line` options given); with `keyboard`, its
        standard input (and controlling terminal) is a pty of the test's, typed on
        through self.keyboard."""
        stdin = subprocess.DEVNULL
        if keyboard:
            self.keyboard, self.keyboard_slave = os.openpty()
            self.addCleanup(os.close, self.keyboard)
            self.addCleanup(os.close, self.keyboard_slave)
            stdin = self.keyboard_slave
        self.proc = subprocess.Popen(
            [SERVE, *(line or ["--port", self.link]), self.tape_file(image, name)], stdin=stdin,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=keyboard,
            preexec_fn=(lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0)) if keyboard else None)
        self.addCleanup(self.stop_program)
        self.out = Lines(self.proc.stdout)
        self.err = Lines(self.proc.stderr)
        return self.proc

    def stop_program(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(PATIENT)
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
        self.assertEqual(self.out.text(), f"{WAITING}\nSending file HELLO...")

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
        self.assertEqual(self.out.text().split("\n"),
                         [WAITING] + [f"Sending file {name}..." for name in names])

    def test_a_tzx_tape_is_served_as_its_tap_twin(self):
        self.start(tapfile.build_tzx(tapfile.tzx_blocks(DEMO, with_extras=True)), name="demo.tzx")
        report = self.remote("B*", DEMO)
        self.assert_served(report)
        self.assertTrue(report.identical_to_original)
        self.assertEqual(self.wait_exit(), EXIT_SERVED)

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

    def test_list_prints_each_entry_without_opening_a_port(self):
        run = self.run_serve("--list", self.tape_file(DEMO))
        self.assertEqual(run.returncode, 0, run.stderr)
        header, *rows = run.stdout.decode().splitlines()
        self.assertEqual(header.split(), ["#", "type", "name", "length", "param1", "param2"])
        expected = [[str(n), str(e.type), e.display_name(), str(e.length), str(e.param1),
                     str(e.param2)] for n, e in enumerate(tapfile.parse_tape(DEMO), 1)]
        self.assertEqual([row.split() for row in rows], expected)

    def test_a_tape_that_cannot_be_read_or_is_refused_is_reported(self):
        turbo = tapfile.build_tzx(tapfile.tzx_blocks(DEMO, turbo=2))
        for args, status, words in (
                (["--list", os.path.join(self.folder, "none.tap")], 66, b"cannot read"),
                (["--port", self.link, self.folder], 66, b"cannot read"),
                (["--list", self.tape_file(turbo, "turbo.tzx")], 65, b"11h")):
            with self.subTest(args=args):
                run = self.run_serve(*args)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertIn(words, run.stderr)
                self.assertEqual(run.stdout, b"")

    def test_usage_errors(self):
        tape = self.tape_file(DEMO)
        for args in ([], [tape], ["--port"], ["--port", self.link], ["--list", tape, tape],
                     ["--list", "--port", self.link, tape], ["--baud", "9600", tape],
                     ["--port", "tcp:127.0.0.1", tape], ["--port", "tcp:127.0.0.1:0", tape],
                     ["--port", "tcp:127.0.0.1:65536", tape], ["--listen", "::1:5000", tape],
                     ["--listen", "5000", "--port", self.link, tape], ["--listen", tape]):
            with self.subTest(args=args):
                run = self.run_serve(*args)
                self.assertEqual(run.returncode, 64)
                self.assertIn(b"usage: kestrel-serve", run.stderr)


if __name__ == "__main__":
    unittest.main()
