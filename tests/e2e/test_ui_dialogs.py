"""The file dialog and the message boxes on a real (virtual) screen, under Wine.

kestrel_ui_probe.exe opens CGETFILE or a POPMSG box inside a Wine virtual desktop on
a private Xvfb; these tests answer it with real keystrokes and read its report.

    KESTREL_UI_PROBE=build/windows/tests/kestrel_ui_probe.exe \
    KESTREL_WINE_RUN=tools/wine-run.sh WINEPREFIX=build/windows/wineprefix \
    PYTHONPATH=tools python3 tests/e2e/test_ui_dialogs.py
"""

import os
import unittest

from winedesk import (ProbeTestCase, Report, exit_cleanly_on_sigterm, wait_until,
                      windows_path)

PROBE = os.environ.get("KESTREL_UI_PROBE", "")
DIALOG_TITLE = "^Seleziona file da inviare$"
BOX_TITLE = "^Attenzione$"
EVENTS_TITLE = "^Eventi$"


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

    # -- the framework's events, on a dialog with two fields and a button -----------

    def start_events(self):
        program = self.run_probe("events")
        self.report.wait_for("dialog")
        self.press(EVENTS_TITLE)
        return program

    def wait_for_count(self, name, count):
        wait_until(lambda: len(self.report.values(name)) >= count, 30,
                   what=f"{count} {name!r} lines in the report")

    def click(self, button, point="free_point"):
        """Clicks a mouse button at a point the probe reported (by default where no
        control covers the dialog)."""
        x, y = (int(n) for n in self.report.value(point).split(","))
        self.desk.click(x, y, button)

    def test_keys_reach_the_key_table_the_key_callbacks_and_a_buttons_hot_key(self):
        with self.desk.scene("events-keys"):
            program = self.start_events()
            self.desk.type_text("ab")
            self.wait_for_count("change", 2)
            self.desk.key("F2")
            self.report.wait_for("key_table")
            self.desk.key("F1")
            self.report.wait_for("help")
            self.desk.key("alt+p")
            self.report.wait_for("button")
            self.desk.key("alt+F4")  # no button answers to it: the platform closes
            self.finish(program)
        a, b = str(ord("A")), str(ord("B"))
        self.assertEqual([k for k in self.report.values("keydown") if k in (a, b)], [a, b])
        self.assertEqual([k for k in self.report.values("keyup") if k in (a, b)], [a, b])
        self.assertEqual(self.report.values("change"), [str(ord("a")), str(ord("b"))])
        # Keys with a handler in the key table go to it alone.
        self.assertEqual(self.report.value("key_table"), "TMULTIGET")
        self.assertEqual(self.report.value("help"), "TMULTIGET,none")
        self.assertNotIn(str(0x70), self.report.values("keydown"))  # F1
        self.assertNotIn(str(0x71), self.report.values("keydown"))  # F2
        self.assertEqual(self.report.values("button"), ["pressed"], "pressed once")
        self.assertEqual(self.report.bytes("entry_text"), b"ab")
        self.assertEqual(self.report.value("result"), "2")

    def test_a_field_that_refuses_its_text_takes_the_focus_back_from_the_next_one(self):
        with self.desk.scene("events-validation"):
            program = self.start_events()
            self.desk.type_text("no")
            self.desk.key("Tab")
            self.wait_for_count("valid_answer", 1)
            # Back in the field, its text selected (Tab is down): typing replaces it.
            self.desk.type_text("si")
            self.desk.key("shift+Tab")
            self.wait_for_count("valid_answer", 2)
            self.desk.type_text("z")  # accepted: the focus went on to the other field
            self.desk.key("Escape")
            self.finish(program)
        self.assertEqual([bytes.fromhex(v) for v in self.report.values("valid")], [b"no", b"si"])
        self.assertEqual(self.report.values("valid_answer"), ["0", "1"])
        self.assertEqual(self.report.bytes("entry_text"), b"si")
        self.assertEqual(self.report.bytes("other_text"), b"z")
        self.assertEqual(self.report.value("result"), "2")

    def test_clicks_reach_the_dialogs_callbacks_until_context_help_makes_them_help(self):
        with self.desk.scene("events-clicks"):
            program = self.start_events()
            self.assertEqual(self.report.value("free_is_dialog"), "1")
            self.click("1")
            self.report.wait_for("lclicked")
            self.click("3")
            self.report.wait_for("rclicked")
            self.desk.key("F3")
            self.assertEqual(self.report.wait_for("context_help"), "on")
            self.click("1")
            self.report.wait_for("help")
            self.desk.key("Escape")
            self.finish(program)
        self.assertEqual(self.report.value("lclicked"), self.report.value("free_client"))
        self.assertEqual(self.report.value("rclicked"), self.report.value("free_client"))
        self.assertEqual(self.report.value("help"), "TDIALOG,77")

    def test_help_a_released_button_the_focus_cues_and_the_focus_leaving_reach_the_controls(self):
        with self.desk.scene("events-control-routing"):
            program = self.start_events()
            self.desk.key("F1")  # in the entry field, which has no help topic
            self.report.wait_for("help")
            self.desk.key("F5")  # the platform's help request for the first field
            self.wait_for_count("help", 2)
            self.desk.key("F6")
            self.report.wait_for("check_repaints_owner")
            # Into the log and out again, its text as the program put it.
            self.click("1", "log_point")
            self.click("1", "entry_point")
            self.report.wait_for("lbuttonup")
            self.desk.key("F2")
            self.report.wait_for("capture")
            # Into the log, its window text replaced from outside, and out again.
            self.click("1", "log_point")
            self.desk.key("F7")
            self.click("1", "entry_point")
            self.wait_for_count("log_put", 1)
            self.desk.key("Escape")
            self.finish(program)
        # F1 runs the help once, not again for the platform's own F1 message.
        self.assertEqual(self.report.values("help"), ["TMULTIGET,none", "TMULTIGET,79"])
        # A check box draws on its owner's background: the owner is repainted for it.
        self.assertEqual(self.report.value("button_repaints_owner"), "0")
        self.assertEqual(self.report.value("check_repaints_owner"), "1")
        self.assertEqual(self.report.values("lbuttonup")[0], self.report.value("entry_client"))
        self.assertEqual(self.report.value("capture"), "0", "the field's own release ran")
        # The unchanged log kept its line not shown yet; the replaced text came back.
        replaced = b"scritto da fuori\r\n"
        self.assertEqual([bytes.fromhex(v) for v in self.report.values("log_put")], [replaced])
        self.assertEqual(self.report.bytes("log_value"), replaced)


if __name__ == "__main__":
    exit_cleanly_on_sigterm()
    unittest.main(verbosity=2)
