"""The error handler's final report on a real (virtual) screen, under Wine.

kestrel_error_probe.exe starts with the program's real start-up order and error
handler; its main routine raises a framework error inside a dialog. These tests
answer the report box with a keystroke and read the probe's report.

    KESTREL_ERROR_PROBE=build/windows/tests/kestrel_error_probe.exe \
    KESTREL_WINE_RUN=tools/wine-run.sh WINEPREFIX=build/windows/wineprefix \
    PYTHONPATH=tools python3 tests/e2e/test_error_report.py
"""

import os
import unittest

from winedesk import ProbeTestCase, exit_cleanly_on_sigterm

PROBE = os.environ.get("KESTREL_ERROR_PROBE", "")
BOX_TITLE = "^Attenzione$"
ORDER_BEFORE = ["module values", "ERRORSYS", "OLE", "INIT", "GDI+ on", "MAIN"]
ORDER_AFTER = ["quit", "EXIT", "GDI+ off", "OLE off"]
MAIL_HEAD = b"mailto:?subject=Rapporto di errore&body=Applicazione: "


@unittest.skipUnless(PROBE, "KESTREL_ERROR_PROBE names the probe program")
class FinalReportUnderWine(ProbeTestCase):
    def answer_report(self, label, key):
        with self.desk.scene(label):
            program = self.desk.start(PROBE, "error", self.report.windows_path, cwd=self.folder)
            self.report.wait_for("box")
            window = self.desk.find_window(BOX_TITLE)
            self.desk.screenshot(label)
            self.desk.focus(window)
            self.desk.key(key)
            self.assertEqual(self.report.wait_for("done"), "0", self.report.lines())
            self.desk.wait_exit(program)

    def test_cancel_ends_the_program_through_the_shut_down_and_starts_no_mail(self):
        self.answer_report("error-report-cancel", "Escape")
        self.assertEqual(self.report.values("step"), ORDER_BEFORE + ORDER_AFTER)
        self.assertEqual(self.report.values("after_error"), [])
        self.assertEqual(self.report.values("mail"), [])

    def test_ok_hands_the_encoded_report_to_the_shell_then_ends_the_same_way(self):
        self.answer_report("error-report-ok", "Return")
        self.assertEqual(self.report.values("step"), ORDER_BEFORE + ORDER_AFTER)
        self.assertEqual(self.report.values("after_error"), [])
        mail = self.report.bytes("mail")
        self.assertTrue(mail.startswith(MAIL_HEAD), mail)
        path, _, body = mail[len(MAIL_HEAD):].partition(b"%0d%0a%0d%0a")
        self.assertTrue(path.lower().endswith(b"kestrel_error_probe.exe"), path)
        self.assertEqual(body, b"Error KESTRELUI/1  Non defined Id: No:      7"
                               b"%0d%0aFunction: PROBEMAIN  Line: " +
                               self.report.value("frame_line").encode())

    def test_a_wait_window_left_open_closes_in_the_librarys_shut_down_before_the_framework_goes(self):
        with self.desk.scene("error-probe-wait-left-open"):
            program = self.desk.start(PROBE, "wait", self.report.windows_path, cwd=self.folder)
            self.assertEqual(self.report.wait_for("done"), "0", self.report.lines())
            self.desk.wait_exit(program)
        self.assertEqual(self.report.values("step"), ORDER_BEFORE + ["EXIT", "GDI+ off", "OLE off"])
        self.assertEqual(self.report.value("wait_box_open"), "1")
        self.assertEqual(self.report.value("wait_box_after_exit"), "0")


if __name__ == "__main__":
    exit_cleanly_on_sigterm()
    unittest.main(verbosity=2)
