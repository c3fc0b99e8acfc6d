"""Talking over the line: the remote machine played over a file descriptor."""

from __future__ import annotations

import dataclasses
import errno
import math
import os
import select
import time

import tapfile
from remote_machine.answers import StreamSplitter
from remote_machine.line_model import LineModel
from remote_machine.protocol import COMMAND_BYTE, NOISE_WRITE_SIZE
from remote_machine.report import Report
from remote_machine.script import Call, Deaf, Noise, Send, Wait, describe_steps, noise_bytes

_PEER_ABSENT_NAP = 0.02  # seconds between checks while a pty has no slave open
_READ_SIZE = 65536
_PACE_STEP = 0.005  # seconds of line a paced read may take ahead; the pace of releases
_FLOOD_STEP = 0.01  # seconds of line time a paced write carries


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
