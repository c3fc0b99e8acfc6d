"""Tests of tools/tapfile.py: TAP blocks, entries, the tool's cutting, the sample tape."""

import io
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from contextlib import redirect_stdout

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

import tapfile

HELLO = tapfile.TapEntry.make(0, "HELLO", b"\x01\x02\x03\x04\x05", param1=10, param2=5)


def xor_all(data: bytes) -> int:
    value = 0
    for byte in data:
        value ^= byte
    return value


class BlockAndEntryLayout(unittest.TestCase):
    def test_the_hello_entry_is_laid_out_byte_for_byte(self):
        # Header checksum 68h and data checksum FEh worked out by hand.
        expected = (bytes([0x13, 0x00, 0x00, 0x00]) + b"HELLO     " +
                    bytes([0x05, 0x00, 0x0A, 0x00, 0x05, 0x00, 0x68]) +
                    bytes([0x07, 0x00, 0xFF, 1, 2, 3, 4, 5, 0xFE]))
        self.assertEqual(HELLO.to_bytes(), expected)
        self.assertEqual(len(expected), 30)

    def test_every_block_xors_to_zero_over_flag_payload_and_checksum(self):
        for payload in (b"", b"\x00", bytes(range(256)), b"B" * 1000):
            block = tapfile.make_block(0xFF, payload)
            self.assertEqual(int.from_bytes(block[:2], "little"), len(payload) + 2)
            self.assertEqual(xor_all(block[2:]), 0)

    def test_names_are_padded_or_cut_to_ten_bytes(self):
        self.assertEqual(tapfile.TapEntry.make(3, "ab", b"").name, b"ab        ")
        self.assertEqual(tapfile.TapEntry.make(3, "abcdefghijkl", b"").name, b"abcdefghij")
        self.assertEqual(tapfile.TapEntry.make(3, "caff\u00e8", b"").name, b"caff\xe8     ")

    def test_a_block_too_long_for_its_length_word_is_refused(self):
        with self.assertRaises(ValueError):
            tapfile.make_block(0xFF, bytes(0xFFFE))


class StrictReading(unittest.TestCase):
    def test_a_built_tape_reads_back_as_the_same_entries(self):
        entries = [HELLO, tapfile.TapEntry.make(3, "empty", b"", 32768, 32768),
                   tapfile.TapEntry.make(3, "big", bytes(range(256)) * 200, 1, 65535)]
        self.assertEqual(tapfile.parse_tape(tapfile.build_tape(entries)), entries)

    def test_faults_in_a_tape_are_named(self):
        good = HELLO.to_bytes()
        bad_checksum = good[:20] + bytes([good[20] ^ 1]) + good[21:]
        bad_flag = good[:2] + b"\x01" + good[3:]
        cases = {
            "checksum": bad_checksum,
            "flag": bad_flag,
            "pairs": good + tapfile.make_block(0x00, b"x" * 17),
            "only": good[:-1],
            "length word": good + b"\x05",
            "data bytes": tapfile.make_block(0, HELLO.header_payload()) +
            tapfile.make_block(0xFF, b"\x01"),
        }
        for words, image in cases.items():
            with self.subTest(words), self.assertRaisesRegex(tapfile.TapFormatError, words):
                tapfile.parse_tape(image)


class TheToolsCutting(unittest.TestCase):
    """wire_entries must cut any file the way KESTREL does, malformed or not."""

    def test_a_well_formed_tape_rebuilds_to_itself(self):
        tape = tapfile.build_tape(tapfile.demo_entries())
        wire = tapfile.wire_entries(tape)
        self.assertEqual(len(wire), 3)
        self.assertTrue(all(entry.complete for entry in wire))
        self.assertEqual(tapfile.rebuild_tape(wire), tape)

    def test_a_final_eof_mark_and_a_blank_tail_are_not_entries(self):
        tape = HELLO.to_bytes()
        for tail in (b"\x1a", b"\n", b" \t\r\n", b"\r\n\x1a"):
            with self.subTest(tail=tail):
                self.assertEqual(tapfile.wire_entries(tape + tail),
                                 tapfile.wire_entries(tape))

    def test_only_the_last_eof_mark_is_dropped(self):
        # Offsets 0 to 18, then 1Ah at 19 (param2's high byte) and 1Ah at 20.
        (entry,) = tapfile.wire_entries(b"\x13\x00\x00" + b"x" * 16 + b"\x1a\x1a")
        self.assertEqual(entry.header[-2:], b"x\x1a")

    def test_a_twelve_byte_image_gives_a_short_name_and_zero_numbers(self):
        image = b"\x13\x00\x00\x07ABCDEFGH"
        (entry,) = tapfile.wire_entries(image)
        self.assertEqual(entry.header, b"\x07ABCDEFGH" + bytes(6))
        self.assertEqual(entry.data, b"")

    def test_the_data_length_alone_decides_where_the_next_entry_starts(self):
        second = tapfile.TapEntry.make(3, "second", b"zz")
        lying = bytearray(tapfile.TapEntry.make(3, "empty", b"").to_bytes())
        lying[0] = 99  # a wrong stored block length changes nothing
        wire = tapfile.wire_entries(bytes(lying) + second.to_bytes())
        self.assertEqual([w.data for w in wire], [b"", b"zz"])

    def test_data_longer_than_the_file_is_cut_short(self):
        tape = HELLO.to_bytes()[:26]
        (entry,) = tapfile.wire_entries(tape)
        self.assertEqual(entry.data, b"\x01\x02")
        self.assertFalse(entry.complete)

    def test_empty_files_hold_nothing(self):
        self.assertEqual(tapfile.wire_entries(b""), [])
        self.assertEqual(tapfile.wire_entries(b"\x1a"), [])


class SampleTape(unittest.TestCase):
    SAMPLE = os.path.join(ROOT, "samples", "demo.tap")

    def test_the_committed_sample_is_what_the_demo_command_writes(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "demo.tap")
            self.assertEqual(tapfile.main(["demo", "-o", path]), 0)
            with open(path, "rb") as made, open(self.SAMPLE, "rb") as committed:
                self.assertEqual(made.read(), committed.read())

    def test_the_sample_holds_a_loader_a_screen_and_code(self):
        with open(self.SAMPLE, "rb") as sample:
            loader, screen, code = tapfile.parse_tape(sample.read())
        self.assertEqual((loader.type, loader.param1, loader.param2), (0, 10, loader.length))
        self.assertEqual(loader.data[:2], b"\x00\x0a")  # line 10
        self.assertTrue(loader.data.endswith(b"\r"))
        self.assertEqual((screen.type, screen.length, screen.param1), (3, 6912, 16384))
        self.assertEqual((code.type, code.param1), (3, 32768))
        for byte in (0x00, 0x09, 0x42):
            self.assertIn(byte, code.data)

    def test_list_reports_a_bad_checksum(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bad.tap")
            image = bytearray(HELLO.to_bytes())
            image[-1] ^= 0x55
            with open(path, "wb") as out:
                out.write(image)
            output = io.StringIO()
            with redirect_stdout(output):
                status = tapfile.main(["list", path])
        self.assertEqual(status, 1)
        self.assertIn("BAD CHECKSUM", output.getvalue())

    def test_list_names_each_entry_of_a_good_tape(self):
        output = io.StringIO()
        with redirect_stdout(output):
            status = tapfile.main(["list", self.SAMPLE])
        self.assertEqual(status, 0)
        self.assertIn("b'demoscreen' N=6912", output.getvalue())


def _native_converter():
    """kestrel-sim, which loads a tape as KESTREL does: ctest names it, else the
    native build tree's."""
    path = os.environ.get("KESTREL_SIM") or os.path.join(ROOT, "build", "native", "tools",
                                                         "kestrel-sim")
    return path if os.access(path, os.X_OK) else None


class TzxTwins(unittest.TestCase):
    """The TZX twin of the sample tape, read back by Debian's independent reader and
    converted by KESTREL's own loader."""

    SAMPLE = os.path.join(ROOT, "samples", "demo.tap")
    TURBO = 4  # the screen's data block

    def setUp(self):
        with open(self.SAMPLE, "rb") as sample:
            self.tap = sample.read()
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def write(self, *options):
        path = os.path.join(self.folder.name, "twin.tzx")
        self.assertEqual(tapfile.main(["tzx", self.SAMPLE, "-o", path, *options]), 0)
        return path

    @unittest.skipUnless(shutil.which("tzxlist"),
                         "tzxlist is not installed (Debian package fuse-emulator-utils)")
    def test_tzxlist_lists_every_block_written(self):
        for options in ([], ["--with-extras"], ["--with-extras", "--turbo", str(self.TURBO)]):
            with self.subTest(options=options):
                path = self.write(*options)
                listing = subprocess.run(["tzxlist", path], capture_output=True, text=True,
                                         check=True, timeout=60).stdout
                blocks = tapfile.tzx_blocks(self.tap, "--with-extras" in options,
                                            self.TURBO if "--turbo" in options else None)
                # The reader passes over glue blocks, as the format asks of readers.
                written = [block[0] for block in blocks if block[0] != tapfile.TZX_GLUE]
                listed = [int(found, 16) for found in re.findall(r"Block type 0x(\w\w)", listing)]
                self.assertEqual(listed, written)
                standard_sizes = [len(block.payload) + 2 for number, block in
                                  enumerate(tapfile.parse_blocks(self.tap), 1)
                                  if "--turbo" not in options or number != self.TURBO]
                self.assertEqual([int(size) for size in
                                  re.findall(r"Block length: (\d+) bytes", listing)],
                                 standard_sizes)
                self.assertNotIn("FAIL", listing)  # every checksum passes

    @unittest.skipUnless(_native_converter(), "kestrel-sim is not built (cmake --preset native)")
    def test_the_native_loader_turns_the_twin_into_the_tap_bytes_or_refuses_the_turbo_block(self):
        converted = os.path.join(self.folder.name, "converted.tap")
        for options in ([], ["--with-extras"]):
            with self.subTest(options=options):
                run = subprocess.run([_native_converter(), "--image-to", converted,
                                      self.write(*options)],
                                     capture_output=True, text=True, timeout=60)
                self.assertEqual(run.returncode, 0, run.stderr)
                with open(converted, "rb") as image:
                    self.assertEqual(image.read(), self.tap)

        blocks = tapfile.tzx_blocks(self.tap, True, self.TURBO)
        turbo_offset = tapfile.tzx_offsets(blocks)[[b[0] for b in blocks].index(tapfile.TZX_TURBO)]
        run = subprocess.run([_native_converter(), "--image-to", converted,
                              self.write("--with-extras", "--turbo", str(self.TURBO))],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 1)
        self.assertIn(f"unsupported TZX block 11h (turbo speed data) at offset {turbo_offset}",
                      run.stderr)


if __name__ == "__main__":
    unittest.main()
