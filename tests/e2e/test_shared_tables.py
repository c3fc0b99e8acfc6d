"""Shared tables between workstations, under Wine.

Several tables_demo.exe processes of one Wine prefix play workstations that share a
folder: they add records at once, hold records and tables, and pack. The library's
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


def note_for(user, i):
    piece = f"{user}-{i}"
    return " ".join([piece] * (i % 40 + 1))


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

    # -- workstations ---------------------------------------------------------

    def start(self, *args, stdin=subprocess.DEVNULL):
        return self.desk.start_console(DEMO, *args, cwd=self.folder, stdin=stdin)

    def run_demo(self, *args):
        """Runs one command to its end; answers its standard output."""
        process = self.start(*args)
        out, err = process.communicate(timeout=RUN_TIMEOUT)
        self.assertEqual(process.returncode, 0, (args, err))
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
