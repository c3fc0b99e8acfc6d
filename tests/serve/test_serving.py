"""kestrel-serve serving a tape end to end: the tapes and archives it serves byte for
byte, how it stops (keys, signals, during an entry) and its deck of entries."""

import os
import select
import signal
import termios
import threading
import time
import unittest

import remote_sim
import tapfile
from serve_harness import (DEMO, EXIT_SERVED, EXIT_STOPPED, PATIENT, ServeCase, TAPE_OVER, WAITING,
                           answer, bad_checksum, big_entry, small_tape, zipped)


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


if __name__ == "__main__":
    unittest.main()
