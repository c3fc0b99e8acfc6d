"""The please-wait window on a real (virtual) screen, under Wine.

kestrel_wait_probe.exe opens, updates and closes the box through POPMSG inside a Wine
virtual desktop on a private Xvfb; these tests press keys on it, tell the probe
when they are done (a file in the report's folder) and read its report.

    KESTREL_WAIT_PROBE=build/windows/tests/kestrel_wait_probe.exe \
    KESTREL_WINDOW_READER=build/windows/tests/kestrel_window_reader.exe \
    KESTREL_WINE_RUN=tools/wine-run.sh WINEPREFIX=build/windows/wineprefix \
    PYTHONPATH=tools python3 tests/e2e/test_wait_window.py
"""

import os
import unittest

from winedesk import ProbeTestCase, exit_cleanly_on_sigterm

PROBE = os.environ.get("KESTREL_WAIT_PROBE", "")
READER = os.environ.get("KESTREL_WINDOW_READER", "")
WAIT_TITLE = "^Attendere$"
BOX_TITLE = "^Attenzione$"

CHAR_HEIGHT = 15  # the box's font: Arial, 15 pixels
NARROWEST_TEXT = 150  # a short or blank text is laid out as if this wide


def numbers(value):
    return [int(part) for part in value.split(",")]


@unittest.skipUnless(PROBE and READER,
                     "KESTREL_WAIT_PROBE and KESTREL_WINDOW_READER name the probe and the reader")
class WaitWindowUnderWine(ProbeTestCase):
    def run_probe(self, case):
        return self.desk.start(PROBE, case, self.report.windows_path)

    def reached(self, step):
        """Waits until the probe waits for `step`, failing at once if it gave up."""
        self.assertEqual(self.report.wait_for(step), "waiting", self.report.lines())

    def go_on(self, step):
        """Lets the probe go on past `step`."""
        with open(os.path.join(self.folder, step), "w"):
            pass

    def curmsg(self, name):
        """CURMSG as the probe reported it: None, or the text's bytes."""
        value = self.report.value(name)
        if value == "none":
            return None
        self.assertTrue(value.startswith("text:"), value)
        return bytes.fromhex(value[len("text:"):])

    def assert_shown_centred(self):
        """The box is visible, titled "Attendere", centred on the screen, and the
        probe's window behind it is disabled; answers the box's size."""
        self.assertEqual(self.report.value("active_is_probe"), "1")
        self.assertEqual(self.report.value("box_found"), "1", self.report.lines())
        self.assertEqual(self.report.bytes("box_caption"), b"Attendere")
        self.assertEqual(self.report.value("box_visible"), "1")
        self.assertEqual(self.report.value("dialogs_shown"), "1")
        self.assertEqual(self.report.value("probe_enabled_while_shown"), "0")
        left, top, width, height = numbers(self.report.value("box_rect"))
        screen_width, screen_height = numbers(self.report.value("screen"))
        self.assertLessEqual(abs(left - (screen_width - width) // 2), 1, (left, width))
        self.assertLessEqual(abs(top - (screen_height - height) // 2), 1, (top, height))
        return width, height

    def press_esc_and_alt_f4(self):
        """Presses Esc, then Alt+F4, on the box; answers whether it is still on screen."""
        self.reached("keys")
        box = self.desk.find_window(WAIT_TITLE)
        self.desk.focus(box)
        self.desk.key("Escape")
        self.desk.key("alt+F4")
        self.desk.handled_messages(READER, "Attendere")  # the keys have reached the box
        still_on_screen = bool(self.desk.windows(WAIT_TITLE))
        self.go_on("keys")
        return still_on_screen

    def assert_withstood_keys(self, still_on_screen):
        """Esc and Alt+F4 reached the box and asked it to close; it stayed, and the
        probe's window stayed disabled."""
        self.assertEqual(self.report.value("hooked"), "1")
        self.assertGreaterEqual(int(self.report.value("escape_keys")), 1, self.report.lines())
        self.assertGreaterEqual(int(self.report.value("f4_keys")), 1, self.report.lines())
        self.assertGreaterEqual(int(self.report.value("close_requests")), 2, self.report.lines())
        self.assertEqual(self.report.value("box_after_keys"), "1")
        self.assertTrue(still_on_screen)
        self.assertEqual(self.report.value("probe_enabled_after_keys"), "0")

    def assert_closed(self):
        """The box is gone, the probe's window works again, CURMSG answers none."""
        self.assertEqual(self.report.value("box_exists_after"), "0")
        self.assertEqual(self.report.value("dialogs_after"), "0")
        self.assertEqual(self.report.value("probe_enabled_after"), "1")
        self.assertIsNone(self.curmsg("curmsg_after"))

    # -- the text variant with a progress bar ------------------------------------

    def test_progress_box_withstands_esc_and_alt_f4_moves_on_and_gives_way_to_a_message_box(self):
        with self.desk.scene("wait-progress"):
            program = self.run_probe("progress")
            self.reached("keys")
            self.desk.screenshot("wait-progress")
            still_on_screen = self.press_esc_and_alt_f4()
            self.reached("updated")
            self.desk.screenshot("wait-progress-updated")
            self.go_on("updated")
            self.assertEqual(self.report.wait_for("msgbox"), "shown", self.report.lines())
            self.desk.screenshot("wait-progress-message-box")
            message_box = self.desk.find_window(BOX_TITLE)
            self.desk.focus(message_box)
            self.desk.key("Return")
            self.finish(program)

        # Open: two lines, a progress bar, laid out for the wider line.
        text = b"Copia in corso del nastro sulla porta seriale\r\nattendere"
        self.assertEqual(self.curmsg("curmsg_open"), text)
        self.assertEqual(self.report.bytes("text_line"), text)
        width, height = self.assert_shown_centred()
        measured = max(int(self.report.value("measured_first")),
                       int(self.report.value("measured_second")))
        self.assertEqual(width, max(measured + 5, NARROWEST_TEXT) + 110)
        self.assertEqual(height, (2 + 1 + 5) * CHAR_HEIGHT)
        text_left, text_top, text_width, _ = numbers(self.report.value("text_line_rect"))
        self.assertEqual((text_left, text_top, text_width), (65, 20, width - 90))
        self.assertEqual(self.report.value("progress_found"), "1")
        self.assertEqual(numbers(self.report.value("progress_rect")),
                         [15, height - 60, width - 35, 20])
        self.assertEqual(self.report.value("progress_range"), "0,10")

        self.assert_withstood_keys(still_on_screen)
        self.assertEqual(self.curmsg("curmsg_after_keys"), text)

        # Updated: the new text in place, the bar moved, still one box.
        self.assertEqual(self.curmsg("curmsg_update"), b"Copiati 5 file\r\nsu 10")
        self.assertEqual(self.report.bytes("text_line_update"), b"Copiati 5 file\r\nsu 10")
        step_behind = self.report.value("version") == "6.0"
        self.assertEqual(int(self.report.value("progress_pos")), 6 if step_behind else 5)
        self.assertEqual(self.report.value("dialogs_update"), "1")

        # The information box came only after the wait box had gone.
        self.assertEqual(self.report.value("msgbox_wait_box_exists"), "0")
        self.assertEqual(self.report.value("timeline_hooked"), "1")
        events = self.report.value("timeline").split(",")
        self.assertIn("dialog_created", events, events)
        before_box = events[:events.index("dialog_created")]
        self.assertIn("enabled", before_box, events)
        self.assertIn("wait_box_destroyed", before_box, events)
        self.assertEqual(self.report.value("msgbox_owned_by_probe"), "1")
        self.assertEqual(self.report.bytes("msgbox_text"), b"Fatto")
        self.assert_closed()

    # -- the text variant with an empty text ---------------------------------------

    def test_an_empty_text_still_gets_a_box_of_its_own_and_popmsg_alone_closes_it(self):
        with self.desk.scene("wait-blank"):
            program = self.run_probe("blank")
            self.reached("seen")
            self.desk.find_window(WAIT_TITLE)
            self.desk.screenshot("wait-blank")
            self.go_on("seen")
            self.finish(program)

        self.assertEqual(self.curmsg("curmsg_open"), b"")
        self.assertEqual(self.report.bytes("text_line"), b"")
        width, height = self.assert_shown_centred()
        self.assertGreaterEqual(width, NARROWEST_TEXT + 110)
        self.assertEqual(height, (1 + 5) * CHAR_HEIGHT)

        # A second open request while the box shows opens nothing and changes nothing.
        self.assertEqual(self.report.value("dialogs_second"), "1")
        self.assertEqual(self.curmsg("curmsg_second"), b"")
        self.assertEqual(self.report.bytes("text_line_second"), b"")
        self.assert_closed()

    # -- the printing variant --------------------------------------------------------

    def test_printing_box_counts_pages_and_cannot_be_cancelled(self):
        with self.desk.scene("wait-printing"):
            program = self.run_probe("printing")
            self.reached("keys")
            self.desk.find_window(WAIT_TITLE)
            self.desk.screenshot("wait-printing")
            still_on_screen = self.press_esc_and_alt_f4()
            self.finish(program)

        width, height = self.assert_shown_centred()
        resource_width, resource_height = numbers(self.report.value("resource_size"))
        self.assertGreater(resource_height, 33)
        self.assertEqual((width, height), (resource_width, resource_height - 33))
        self.assertIsNone(self.curmsg("curmsg_open"))
        self.assertEqual(self.report.bytes("page_open"), b"")
        self.assertEqual(self.report.bytes("page_first"), b"1")
        self.assertEqual(self.report.bytes("page_second"), b"2")
        self.assertEqual(self.report.value("cancel_exists"), "1")
        self.assertEqual(self.report.value("cancel_visible"), "0")
        self.assertEqual(self.report.value("picture"), "1")
        self.assert_withstood_keys(still_on_screen)
        self.assert_closed()


if __name__ == "__main__":
    exit_cleanly_on_sigterm()
    unittest.main(verbosity=2)
