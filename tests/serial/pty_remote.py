#!/usr/bin/env python3
"""Plays the remote end of the serial line for a Windows test program under Wine.

For each port name (COM1, COM2, COM12) it makes a pseudo-terminal pair in raw mode,
points a stable symlink beside the Wine prefix at the slave and maps the port to that
symlink in the prefix's registry (once; Wine re-creates its dosdevices links at every
start, the registry mapping stays). Then it runs the test program and answers the
commands the program writes on each line, one command a line:

  SYNC                 forget earlier traffic; answer "READY\\n" once the line is clean
  SEND n seed [ms]     after ms milliseconds, send n bytes of the pattern for seed
  SINK n               take the next n bytes as data; answer "GOT n crc32\\n"
  HANGUP               close the master (the device fails), then offer a fresh pair

The pattern byte i for a seed is (seed * 131 + i * 7 + i // 251) mod 256, the same
rule the program uses to check what it received.

  pty_remote.py WINE_RUN PROGRAM.exe [ARGS...]
"""
import os
import termios
import select
import signal
import subprocess
import sys
import threading
import time
import tty
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from wine_ports import map_ports  # noqa: E402

PORTS = ("COM1", "COM2", "COM12")


def pattern(count, seed):
    return bytes((seed * 131 + i * 7 + i // 251) & 0xFF for i in range(count))


class Line:
    """One port: a pty pair, the symlink that names it, and the remote's behaviour."""

    def __init__(self, name, link):
        self.name = name
        self.link = link
        self.lock = threading.Lock()
        self.generation = 0
        self.closing = False
        self.open_pair()
        self.reader = threading.Thread(target=self.serve, daemon=True)
        self.reader.start()

    def open_pair(self):
        master, slave = os.openpty()
        tty.setraw(master)
        tty.setraw(slave)
        # The slave stays open here too, so the master never sees a hang-up while
        # the program has the port closed.
        self.master, self.slave = master, slave
        tmp = self.link + ".new"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(os.ttyname(slave), tmp)
        os.replace(tmp, self.link)

    def write(self, data, generation):
        view = memoryview(data)
        while view:
            with self.lock:
                if generation != self.generation:
                    return
                master = self.master
            _, ready, _ = select.select([], [master], [], 0.1)
            if not ready:
                continue
            try:
                written = os.write(master, view[:4096])
            except OSError:
                return
            view = view[written:]

    def send_later(self, data, delay_ms):
        generation = self.generation

        def run():
            time.sleep(delay_ms / 1000.0)
            self.write(data, generation)

        threading.Thread(target=run, daemon=True).start()

    def serve(self):
        pending = b""
        sink = None  # [remaining, crc, total] while taking data
        while not self.closing:
            with self.lock:
                master = self.master
            try:
                ready, _, _ = select.select([master], [], [], 0.1)
                if not ready:
                    continue
                chunk = os.read(master, 65536)
            except OSError:
                time.sleep(0.02)
                continue
            pending += chunk
            while pending:
                if sink is not None:
                    take = pending[: sink[0]]
                    pending = pending[len(take):]
                    sink[0] -= len(take)
                    sink[1] = zlib.crc32(take, sink[1])
                    if sink[0] == 0:
                        self.write(b"GOT %d %08x\n" % (sink[2], sink[1]), self.generation)
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
            with self.lock:
                self.generation += 1
            time.sleep(0.05)
            termios.tcflush(self.slave, termios.TCIFLUSH)
            self.write(b"READY\n", self.generation)
        elif verb == "SEND":
            count, seed = int(words[1]), int(words[2])
            delay = int(words[3]) if len(words) > 3 else 0
            self.send_later(pattern(count, seed), delay)
        elif verb == "SINK":
            total = int(words[1])
            return [total, 0, total]
        elif verb == "HANGUP":
            with self.lock:
                self.generation += 1
                old_master, old_slave = self.master, self.slave
                self.open_pair()
            os.close(old_master)
            os.close(old_slave)
        return sink

    def close(self):
        self.closing = True
        self.reader.join(1.0)
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


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
    link_dir = prefix.rstrip("/") + "-ports"
    os.makedirs(link_dir, exist_ok=True)
    links = {name: os.path.join(link_dir, name.lower()) for name in PORTS}
    lines = [Line(name, link) for name, link in links.items()]
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
