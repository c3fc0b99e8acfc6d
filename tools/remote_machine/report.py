"""The report of a run: the answers, their times, and the tape's check."""

from __future__ import annotations

import statistics
import struct
import typing

import tapfile
from remote_machine.answers import Answer, compare_with_original
from remote_machine.protocol import (EXIT_OK, EXIT_PROTOCOL, EXIT_TAPE_DIFFERS, HEADER_SIZE,
                                     LINE_BYTES_PER_SECOND)

if typing.TYPE_CHECKING:
    from remote_machine.simulator import RemoteSimulator


def _ms(seconds):
    return None if seconds is None else round(seconds * 1000, 3)


def _round(seconds):
    return None if seconds is None else round(seconds, 6)


def _spread(values) -> dict | None:
    values = [value for value in values if value is not None]
    if not values:
        return None
    return {"count": len(values), "min_ms": _ms(min(values)),
            "median_ms": _ms(statistics.median(values)), "max_ms": _ms(max(values))}


class Report:
    def __init__(self, sim: RemoteSimulator, expected, original):
        self.log = sim.log
        self.read_rate = sim.read_rate
        self.answers = list(sim.splitter.answers)
        self.splitter = sim.splitter
        self.expected = expected
        self.entries = [a for a in self.answers if a.kind == "entry" and a.complete]
        self.rebuilt = tapfile.rebuild_tape([a.wire_entry() for a in self.entries])
        self.errors = list(sim.log.errors)
        self.differences: list[str] = []
        self.identical_to_original = None
        if expected is not None:
            self.differences, _ = compare_with_original(self.answers, expected)
            served_all = self.splitter.ended and not self.differences
            self.identical_to_original = served_all and self.rebuilt == original
            if served_all and not self.identical_to_original:
                self.log.notes.append(
                    "the rebuilt tape carries the same entries but is not byte-identical "
                    "to the file: its lengths, flags, checksums or trailing bytes, which "
                    "the tool never sends, are not the standard ones")
            elif not self.splitter.ended and not self.differences and not self.errors:
                self.log.notes.append(
                    f"partial check: {len(self.entries)} of {len(expected)} entries asked for")

    @property
    def exit_status(self) -> int:
        if self.errors:
            return EXIT_PROTOCOL
        if self.differences:
            return EXIT_TAPE_DIFFERS
        return EXIT_OK

    @property
    def verdict(self) -> str:
        return {EXIT_OK: "PASS", EXIT_TAPE_DIFFERS: "FAIL: tape differs",
                EXIT_PROTOCOL: "FAIL: protocol broken"}[self.exit_status]

    def throughput(self) -> dict:
        data_bytes = sum(len(a.data) for a in self.entries)
        answer_bytes = sum(1 + len(a.header) + len(a.data) for a in self.entries)
        busy = sum(a.last_time - a.request_time for a in self.entries
                   if a.request_time is not None)
        data_time = sum(a.data_last_time - a.data_first_time for a in self.entries
                        if a.data_first_time is not None)
        first_request = next((a.request_time for a in self.answers
                              if a.request_time is not None), None)
        last_arrival = self.log.received[-1][0] if self.log.received else None
        elapsed = (last_arrival - first_request
                   if first_request is not None and last_arrival is not None else None)

        def rate(count, seconds, shortest=0.0):
            return round(count / seconds, 1) if seconds and seconds > shortest else None

        return {
            "entries": len(self.entries),
            "data_bytes": data_bytes,
            "answer_bytes": answer_bytes,
            "elapsed_s": None if elapsed is None else round(elapsed, 6),
            "answer_time_s": round(busy, 6),
            "bytes_per_s_overall": rate(answer_bytes, elapsed),
            "bytes_per_s_answering": rate(answer_bytes, busy),
            # Meaningful on a real line only: a pty delivers a block in one or two reads.
            "data_bytes_per_s_in_data_phase": rate(data_bytes, data_time, 0.001),
            "line_bytes_per_s_at_115200_8n2": round(LINE_BYTES_PER_SECOND, 1),
        }

    def summary(self) -> dict:
        entries = self.entries
        return {
            # A "B" that waited behind an earlier answer measures that answer, not the tool.
            "latency": _spread(a.latency() for a in self.answers if not a.queued),
            "pause_before_header": _spread(a.pause_before_header() for a in entries),
            "pause_before_data": _spread(a.pause_before_data() for a in entries),
            "throughput": self.throughput(),
        }

    def to_dict(self, trace: bool = False) -> dict:
        result = {
            "result": self.verdict,
            "exit_status": self.exit_status,
            "errors": self.errors,
            "notes": self.log.notes,
            "answers": [self._answer_dict(a) for a in self.answers],
            "summary": self.summary(),
            "comparison": None if self.expected is None else {
                "expected_entries": len(self.expected),
                "received_entries": len(self.entries),
                "end_byte_received": self.splitter.ended,
                "differences": self.differences,
                "identical_to_original": self.identical_to_original,
            },
            "bytes_sent": sum(len(data) for _, data in self.log.sent),
            "bytes_received": self.splitter.received,
            "read_rate_bytes_per_s": None if self.read_rate is None else round(self.read_rate, 1),
            "line_closed_at_s": self.log.line_closed_at,
        }
        if trace:
            result["trace"] = sorted(
                [{"t": round(t, 6), "dir": "sent", "hex": d.hex()} for t, d in self.log.sent] +
                [{"t": round(t, 6), "dir": "received", "hex": d.hex()}
                 for t, d in self.log.received], key=lambda event: event["t"])
        return result

    @staticmethod
    def _answer_dict(answer: Answer) -> dict:
        item = {
            "index": answer.index,
            "kind": answer.kind,
            "complete": answer.complete,
            "request_time_s": _round(answer.request_time),
            "start_time_s": _round(answer.start_time),
            "latency_ms": _ms(answer.latency()),
            "queued": answer.queued,
        }
        if answer.kind == "entry":
            header = bytes(answer.header)
            item.update({
                "header_hex": header.hex(),
                "received_data_bytes": len(answer.data),
                "pause_before_header_ms": _ms(answer.pause_before_header()),
                "pause_before_data_ms": _ms(answer.pause_before_data()),
                "answer_time_ms": _ms(answer.last_time - answer.request_time),
            })
            if len(header) == HEADER_SIZE:
                entry = tapfile.TapEntry.from_header(header, bytes(answer.data)) \
                    if answer.complete else None
                length, param1, param2 = struct.unpack_from("<HHH", header, 11)
                item.update({"type": header[0], "name": header[1:11].decode("cp1252", "replace"),
                             "length": length, "param1": param1, "param2": param2})
                if entry is not None:
                    item["display_name"] = entry.display_name()
        elif answer.first_byte is not None and answer.kind != "end":
            item["first_byte"] = answer.first_byte
        return item

    def text(self) -> str:
        lines = []
        add = lines.append
        add(f"{'#':>3}  {'answer':<16} {'name':<12} {'type':>4} {'N':>6} {'param1':>6} "
            f"{'param2':>6} {'latency':>9} {'pause1':>9} {'pause2':>9} {'total':>9}")

        def cell(seconds, mark=""):
            return "-" if seconds is None else f"{seconds * 1000:.2f}ms{mark}"

        for answer in self.answers:
            if answer.kind == "entry" and answer.length is not None:
                header = bytes(answer.header)
                name = header[1:11].decode("cp1252", "replace")
                _, param1, param2 = struct.unpack_from("<HHH", header, 11)
                state = "entry" if answer.complete else "entry (cut)"
                add(f"{answer.index:>3}  {state:<16} {name!r:<12} {header[0]:>4} "
                    f"{answer.length:>6} {param1:>6} {param2:>6} "
                    f"{cell(answer.latency(), '*' if answer.queued else ''):>9} "
                    f"{cell(answer.pause_before_header()):>9} "
                    f"{cell(answer.pause_before_data()):>9} "
                    f"{cell(answer.last_time - answer.request_time):>9}")
            else:
                label = {"end": "end byte 09h", "entry": "entry (cut)"}.get(
                    answer.kind, f"{answer.kind} {answer.first_byte:02X}h")
                if answer.kind == "end" and answer.request_time is None:
                    label = "end byte unasked"
                add(f"{answer.index:>3}  {label:<16} {'':<12} {'':>4} {'':>6} {'':>6} {'':>6} "
                    f"{cell(answer.latency()):>9}")
        if not self.answers:
            add("  (no answer)")
        summary = self.summary()
        if any(answer.queued for answer in self.answers):
            add("  * sent while the previous answer was arriving; left out of the latency")
        add("")
        for key, label in (("latency", "Latency, B to start byte"),
                           ("pause_before_header", "Pause, start byte to header"),
                           ("pause_before_data", "Pause, header to data")):
            spread = summary[key]
            if spread:
                add(f"{label + ':':<30} min {spread['min_ms']:.2f} ms, median "
                    f"{spread['median_ms']:.2f} ms, max {spread['max_ms']:.2f} ms "
                    f"({spread['count']})")
        rate = summary["throughput"]
        if rate["elapsed_s"] and rate["entries"]:
            add(f"{'Throughput:':<30} {rate['answer_bytes']} bytes ({rate['data_bytes']} of data) "
                f"in {rate['elapsed_s']:.3f} s = {rate['bytes_per_s_overall']:.0f} bytes/s "
                f"from the first B")
            if rate["data_bytes_per_s_in_data_phase"]:
                add(f"{'':<30} {rate['data_bytes_per_s_in_data_phase']:.0f} bytes/s within the "
                    f"data (line limit at 115200 8N2: {LINE_BYTES_PER_SECOND:.0f} bytes/s)")
        add(f"{'Bytes:':<30} {sum(len(d) for _, d in self.log.sent)} sent, "
            f"{self.splitter.received} received")
        if self.expected is not None:
            if self.errors:
                pass  # the errors below say why the check stopped
            elif not self.differences and self.splitter.ended:
                same = (", rebuilt file byte-identical" if self.identical_to_original else "")
                add(f"{'Tape:':<30} all {len(self.expected)} entries and the end byte "
                    f"as on the tape{same}")
            elif not self.differences:
                add(f"{'Tape:':<30} the {len(self.entries)} entries received match the "
                    f"first of the tape's {len(self.expected)}")
            for difference in self.differences:
                add(f"{'Tape differs:':<30} {difference}")
        if self.read_rate is not None:
            add(f"{'Line:':<30} paced at {self.read_rate:.0f} bytes/s; times are those "
                f"of arrival at that pace")
        if self.log.line_closed_at is not None:
            add(f"{'Line:':<30} closed by the other end at {self.log.line_closed_at:.3f} s")
        for note in self.log.notes:
            add(f"{'Note:':<30} {note}")
        for error in self.errors:
            add(f"{'Protocol error:':<30} {error}")
        add(f"Result: {self.verdict}")
        return "\n".join(lines) + "\n"
