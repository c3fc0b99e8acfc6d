"""KESTREL itself, end to end: kestrel.exe under Wine in a virtual desktop on a
private Xvfb, its COM1 a pseudo-terminal whose other end plays the remote machine,
and the operator's choices made with real keystrokes.

    KESTREL_EXE=build/windows/kestrel.exe KESTREL_WINE_RUN=tools/wine-run.sh \
    KESTREL_WINDOW_READER=build/windows/tests/kestrel_window_reader.exe \
    WINEPREFIX=build/windows/wineprefix PYTHONPATH=tools python3 tests/e2e/test_kestrel_session.py
"""

import os
import threading
import unittest

import remote_sim
import tapfile
import wine_ports
from winedesk import DesktopTestCase, exit_cleanly_on_sigterm, windows_path

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KESTREL = os.environ.get("KESTREL_EXE", "")
READER = os.environ.get("KESTREL_WINDOW_READER", "")
SAMPLE = os.path.join(ROOT, "samples", "demo.tap")
FILE_DIALOG = "^Seleziona file da inviare$"
SESSION = r"^KESTREL 1\.00 .*  \(COM[0-9]+:115200,N,8,2\)$"
SESSION_CAPTION = "KESTREL 1.00"  # how the window reader finds the session window
BOX = "^Attenzione$"
END_BYTE = b"\x09"
LINE_RATE = remote_sim.LINE_BYTES_PER_SECOND
SILENCE = 10  # seconds the line may stay silent before a step fails


def big_entry(name, size):
    return tapfile.TapEntry.make(3, name, bytes(i * 7 % 251 for i in range(size)))


@unittest.skipUnless(KESTREL, "KESTREL_EXE names kestrel.exe")
class KestrelSession(DesktopTestCase):
    """Each test has the remote machine's end of COM1 (`self.remote`): the simulator of
    tools/remote_sim.py on a pseudo-terminal linked where the prefix maps the port."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()  # the desktop, in a prepared prefix
        prefix = os.environ["WINEPREFIX"]
        cls.link = os.path.join(wine_ports.link_folder(prefix), "com1")
        cls.link3 = os.path.join(wine_ports.link_folder(prefix), "com3")
        os.makedirs(os.path.dirname(cls.link), exist_ok=True)
        try:
            wine_ports.map_ports(cls.desk.wine_run, prefix, {"COM1": cls.link, "COM3": cls.link3})
        except BaseException:
            cls.desk.close()
            raise

    def setUp(self):
        super().setUp()  # self.folder: the program's current directory
        self.settings = os.path.join(self.folder, "KESTREL.INI")
        self.remote = self.line(self.link)
        self.program = None

    def tearDown(self):
        if self.program is not None and self.program.poll() is None:
            self.desk.screenshot(self.id() + "-left-running")
            self.desk.end_wine()

    # -- steps --------------------------------------------------------------

    def line(self, link):
        """The remote end of the port linked at `link`, for this test."""
        pty = remote_sim.LinkedPty(link)
        self.addCleanup(pty.close)
        return remote_sim.RemoteSimulator(pty.master, answer_timeout=SILENCE)

    def at_line_speed(self):
        """The remote end of COM1 reading no faster than 115200 baud 8N2 carries bytes:
        the rest waits in the line and the tool's writes block, as on a real line."""
        return remote_sim.RemoteSimulator(self.remote.fd, answer_timeout=SILENCE,
                                          read_rate=LINE_RATE)

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
            sim = remote_sim.RemoteSimulator(self.remote.fd, answer_timeout=5,
                                             first_timeout=20)
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
            self.assertEqual(self.remote.receive(1 + 17 + 5, SILENCE),
                             b"\x00\x00HELLO     \x05\x00\x0a\x00\x05\x00\x01\x02\x03\x04\x05")
            self.remote.send(b"B")
            self.assertEqual(self.remote.receive(1, SILENCE), END_BYTE)
            self.ended()
        self.assertTrue(self.remote.quiet_for(0.3))
        self.assertIn(b"Porta=COM1", self.settings_text())  # blank: replaced and stored

    def test_requests_sent_at_once_even_before_the_window_shows_are_all_answered(self):
        first = tapfile.TapEntry.make(0, "PROG", b"10 PRINT")
        empty = tapfile.TapEntry.make(3, "NODATA", b"", 5, 6)
        tape = self.write_tape("two.tap", first.to_bytes() + empty.to_bytes())
        with self.desk.scene("quick-requests"):
            self.start(tape_argument=tape)
            # The port opens while the window initialises; ask at once, three times (the
            # bytes wait in the line until the tool opens it).
            self.remote.send(b"XYBBB")
            expected = (b"\x00" + first.header_payload() + first.data +
                        b"\x00" + empty.header_payload() + END_BYTE)
            self.assertEqual(self.remote.receive(len(expected), 30), expected)
            self.ended()
        self.assertEqual(self.desk.windows(SESSION), [])

    def test_an_empty_tape_answers_the_first_request_with_the_end_byte(self):
        tape = self.write_tape("empty.tap", b"")
        with self.desk.scene("empty-tape"):
            self.start(tape_argument=tape)
            self.session_window()
            self.remote.send(b"B")
            self.assertEqual(self.remote.receive(1, SILENCE), END_BYTE)
            self.ended()

    def test_a_configured_port_is_used_as_read_and_never_rewritten(self):
        settings = b"[Impostazioni]\r\nPorta=COM3\r\n"
        remote3 = self.line(self.link3)
        tape = self.write_tape("one.tap", tapfile.TapEntry.make(3, "ONE", b"z").to_bytes())
        with self.desk.scene("com3"):
            self.start(settings, tape_argument=tape)
            window = self.session_window()
            self.assertEqual(self.desk.window_name(window),
                             "KESTREL 1.00 (c) Kestrel tape tools  (COM3:115200,N,8,2)")
            remote3.send(b"BB")
            self.assertEqual(remote3.receive(1 + 17 + 1 + 1, SILENCE)[-2:], b"z" + END_BYTE)
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

    def test_a_tzx_on_the_command_line_serves_its_tap_twin_and_a_turbo_block_is_refused(self):
        with open(SAMPLE, "rb") as f:
            tap = f.read()
        twin = tapfile.build_tzx(tapfile.tzx_blocks(tap, with_extras=True))
        with self.desk.scene("tzx"):
            self.start(tape_argument=self.write_tape("demo.tzx", twin))
            self.session_window()
            sim = remote_sim.RemoteSimulator(self.remote.fd, answer_timeout=5, first_timeout=20)
            report = sim.run(remote_sim.parse_script("B*"), tap)
            self.assertEqual(report.exit_status, 0, report.text())
            self.ended()
        turbo = tapfile.tzx_blocks(tap, turbo=2)
        offset = tapfile.tzx_offsets(turbo)[1]
        os.remove(self.settings)  # no port set: COM1 is written back before the box
        with self.desk.scene("tzx-turbo"):
            self.start(tape_argument=self.write_tape("turbo.tzx", tapfile.build_tzx(turbo)))
            box = self.desk.find_window(BOX, timeout=30)
            self.assertEqual(self.settings_text(), b"[Impostazioni]\r\nPorta=COM1\r\n")
            if READER:
                shown = self.desk.run_console(READER, "Attenzione", "30",
                                             self.desk.name).stdout.decode().split()
                texts = [bytes.fromhex(line[5:]) for line in shown if line.startswith("text=")]
                expected = f"11h (turbo speed data) at offset {offset}".encode()
                self.assertTrue(any(expected in text for text in texts), texts)
            self.assertEqual(self.desk.windows(SESSION), [])
            self.desk.focus(box)
            self.desk.key("Return")
            self.ended()

    def test_esc_sends_the_end_byte_and_closes_the_session(self):
        with self.desk.scene("esc"):
            self.start()
            self.choose(SAMPLE)
            window = self.session_window()
            self.remote.send(b"B")
            first = self.remote.receive(1 + 17, SILENCE)
            self.assertEqual(first[:1], b"\x00")
            self.assertEqual(first[2:12], b"demo      ")
            length = first[12] | first[13] << 8
            self.remote.receive(length, SILENCE)
            self.desk.focus(window)
            with self.desk.holding("Escape"):
                self.assertEqual(self.remote.receive(1, SILENCE), END_BYTE)
                self.ended()

    @unittest.skipUnless(READER, "KESTREL_WINDOW_READER names the window reader")
    def test_the_window_answers_messages_while_a_long_entry_goes_out_at_line_speed(self):
        entry = big_entry("BIG", 48000)
        tape = self.write_tape("big.tap", entry.to_bytes())
        with self.desk.scene("responsive-send"):
            self.start(tape_argument=tape)
            self.session_window()
            remote = self.at_line_speed()
            remote.send(b"B")
            received = []
            reading = threading.Thread(
                target=lambda: received.append(remote.receive(1 + 17 + 48000, 60)))
            reading.start()
            pinged = self.desk.ping(READER, SESSION_CAPTION, 2)  # while the entry is on the wire
            reading.join()
            self.assertEqual(received, [b"\x00" + entry.header_payload() + entry.data])
            # More than one message was answered while the entry went out: the window
            # did not wait for the whole send.
            self.assertGreaterEqual(int(pinged["pings"]), 3, pinged)
            self.assertEqual(pinged["timeouts"], "0", pinged)
            remote.send(b"B")
            self.assertEqual(remote.receive(1, SILENCE), END_BYTE)
            self.ended()

    def test_esc_during_a_long_entry_ends_the_session_after_the_whole_entry(self):
        entry = big_entry("BIG", 48000)
        tape = self.write_tape("big.tap", entry.to_bytes() + entry.to_bytes())
        with self.desk.scene("esc-during-send"):
            self.start(tape_argument=tape)
            window = self.session_window()
            remote = self.at_line_speed()
            remote.send(b"B")
            start = remote.receive(1 + 17 + 1000, SILENCE)
            self.desk.focus(window)
            with self.desk.holding("Escape"):
                rest = remote.receive(47000 + 1, 60)
                self.ended()
        self.assertEqual(start + rest, b"\x00" + entry.header_payload() + entry.data + END_BYTE)

    def test_esc_ends_a_session_whose_line_stopped_reading(self):
        entry = big_entry("BIG", 65000)
        tape = self.write_tape("big.tap", entry.to_bytes() * 2)
        with self.desk.scene("stalled-line"):
            self.start(tape_argument=tape)
            window = self.session_window()
            self.remote.send(b"BB")
            self.remote.receive(1000, SILENCE)  # then the remote reads no more: the writes block
            self.desk.focus(window)
            with self.desk.holding("Escape"):
                self.ended(timeout=60)

    @unittest.skipUnless(READER, "KESTREL_WINDOW_READER names the window reader")
    def test_a_burst_served_with_f4_held_shows_both_entries_in_the_open_window(self):
        tape = os.path.join(self.folder, "two.tap")
        with open(tape, "wb") as f:
            f.write(tapfile.TapEntry.make(3, "ONE", b"\x01").to_bytes() +
                    tapfile.TapEntry.make(3, "TWO", b"\x02").to_bytes())
        with self.desk.scene("f4-burst"):
            self.start()
            self.choose(tape)
            window = self.session_window()
            self.desk.focus(window)
            with self.desk.holding("F4"):
                self.desk.handled_messages(READER, SESSION_CAPTION)  # F4 is down for it
                self.remote.send(b"BBB")
                self.assertEqual(self.remote.receive(2 * (1 + 17 + 1) + 1, SILENCE)[-1:],
                                 END_BYTE)
                self.desk.handled_messages(READER, SESSION_CAPTION)  # the loop has returned
                self.assertEqual(self.desk.windows(SESSION), [window])
                self.assertEqual(self.desk.log_text(READER, SESSION_CAPTION),
                                 b"Waiting command (ESC to exit)...\r\n"
                                 b"Sending file ONE...\r\nSending file TWO...\r\n")
            self.desk.focus(window)
            self.desk.key("Escape")
            self.ended()

    @unittest.skipUnless(READER, "KESTREL_WINDOW_READER names the window reader")
    def test_f4_held_at_the_end_of_the_tape_keeps_the_window_open(self):
        tape = os.path.join(self.folder, "one.tap")
        with open(tape, "wb") as f:
            f.write(tapfile.TapEntry.make(3, "ONE", b"\x01\x02\x03").to_bytes())
        with self.desk.scene("f4"):
            self.start()
            self.choose(tape)
            window = self.session_window()
            self.remote.send(b"B")
            self.assertEqual(self.remote.receive(1 + 17 + 3, SILENCE)[-3:], b"\x01\x02\x03")
            self.desk.focus(window)
            with self.desk.holding("F4"):
                # The session has taken in what came before a message sent now: F4 down.
                self.desk.handled_messages(READER, SESSION_CAPTION)
                self.remote.send(b"B")
                self.assertEqual(self.remote.receive(1, SILENCE), END_BYTE)
                # The end of the tape asked the window to close right after the end
                # byte; the window has answered a message since, so it decided.
                self.desk.handled_messages(READER, SESSION_CAPTION)
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
