"""A stand-in for KESTREL on the slave side of a pty, for testing the simulator.

It answers "B" the way the tool does (start byte, pause, header, pause, data; the
end byte on an exhausted tape, then it closes the line) and can be told to
misbehave. It writes the header in five pieces, one per field group, where the tool
writes it at once: the simulator must take a header however the line cuts it. It polls with a short timeout and checks a stop flag, so a test
that fails never leaves it hanging."""

from __future__ import annotations

import os
import select
import threading
import time

import tapfile


class FakeTool(threading.Thread):
    def __init__(self, slave_fd: int, tape: bytes, *, pause: float = 0.010,
                 start_byte: int = 0x00, answer_end: bool = True, silent: bool = False,
                 cut_data_after: int | None = None, after_end: bytes = b"",
                 unasked: bytes = b"", close_after_end: bool = True):
        super().__init__(daemon=True)
        self.fd = slave_fd
        self.entries = tapfile.wire_entries(tape)
        self.pause = pause
        self.start_byte = start_byte
        self.answer_end = answer_end
        self.silent = silent
        self.cut_data_after = cut_data_after
        self.after_end = after_end
        self.unasked = unasked
        self.close_after_end = close_after_end
        self.received = bytearray()
        self.closed = False
        self.answer_cut = threading.Event()  # set once the cut answer has gone out
        self._stop_flag = threading.Event()

    def stop(self) -> None:
        self._stop_flag.set()
        self.join(5)

    def _write(self, data: bytes) -> None:
        view = memoryview(data)
        while view and not self._stop_flag.is_set():
            try:
                written = os.write(self.fd, view)
            except BlockingIOError:
                select.select([], [self.fd], [], 0.05)
                continue
            except OSError:  # the other end is gone
                self._stop_flag.set()
                return
            view = view[written:]

    def _close(self) -> None:
        if not self.closed:
            self.closed = True
            os.close(self.fd)

    def run(self) -> None:
        try:
            self._serve()
        finally:
            if self.close_after_end:
                self._close()

    def _serve(self) -> None:
        os.set_blocking(self.fd, False)
        if self.unasked:
            self._write(self.unasked)
        while not self._stop_flag.is_set():
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if not ready:
                continue
            try:
                chunk = os.read(self.fd, 4096)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                return
            for byte in chunk:
                if self._stop_flag.is_set():
                    return
                self.received.append(byte)
                if byte != 0x42 or self.silent:
                    continue
                if not self.entries:
                    if self.answer_end:
                        self._write(b"\x09" + self.after_end)
                        if self.after_end:
                            continue
                        return
                    continue
                self._send_entry(self.entries.pop(0))

    def _send_entry(self, entry: tapfile.WireEntry) -> None:
        header = entry.header
        self._write(bytes([self.start_byte]))
        time.sleep(self.pause)
        for part in (header[0:1], header[1:11], header[11:13], header[13:15], header[15:17]):
            self._write(part)
        time.sleep(self.pause)
        data = entry.data
        cut = self.cut_data_after is not None and len(data) > self.cut_data_after
        if cut:
            # The first entry longer than the cut stops there; then nothing more.
            data = data[:self.cut_data_after]
            self.silent = True
        self._write(data)
        if cut:
            self.answer_cut.set()
