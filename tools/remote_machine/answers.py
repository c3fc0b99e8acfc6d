"""The received stream split into the answers to each "B", and the answers compared
with the tape."""

from __future__ import annotations

import dataclasses
import struct

import tapfile
from remote_machine.protocol import END_BYTE, HEADER_SIZE, START_BYTE


@dataclasses.dataclass
class Answer:
    """What came back for one "B" (request_time None: nothing asked for it)."""

    index: int
    request_time: float | None
    kind: str = ""  # "entry", "end" or "wrong start byte"
    start_time: float | None = None
    first_byte: int | None = None
    header: bytearray = dataclasses.field(default_factory=bytearray)
    header_first_time: float | None = None
    header_last_time: float | None = None
    data: bytearray = dataclasses.field(default_factory=bytearray)
    data_first_time: float | None = None
    data_last_time: float | None = None

    @property
    def length(self) -> int | None:
        if len(self.header) < HEADER_SIZE:
            return None
        return struct.unpack_from("<H", self.header, 11)[0]

    @property
    def complete(self) -> bool:
        if self.kind == "end":
            return True
        if self.kind != "entry":
            return False
        length = self.length
        return length is not None and len(self.data) == length

    @property
    def last_time(self) -> float | None:
        for when in (self.data_last_time, self.header_last_time, self.start_time):
            if when is not None:
                return when
        return None

    def stage(self) -> str:
        if self.start_time is None:
            return "waiting for the start byte"
        if len(self.header) < HEADER_SIZE:
            return f"header, {len(self.header)} of {HEADER_SIZE} bytes"
        return f"data, {len(self.data)} of {self.length} bytes"

    def wire_entry(self) -> tapfile.WireEntry:
        return tapfile.WireEntry(bytes(self.header), bytes(self.data))

    queued: bool = False  # "B" sent while an earlier answer was still arriving

    def latency(self):
        if self.request_time is None or self.start_time is None:
            return None
        return self.start_time - self.request_time

    def pause_before_header(self):
        if self.header_first_time is None:
            return None
        return self.header_first_time - self.start_time

    def pause_before_data(self):
        if self.data_first_time is None:
            return None
        return self.data_first_time - self.header_last_time


class StreamSplitter:
    """Splits received bytes into answers to the "B" requests, in order.

    Fed with (time, chunk) as bytes arrive and told of each "B" sent. The first
    fault (a wrong start byte, a byte nobody asked for) stops the splitting: what
    follows cannot be placed, so it is only counted."""

    def __init__(self):
        self.answers: list[Answer] = []
        self.pending: list[float] = []  # send times of "B"s not yet answered
        self.ended = False
        self.fault: str | None = None
        self.stray_bytes = 0  # bytes after a fault or after the end byte
        self.received = 0

    def request(self, when: float) -> None:
        self.pending.append(when)

    @property
    def current(self) -> Answer | None:
        if self.answers and not self.answers[-1].complete and self.answers[-1].kind == "entry":
            return self.answers[-1]
        return None

    @property
    def waiting(self) -> bool:
        """True while an asked-for answer has not fully arrived."""
        return self.fault is None and (bool(self.pending) or self.current is not None)

    def feed(self, when: float, chunk: bytes, byte_time: float = 0.0) -> None:
        """`when` is the time of the chunk's first byte; each next byte came
        `byte_time` later (0: all at once)."""
        self.received += len(chunk)
        pos = 0
        while pos < len(chunk):
            if self.fault is not None or self.ended:
                self.stray_bytes += len(chunk) - pos
                if self.ended and self.fault is None:
                    self.fault = (f"{len(chunk) - pos} byte(s) arrived after the end byte, "
                                  f"first {chunk[pos]:02X}h")
                return
            answer = self.current
            if answer is None:
                self._begin(when + pos * byte_time, chunk[pos])
                pos += 1
            else:
                pos = self._fill(answer, when, chunk, pos, byte_time)

    def _begin(self, when: float, byte: int) -> None:
        request_time = self.pending.pop(0) if self.pending else None
        answer = Answer(len(self.answers) + 1, request_time, start_time=when, first_byte=byte)
        if request_time is not None and self.answers:
            previous_end = self.answers[-1].last_time
            answer.queued = previous_end is not None and request_time < previous_end
        self.answers.append(answer)
        if byte == END_BYTE:
            answer.kind = "end"
            self.ended = True
        elif request_time is None:
            answer.kind = "unasked"
            self.fault = f"byte {byte:02X}h arrived with no \"B\" waiting for an answer"
        elif byte == START_BYTE:
            answer.kind = "entry"
        else:
            answer.kind = "wrong start byte"
            self.fault = (f"answer {answer.index} began with {byte:02X}h, "
                          f"not the start byte 00h nor the end byte 09h")

    def _fill(self, answer: Answer, when: float, chunk: bytes, pos: int,
              byte_time: float) -> int:
        first = when + pos * byte_time
        if len(answer.header) < HEADER_SIZE:
            take = chunk[pos:pos + HEADER_SIZE - len(answer.header)]
            if answer.header_first_time is None:
                answer.header_first_time = first
            answer.header += take
            answer.header_last_time = first + (len(take) - 1) * byte_time
            return pos + len(take)
        take = chunk[pos:pos + answer.length - len(answer.data)]
        if answer.data_first_time is None:
            answer.data_first_time = first
        answer.data += take
        answer.data_last_time = first + (len(take) - 1) * byte_time
        return pos + len(take)


def compare_with_original(answers, expected) -> tuple[list, bool]:
    """Differences between the answers and what the tape says should come.

    Returns (differences, reached_end_of_comparison)."""
    differences = []
    for position, answer in enumerate(answers):
        if answer.kind == "end":
            if position < len(expected):
                differences.append(f"end byte after {position} entries; the tape holds "
                                   f"{len(expected)}")
            return differences, True
        if answer.kind != "entry" or not answer.complete:
            break
        if position >= len(expected):
            differences.append(f"entry {position + 1} sent, but the tape holds only "
                               f"{len(expected)}; the end byte was due")
            break
        differences.extend(_entry_differences(position + 1, answer.wire_entry(),
                                              expected[position]))
    return differences, False


def _entry_differences(number: int, got: tapfile.WireEntry, want: tapfile.WireEntry):
    found = []
    fields = (("type", 0, 1), ("name", 1, 11), ("data length", 11, 13),
              ("param1", 13, 15), ("param2", 15, 17))
    for label, start, stop in fields:
        if got.header[start:stop] != want.header[start:stop]:
            found.append(f"entry {number}: {label} {got.header[start:stop].hex(' ')} "
                         f"received, {want.header[start:stop].hex(' ')} on the tape")
    if got.data != want.data:
        at = next((i for i, (a, b) in enumerate(zip(got.data, want.data)) if a != b),
                  min(len(got.data), len(want.data)))
        found.append(f"entry {number}: data differ from byte {at} "
                     f"({len(got.data)} received, {len(want.data)} on the tape)")
    return found
