#!/usr/bin/env python3
"""Remote-machine simulator: plays the machine that loads a tape from KESTREL.

The remote end of the line sends command bytes; KESTREL answers each "B" (42h)
with the next entry of its tape: the start byte 00h, a pause, the 17-byte header
(type, 10-byte name, N, param1, param2, words low byte first), a pause and N data
bytes. A "B" on an exhausted tape gets the end byte 09h and the tool closes.

This program sends the command bytes of a script, records every byte it receives
with the time it arrived, splits the stream into answers by the protocol (the data
length comes from each header, so data bytes that look like 00h, 09h or "B" never
confuse it), rebuilds a .tap file from the answers with computed flags and
checksums, compares it with the tape the tool serves, and reports the latency from
each "B" to its start byte, the two pauses and the throughput.

Design: one thread and poll() with a deadline on every wait, so it never hangs: a
silent, slow or vanished peer turns into a reported timeout. The next "B" of a
script goes out only when every earlier answer has fully arrived. Times are taken
when a chunk is read, so a pause is measured from the arrival of the start byte to
the arrival of the header's first byte (and from the header's last byte to the
data's first byte).

Line speed: a pty hands over bytes as fast as they are written. With `read_rate`
(the command line's --line-speed: the 10,472 bytes a second of 115200 baud 8N2) a
LineModel stands for the wire: the simulator takes what the tool wrote as soon as it
is there, but never more than a few milliseconds of the line ahead of it, so the
rest waits in the pty and the tool's writes block as they would on a real line.
Each byte taken is stamped with the time it would finish arriving on that wire (one
byte time after it was written, or after the byte before it arrived, whichever is
later) and reaches the splitting only then, so latency and pauses are measured from
arrival on the line, not from when the simulator happened to read.

It works on any file descriptor: a serial device (a null-modem cable to a machine
running KESTREL, or a loopback between two ports of one machine), the master of a
pseudo-terminal whose slave the tool opened (the end-to-end tests), or a TCP
connection to kestrel-serve over the network (--tcp, --tcp-listen; a socket gets no
line settings). As a library:

    sim = RemoteSimulator(master_fd, answer_timeout=2.0)
    report = sim.run(parse_script("XYB B*"), original=open("demo.tap", "rb").read())
    assert report.exit_status == EXIT_OK, report.text()

Script tokens (separated by blanks or commas):
  B          send "B" and wait until its answer has fully arrived
  XYB        send the bytes X, Y and B in one write (any text; only "B" asks)
  BB         two "B" in quick succession: both answers are awaited
  hex:0D42   send bytes given in hexadecimal
  wait:50    listen for 50 ms without sending (also written 50ms)
  B*         send "B" after "B" until the end byte arrives
  3*TOKEN    the token three times (for example 3*B)
  noise:N    send N bytes none of which is "B" (a fixed pseudo-random sequence over the
             other 255 byte values), in writes of at most 4096 bytes, awaiting nothing
  flood:S    the same noise at ten times the line rate (104,720 bytes a second) for
             S seconds, paced, awaiting nothing: 104,720 x S bytes (a tool that takes
             them more slowly stretches the flood); then nothing more
  deaf:S     stop reading the line for S seconds (what the tool sends piles up and its
             writes block), then read again; right after B or XYB the answer is awaited
             only after the deaf spell, so it stalls that answer

Exit status: 0 all answers well-formed and equal to the tape; 1 the rebuilt tape
differs from the original; 2 the protocol was broken (timeout, wrong start byte,
missing end byte, unexpected bytes); 3 setup failed (device, tape file, script).
"""

from __future__ import annotations

import argparse
import collections
import dataclasses
import errno
import json
import math
import os
import select
import socket
import statistics
import struct
import sys
import termios
import time
import typing

import tapfile

COMMAND_BYTE = 0x42
START_BYTE = 0x00
END_BYTE = 0x09
HEADER_SIZE = tapfile.HEADER_PAYLOAD_SIZE

EXIT_OK = 0
EXIT_TAPE_DIFFERS = 1
EXIT_PROTOCOL = 2
EXIT_SETUP = 3

# 115200 baud with 1 start, 8 data and 2 stop bits: 11 bits a byte.
LINE_BAUD = 115200
LINE_BYTES_PER_SECOND = LINE_BAUD / 11

FLOOD_BYTES_PER_SECOND = 10 * LINE_BYTES_PER_SECOND
NOISE_WRITE_SIZE = 4096

_PEER_ABSENT_NAP = 0.02  # seconds between checks while a pty has no slave open
_READ_SIZE = 65536
_PACE_STEP = 0.005  # seconds of line a paced read may take ahead; the pace of releases
_FLOOD_STEP = 0.01  # seconds of line time a paced write carries


class ScriptError(ValueError):
    pass


# --- Script ----------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Send:
    data: bytes


@dataclasses.dataclass(frozen=True)
class Wait:
    seconds: float


@dataclasses.dataclass(frozen=True)
class Noise:
    """`size` noise bytes; `rate` bytes a second at most (None: as fast as the line takes them)."""
    size: int
    rate: float | None = None


@dataclasses.dataclass(frozen=True)
class Deaf:
    seconds: float


@dataclasses.dataclass(frozen=True)
class Call:
    """Runs `action` at this point of the script (for programs that drive the run;
    no script token makes one)."""
    action: typing.Callable[[], None]


@dataclasses.dataclass(frozen=True)
class UntilEnd:
    """Send "B" after "B" until the end byte; at most `limit` requests."""
    limit: int | None = None


def _noise_pattern(size: int = 65536) -> bytes:
    """A fixed xorshift sequence of bytes, "B" left out."""
    state = 0x2545F491
    pattern = bytearray()
    while len(pattern) < size:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        if state >> 24 != COMMAND_BYTE:
            pattern.append(state >> 24)
    return bytes(pattern)


_NOISE = _noise_pattern()


def noise_bytes(count: int) -> bytes:
    """The first `count` bytes of the noise every noise:N and flood:S token sends."""
    return (_NOISE * (count // len(_NOISE) + 1))[:count]


def parse_script(text: str) -> list:
    steps = []
    for token in text.replace(",", " ").split():
        steps.extend(_parse_token(token))
    if not steps:
        raise ScriptError("empty script")
    return steps


def _parse_token(token: str) -> list:
    count_text, star, rest = token.partition("*")
    if star and count_text.isdigit() and rest:
        count = int(count_text)
        if count > 100000:
            raise ScriptError(f"{token}: repeat count too large")
        return _parse_token(rest) * count
    if token == "B*":
        return [UntilEnd()]
    lowered = token.lower()
    if lowered.startswith("wait:") or (lowered.endswith("ms") and lowered[:-2].isdigit()):
        number = lowered[5:] if lowered.startswith("wait:") else lowered[:-2]
        try:
            milliseconds = float(number)
        except ValueError:
            raise ScriptError(f"{token}: not a number of milliseconds") from None
        if milliseconds < 0:
            raise ScriptError(f"{token}: negative wait")
        return [Wait(milliseconds / 1000)]
    if lowered.startswith(("noise:", "flood:", "deaf:")):
        word, _, number = lowered.partition(":")
        try:
            value = int(number) if word == "noise" else float(number)
        except ValueError:
            raise ScriptError(f"{token}: not a number") from None
        if not value > 0 or value > (10 ** 8 if word == "noise" else 3600):
            raise ScriptError(f"{token}: out of range")
        if word == "noise":
            return [Noise(value)]
        if word == "flood":
            return [Noise(round(value * FLOOD_BYTES_PER_SECOND), FLOOD_BYTES_PER_SECOND)]
        return [Deaf(value)]
    if lowered.startswith("hex:"):
        try:
            data = bytes.fromhex(token[4:])
        except ValueError:
            raise ScriptError(f"{token}: not hexadecimal") from None
        if not data:
            raise ScriptError(f"{token}: no bytes")
        return [Send(data)]
    return [Send(token.encode("latin-1"))]


def describe_steps(steps) -> str:
    words = []
    for step in steps:
        if isinstance(step, Send):
            words.append(step.data.decode("latin-1") if step.data.isascii()
                         and step.data.decode().isprintable() else "hex:" + step.data.hex())
        elif isinstance(step, Wait):
            words.append(f"wait:{step.seconds * 1000:g}")
        elif isinstance(step, Noise):
            words.append(f"noise:{step.size}" if step.rate is None
                         else f"flood:{round(step.size / step.rate, 3):g}")
        elif isinstance(step, Deaf):
            words.append(f"deaf:{step.seconds:g}")
        elif isinstance(step, Call):
            continue
        else:
            words.append("B*")
    return " ".join(words)


# --- Splitting the received stream -----------------------------------------------

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


# --- The line's pace -------------------------------------------------------------

class LineModel:
    """The wire of a line that is really a pty: bytes taken from the pty arrive at
    the line's pace. A byte written at time t arrives one byte time after t, or one
    byte time after the byte before it arrived, whichever is later; bytes that
    arrive back to back form one run. At most `depth` bytes are on the wire (taken,
    not yet arrived) at once: the rest waits in the pty. Times are the caller's
    clock; nothing here reads a clock or a descriptor."""

    def __init__(self, rate: float, depth: int):
        self.byte_time = 1.0 / rate
        self.depth = depth
        self._runs = collections.deque()  # [first arrival, bytearray] not yet released
        self._last_arrival = -math.inf

    def unreleased(self) -> int:
        return sum(len(data) for _, data in self._runs)

    def on_wire(self, now: float) -> int:
        """Bytes taken that have not arrived by `now` (all of them in the last run)."""
        if now >= self._last_arrival or not self._runs:
            return 0
        pending = math.ceil((self._last_arrival - now) / self.byte_time - 1e-9)
        return min(len(self._runs[-1][1]), pending)

    def room(self, now: float) -> int:
        return max(0, self.depth - self.on_wire(now))

    def take(self, now: float, data: bytes) -> None:
        """The tool's bytes, read from the pty at `now`."""
        if not data:
            return
        if self._runs and self._last_arrival >= now:
            self._runs[-1][1].extend(data)  # right behind the bytes on the wire
        else:
            self._runs.append([now + self.byte_time, bytearray(data)])
        self._last_arrival = max(now, self._last_arrival) + len(data) * self.byte_time

    def release(self, now: float) -> list:
        """The bytes arrived by `now`, as (arrival of the first, bytes) per run."""
        arrived = []
        while self._runs:
            first, data = self._runs[0]
            if first > now + 1e-9:
                break
            count = min(len(data), int((now - first) / self.byte_time + 1e-9) + 1)
            arrived.append((first, bytes(data[:count])))
            if count < len(data):
                self._runs[0] = [first + count * self.byte_time, data[count:]]
                break
            self._runs.popleft()
        return arrived

    def next_arrival(self) -> float | None:
        return self._runs[0][0] if self._runs else None

    def drained_to(self, count: int) -> float:
        """When at most `count` bytes will still be on the wire."""
        return self._last_arrival - count * self.byte_time


# --- Talking over the line -------------------------------------------------------

class SimulatorError(Exception):
    pass


@dataclasses.dataclass
class RunLog:
    sent: list = dataclasses.field(default_factory=list)  # (time, bytes)
    received: list = dataclasses.field(default_factory=list)  # (time, bytes)
    errors: list = dataclasses.field(default_factory=list)
    notes: list = dataclasses.field(default_factory=list)
    line_closed_at: float | None = None


class RemoteSimulator:
    """Plays the remote machine over an open file descriptor (device or pty master).

    The descriptor is not configured here (see `configure_line`); it is switched
    to non-blocking mode. The simulator does not close it."""

    def __init__(self, fd: int, *, answer_timeout: float = 2.0,
                 first_timeout: float | None = None, settle: float = 0.2,
                 max_time: float = 600.0, max_requests: int = 10000,
                 read_rate: float | None = None, clock=time.perf_counter):
        self.fd = fd
        self.answer_timeout = answer_timeout
        self.first_timeout = answer_timeout if first_timeout is None else first_timeout
        self.settle = settle
        self.max_time = max_time
        self.max_requests = max_requests
        self.clock = clock
        self.read_rate = read_rate
        # The wire at line speed holds two pace steps of the line, and is refilled
        # when it is half empty: a late wake-up of up to a step loses no line time.
        self.read_burst = None if read_rate is None else max(2, int(2 * read_rate * _PACE_STEP))
        self.line = None if read_rate is None else LineModel(read_rate, self.read_burst)
        self._released_at = -math.inf  # clock time of the last release from the wire
        self._heard_since = 0.0  # end of the last deaf spell, in run time
        self.splitter = StreamSplitter()
        self.log = RunLog()
        self.origin = clock()
        self._deadline = self.origin + max_time
        self._peer_present = True
        self._expected_count = None
        self.inbox = bytearray()  # received and not yet taken by receive()
        os.set_blocking(fd, False)

    # Time of the run, in seconds from its start.
    def now(self) -> float:
        return self.clock() - self.origin

    def _time_left(self) -> float:
        return self._deadline - self.clock()

    def run(self, steps, original: bytes | None = None) -> "Report":
        """Play a script, listen `settle` seconds more, and report.

        Times and the run's limit count from here."""
        self.origin = self.clock()
        self._deadline = self.origin + self.max_time
        self._heard_since = 0.0
        expected = tapfile.wire_entries(original) if original is not None else None
        self._expected_count = None if expected is None else len(expected)
        limit = self.max_requests if expected is None else len(expected) + 1
        try:
            for position, step in enumerate(steps):
                if self.splitter.fault is not None:
                    break
                if self.splitter.ended and not isinstance(step, (Wait, Deaf)):
                    skipped = describe_steps(steps[position:])
                    self.log.notes.append(f"after the end byte, not sent: {skipped}")
                    break
                if isinstance(step, Send):
                    self.send(step.data)
                    following = steps[position + 1] if position + 1 < len(steps) else None
                    if not isinstance(following, Deaf):
                        self.await_answers()
                elif isinstance(step, Wait):
                    self.listen(step.seconds)
                elif isinstance(step, Noise):
                    self.send(noise_bytes(step.size), NOISE_WRITE_SIZE, step.rate)
                elif isinstance(step, Deaf):
                    self.deaf(step.seconds)
                    self.await_answers()
                elif isinstance(step, Call):
                    step.action()
                else:
                    self.request_until_end(step.limit or limit)
            self.listen(self.settle)
        except SimulatorError as error:
            self.log.errors.append(str(error))
        if self.splitter.fault:
            self.log.errors.append(self.splitter.fault)
        return Report(self, expected, original)

    def send(self, data: bytes, max_write: int | None = None, rate: float | None = None) -> None:
        """Write the bytes in full; every "B" among them is then waiting for an answer.

        Given `max_write`, in writes of at most that many bytes, each logged on its
        own; given `rate`, no faster than that many bytes a second. A line that takes
        no byte for `answer_timeout` seconds stops the run."""
        pos = 0
        began = self.clock()
        write_deadline = began + self.answer_timeout
        piece = max_write or len(data)
        if rate is not None:
            piece = min(piece, max(1, int(rate * _FLOOD_STEP)))
        while pos < len(data):
            now = self.clock()
            if now > write_deadline:
                raise SimulatorError(f"timeout: the line took {pos} of {len(data)} bytes "
                                     f"and then none for {self.answer_timeout:g} s")
            if now > self._deadline:
                raise SimulatorError(f"run time limit of {self.max_time:g} s reached while "
                                     f"sending ({pos} of {len(data)} bytes sent)")
            end = len(data) if rate is None else min(len(data), int((now - began) * rate) + piece)
            if end <= pos:  # ahead of the pace: read meanwhile
                self._pump((pos - piece + 1) / rate - (now - began))
                continue
            ready = self._poll(select.POLLIN | select.POLLOUT, 0.05)
            if ready & select.POLLIN:
                # At line speed the bytes may have to wait: a full line then waits for the pace.
                self._pump(0.0 if ready & select.POLLOUT else 0.05)
            if ready & select.POLLOUT:
                try:
                    written = os.write(self.fd, data[pos:min(end, pos + piece)])
                except BlockingIOError:
                    written = 0
                except OSError as error:  # a connection the tool closed or reset
                    self._peer_gone()
                    raise SimulatorError(f"write failed: {error}") from None
                if written:
                    if max_write is not None:
                        self.log.sent.append((self.now(), bytes(data[pos:pos + written])))
                    pos += written
                    write_deadline = self.clock() + self.answer_timeout
            elif ready & (select.POLLHUP | select.POLLERR):
                time.sleep(_PEER_ABSENT_NAP)
        when = self.now()
        if max_write is None:
            self.log.sent.append((when, bytes(data)))
        for _ in range(data.count(COMMAND_BYTE)):
            self.splitter.request(when)

    def deaf(self, seconds: float) -> None:
        """Leave the line unread for a while: what arrives waits in the line."""
        time.sleep(max(0.0, min(seconds, self._time_left())))
        self._heard_since = self.now()

    def await_answers(self) -> None:
        """Read until every "B" sent has its whole answer; a stall raises."""
        while self.splitter.waiting:
            idle_since = max(self.splitter.pending[-1] if self.splitter.pending else 0.0,
                             self._last_arrival(), self._heard_since)
            limit = self.answer_timeout if self.splitter.received else self.first_timeout
            remaining = idle_since + limit - self.now()
            if self._time_left() <= 0:
                raise SimulatorError(f"run time limit of {self.max_time:g} s reached; "
                                     + self._stall_message(limit))
            if remaining <= 0:
                raise SimulatorError(self._stall_message(limit))
            self._pump(min(remaining, self._time_left()))

    def request_until_end(self, limit: int) -> None:
        for _ in range(limit):
            self.send(b"B")
            self.await_answers()
            if self.splitter.ended or self.splitter.fault is not None:
                return
        raise SimulatorError(f"missing end byte: {limit} requests answered, no end byte")

    def listen(self, seconds: float) -> None:
        """Keep receiving for a while without sending."""
        end = self.clock() + max(0.0, min(seconds, self._time_left()))
        while True:
            remaining = end - self.clock()
            if remaining <= 0:
                return
            self._pump(remaining)

    def receive(self, count: int, timeout: float) -> bytes:
        """The next `count` bytes of the line, for a program that talks to the tool
        step by step: read no faster than `read_rate` and no further than `count`
        (the rest stays in the line). SimulatorError when they have not all come
        within `timeout` seconds."""
        end = self.clock() + timeout
        while len(self.inbox) < count:
            remaining = end - self.clock()
            if remaining <= 0:
                raise SimulatorError(f"timeout: {len(self.inbox)} of {count} bytes came within "
                                     f"{timeout:g} s: {bytes(self.inbox[:40])!r}")
            self._pump(remaining, count - len(self.inbox))
        data = bytes(self.inbox[:count])
        del self.inbox[:count]
        return data

    def receive_some(self, timeout: float) -> bytes:
        """Whatever the line brings within `timeout` seconds (perhaps nothing)."""
        if not self.inbox:
            self._pump(timeout)
        data = bytes(self.inbox)
        self.inbox.clear()
        return data

    def quiet_for(self, seconds: float) -> bool:
        """True when no byte is waiting and none arrives for that long."""
        before = self.splitter.received
        self.listen(seconds)
        on_wire = 0 if self.line is None else self.line.unreleased()
        return not self.inbox and self.splitter.received == before and not on_wire

    def wait_for_peer(self, timeout: float) -> bool:
        """For a pty master: wait until the slave is open (no hang-up reported)."""
        end = self.clock() + timeout
        while True:
            if not self._poll(0, 0) & select.POLLHUP:
                self._peer_present = True
                return True
            if self.clock() >= end:
                return False
            time.sleep(_PEER_ABSENT_NAP)

    def _last_arrival(self) -> float:
        return self.log.received[-1][0] if self.log.received else 0.0

    def _stall_message(self, limit: float) -> str:
        splitter = self.splitter
        answer = splitter.current
        closed = (f"; the line was closed at {self.log.line_closed_at:.3f} s"
                  if self.log.line_closed_at is not None else "")
        if answer is not None:
            return (f"timeout: answer {answer.index} stopped in its {answer.stage()} "
                    f"for {limit:g} s{closed}")
        number = len(splitter.answers) + 1
        if self._expected_count is not None and number > self._expected_count:
            return (f"missing end byte: no answer to request {number} within {limit:g} s "
                    f"(the tape holds {self._expected_count} entries){closed}")
        return f"timeout: no answer to request {number} within {limit:g} s{closed}"

    def _poll(self, events: int, timeout: float) -> int:
        poller = select.poll()
        poller.register(self.fd, events)
        result = poller.poll(max(0, int(timeout * 1000 + 0.999)))
        return result[0][1] if result else 0

    def _pump(self, timeout: float, limit: int | None = None) -> None:
        """Wait up to `timeout` seconds for bytes and take all that are there (at line
        speed: what the wire has room for, and what has arrived on it)."""
        if self.line is not None:
            self._pump_paced(timeout, limit)
            return
        self._after_poll(self._poll(select.POLLIN, timeout), timeout, limit)

    def _pump_paced(self, timeout: float, limit: int | None) -> None:
        line = self.line
        now = self.clock()
        end = now + max(0.0, timeout)
        self._release(now)
        # What arrives is handed on at most once a pace step, each byte with its own
        # arrival time: no wake-up per byte.
        upcoming = line.next_arrival()
        wake = end if upcoming is None else min(end, max(upcoming, self._released_at + _PACE_STEP))
        half = line.depth // 2
        on_wire = line.on_wire(now)
        wanted = None if limit is None else limit - line.unreleased()
        if wanted is not None and wanted < 1:
            time.sleep(max(0.0, wake - now))  # all that is wanted is on its way
        elif on_wire > half:
            # The wire is refilled once it is half empty, not a byte at a time.
            time.sleep(max(0.0, min(end, max(wake, line.drained_to(half))) - now))
        else:
            room = line.depth - on_wire if wanted is None else min(line.depth - on_wire, wanted)
            ready = self._poll(select.POLLIN, max(0.0, wake - now))
            self._after_poll(ready, wake - now, room)
        self._release(self.clock())

    def _release(self, now: float) -> None:
        """Hands on what has arrived on the wire at line speed."""
        arrived = self.line.release(now)
        if not arrived:
            return
        self._released_at = now
        for first, chunk in arrived:
            self._accept(first - self.origin, chunk, self.line.byte_time)

    def _accept(self, when: float, chunk: bytes, byte_time: float = 0.0) -> None:
        self.log.received.append((when, chunk))
        self.splitter.feed(when, chunk, byte_time)
        self.inbox += chunk

    def _after_poll(self, ready: int, timeout: float, limit: int | None) -> None:
        if ready & select.POLLIN:
            self._read(limit)
        elif ready & (select.POLLHUP | select.POLLERR):
            self._peer_gone()
            # A pty master reports a hang-up at once while no slave is open; nap
            # instead of spinning, and look again (the tool may open the port later).
            time.sleep(min(_PEER_ABSENT_NAP, max(0.0, timeout)))
        elif ready & select.POLLNVAL:
            raise SimulatorError("the line's descriptor is not open")

    def _read(self, limit: int | None = None) -> None:
        while limit is None or limit > 0:
            allowed = _READ_SIZE if limit is None else min(limit, _READ_SIZE)
            try:
                chunk = os.read(self.fd, allowed)
            except BlockingIOError:
                return
            except OSError as error:
                # EIO: a pty master with its slave closed; ECONNRESET: a connection
                # the tool reset.
                if error.errno in (errno.EIO, errno.ECONNRESET):
                    self._peer_gone()
                    return
                raise SimulatorError(f"read failed: {error}") from None
            if not chunk:
                self._peer_gone()
                return
            self._peer_present = True
            if self.line is not None:
                self.line.take(self.clock(), chunk)
                return  # one read a wake-up: the wire's room was for this one
            self._accept(self.now(), chunk)
            if limit is not None:
                limit -= len(chunk)

    def _peer_gone(self) -> None:
        if self._peer_present:
            self._peer_present = False
            if self.log.line_closed_at is None:
                self.log.line_closed_at = self.now()


# --- Report ----------------------------------------------------------------------

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


# --- Line set-up -----------------------------------------------------------------

_SPEEDS = {rate: getattr(termios, f"B{rate}") for rate in
           (9600, 19200, 38400, 57600, 115200, 230400) if hasattr(termios, f"B{rate}")}


def configure_line(fd: int, baud: int = LINE_BAUD) -> None:
    """Raw mode, 8 data bits, no parity, 2 stop bits, no flow control."""
    if baud not in _SPEEDS:
        raise SimulatorError(f"unsupported speed {baud}")
    attrs = termios.tcgetattr(fd)
    attrs[0] &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP |
                  termios.INLCR | termios.IGNCR | termios.ICRNL | termios.IXON |
                  termios.IXOFF | termios.IXANY | termios.INPCK)
    attrs[1] &= ~termios.OPOST
    attrs[2] &= ~(termios.CSIZE | termios.PARENB | getattr(termios, "CRTSCTS", 0))
    attrs[2] |= termios.CS8 | termios.CSTOPB | termios.CREAD | termios.CLOCAL
    attrs[3] &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG |
                  termios.IEXTEN)
    attrs[4] = attrs[5] = _SPEEDS[baud]
    attrs[6][termios.VMIN] = 0
    attrs[6][termios.VTIME] = 0
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def open_device(path: str, baud: int = LINE_BAUD, flush: bool = True) -> int:
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        configure_line(fd, baud)
        if flush:
            termios.tcflush(fd, termios.TCIOFLUSH)
    except BaseException:
        os.close(fd)
        raise
    return fd


class LinkedPty:
    """A pty whose slave is reachable through a symlink; the simulator keeps the master.

    Our own slave descriptor is closed, so the master reports a hang-up until the
    tool opens the link."""

    def __init__(self, link: str):
        self.link = link
        self.master, slave = os.openpty()
        try:
            configure_line(slave)
            self.slave_name = os.ttyname(slave)
            # Replaced in one step: a tool opening the link never finds it missing.
            fresh = link + ".new"
            if os.path.lexists(fresh):
                os.unlink(fresh)
            os.symlink(self.slave_name, fresh)
            os.replace(fresh, link)
        except BaseException:
            os.close(self.master)
            raise
        finally:
            os.close(slave)

    def close(self) -> None:
        try:
            if os.path.islink(self.link) and os.readlink(self.link) == self.slave_name:
                os.unlink(self.link)
        finally:
            os.close(self.master)


def _tcp_ready(sock: socket.socket) -> int:
    """The connection as the line: no Nagle delay, so each "B" leaves at once; the
    descriptor is handed on (the caller closes it), the socket object let go."""
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock.detach()


def parse_host_port(text: str) -> tuple[str, int]:
    """ "HOST:PORT", "[V6ADDR]:PORT" -> (host, port); ValueError when it is neither."""
    host, colon, port = text.rpartition(":")
    if not colon or not host or not port.isdigit() or not 0 < int(port) < 65536:
        raise ValueError(f"not HOST:PORT: {text!r}")
    return host.strip("[]"), int(port)


def connect_tcp(host: str, port: int, timeout: float) -> int:
    """A TCP connection to a tool (or a bridge) listening at host:port, as a
    descriptor for RemoteSimulator; OSError when it cannot be made in time."""
    return _tcp_ready(socket.create_connection((host, port), timeout=timeout))


class TcpListener:
    """Listens on 127.0.0.1 (port 0: one the system picks, read back in `port`) for
    the one tool that connects; `accept` gives its connection as a descriptor."""

    def __init__(self, port: int = 0, host: str = "127.0.0.1"):
        self.sock = socket.create_server((host, port), backlog=1)
        self.port = self.sock.getsockname()[1]

    def accept(self, timeout: float) -> int | None:
        """The connection's descriptor, None when nobody connected within `timeout`."""
        self.sock.settimeout(timeout)
        try:
            connection, _ = self.sock.accept()
        except socket.timeout:
            return None
        return _tcp_ready(connection)

    def close(self) -> None:
        self.sock.close()


# --- Command line ----------------------------------------------------------------

EPILOG = """\
examples:
  loopback check over a null-modem cable (KESTREL serving samples/demo.tap):
    %(prog)s --device /dev/ttyUSB0 --tape samples/demo.tap
  a pty for a tool under Wine (map COM1 to /tmp/kestrel-com1 in the registry):
    %(prog)s --pty-link /tmp/kestrel-com1 --tape samples/demo.tap --script "XYB B*"
  the same at line speed, after 40,000 bytes of noise:
    %(prog)s --pty-link /tmp/kestrel-com1 --tape samples/demo.tap --line-speed \\
        --script "noise:40000 B*"
  over the network, to kestrel-serve --listen 127.0.0.1:5000 samples/demo.tap:
    %(prog)s --tcp 127.0.0.1:5000 --tape samples/demo.tap
  waiting for kestrel-serve --port tcp:127.0.0.1:5000 samples/demo.tap:
    %(prog)s --tcp-listen 5000 --tape samples/demo.tap
exit status: 0 pass, 1 tape differs, 2 protocol broken, 3 setup failed
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        description="Play the remote machine that loads a tape from KESTREL, "
                    "check what it serves and time it.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    line = parser.add_mutually_exclusive_group(required=True)
    line.add_argument("--device", help="serial device, set raw 115200 8N2 (e.g. /dev/ttyUSB0)")
    line.add_argument("--pty-link", metavar="PATH",
                      help="make a pty and link its slave at PATH for the tool to open")
    line.add_argument("--tcp", metavar="HOST:PORT",
                      help="connect to a tool listening at HOST:PORT ([ADDR]:PORT for IPv6) "
                           "and take the connection as the line")
    line.add_argument("--tcp-listen", metavar="PORT", type=int,
                      help="listen on 127.0.0.1:PORT and take the first connection as the line")
    parser.add_argument("--tape", help="the .tap the tool serves, to compare with")
    parser.add_argument("--script", default="B*",
                        help='command script (default "B*": every entry, then the end byte)')
    parser.add_argument("--baud", type=int, default=LINE_BAUD, help="line speed (default 115200)")
    parser.add_argument("--line-speed", action="store_true",
                        help="read the line no faster than 115200 baud 8N2 carries it "
                             f"({LINE_BYTES_PER_SECOND:.0f} bytes/s), so the tool's writes "
                             "block as on a real line; each byte is timed as it would "
                             "arrive on that line (11 bits a byte after the one before, "
                             "or after it was written), so latency and pauses are measured "
                             "from arrival, not from reading")
    parser.add_argument("--timeout", type=float, default=2.0,
                        help="seconds an answer may stay silent (default 2)")
    parser.add_argument("--first-timeout", type=float, default=None,
                        help="seconds the first answer may take (default: --timeout)")
    parser.add_argument("--settle", type=float, default=0.2,
                        help="seconds to listen after the script for stray bytes (default 0.2)")
    parser.add_argument("--max-time", type=float, default=600.0,
                        help="limit of the whole run in seconds (default 600)")
    parser.add_argument("--wait-open", type=float, default=60.0,
                        help="with --pty-link or --tcp-listen: seconds to wait for the tool "
                             "to open the port or connect; with --tcp: for the connection")
    parser.add_argument("--no-flush", action="store_true",
                        help="with --device: keep bytes already queued on the line")
    parser.add_argument("--save", metavar="FILE", help="write the rebuilt .tap here")
    parser.add_argument("--json", action="store_true", help="print the report as JSON")
    parser.add_argument("--json-out", metavar="FILE", help="also write the JSON report here")
    parser.add_argument("--trace", action="store_true",
                        help="include every chunk sent and received in the JSON")
    return parser


def main(argv=None) -> int:
    args = build_parser().parse_args(argv)
    try:
        steps = parse_script(args.script)
        original = None
        if args.tape:
            with open(args.tape, "rb") as tape:
                original = tape.read()
    except (ScriptError, OSError) as error:
        print(f"remote_sim: {error}", file=sys.stderr)
        return EXIT_SETUP

    pty_link = None
    source = args.device
    try:
        if args.device:
            fd = open_device(args.device, args.baud, flush=not args.no_flush)
        elif args.tcp:
            # A socket has no line settings: the bytes pass as they are.
            fd = connect_tcp(*parse_host_port(args.tcp), timeout=args.wait_open)
            source = f"tcp:{args.tcp}"
        elif args.tcp_listen is not None:
            listener = TcpListener(args.tcp_listen)
            try:
                print(f"remote_sim: listening on 127.0.0.1:{listener.port}; waiting for the "
                      "tool to connect", file=sys.stderr)
                fd = listener.accept(args.wait_open)
            finally:
                listener.close()
            if fd is None:
                print(f"remote_sim: nobody connected within {args.wait_open:g} s",
                      file=sys.stderr)
                return EXIT_SETUP
            source = f"tcp:127.0.0.1:{listener.port} (listening)"
        else:
            pty_link = LinkedPty(args.pty_link)
            fd = pty_link.master
            source = f"{args.pty_link} ({pty_link.slave_name})"
    except (OSError, ValueError, SimulatorError, termios.error) as error:
        print(f"remote_sim: cannot set up the line: {error}", file=sys.stderr)
        return EXIT_SETUP

    try:
        sim = RemoteSimulator(fd, answer_timeout=args.timeout, first_timeout=args.first_timeout,
                              settle=args.settle, max_time=args.max_time,
                              read_rate=LINE_BYTES_PER_SECOND if args.line_speed else None)
        if pty_link is not None:
            print(f"remote_sim: {pty_link.slave_name} linked at {args.pty_link}; "
                  "waiting for the tool to open it", file=sys.stderr)
            if not sim.wait_for_peer(args.wait_open):
                print(f"remote_sim: nobody opened {args.pty_link} within {args.wait_open:g} s",
                      file=sys.stderr)
                return EXIT_SETUP
        report = sim.run(steps, original)
    finally:
        if pty_link is not None:
            pty_link.close()
        else:
            os.close(fd)

    if args.save:
        with open(args.save, "wb") as out:
            out.write(report.rebuilt)
    document = report.to_dict(trace=args.trace)
    if args.json_out:
        with open(args.json_out, "w") as out:
            json.dump(document, out, indent=2)
    if args.json:
        json.dump(document, sys.stdout, indent=2)
        print()
    else:
        print(f"Remote simulator on {source}, script: {describe_steps(steps)}")
        sys.stdout.write(report.text())
    return report.exit_status


if __name__ == "__main__":
    sys.exit(main())
