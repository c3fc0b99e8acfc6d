#!/usr/bin/env python3
"""Plays the remote end of the serial line for a Windows test program under Wine.

For each port name (COM1, COM2, COM12) it makes a pseudo-terminal in raw mode, points
a stable symlink beside the Wine prefix at its slave and maps the port to that
symlink in the prefix's registry (once; Wine re-creates its dosdevices links at every
start, the registry mapping stays). Then it runs the test program and answers the
commands the program writes on each line, one command a line:

  SYNC                 forget earlier traffic; answer "READY\\n" once the line is clean
  SEND n seed [ms]     after ms milliseconds, send n bytes of the pattern for seed
  SINK n               take the next n bytes as data; answer "GOT n crc32\\n"
  HANGUP               close the master (the device fails), then offer a fresh pair
  DEAF ms              answer "DEAF\\n", then read nothing for ms milliseconds

The pattern byte i for a seed is (seed * 131 + i * 7 + i // 251) mod 256, the same
rule the program uses to check what it received.

The lines are the remote-machine simulator's (tools/remote_sim.py: LinkedPty and
RemoteSimulator), so a port the program has closed reads as on every simulated line.
tools/ must be on the module path (ctest sets PYTHONPATH):

  PYTHONPATH=tools pty_remote.py WINE_RUN PROGRAM.exe [ARGS...]
"""
import os
import signal
import subprocess
import sys
import termios
import threading
import time
import zlib

from remote_sim import LinkedPty, RemoteSimulator, SimulatorError
from wine_ports import link_folder, map_ports

PORTS = ("COM1", "COM2", "COM12")

# How long a write may wait for a program that reads nothing before it is dropped
# (the program's own reads give up after 20 s).
WRITE_LIMIT = 20.0
# How often an idle line looks whether the remote is closing.
STOP_CHECK = 0.1


def pattern(count, seed):
    return bytes((seed * 131 + i * 7 + i // 251) & 0xFF for i in range(count))


class Line:
    """One port: its pseudo-terminal and link, and the remote's behaviour on it. One
    thread reads the commands and writes the answers, so a SYNC or HANGUP takes
    effect between two writes, never in the middle of one."""

    def __init__(self, link):
        self.link = link
        self.pty = LinkedPty(link)
        self.sim = self._simulator()
        self.scheduled = []  # (due, data) of delayed SENDs, earliest first
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def _simulator(self):
        return RemoteSimulator(self.pty.master, answer_timeout=WRITE_LIMIT, max_time=24 * 3600)

    def write(self, data):
        try:
            self.sim.send(data)
        except SimulatorError:
            pass  # the program stopped reading: what it did not take is dropped

    def serve(self):
        pending = b""
        sink = None  # [remaining, crc, total] while taking data
        while not self.stopping.is_set():
            while self.scheduled and self.scheduled[0][0] <= time.monotonic():
                self.write(self.scheduled.pop(0)[1])
            wait = STOP_CHECK
            if self.scheduled:
                wait = min(wait, max(0.0, self.scheduled[0][0] - time.monotonic()))
            pending += self.sim.receive_some(wait)
            while pending:
                if sink is not None:
                    take = pending[: sink[0]]
                    pending = pending[len(take):]
                    sink[0] -= len(take)
                    sink[1] = zlib.crc32(take, sink[1])
                    if sink[0] == 0:
                        self.write(b"GOT %d %08x\n" % (sink[2], sink[1]))
                        sink = None
                    continue
                end = pending.find(b"\n")
                if end < 0:
                    pending = pending[-256:]  # noise without a command: keep the tail only
                    break
                line, pending = pending[:end].decode("latin-1").split(), pending[end + 1:]
                sink = self.command(line, sink)

    def command(self, words, sink):
        if not words:
            return sink
        verb = words[0]
        if verb == "SYNC":
            self.scheduled.clear()
            # What was written before and not read yet goes too.
            slave = os.open(self.pty.slave_name, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            try:
                termios.tcflush(slave, termios.TCIFLUSH)
            finally:
                os.close(slave)
            self.write(b"READY\n")
        elif verb == "SEND":
            count, seed = int(words[1]), int(words[2])
            delay = int(words[3]) if len(words) > 3 else 0
            if delay:
                self.scheduled.append((time.monotonic() + delay / 1000.0, pattern(count, seed)))
                self.scheduled.sort(key=lambda item: item[0])
            else:
                self.write(pattern(count, seed))
        elif verb == "SINK":
            total = int(words[1])
            return [total, 0, total]
        elif verb == "DEAF":
            self.write(b"DEAF\n")
            self.stopping.wait(int(words[1]) / 1000.0)
        elif verb == "HANGUP":
            self.scheduled.clear()
            old, self.pty = self.pty, LinkedPty(self.link)  # the link moves in one step
            old.close()
            self.sim = self._simulator()
        return sink

    def close(self):
        self.stopping.set()
        self.thread.join(WRITE_LIMIT)
        if not self.thread.is_alive():
            self.pty.close()


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    wine_run, program = sys.argv[1], sys.argv[2:]
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        print("pty_remote.py: WINEPREFIX is not set", file=sys.stderr)
        return 2
    subprocess.run([wine_run, "--prepare"], check=True, timeout=300)
    os.makedirs(link_folder(prefix), exist_ok=True)
    links = {name: os.path.join(link_folder(prefix), name.lower()) for name in PORTS}
    lines = [Line(link) for link in links.values()]
    map_ports(wine_run, prefix, links)
    child = subprocess.Popen([wine_run] + program, stdin=subprocess.DEVNULL)

    def stop(signum, _frame):
        # ctest ends a test that ran out of time with SIGTERM: take the program along.
        child.kill()
        raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        return child.wait()
    finally:
        for line in lines:
            line.close()


if __name__ == "__main__":
    sys.exit(main())
