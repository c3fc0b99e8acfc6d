"""Tests of tools/remote_sim.py: the script, the stream splitting, and whole runs over
a pty against a fake tool that serves a tape with the real protocol and timing, or
breaks it on purpose. Bounds on times are generous: a busy machine must not fail them.

    PYTHONPATH=tools python3 -m unittest discover -s tests/tools -p "test_*.py"
"""

import contextlib
import io
import json
import os
import select
import tempfile
import threading
import time
import tty
import unittest

import remote_sim
import tapfile
from fake_tool import FakeTool
from remote_sim import Deaf, Noise, Send, UntilEnd, Wait, parse_script

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

DEMO = tapfile.build_tape(tapfile.demo_entries())
TWO = tapfile.build_tape([
    tapfile.TapEntry.make(3, "HELLO", b"\x01\x02", 32768, 32768),
    tapfile.TapEntry.make(3, "empty", b""),
])
# Well above anything the fake tool needs, so passing runs never time out.
PATIENT = 5.0
# The fake tool's pauses where a test checks the measured ones: long enough that a
# busy machine's scheduling delays cannot hide them.
SLOW_PAUSE = 0.05
# Short, for the runs that are meant to time out.
IMPATIENT = 0.3


class Script(unittest.TestCase):
    def test_tokens_become_steps(self):
        self.assertEqual(parse_script("XYB, B hex:0d42 wait:50 20ms B*"), [
            Send(b"XYB"), Send(b"B"), Send(b"\r\x42"), Wait(0.05), Wait(0.02), UntilEnd()])

    def test_a_count_repeats_a_token(self):
        self.assertEqual(parse_script("3*B 2*wait:1"), [Send(b"B")] * 3 + [Wait(0.001)] * 2)

    def test_noise_flood_and_deaf_tokens(self):
        rate = remote_sim.FLOOD_BYTES_PER_SECOND
        steps = parse_script("noise:40000 flood:0.5 deaf:2")
        self.assertEqual(steps, [Noise(40000), Noise(round(rate * 0.5), rate), Deaf(2.0)])
        self.assertEqual(remote_sim.describe_steps(steps), "noise:40000 flood:0.5 deaf:2")
        self.assertEqual(set(remote_sim.noise_bytes(70000)), set(range(256)) - {0x42})

    def test_bad_scripts_are_refused(self):
        for text in ("", "  ,", "hex:zz", "hex:", "wait:soon", "wait:-5", "999999*B",
                     "noise:0", "noise:1.5", "flood:x", "deaf:-1"):
            with self.subTest(text=text), self.assertRaises(remote_sim.ScriptError):
                parse_script(text)


def answer_bytes(entry: tapfile.TapEntry) -> bytes:
    return b"\x00" + entry.header_payload() + entry.data


class Splitting(unittest.TestCase):
    """The answers are cut by the header's length, however the bytes arrive."""

    ENTRY = tapfile.TapEntry.make(3, "tricky", b"\x00\x09B\x00\x09B" * 3, 1, 2)

    def split(self, chunks, requests=1):
        splitter = remote_sim.StreamSplitter()
        for _ in range(requests):
            splitter.request(0.0)
        for number, chunk in enumerate(chunks, 1):
            splitter.feed(number / 1000, chunk)
        return splitter

    def test_data_that_looks_like_protocol_bytes_is_data(self):
        stream = answer_bytes(self.ENTRY) + b"\x09"
        for size in (1, 2, 7, 18, len(stream)):
            with self.subTest(chunk_size=size):
                chunks = [stream[i:i + size] for i in range(0, len(stream), size)]
                splitter = self.split(chunks, requests=2)
                entry, end = splitter.answers
                self.assertEqual((entry.kind, end.kind), ("entry", "end"))
                self.assertEqual(bytes(entry.data), self.ENTRY.data)
                self.assertEqual(entry.wire_entry().header, self.ENTRY.header_payload())
                self.assertTrue(splitter.ended)
                self.assertIsNone(splitter.fault)

    def test_arrival_times_give_the_pauses(self):
        stream = answer_bytes(self.ENTRY)
        splitter = self.split([stream[:1], stream[1:10], stream[10:18], stream[18:]])
        (entry,) = splitter.answers
        self.assertAlmostEqual(entry.latency(), 0.001)
        self.assertAlmostEqual(entry.pause_before_header(), 0.001)
        self.assertAlmostEqual(entry.pause_before_data(), 0.001)

    def test_bytes_of_one_chunk_can_each_carry_their_own_time(self):
        splitter = remote_sim.StreamSplitter()
        splitter.request(0.0)
        stream = answer_bytes(self.ENTRY)
        splitter.feed(0.001, stream[:1])
        splitter.feed(0.011, stream[1:], 0.0001)  # header and data back to back
        (entry,) = splitter.answers
        self.assertAlmostEqual(entry.header_last_time, 0.011 + 16 * 0.0001)
        self.assertAlmostEqual(entry.pause_before_data(), 0.0001)
        self.assertAlmostEqual(entry.data_last_time, 0.011 + (len(stream) - 2) * 0.0001)

    def test_an_empty_entry_is_complete_after_its_header(self):
        empty = tapfile.TapEntry.make(3, "empty", b"")
        splitter = self.split([answer_bytes(empty)])
        self.assertTrue(splitter.answers[0].complete)
        self.assertIsNone(splitter.answers[0].pause_before_data())
        self.assertFalse(splitter.waiting)

    def test_protocol_faults_are_named(self):
        cases = {
            "began with 41h": ([b"A"], 1),
            "no \"B\" waiting": ([b"\x00"], 0),
            "after the end byte": ([b"\x09", b"\x00"], 2),
        }
        for words, (chunks, requests) in cases.items():
            with self.subTest(words):
                splitter = self.split(chunks, requests)
                self.assertIn(words, splitter.fault)
                self.assertFalse(splitter.waiting)

    def test_an_end_byte_nobody_asked_for_ends_the_session(self):
        splitter = self.split([b"\x09"], requests=0)
        self.assertTrue(splitter.ended)
        self.assertIsNone(splitter.answers[0].request_time)
        self.assertIsNone(splitter.fault)


class Comparing(unittest.TestCase):
    def answers_for(self, tape: bytes, end=True):
        splitter = remote_sim.StreamSplitter()
        entries = tapfile.parse_tape(tape)
        for entry in entries:
            splitter.request(0.0)
            splitter.feed(0.0, answer_bytes(entry))
        if end:
            splitter.request(0.0)
            splitter.feed(0.0, b"\x09")
        return splitter.answers

    def test_each_kind_of_difference_is_reported(self):
        expected = tapfile.wire_entries(TWO)
        renamed = tapfile.build_tape([tapfile.TapEntry.make(3, "HELLX", b"\x01\x02", 32768,
                                                            32768),
                                      tapfile.TapEntry.make(3, "empty", b"")])
        cases = {
            "entry 1: name": renamed,
            "entry 1: data differ from byte 1": tapfile.build_tape([
                tapfile.TapEntry.make(3, "HELLO", b"\x01\x03", 32768, 32768),
                tapfile.TapEntry.make(3, "empty", b"")]),
            "end byte after 1 entries": tapfile.TapEntry.make(3, "HELLO", b"\x01\x02", 32768,
                                                              32768).to_bytes(),
            "the end byte was due": TWO + HELLO_TAPE,
        }
        for words, served in cases.items():
            with self.subTest(words):
                differences, _ = remote_sim.compare_with_original(self.answers_for(served),
                                                                  expected)
                self.assertTrue(any(words in d for d in differences), differences)

    def test_the_same_tape_has_no_difference(self):
        differences, reached_end = remote_sim.compare_with_original(
            self.answers_for(DEMO), tapfile.wire_entries(DEMO))
        self.assertEqual(differences, [])
        self.assertTrue(reached_end)


HELLO_TAPE = tapfile.TapEntry.make(0, "HELLO", b"\x01\x02\x03\x04\x05", 10, 5).to_bytes()


class PtyCase(unittest.TestCase):
    """A pty pair in raw mode; the fake tool holds the slave, the simulator the master."""

    def setUp(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        tty.setraw(self.slave)
        self.tool = None
        self.addCleanup(self._close)

    def _close(self):
        if self.tool is not None:
            self.tool.stop()
            self.assertFalse(self.tool.is_alive(), "the fake tool did not stop")
        if self.tool is None or not self.tool.closed:
            os.close(self.slave)
        os.close(self.master)

    def serve(self, tape=DEMO, **misbehaviour):
        self.tool = FakeTool(self.slave, tape, **misbehaviour)
        self.tool.start()

    def run_script(self, script, original=DEMO, timeout=PATIENT, max_time=60, **options):
        self.sim = sim = remote_sim.RemoteSimulator(self.master, answer_timeout=timeout,
                                                    settle=0.1, max_time=max_time, **options)
        started = time.monotonic()
        report = sim.run(parse_script(script), original)
        self.elapsed = time.monotonic() - started
        return report


class ServingWell(PtyCase):
    def test_a_whole_tape_is_served_rebuilt_and_timed(self):
        self.serve(pause=SLOW_PAUSE)
        report = self.run_script("B*")
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertEqual(report.rebuilt, DEMO)
        self.assertTrue(report.identical_to_original)
        self.assertEqual([a.kind for a in report.answers], ["entry"] * 3 + ["end"])
        for answer in report.entries:
            self.assertGreaterEqual(answer.latency(), 0)
        # A late read can merge a pause into its neighbour; one clean entry is enough.
        self.assertGreaterEqual(max(a.pause_before_header() for a in report.entries),
                                SLOW_PAUSE / 2)
        self.assertGreaterEqual(max(a.pause_before_data() for a in report.entries),
                                SLOW_PAUSE / 2)
        rate = report.summary()["throughput"]
        self.assertEqual(rate["data_bytes"], 41 + 6912 + 266)
        self.assertEqual(rate["answer_bytes"], 3 * 18 + rate["data_bytes"])
        self.assertGreater(rate["bytes_per_s_overall"], 0)
        self.assertIn("Result: PASS", report.text())

    def test_other_bytes_go_out_but_only_b_asks(self):
        self.serve(TWO)
        report = self.run_script("XYb hex:00 XYB B*", TWO)
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertEqual(bytes(self.tool.received), b"XYb\x00XYBBB")
        self.assertEqual(len(report.entries), 2)

    def test_two_quick_b_get_two_answers_and_the_second_is_queued(self):
        self.serve()
        report = self.run_script("BB")
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        first, second = report.answers
        self.assertTrue(second.queued)
        self.assertFalse(first.queued)
        self.assertGreaterEqual(second.start_time, first.last_time)
        self.assertEqual(report.summary()["latency"]["count"], 1)

    def test_asking_for_part_of_the_tape_is_a_partial_pass(self):
        self.serve()
        report = self.run_script("B wait:20 B")
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertEqual(len(report.entries), 2)
        self.assertTrue(any("partial check" in note for note in report.log.notes))

    def test_nothing_is_sent_after_the_end_byte(self):
        self.serve(TWO, close_after_end=False)
        report = self.run_script("B* B", TWO)
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertEqual(bytes(self.tool.received), b"BBB")
        self.assertTrue(any("not sent: B" in note for note in report.log.notes))

    def test_an_empty_tape_answers_the_end_byte_at_once(self):
        self.serve(b"")
        report = self.run_script("B*", b"")
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertEqual(report.rebuilt, b"")

    def test_a_tape_with_unusual_checksums_passes_but_is_not_identical(self):
        odd = bytearray(TWO)
        odd[20] ^= 0xFF  # the first header checksum: never sent
        self.serve(bytes(odd))
        report = self.run_script("B*", bytes(odd))
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertFalse(report.identical_to_original)
        self.assertEqual(report.rebuilt, TWO)

    def test_the_json_report_carries_the_measures(self):
        self.serve(TWO)
        report = self.run_script("B*", TWO)
        document = json.loads(json.dumps(report.to_dict(trace=True)))
        self.assertEqual(document["exit_status"], 0)
        self.assertEqual(document["comparison"]["expected_entries"], 2)
        first = document["answers"][0]
        self.assertEqual((first["name"], first["length"], first["param1"]),
                         ("HELLO     ", 2, 32768))
        self.assertIsInstance(first["pause_before_header_ms"], float)
        self.assertIsInstance(document["summary"]["pause_before_data"]["median_ms"], float)
        sent = [event["hex"] for event in document["trace"] if event["dir"] == "sent"]
        self.assertEqual(sent, ["42", "42", "42"])


class LinePace(unittest.TestCase):
    """The wire at line speed, on the caller's clock: 1,000 bytes a second here."""

    def test_each_byte_arrives_a_byte_time_after_it_was_written_or_after_the_one_before(self):
        line = remote_sim.LineModel(1000.0, depth=8)
        line.take(0.0, b"\x00")
        self.assertEqual(line.release(0.0009), [])
        self.assertEqual(line.release(0.001), [(0.001, b"\x00")])
        line.take(0.0101, b"abc")  # after a pause: a new run
        line.take(0.0115, b"de")  # while "abc" is on the wire: right behind it
        self.assertAlmostEqual(line.next_arrival(), 0.0111)
        ((first, run),) = line.release(0.1)
        self.assertAlmostEqual(first, 0.0111)
        self.assertEqual(run, b"abcde")
        self.assertEqual(line.release(0.2), [])

    def test_the_wire_holds_at_most_its_depth_and_hands_over_what_has_arrived(self):
        line = remote_sim.LineModel(1000.0, depth=8)
        line.take(0.0, b"12345678")
        self.assertEqual(line.room(0.0), 0)
        self.assertEqual(line.on_wire(0.004), 4)
        self.assertAlmostEqual(line.drained_to(4), 0.004)
        ((first, part),) = line.release(0.0045)
        self.assertEqual((round(first, 6), part), (0.001, b"1234"))
        self.assertEqual(line.unreleased(), 4)
        self.assertEqual(line.room(0.0045), 4)


class LineConditions(PtyCase):
    """Noise, floods, line speed and a deaf remote: what goes out, and the pace of it."""

    def assert_passes(self, report, received):
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        self.assertEqual(bytes(self.tool.received), received)

    def test_noise_goes_out_in_writes_of_at_most_4096_bytes_and_asks_nothing(self):
        self.serve(TWO)
        report = self.run_script("noise:10000 B*", TWO)
        self.assert_passes(report, remote_sim.noise_bytes(10000) + b"BBB")
        self.assertLessEqual(max(len(data) for _, data in report.log.sent), 4096)

    def test_a_flood_goes_out_no_faster_than_ten_times_the_line_rate(self):
        self.serve(TWO)
        rate = remote_sim.FLOOD_BYTES_PER_SECOND
        report = self.run_script("flood:0.3 B*", TWO)
        size = round(rate * 0.3)
        self.assert_passes(report, remote_sim.noise_bytes(size) + b"BBB")
        writes = [(when, len(data)) for when, data in report.log.sent if data != b"B"]
        piece = max(count for _, count in writes)
        sent = 0
        for when, count in writes:
            sent += count
            self.assertLessEqual(sent, rate * when + piece)
        self.assertGreaterEqual(writes[-1][0], (size - piece) / rate)

    def test_at_line_speed_the_line_is_read_no_faster_than_its_rate(self):
        self.serve()
        rate = 40000.0
        report = self.run_script("B*", read_rate=rate)
        self.assert_passes(report, b"BBBB")
        chunks = report.log.received
        self.assertLessEqual(max(len(chunk) for _, chunk in chunks), self.sim.read_burst)
        self.assertLessEqual(report.splitter.received,
                             self.sim.read_burst + rate * (chunks[-1][0] - chunks[0][0]))

    def test_at_line_speed_latency_and_pauses_are_timed_from_arrival_not_from_reading(self):
        tape = tapfile.build_tape([tapfile.TapEntry.make(3, f"E{n}", bytes(300))
                                   for n in range(6)])
        self.serve(tape, pause=SLOW_PAUSE)
        report = self.run_script("B*", tape, read_rate=remote_sim.LINE_BYTES_PER_SECOND)
        self.assertEqual(report.exit_status, remote_sim.EXIT_OK, report.text())
        byte_time = 1 / remote_sim.LINE_BYTES_PER_SECOND
        for answer in report.entries:
            self.assertGreaterEqual(answer.latency(), byte_time)
            data_time = answer.data_last_time - answer.data_first_time
            self.assertGreaterEqual(data_time, 299 * byte_time * 0.999)
        # Reading is paced in steps of a few milliseconds; arrival is not. One entry
        # the machine's scheduling left alone is enough.
        self.assertGreaterEqual(max(a.pause_before_header() for a in report.entries),
                                SLOW_PAUSE - 0.002)
        self.assertLess(min(a.latency() for a in report.entries), 0.0025)
        self.assertIn("times are those of arrival", report.text())

    def test_a_deaf_remote_leaves_the_answer_in_the_line_until_it_hears_again(self):
        self.serve(TWO)
        report = self.run_script("deaf:0.2 B deaf:0.4 B*", TWO)
        self.assert_passes(report, b"BBB")
        first = report.answers[0]
        self.assertGreaterEqual(first.request_time, 0.2)
        self.assertGreaterEqual(first.latency(), 0.4)


class ServingBadly(PtyCase):
    """Every broken server ends in a reported failure, in bounded time."""

    def assert_fails(self, report, status, words):
        self.assertEqual(report.exit_status, status, report.text())
        found = report.errors + report.differences
        self.assertTrue(any(words in item for item in found), found)
        self.assertIn("Result: FAIL", report.text())
        self.assertLess(self.elapsed, 20)

    def test_a_wrong_start_byte_breaks_the_protocol(self):
        self.serve(start_byte=0x01)
        report = self.run_script("B*", timeout=IMPATIENT)
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "began with 01h")
        self.assertEqual(bytes(self.tool.received), b"B")

    def test_a_missing_end_byte_is_named(self):
        self.serve(TWO, answer_end=False)
        report = self.run_script("B*", TWO, timeout=IMPATIENT)
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "missing end byte")
        self.assertEqual(len(report.entries), 2)

    def test_a_silent_tool_times_out(self):
        self.serve(silent=True)
        report = self.run_script("B*", timeout=IMPATIENT)
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "no answer to request 1")

    def test_the_run_limit_ends_a_patient_wait(self):
        self.serve(silent=True)
        report = self.run_script("B*", timeout=30, max_time=0.3)
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "run time limit of 0.3 s")

    def test_a_cut_answer_says_where_it_stopped(self):
        self.serve(cut_data_after=100)
        report = self.run_script("B*", timeout=IMPATIENT)
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "data, 100 of 6912 bytes")
        self.assertEqual(report.rebuilt, tapfile.rebuild_tape(tapfile.wire_entries(DEMO)[:1]))

    def test_bytes_after_the_end_byte_break_the_protocol(self):
        self.serve(TWO, after_end=b"zz", close_after_end=False)
        report = self.run_script("B*", TWO, timeout=IMPATIENT)
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "after the end byte")

    def test_a_byte_sent_unasked_breaks_the_protocol(self):
        self.serve(unasked=b"\x07")
        report = self.run_script("wait:100 B", timeout=IMPATIENT)
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "07h arrived with no")

    def test_a_different_tape_is_a_difference_not_a_protocol_fault(self):
        self.serve(TWO)
        report = self.run_script("B*", DEMO, timeout=IMPATIENT)
        self.assert_fails(report, remote_sim.EXIT_TAPE_DIFFERS, "entry 1: type")

    def test_a_tool_that_closes_the_line_mid_answer_times_out(self):
        self.serve(cut_data_after=10)
        report = None

        def close_soon():
            self.tool.answer_cut.wait(5)
            self.tool.stop()

        closer = threading.Thread(target=close_soon)
        closer.start()
        report = self.run_script("B*", timeout=2.0)  # outlasts a late closer thread
        closer.join()
        self.assert_fails(report, remote_sim.EXIT_PROTOCOL, "timeout")
        self.assertIsNotNone(report.log.line_closed_at)


class NoPeer(unittest.TestCase):
    def test_a_pty_nobody_opened_waits_then_reports_and_sees_the_open(self):
        master, slave = os.openpty()
        tty.setraw(slave)
        name = os.ttyname(slave)
        os.close(slave)
        try:
            sim = remote_sim.RemoteSimulator(master, answer_timeout=IMPATIENT, settle=0)
            self.assertFalse(sim.wait_for_peer(0.1))
            started = time.monotonic()
            report = sim.run([Send(b"B")])
            self.assertLess(time.monotonic() - started, 20)
            self.assertEqual(report.exit_status, remote_sim.EXIT_PROTOCOL)
            reopened = os.open(name, os.O_RDWR | os.O_NOCTTY)
            try:
                self.assertTrue(sim.wait_for_peer(5))
                # The "B" written while nobody listened waits for the tool.
                readable, _, _ = select.select([reopened], [], [], 5)
                self.assertTrue(readable)
                self.assertEqual(os.read(reopened, 10), b"B")
            finally:
                os.close(reopened)
        finally:
            os.close(master)


class Announcements(io.StringIO):
    """The simulator's standard error; `linked` is set once it says that its pty's link
    is in place."""

    def __init__(self):
        super().__init__()
        self.linked = threading.Event()

    def write(self, text):
        if "linked at" in text:
            self.linked.set()
        return super().write(text)


class CommandLine(unittest.TestCase):
    def test_a_loopback_through_a_linked_pty_passes_and_saves_what_it_rebuilt(self):
        with tempfile.TemporaryDirectory() as folder:
            link = os.path.join(folder, "com1")
            tape = os.path.join(ROOT, "samples", "demo.tap")
            rebuilt = os.path.join(folder, "rebuilt.tap")
            json_path = os.path.join(folder, "report.json")
            tools = []
            announced = Announcements()

            def open_the_port():
                announced.linked.wait(10)
                fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
                tools.append(FakeTool(fd, DEMO))
                tools[0].start()

            opener = threading.Thread(target=open_the_port)
            opener.start()
            output = io.StringIO()
            with contextlib.redirect_stdout(output), contextlib.redirect_stderr(announced):
                status = remote_sim.main(["--pty-link", link, "--tape", tape, "--script",
                                          "XYB B*", "--wait-open", "10", "--save", rebuilt,
                                          "--line-speed",
                                          "--json-out", json_path, "--timeout", str(PATIENT)])
            opener.join(10)
            for tool in tools:
                tool.stop()
            self.assertEqual(status, remote_sim.EXIT_OK, output.getvalue())
            self.assertFalse(os.path.lexists(link))
            with open(rebuilt, "rb") as saved:
                self.assertEqual(saved.read(), DEMO)
            with open(json_path) as report:
                document = json.load(report)
            self.assertEqual(document["result"], "PASS")
            self.assertEqual(document["read_rate_bytes_per_s"],
                             round(remote_sim.LINE_BYTES_PER_SECOND, 1))
            self.assertIn("Result: PASS", output.getvalue())

    def test_set_up_failures_exit_with_three(self):
        cases = (["--device", "/nonexistent/tty"],
                 ["--device", "/dev/null", "--script", "hex:q"],
                 ["--device", "/dev/null", "--tape", "/nonexistent.tap"])
        for arguments in cases:
            with self.subTest(arguments=arguments), \
                    contextlib.redirect_stderr(io.StringIO()):
                self.assertEqual(remote_sim.main(arguments), remote_sim.EXIT_SETUP)


if __name__ == "__main__":
    unittest.main()
