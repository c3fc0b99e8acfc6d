"""Shared tables between workstations, under Wine.

Several tables_demo.exe processes of one Wine prefix play workstations that share a
folder: they add records at once, hold records and tables, and pack; some are
ended mid-way (SIGKILL, or a pack ending itself at one of its steps) as a crash
would end them. The library's
wait windows appear on a private Xvfb; kestrel_window_reader.exe reads their texts.
The tables are then read back by an independent DBF reader (Debian's
python3-dbfread, run by /usr/bin/python3), and a table that another DBF writer
made (python3-dbf) is listed by the demo.

    KESTREL_TABLES_DEMO=build/windows/tables_demo.exe \
    KESTREL_WINDOW_READER=build/windows/tests/kestrel_window_reader.exe \
    KESTREL_WINE_RUN=tools/wine-run.sh WINEPREFIX=build/windows/wineprefix \
    PYTHONPATH=tools python3 tests/e2e/test_shared_tables.py
"""

import os
import shutil
import struct
import subprocess
import unittest

from winedesk import DesktopTestCase, exit_cleanly_on_sigterm, read_line, temporary_folder, \
    wait_until

DEMO = os.environ.get("KESTREL_TABLES_DEMO", "")
READER = os.environ.get("KESTREL_WINDOW_READER", "")
SYSTEM_PYTHON = "/usr/bin/python3"  # Debian's, with python3-dbfread and python3-dbf

BUSY = "Il sistema \xe8 momentaneamente occupato...".encode("cp1252")
SYSTEM_OPERATION = b"E' in corso un'operazione di sistema..."
SWITCH_OFF = b"Spegnere tutti i terminali..."
RUN_TIMEOUT = 240
PACK_STEPS = range(1, 7)  # the pack's steps, from its marker to its clearing
STOPPED = 9  # the exit status of a pack ended at its step (KESTREL_DEMO_PACK_STOP)


def note_for(user, i):
    piece = f"{user}-{i}"
    return " ".join([piece] * (i % 40 + 1))


def record_count(table):
    """The record count in a table's header, or 0 while it cannot be read."""
    try:
        with open(table, "rb") as dbf:
            header = dbf.read(8)
    except OSError:
        return 0
    return struct.unpack("<I", header[4:8])[0] if len(header) == 8 else 0


def independent_read(table, memo):
    """The records of a table as dbfread sees them: its FoxPro memo reader takes the
    memo file under the extension FoxPro gives it."""
    folder = temporary_folder("kestrel-dbfread-")
    try:
        shutil.copy(table, os.path.join(folder, "T.DBF"))
        shutil.copy(memo, os.path.join(folder, "T.FPT"))
        script = ("import dbfread, sys\n"
                  "for r in dbfread.DBF(sys.argv[1], encoding='cp1252', char_decode_errors='strict'):\n"
                  "    d = r['DATA'].strftime('%Y%m%d') if r['DATA'] else ''\n"
                  "    print('\\t'.join([r['CODICE'], r['NOME'], d, r['NOTE'] or '']))\n")
        output = subprocess.run([SYSTEM_PYTHON, "-c", script, os.path.join(folder, "T.DBF")],
                                capture_output=True, check=True, timeout=60).stdout
        return output.decode("utf-8").splitlines()
    finally:
        shutil.rmtree(folder, True)


@unittest.skipUnless(DEMO and READER, "KESTREL_TABLES_DEMO and KESTREL_WINDOW_READER")
class SharedTablesUnderWine(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.addCleanup(self.desk.end_wine)
        self.keep_wine_up()

    # -- workstations ---------------------------------------------------------

    def start(self, *args, env=None, stdin=subprocess.DEVNULL):
        return self.desk.start_console(DEMO, *args, cwd=self.folder, env=env, stdin=stdin)

    def run_demo(self, *args, env=None, status=0):
        """Runs one command to its end; answers its standard output."""
        process = self.start(*args, env=env)
        out, err = process.communicate(timeout=RUN_TIMEOUT)
        self.assertEqual(process.returncode, status, (args, err))
        return out

    def holding(self, *args):
        """Starts a holder and waits until it says it holds. A holder given "cue"
        counts its seconds from a line that cue() sends it."""
        cued = args[-1] == "cue"
        process = self.start(*args, stdin=subprocess.PIPE if cued else subprocess.DEVNULL)
        self.assertEqual(read_line(process, 60), "trying")
        self.assertEqual(read_line(process, 60), "holding")
        return process

    @staticmethod
    def cue(holder):
        holder.stdin.write(b"go\n")
        holder.stdin.flush()  # communicate() closes it

    def wait_window_texts(self, caption):
        """The texts of the wait window titled `caption`, once it shows."""
        result = self.desk.run_console(READER, caption, "60", timeout=RUN_TIMEOUT)
        self.assertEqual(result.returncode, 0, f"no window {caption!r} showed")
        return [bytes.fromhex(line[len("text="):])
                for line in result.stdout.decode().split() if line.startswith("text=")]

    def let_go(self, holder):
        """The holding workstation goes away; what it held is free."""
        holder.kill()
        holder.wait(timeout=60)

    def finished(self, process):
        out, err = process.communicate(timeout=RUN_TIMEOUT)
        self.assertEqual(process.returncode, 0, err)
        wait_until(lambda: not self.desk.windows("^Att"), 30, what="the wait window to close")
        return out

    def listing(self, table="T"):
        return self.run_demo("list", table).decode("cp1252").split("\n")[:-1]

    def file(self, name):
        return os.path.join(self.folder, name)

    def keep_wine_up(self):
        """Keeps one workstation of the prefix running for the test, holding a table
        of its own elsewhere, so that each of the test's short runs in a row starts
        in well under a second instead of bringing Wine's desktop up again."""
        folder = temporary_folder()
        self.addCleanup(shutil.rmtree, folder, True)
        self.assertEqual(self.desk.start_console(DEMO, "create", "KEEP", cwd=folder)
                         .wait(timeout=RUN_TIMEOUT), 0)
        keeper = self.desk.start_console(DEMO, "hold", "KEEP", str(RUN_TIMEOUT * 2), "exclusive",
                                         cwd=folder)
        self.assertEqual(read_line(keeper, 60), "trying")
        self.assertEqual(read_line(keeper, 60), "holding")

    def pack_files(self):
        return sorted(name for name in os.listdir(self.folder) if name.endswith((".NEW", ".PAK")))

    def on_the_shared_disk(self):
        """The test's folder becomes C:\\MARLIN of the prefix, which makes the tables
        shared-disk tables once the semaphore C:\\MARLIN\\NET is made there."""
        self.folder = os.path.join(self.desk.prefix, "drive_c", "MARLIN")
        shutil.rmtree(self.folder, True)
        os.mkdir(self.folder)
        self.addCleanup(shutil.rmtree, self.folder, True)

    def packs_killed_at_each_step_leave_complete_tables(self):
        self.run_demo("create", "T")
        self.run_demo("add", "T", "12", "ANNA")  # makes the semaphore NET here
        for code in ("1", "7", "12"):
            self.run_demo("delete", "T", code)
        kept = self.listing()
        original = {}
        for name in ("T.DBF", "T.DBT"):
            with open(self.file(name), "rb") as table:
                original[name] = table.read()
        for step in PACK_STEPS:
            with self.subTest(step=step):
                for name, data in original.items():
                    with open(self.file(name), "wb") as restored:
                        restored.write(data)
                for name in self.pack_files():
                    os.remove(self.file(name))
                self.run_demo("pack", "T", "ANNA", env={"KESTREL_DEMO_PACK_STOP": str(step)},
                              status=STOPPED)
                self.assertEqual(self.listing(), kept)  # the open settles what the pack left
                self.assertEqual(record_count(self.file("T.DBF")), 12 if step < 3 else 9)
                self.assertEqual(self.pack_files(), [])
                self.assertEqual(independent_read(self.file("T.DBF"), self.file("T.DBT")), kept)

    # -- scenarios --------------------------------------------------------------

    def test_two_workstations_adding_at_once_lose_and_repeat_nothing(self):
        self.run_demo("create", "T")
        adders = [self.start("add", "T", "300", user) for user in ("ANNA", "BRUNO")]
        for adder in adders:
            self.finished(adder)
        rows = [line.split("\t") for line in self.listing()]
        self.assertEqual(sorted(int(row[0]) for row in rows), list(range(1, 601)))
        for code, name, date, note in rows:
            user, i = name.split(" ")
            self.assertEqual(note, note_for(user, int(i)))
            self.assertEqual(len(date), 8)
        self.assertEqual(sorted(independent_read(self.file("T.DBF"), self.file("T.DBT"))),
                         sorted(self.listing()))

    def test_a_held_record_keeps_the_other_waiting_behind_the_busy_window(self):
        self.run_demo("create", "T")
        self.run_demo("add", "T", "1", "ANNA")
        holder = self.holding("hold", "T", "300", "record")
        waiter = self.start("hold", "T", "0", "record")
        self.assertEqual(self.wait_window_texts("Attendere"), [BUSY])
        self.let_go(holder)
        self.assertEqual(self.finished(waiter), b"trying\nholding\nreleased\n")

    def test_a_release_two_and_a_half_seconds_after_the_first_try_shows_no_window(self):
        self.run_demo("create", "T")
        self.run_demo("add", "T", "1", "ANNA")
        holder = self.holding("hold", "T", "2.5", "record", "cue")
        waiter = self.start("hold", "T", "0", "record")
        self.assertEqual(read_line(waiter, 60), "trying")  # its first try follows at once
        self.cue(holder)
        seen = []
        while waiter.poll() is None:
            seen += self.desk.windows("^Attendere$")
        self.finished(holder)
        self.assertEqual(self.finished(waiter), b"holding\nreleased\n")
        self.assertEqual(seen, [])

    def test_an_exclusive_holder_keeps_a_shared_open_waiting(self):
        self.run_demo("create", "T")
        holder = self.holding("hold", "T", "300", "exclusive")
        lister = self.start("list", "T")
        self.assertEqual(self.wait_window_texts("Attendere"), [SYSTEM_OPERATION])
        self.let_go(holder)
        self.assertEqual(self.finished(lister), b"")

    def test_pack_behind_a_held_record_completes_when_the_holder_lets_go(self):
        self.run_demo("create", "T")
        self.run_demo("add", "T", "45", "ANNA")
        before = self.listing()
        for code in ("1", "7", "45"):
            self.run_demo("delete", "T", code)
        # Every refused open costs the wineserver a descriptor while a record lock
        # exists: a pack that tried without pause exhausted it within seconds.
        holder = self.holding("hold", "T", "4", "record", "cue")
        packer = self.start("pack", "T", "GINO")
        self.assertEqual(self.wait_window_texts("Attenzione"), [SWITCH_OFF])
        self.cue(holder)
        self.assertEqual(self.finished(holder), b"released\n")
        self.finished(packer)
        kept = [line for line in before if line.split("\t")[0] not in ("1", "7", "45")]
        self.assertEqual(self.listing(), kept)
        self.assertEqual(len(independent_read(self.file("T.DBF"), self.file("T.DBT"))), 42)
        self.assertEqual([name for name in os.listdir(self.folder) if name.startswith("\x7f")], [])

    def test_a_pack_killed_at_any_step_leaves_the_table_complete_old_or_new(self):
        self.assertFalse(os.path.exists(os.path.join(self.desk.prefix, "drive_c", "MARLIN")))
        self.packs_killed_at_each_step_leave_complete_tables()  # the local disk: renames
        self.on_the_shared_disk()
        self.packs_killed_at_each_step_leave_complete_tables()  # the shared disk: copies
        self.assertTrue(os.path.exists(self.file("NET")))

    def test_a_workstation_killed_while_adding_costs_the_others_nothing(self):
        self.run_demo("create", "T")
        anna, bruno = (self.start("add", "T", "150", user) for user in ("ANNA", "BRUNO"))
        def both_adding():
            with open(self.file("T.DBF"), "rb") as table:
                data = table.read()
            return record_count(self.file("T.DBF")) >= 40 and b"ANNA " in data and b"BRUNO " in data

        wait_until(both_adding, RUN_TIMEOUT, what="40 records added, some by each")
        bruno.kill()  # SIGKILL: mid-way, whatever it holds
        bruno.wait(timeout=60)
        self.finished(anna)
        self.run_demo("add", "T", "5", "CARLA")
        rows = [line.split("\t") for line in
                independent_read(self.file("T.DBF"), self.file("T.DBT"))]
        completed = [row for row in rows if row[0]]
        self.assertLessEqual(len(rows) - len(completed), 1)  # at most the one cut short
        codes = [int(row[0]) for row in completed]
        self.assertEqual(len(codes), len(set(codes)))
        for code, name, date, note in completed:
            user, i = name.split(" ")
            self.assertEqual(note, note_for(user, int(i)))
            self.assertEqual(len(date), 8)
        names = {row[1] for row in completed}
        for user, count in (("ANNA", 150), ("CARLA", 5)):
            self.assertTrue({f"{user} {i}" for i in range(1, count + 1)} <= names, user)
        bruno_done = sorted(int(name.split(" ")[1]) for name in names if name.startswith("BRUNO"))
        self.assertEqual(bruno_done, list(range(1, len(bruno_done) + 1)))
        self.assertGreater(len(bruno_done), 0)

    def test_a_table_another_program_wrote_lists_exactly(self):
        script = ("import dbf, datetime, sys\n"
                  "t = dbf.Table(sys.argv[1], 'CODICE C(10); NOME C(30); DATA D; NOTE M',"
                  " dbf_type='fp', codepage='cp1252')\n"
                  "t.open(dbf.READ_WRITE)\n"
                  "t.append(('1', 'Citt\\u00e0 di N\\u00eemes', datetime.date(1999, 12, 31),"
                  " 'perch\\u00e9 s\\u00ec'))\n"
                  "t.append(('2', 'Senza data', None, ''))\n"
                  "t.close()\n")
        subprocess.run([SYSTEM_PYTHON, "-c", script, self.file("OTHER.DBF")], check=True,
                       capture_output=True, timeout=60)
        memo = [name for name in os.listdir(self.folder) if name.upper() == "OTHER.FPT"]
        self.assertEqual(len(memo), 1, os.listdir(self.folder))
        os.rename(self.file(memo[0]), self.file("OTHER.DBT"))
        self.assertEqual(self.listing("OTHER"),
                         ["1\tCitt\u00e0 di N\u00eemes\t19991231\tperch\u00e9 s\u00ec",
                          "2\tSenza data\t\t"])


if __name__ == "__main__":
    exit_cleanly_on_sigterm()
    unittest.main()
