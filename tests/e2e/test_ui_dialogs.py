"""The file dialog and the message boxes on a real (virtual) screen, under Wine.

kestrel_ui_probe.exe opens CGETFILE or a POPMSG box inside a Wine virtual desktop on
a private Xvfb; these tests answer it with real keystrokes and read its report.

    KESTREL_UI_PROBE=build/windows/tests/kestrel_ui_probe.exe \
    KESTREL_WINE_RUN=tools/wine-run.sh WINEPREFIX=build/windows/wineprefix \
    python3 tests/e2e/test_ui_dialogs.py
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from winedesk import ProbeTestCase, Report, exit_cleanly_on_sigterm, windows_path

PROBE = os.environ.get("KESTREL_UI_PROBE", "")
DIALOG_TITLE = "^Seleziona file da inviare$"
BOX_TITLE = "^Attenzione$"


def same_path(a, b):
    """Windows paths compare without regard to case."""
    return a.lower() == b.lower()


@unittest.skipUnless(PROBE, "KESTREL_UI_PROBE names the probe program")
class DialogsUnderWine(ProbeTestCase):
    def run_probe(self, *args):
        return self.desk.start(PROBE, args[0], self.report.windows_path, *args[1:])

    def make_folder(self, name):
        path = os.path.join(self.folder, name)
        os.mkdir(path)
        return windows_path(path)

    # -- the file choice ------------------------------------------------------

    def test_a_new_name_typed_in_another_folder_comes_back_and_the_current_directory_stays_put(self):
        start = self.make_folder("start")
        tapes = self.make_folder("nastri")
        with self.desk.scene("getfile-typed-name"):
            program = self.run_probe("getfile", start, tapes)
            self.report.wait_for("dialog")
            self.press(DIALOG_TITLE)
            self.desk.type_text("nuovo.tap")
            self.desk.key("Return")
            self.finish(program)
        self.assertTrue(same_path(self.report.bytes("result").decode("cp1252"),
                                  tapes + "\\nuovo.tap"), self.report.lines())
        self.assertFalse(os.path.exists(os.path.join(self.folder, "nastri", "nuovo.tap")))
        self.assertEqual(self.report.value("filter_index"), "1")
        self.assertEqual(self.report.value("active_is_probe"), "1")
        self.assertEqual(self.report.value("box_owned_by_active_window"), "1")
        self.assertEqual(self.report.bytes("cwd_after"), self.report.bytes("cwd_before"))
        self.assertTrue(same_path(self.report.bytes("cwd_after").decode("cp1252"), start))

    def test_without_a_folder_the_dialog_starts_in_the_current_directory(self):
        start = self.make_folder("avvio")
        with self.desk.scene("getfile-current-directory"):
            program = self.run_probe("getfile", start)
            self.report.wait_for("dialog")
            self.press(DIALOG_TITLE)
            self.desk.type_text("qui.tap")
            self.desk.key("Return")
            self.finish(program)
        self.assertTrue(same_path(self.report.bytes("initial_dir").decode("cp1252"), start))
        self.assertTrue(same_path(self.report.bytes("result").decode("cp1252"),
                                  start + "\\qui.tap"), self.report.lines())

    def test_escape_cancels_with_an_empty_answer(self):
        start = self.make_folder("start")
        tapes = self.make_folder("nastri")
        with self.desk.scene("getfile-escape"):
            program = self.run_probe("getfile", start, tapes)
            self.report.wait_for("dialog")
            self.press(DIALOG_TITLE, "Escape")
            self.finish(program)
        self.assertEqual(self.report.bytes("result"), b"")
        self.assertEqual(self.report.bytes("cwd_after"), self.report.bytes("cwd_before"))

    # -- the message boxes --------------------------------------------------------

    def test_information_shows_two_lines_under_attenzione_owned_by_the_active_window(self):
        with self.desk.scene("popmsg-information"):
            program = self.run_probe("popmsg", "1", "uno;due")
            self.report.wait_for("box")
            self.desk.screenshot("popmsg-information")
            self.press(BOX_TITLE, "Return")
            self.finish(program)
        self.assertEqual(self.report.value("active_is_probe"), "1")
        self.assertEqual(self.report.bytes("box_title"), b"Attenzione")
        texts = [bytes.fromhex(text) for text in self.report.values("box_text")]
        self.assertIn(b"uno\r\ndue", texts)
        self.assertEqual(self.report.value("box_owned_by_active_window"), "1")
        self.assertEqual(self.report.value("answer"), "none")

    def test_enter_at_once_answers_no_where_no_is_the_default(self):
        with self.desk.scene("popmsg-yes-no-default-no"):
            program = self.run_probe("popmsg", "5", "Sovrascrivere il file?")
            self.report.wait_for("box")
            self.press(BOX_TITLE, "Return")
            self.finish(program)
        self.assertEqual(self.report.value("answer"), "false")

    def test_escape_on_yes_no_cancel_answers_the_cancel_code(self):
        with self.desk.scene("popmsg-yes-no-cancel"):
            program = self.run_probe("popmsg", "3", "Salvare le modifiche?")
            self.report.wait_for("box")
            self.press(BOX_TITLE, "Escape")
            self.finish(program)
        self.assertEqual(self.report.value("answer"), "code 2")

    def test_a_number_that_is_no_kind_shows_nothing_and_answers_nothing(self):
        for kind in ("0", "7"):
            with self.subTest(kind=kind), self.desk.scene("popmsg-kind-" + kind):
                self.report = Report(os.path.join(self.folder, f"report{kind}.txt"))
                program = self.run_probe("popmsg", kind, "niente")
                self.finish(program)
                self.assertEqual(self.report.values("box"), [])
                self.assertEqual(self.report.value("answer"), "none")


if __name__ == "__main__":
    exit_cleanly_on_sigterm()
    unittest.main(verbosity=2)
