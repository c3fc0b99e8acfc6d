"""KESTREL itself, end to end: kestrel.exe under Wine in a virtual desktop on a
private Xvfb, its COM1 a pseudo-terminal whose other end plays the remote machine,
and the operator's choices made with real keystrokes.

    KESTREL_EXE=build/windows/kestrel.exe KESTREL_WINE_RUN=tools/wine-run.sh \
    WINEPREFIX=build/windows/wineprefix python3 tests/e2e/test_kestrel_session.py
"""

import os
import select
import shutil
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import remote_sim  # noqa: E402
import tapfile  # noqa: E402
import wine_ports  # noqa: E402
from winedesk import (desktop_from_environment, exit_cleanly_on_sigterm, temporary_folder,  # noqa: E402
                      windows_path)

KESTREL = os.environ.get("KESTREL_EXE", "")
READER = os.environ.get("KESTREL_WINDOW_READER", "")
SAMPLE = os.path.join(ROOT, "samples", "demo.tap")
FILE_DIALOG = "^Seleziona file da inviare$"
SESSION = r"^KESTREL 1\.00 .*  \(COM[0-9]+:115200,N,8,2\)$"
BOX = "^Attenzione$"
END_BYTE = b"\x09"
LINE_RATE = remote_sim.LINE_BYTES_PER_SECOND


def big_entry(name, size):
    return tapfile.TapEntry.make(3, name, bytes(i * 7 % 251 for i in range(size)))


class Remote:
    """The remote machine's end of the line, played by hand: send command bytes and
    read what comes back, always with a time limit."""

    def __init__(self, link):
        self.pty = remote_sim.LinkedPty(link)
        self.fd = self.pty.master
        os.set_blocking(self.fd, False)

    def close(self):
        self.pty.close()

    def send(self, data):
        os.write(self.fd, data)

    def read(self, count, timeout=10, rate=None):
        """Exactly `count` bytes, or fails the test. With a rate (bytes a second) the
        line is read no faster than that, as a real line delivers them."""
        data = b""
        started = time.monotonic()
        deadline = started + timeout
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"expected {count} bytes, got {len(data)}: {data[:40]!r}")
            wanted = count - len(data)
            if rate is not None:
                allowed = int((time.monotonic() - started) * rate) + 64 - len(data)
                if allowed <= 0:
                    time.sleep(0.005)  # paces the reading, as the line would
                    continue
                wanted = min(wanted, allowed)
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                try:
                    chunk = os.read(self.fd, wanted)
                except OSError:  # the tool has not opened the port yet, or closed it
                    time.sleep(0.02)
                    continue
                data += chunk
        return data

    def quiet_for(self, seconds):
        """True when nothing arrives for that long."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.fd], [], [], deadline - time.monotonic())
            if ready:
                try:
                    if os.read(self.fd, 1):
                        return False
                except OSError:
                    time.sleep(0.02)
        return True


@unittest.skipUnless(KESTREL, "KESTREL_EXE names kestrel.exe")
class KestrelSession(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        prefix = os.environ["WINEPREFIX"]
        wine_run = os.environ["KESTREL_WINE_RUN"]
        cls.link = os.path.join(wine_ports.link_folder(prefix), "com1")
        cls.link3 = os.path.join(wine_ports.link_folder(prefix), "com3")
        os.makedirs(os.path.dirname(cls.link), exist_ok=True)
        subprocess.run([wine_run, "--prepare"], check=True, timeout=300,
                       stdin=subprocess.DEVNULL)
        wine_ports.map_ports(wine_run, prefix, {"COM1": cls.link, "COM3": cls.link3})
        cls.desk = desktop_from_environment()

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    def setUp(self):
        self.folder = temporary_folder()  # the program's current directory
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.settings = os.path.join(self.folder, "KESTREL.INI")
        self.remote = Remote(self.link)
        self.addCleanup(self.remote.close)
        self.program = None

    def tearDown(self):
        if self.program is not None and self.program.poll() is None:
            self.desk.screenshot(self.id() + "-left-running")
            self.desk.end_wine()

    # -- steps --------------------------------------------------------------

    def start(self, settings=None, tape_argument=None):
        if settings is not None:
            with open(self.settings, "wb") as f:
                f.write(settings)
        args = [windows_path(tape_argument)] if tape_argument else []
        self.program = self.desk.start(KESTREL, *args, cwd=self.folder)

    def write_tape(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def picture(self, label):
        """A screenshot of the session for a person to look at; never fails a test."""
        self.desk.screenshot(label)

    def choose(self, path):
        dialog = self.desk.find_window(FILE_DIALOG, timeout=60)
        self.desk.focus(dialog)
        self.desk.type_text(windows_path(path))
        self.desk.key("Return")

    def session_window(self):
        window = self.desk.find_window(SESSION, timeout=30)
        self.picture(self.id().rsplit(".", 1)[-1])
        return window

    def ended(self, timeout=30):
        self.desk.wait_exit(self.program, timeout)

    def ping(self, seconds):
        """Sends the session window message after message for that long, from another
        program, and answers what kestrel_window_reader counted."""
        result = subprocess.run([self.desk.wine_run, READER, "--ping", "KESTREL 1.00",
                                 str(seconds), self.desk.name],
                                env=self.desk.environment(), capture_output=True,
                                timeout=120, check=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        return dict(line.split("=", 1) for line in result.stdout.decode().split() if "=" in line)

    def settings_text(self):
        with open(self.settings, "rb") as f:
            return f.read()

    # -- tests --------------------------------------------------------------

    def test_serves_the_sample_tape_over_com1_and_stores_the_default_port(self):
        with self.desk.scene("serve-sample"):
            self.start()
            self.choose(SAMPLE)
            window = self.session_window()
            self.assertTrue(self.desk.window_name(window).endswith("  (COM1:115200,N,8,2)"))
            sim = remote_sim.RemoteSimulator(self.remote.fd, answer_timeout=5, first_timeout=20)
            with open(SAMPLE, "rb") as f:
                report = sim.run(remote_sim.parse_script("XYB B*"), f.read())
            self.assertEqual(report.exit_status, 0, report.text())
            self.ended()
        self.assertIn(b"[Impostazioni]", self.settings_text())
        self.assertIn(b"Porta=COM1", self.settings_text())

    def test_worked_example_byte_for_byte_from_a_tape_given_on_the_command_line(self):
        image = (bytes([0x13, 0x00, 0x00, 0x00]) + b"HELLO     " +
                 bytes([0x05, 0x00, 0x0A, 0x00, 0x05, 0x00, 0x5A]) +
                 bytes([0x07, 0x00, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0xEE]))
        tape = self.write_tape("hello.tap", image)
        with self.desk.scene("worked-example"):
            self.start(b"[Impostazioni]\r\nPorta=   \r\n", tape_argument=tape)
            self.session_window()  # no file dialog: the argument is the choice
            self.remote.send(b"B")
            self.assertEqual(self.remote.read(1 + 17 + 5),
                             b"\x00\x00HELLO     \x05\x00\x0a\x00\x05\x00\x01\x02\x03\x04\x05")
            self.remote.send(b"B")
            self.assertEqual(self.remote.read(1), END_BYTE)
            self.ended()
        self.assertTrue(self.remote.quiet_for(0.3))
        self.assertIn(b"Porta=COM1", self.settings_text())  # blank: replaced and stored

    def test_requests_sent_at_once_even_before_the_window_shows_are_all_answered(self):
        first = tapfile.TapEntry.make(0, "PROG", b"10 PRINT")
        empty = tapfile.TapEntry.make(3, "NODATA", b"", 5, 6)
        tape = self.write_tape("two.tap", first.to_bytes() + empty.to_bytes())
        with self.desk.scene("quick-requests"):
            self.start(tape_argument=tape)
            # The port opens while the window initialises; ask at once, three times.
            deadline = time.monotonic() + 60
            while True:
                try:
                    self.remote.send(b"XYBBB")
                    break
                except OSError:
                    self.assertLess(time.monotonic(), deadline, "the port was never opened")
                    time.sleep(0.01)
            expected = (b"\x00" + first.header_payload() + first.data +
                        b"\x00" + empty.header_payload() + END_BYTE)
            self.assertEqual(self.remote.read(len(expected), timeout=30), expected)
            self.ended()
        self.assertEqual(self.desk.windows(SESSION), [])

    def test_an_empty_tape_answers_the_first_request_with_the_end_byte(self):
        tape = self.write_tape("empty.tap", b"")
        with self.desk.scene("empty-tape"):
            self.start(tape_argument=tape)
            self.session_window()
            self.remote.send(b"B")
            self.assertEqual(self.remote.read(1), END_BYTE)
            self.ended()

    def test_a_configured_port_is_used_as_read_and_never_rewritten(self):
        settings = b"[Impostazioni]\r\nPorta=COM3\r\n"
        remote3 = Remote(self.link3)
        self.addCleanup(remote3.close)
        tape = self.write_tape("one.tap", tapfile.TapEntry.make(3, "ONE", b"z").to_bytes())
        with self.desk.scene("com3"):
            self.start(settings, tape_argument=tape)
            window = self.session_window()
            self.assertEqual(self.desk.window_name(window),
                             "KESTREL 1.00 (c) Kestrel tape tools  (COM3:115200,N,8,2)")
            remote3.send(b"BB")
            self.assertEqual(remote3.read(1 + 17 + 1 + 1)[-2:], b"z" + END_BYTE)
            self.ended()
        self.assertEqual(self.settings_text(), settings)

    def test_cancelled_choice_ends_at_once_and_leaves_the_settings_alone(self):
        before = b"[Altro]\r\nChiave=1\r\n"
        with self.desk.scene("cancel-choice"):
            self.start(before)
            dialog = self.desk.find_window(FILE_DIALOG, timeout=60)
            self.desk.focus(dialog)
            self.desk.key("Escape")
            self.ended()
        self.assertEqual(self.settings_text(), before)
        self.assertEqual(self.desk.windows(SESSION), [])

    def test_a_port_that_cannot_be_opened_is_reported_and_no_session_window_shows(self):
        with self.desk.scene("port-failure"):
            self.start(b"[Impostazioni]\r\nPorta=COM9\r\n")
            self.choose(SAMPLE)
            box = self.desk.find_window(BOX, timeout=30)
            self.assertEqual(self.desk.windows(SESSION), [])
            self.desk.focus(box)
            self.desk.key("Return")
            self.ended()
        self.assertEqual(self.settings_text(), b"[Impostazioni]\r\nPorta=COM9\r\n")

    def test_esc_sends_the_end_byte_and_closes_the_session(self):
        with self.desk.scene("esc"):
            self.start()
            self.choose(SAMPLE)
            window = self.session_window()
            self.remote.send(b"B")
            first = self.remote.read(1 + 17)
            self.assertEqual(first[:1], b"\x00")
            self.assertEqual(first[2:12], b"demo      ")
            length = first[12] | first[13] << 8
            self.remote.read(length)
            self.desk.focus(window)
            with self.desk.holding("Escape"):
                self.assertEqual(self.remote.read(1), END_BYTE)
                self.ended()

    @unittest.skipUnless(READER, "KESTREL_WINDOW_READER names the window reader")
    def test_the_window_answers_messages_while_a_long_entry_goes_out_at_line_speed(self):
        entry = big_entry("BIG", 48000)
        tape = self.write_tape("big.tap", entry.to_bytes())
        with self.desk.scene("responsive-send"):
            self.start(tape_argument=tape)
            self.session_window()
            self.remote.send(b"B")
            reading = threading.Thread(target=self.remote.read, args=(1 + 17 + 48000, 60, LINE_RATE))
            reading.start()
            pinged = self.ping(2)  # while the entry is on the wire
            reading.join()
            # More than one message was answered while the entry went out: the window
            # did not wait for the whole send.
            self.assertGreaterEqual(int(pinged["pings"]), 3, pinged)
            self.assertEqual(pinged["timeouts"], "0", pinged)
            self.remote.send(b"B")
            self.assertEqual(self.remote.read(1), END_BYTE)
            self.ended()

    def test_esc_during_a_long_entry_ends_the_session_after_the_whole_entry(self):
        entry = big_entry("BIG", 48000)
        tape = self.write_tape("big.tap", entry.to_bytes() + entry.to_bytes())
        with self.desk.scene("esc-during-send"):
            self.start(tape_argument=tape)
            window = self.session_window()
            self.remote.send(b"B")
            start = self.remote.read(1 + 17 + 1000, rate=LINE_RATE)
            self.desk.focus(window)
            with self.desk.holding("Escape"):
                rest = self.remote.read(47000 + 1, timeout=60, rate=LINE_RATE)
                self.ended()
        self.assertEqual(start + rest, b"\x00" + entry.header_payload() + entry.data + END_BYTE)

    def test_esc_ends_a_session_whose_line_stopped_reading(self):
        entry = big_entry("BIG", 65000)
        tape = self.write_tape("big.tap", entry.to_bytes() * 2)
        with self.desk.scene("stalled-line"):
            self.start(tape_argument=tape)
            window = self.session_window()
            self.remote.send(b"BB")
            self.remote.read(1000)  # then the remote reads no more: the writes block
            self.desk.focus(window)
            with self.desk.holding("Escape"):
                self.ended(timeout=60)

    def test_f4_held_at_the_end_of_the_tape_keeps_the_window_open(self):
        tape = os.path.join(self.folder, "one.tap")
        with open(tape, "wb") as f:
            f.write(tapfile.TapEntry.make(3, "ONE", b"\x01\x02\x03").to_bytes())
        with self.desk.scene("f4"):
            self.start()
            self.choose(tape)
            window = self.session_window()
            self.remote.send(b"B")
            self.assertEqual(self.remote.read(1 + 17 + 3)[-3:], b"\x01\x02\x03")
            self.desk.focus(window)
            with self.desk.holding("F4"):
                time.sleep(0.3)
                self.remote.send(b"B")
                self.assertEqual(self.remote.read(1), END_BYTE)
                time.sleep(1)
                self.assertEqual(self.program.poll(), None)
                self.assertEqual(self.desk.windows(SESSION), [window])
            # The loop has ended; the window waits for the operator, and Esc closes it.
            self.assertTrue(self.remote.quiet_for(0.5))
            self.desk.focus(window)
            self.desk.key("Escape")
            self.ended()


if __name__ == "__main__":
    exit_cleanly_on_sigterm()
    unittest.main(verbosity=2)
