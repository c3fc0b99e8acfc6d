"""The library's value prompt and its validation of a dialog with a folder, on a real
(virtual) screen under Wine.

kestrel_dialogs_probe.exe runs MSGGET, or a dialog whose OK button makes a confirmed
close that the library's validation checks page by page, inside a Wine virtual
desktop on a private Xvfb; these tests answer with real keystrokes, read the probe's
report and look at the screen for the field shown on red.

    KESTREL_DIALOGS_PROBE=build/windows/tests/kestrel_dialogs_probe.exe \
    KESTREL_WINE_RUN=tools/wine-run.sh WINEPREFIX=build/windows/wineprefix \
    PYTHONPATH=tools python3 tests/e2e/test_library_dialogs.py
"""

import os
import shutil
import struct
import unittest
import zlib

from winedesk import ProbeTestCase, Report, exit_cleanly_on_sigterm

PROBE = os.environ.get("KESTREL_DIALOGS_PROBE", "")
PROMPT_TITLE = "^Valore$"
FOLDER_TITLE = "^Cartella$"
BOX_TITLE = "^Attenzione$"
RED = (255, 0, 0)


# -- pictures ---------------------------------------------------------------------

def read_png(path):
    """The pixels of a PNG file as (width, height, rows of (r, g, b) tuples); the
    colour types and depths that ImageMagick writes for a screen."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is not a PNG file")
    chunks = {}
    idat = b""
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IDAT":
            idat += body
        else:
            chunks.setdefault(kind, body)
        at += 12 + length
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    if interlace or (depth != 8 and colour not in (0, 3)) or depth == 16:
        raise ValueError(f"{path}: unsupported PNG layout (depth {depth}, colour {colour})")
    bits = depth * channels
    stride = (width * bits + 7) // 8
    step = max(1, bits // 8)
    raw = zlib.decompress(idat)
    previous = bytearray(stride)
    rows = []
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up = previous[i]
            corner = previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + pred) & 255
        previous = line
        rows.append(_pixels(line, width, depth, colour, chunks.get(b"PLTE", b"")))
    return width, height, rows


def _pixels(line, width, depth, colour, palette):
    if colour == 2:
        return [tuple(line[3 * x:3 * x + 3]) for x in range(width)]
    if colour == 6:
        return [tuple(line[4 * x:4 * x + 3]) for x in range(width)]
    if colour == 4:
        return [(line[2 * x],) * 3 for x in range(width)]
    per_byte = 8 // depth
    samples = [(line[x // per_byte] >> (8 - depth * (x % per_byte + 1))) & ((1 << depth) - 1)
               for x in range(width)]
    if colour == 3:
        return [tuple(palette[3 * s:3 * s + 3]) for s in samples]
    scale = 255 // ((1 << depth) - 1)
    return [(s * scale,) * 3 for s in samples]


def count_colour(picture, box, colour):
    """How many pixels of the box (left, top, right, bottom; right and bottom
    excluded) have exactly this colour."""
    width, height, rows = picture
    left, top, right, bottom = box
    return sum(1 for y in range(max(top, 0), min(bottom, height))
               for x in range(max(left, 0), min(right, width)) if rows[y][x] == colour)


def rect(text):
    return tuple(int(n) for n in text.split(","))


def area(box):
    return (box[2] - box[0]) * (box[3] - box[1])


@unittest.skipUnless(PROBE, "KESTREL_DIALOGS_PROBE names the probe program")
class LibraryDialogsUnderWine(ProbeTestCase):
    @classmethod
    def setUpClass(cls):
        if shutil.which("import") is None:
            raise RuntimeError("ImageMagick's import is not installed (tools/install-deps.sh)")
        super().setUpClass()

    def run_probe(self, *args):
        return self.desk.start(PROBE, args[0], self.report.windows_path, *args[1:])

    def type_into(self, window_title, *keys, text):
        """Focuses the window, presses the keys that select the text of a field, then
        types the new text over it."""
        self.press(window_title, *keys)
        self.desk.type_text(text)

    def picture(self, label):
        """A screenshot, kept under the test's screenshot folder when there is one,
        decoded; the screen's origin is the Wine desktop's."""
        path = self.desk.screenshot(label)
        if path is None:
            path = os.path.join(self.folder, "screen.png")
            self.desk.capture(path)
        x, y = self.desk.desktop_origin()
        width, height, rows = read_png(path)
        return width - x, height - y, [row[x:] for row in rows[y:]]

    def text(self, name):
        return self.report.bytes(name).decode("cp1252")

    # -- the value prompt ---------------------------------------------------------

    # The prompt opens with the focus in the field and its value selected: typing
    # replaces it.
    TO_FIELD = ()

    def test_the_prompt_shows_the_value_and_enter_stores_the_edited_copy(self):
        with self.desk.scene("msgget-confirmed"):
            program = self.run_probe("msgget")
            self.report.wait_for("dialog")
            self.desk.screenshot("msgget-shown")
            self.type_into(PROMPT_TITLE, *self.TO_FIELD, text="nastro_2.tap")
            self.desk.key("Return")
            self.finish(program)
        self.assertEqual(self.text("caption"), "Valore")
        self.assertEqual(self.report.value("class"), "#32770")
        self.assertEqual(self.text("prompt"), "Nome del nastro:")
        self.assertEqual(self.text("field"), "vecchio")
        self.assertEqual(self.text("confirm"), "&Conferma")
        self.assertEqual(self.text("cancel"), "&Annulla")
        self.assertEqual(self.report.value("focus_id"), "102")
        left, top, right, bottom = rect(self.report.value("rect"))
        d_left, d_top, d_right, d_bottom = rect(self.report.value("desktop"))
        self.assertLessEqual(abs((left + right) - (d_left + d_right)), 2, "centred across")
        self.assertLessEqual(abs((top + bottom) - (d_top + d_bottom)), 2, "centred down")
        self.assertEqual(self.report.value("answer"), "true")
        self.assertEqual(self.text("value"), "nastro_2.tap")

    def test_enter_at_once_confirms_the_value_unchanged(self):
        with self.desk.scene("msgget-enter-at-once"):
            program = self.run_probe("msgget")
            self.report.wait_for("dialog")
            self.press(PROMPT_TITLE, "Return")
            self.finish(program)
        self.assertEqual(self.report.value("answer"), "true")
        self.assertEqual(self.text("value"), "vecchio")

    def click(self, point):
        """Clicks the left button at a point of the Wine desktop."""
        x, y = rect(point)
        self.desk.click(x, y)

    def test_every_other_close_answers_false_and_leaves_the_value_alone(self):
        closes = (("escape", lambda: self.desk.key("Escape")),
                  ("alt-f4", lambda: self.desk.key("alt+F4")),
                  ("close-box", lambda: self.click(self.report.value("close_box"))),
                  ("annulla", lambda: self.desk.key("alt+a")))
        for name, close in closes:
            with self.subTest(close=name), self.desk.scene("msgget-" + name):
                self.report = Report(os.path.join(self.folder, f"report-{name}.txt"))
                program = self.run_probe("msgget")
                self.report.wait_for("dialog")
                self.type_into(PROMPT_TITLE, *self.TO_FIELD, text="scarto")
                close()
                self.finish(program)
                self.assertEqual(self.report.value("answer"), "false")
                self.assertEqual(self.text("value"), "vecchio")

    def refuse_then_correct(self, kind, refused, corrected):
        """Types a value the field's check refuses and confirms; answers the message;
        types the corrected value over it and confirms again."""
        with self.desk.scene("msgget-" + kind):
            program = self.run_probe("msgget", kind)
            self.report.wait_for("dialog")
            self.type_into(PROMPT_TITLE, *self.TO_FIELD, text=refused)
            self.desk.key("Return")
            self.assertEqual(self.report.wait_for("box"), "1", self.report.lines())
            self.press(BOX_TITLE, "Return")
            self.type_into(PROMPT_TITLE, "Home", "shift+End", text=corrected)
            self.desk.key("Return")
            self.finish(program)
        self.assertEqual(self.report.values("box"), ["1"])
        self.assertEqual(self.report.value("answer"), "true")

    def test_a_date_prompt_refuses_an_impossible_day_and_stores_the_corrected_date(self):
        self.refuse_then_correct("date", "31/02/21", "28/02/21")
        self.assertEqual(self.text("field"), "01/01/85")
        self.assertEqual(self.text("box_text"), "Data non valida.")
        self.assertEqual(self.text("value"), "2021-02-28")

    def test_a_number_prompt_refuses_a_number_too_large_and_stores_the_corrected_one(self):
        self.refuse_then_correct("number", "12345.6", "1234.5")
        self.assertEqual(self.text("field"), "42.50")
        self.assertEqual(self.text("box_text"), "Numero troppo grande.")
        self.assertEqual(self.text("value"), "1234.50")

    # -- a confirmed close that finds an invalid field ----------------------------

    def wait_for_box(self, n):
        self.assertEqual(self.report.wait_for("box"), str(n), self.report.lines())
        self.desk.find_window(BOX_TITLE)

    def red_in(self, picture, name):
        return count_colour(picture, rect(self.report.value(name)), RED)

    def test_an_impossible_date_on_page_two_refuses_the_close_until_it_is_corrected(self):
        with self.desk.scene("folder-bad-date"):
            program = self.run_probe("folder", "date")
            self.report.wait_for("dialog")
            self.press(FOLDER_TITLE, "Return")
            self.wait_for_box(1)
            flagged = self.picture("folder-bad-date-flagged")
            self.assertEqual(self.report.values("close"), [], "decided only once answered")
            self.press(BOX_TITLE, "Return")
            self.report.wait_for("close")
            restored = self.picture("folder-bad-date-restored")
            date_id = self.report.value("date_id")
            self.type_into(FOLDER_TITLE, "Home", "shift+End", text="28/02/21")
            self.desk.key("Return")
            self.finish(program)
        self.assertEqual(self.report.value("tab"), "1", "page 1 in front at first")
        # While the message shows: page 2 in front, its date field on red.
        self.assertEqual(self.text("box1_text"), "Data non valida.")
        self.assertEqual(self.text("box1_owner"), "Cartella")
        self.assertEqual(self.report.value("box1_tab"), "2")
        self.assertEqual(self.report.value("box1_date_visible"), "1")
        self.assertEqual(self.report.value("box1_text_visible"), "0")
        date_box = rect(self.report.value("box1_date_rect"))
        self.assertGreater(self.red_in(flagged, "box1_date_rect"), area(date_box) // 2)
        self.assertEqual(self.red_in(flagged, "box1_number_rect"), 0)
        # Answered: refused, page 2 still in front, the close code cleared, the focus
        # on the date field and its colour back.
        self.assertEqual(self.report.value("close1_accepted"), "0")
        self.assertEqual(self.report.value("close1_option"), "2")
        self.assertEqual(self.report.value("close1_cargo"), "none")
        self.assertEqual(self.report.value("close1_focus_id"), date_id)
        self.assertEqual(self.report.value("close1_focus_pane"),
                         self.report.value("close1_window_pane"))
        self.assertEqual(self.report.value("close1_dialog_visible"), "1")
        self.assertEqual(self.red_in(restored, "box1_date_rect"), 0)
        # Corrected: the close goes through although the inactive number field holds
        # a number too large for it.
        self.assertEqual(self.report.values("box"), ["1"])
        self.assertEqual(self.report.value("close2_accepted"), "1")
        self.assertEqual(self.report.value("result"), "1")
        self.assertEqual(self.text("date_value"), "28/02/21")
        self.assertEqual(self.text("number_value"), "1234567")

    def test_a_field_its_own_test_refuses_keeps_page_one_in_front_and_esc_then_closes(self):
        with self.desk.scene("folder-field-refused"):
            program = self.run_probe("folder", "cargo")
            self.report.wait_for("dialog")
            self.press(FOLDER_TITLE, "Return")
            self.wait_for_box(1)
            flagged = self.picture("folder-field-refused-flagged")
            self.press(BOX_TITLE, "Return")
            self.report.wait_for("close")
            # The failed confirmed close was forgotten: Esc is an ordinary close,
            # allowed without validating anything again.
            self.press(FOLDER_TITLE, "Escape")
            self.finish(program)
        self.assertEqual(self.text("box1_text"), "Campo non valido.")
        self.assertEqual(self.report.value("box1_tab"), "1")
        self.assertEqual(self.report.value("box1_text_visible"), "1")
        self.assertEqual(self.report.value("box1_date_visible"), "0")
        text_box = rect(self.report.value("box1_text_rect"))
        self.assertGreater(self.red_in(flagged, "box1_text_rect"), area(text_box) // 2)
        self.assertEqual(self.report.value("close1_accepted"), "0")
        self.assertEqual(self.report.value("close1_option"), "1")
        self.assertEqual(self.report.value("close1_cargo"), "none")
        self.assertEqual(self.report.value("close1_focus_id"), self.report.value("text_id"))
        self.assertEqual(self.report.values("box"), ["1"])
        self.assertEqual(self.report.value("closes"), "1")
        self.assertEqual(self.report.value("result"), "2")


if __name__ == "__main__":
    exit_cleanly_on_sigterm()
    unittest.main(verbosity=2)
