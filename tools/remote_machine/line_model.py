"""The line's pace: the wire of a pty at the speed of a real line."""

from __future__ import annotations

import collections
import math


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
