"""kestrel-serve's command line end to end: the listing, the refusals and their exit
statuses, the usage, and the install and package of the build tree."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

import tapfile
from serve_harness import DEMO, PATIENT, ROOT, SERVE, ServeCase, bad_checksum, small_tape, zipped


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
