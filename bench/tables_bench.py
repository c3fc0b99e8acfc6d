#!/usr/bin/env python3
"""Measures the library's shared tables under Wine (run by hand).

tables_demo.exe processes of one prefix of the bench's own play workstations in one
folder, on a private Xvfb (the wait windows need a display):

1. Appends per second, one workstation: `add T N` (each record under the semaphore,
   code, append, fields, commit, release), less the time of `add T 0` (start-up).
2. Appends per second, two workstations adding N each at once.
3. Release to notice: a workstation holds record 1, another waits for it; the time
   from the holder's "released" to the waiter's "holding" (both on their standard
   output, each read as it arrives), over several rounds.

One more workstation holds a table of its own for the whole run, so that the
prefix's wineserver stays up and no run pays for starting it.

The figures depend on the machine and its load; they are not a test.

    python3 bench/tables_bench.py [--demo build/windows/tables_demo.exe] [--records 1000]
        [--rounds 10]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tools"))

from winedesk import WineDesktop, exit_cleanly_on_sigterm, temporary_folder  # noqa: E402

WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")
PREFIX = os.path.join(ROOT, "build", "windows", "bench-wineprefix")


def run(desk, demo, folder, *args):
    started = time.monotonic()
    process = desk.start_console(demo, *args, cwd=folder)
    _, err = process.communicate(timeout=600)
    if process.returncode != 0:
        raise SystemExit(f"tables_demo {' '.join(args)} failed: {err!r}")
    return time.monotonic() - started


class Lines:
    """The lines a process writes, each with the moment it arrived, read by a thread
    of its own so that no line waits for another process's to be read."""

    def __init__(self, process):
        self.arrived = {}
        self._thread = threading.Thread(target=self._read, args=(process,), daemon=True)
        self._thread.start()

    def _read(self, process):
        for line in process.stdout:
            self.arrived.setdefault(line.strip(), time.monotonic())

    def at(self, line, timeout=60):
        deadline = time.monotonic() + timeout
        while line not in self.arrived:
            if time.monotonic() > deadline:
                raise SystemExit(f"no {line!r} within {timeout} s")
            time.sleep(0.001)
        return self.arrived[line]


def appends(desk, demo, folder, records, workstations):
    run(desk, demo, folder, "create", "T")
    run(desk, demo, folder, "add", "T", "0", "U0")  # the first run also makes the semaphore
    start_up = min(run(desk, demo, folder, "add", "T", "0", "U0") for _ in range(3))
    started = time.monotonic()
    adders = [desk.start_console(demo, "add", "T", str(records), f"U{n}", cwd=folder)
              for n in range(1, workstations + 1)]
    for adder in adders:
        if adder.wait(timeout=1200) != 0:
            raise SystemExit(f"add failed: {adder.communicate()[1]!r}")
    elapsed = time.monotonic() - started - start_up
    return records * workstations / elapsed


def release_to_notice(desk, demo, folder, rounds):
    run(desk, demo, folder, "create", "R")
    run(desk, demo, folder, "add", "R", "1", "U0")
    delays = []
    for _ in range(rounds):
        holder = desk.start_console(demo, "hold", "R", "2", "record", cwd=folder)
        held = Lines(holder)
        held.at(b"holding")
        waiter = desk.start_console(demo, "hold", "R", "0", "record", cwd=folder)
        waited = Lines(waiter)
        # The holder says "released" just after it lets go, so a waiter that notices
        # at once may say "holding" first: such a round counts as 0.
        delays.append(max(0.0, waited.at(b"holding") - held.at(b"released")) * 1000)
        holder.wait(timeout=60)
        waiter.wait(timeout=60)
    return delays


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--demo", default=os.path.join(ROOT, "build", "windows", "tables_demo.exe"))
    parser.add_argument("--records", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=10)
    args = parser.parse_args()
    exit_cleanly_on_sigterm()
    with WineDesktop(wine_run=WINE_RUN, prefix=PREFIX) as desk:
        # A workstation that stays for the whole run keeps the prefix's wineserver
        # up, so no run pays for starting it again.
        warm = temporary_folder("kestrel-tables-bench-")
        run(desk, args.demo, warm, "create", "W")
        keeper = desk.start_console(args.demo, "hold", "W", "3600", "table", cwd=warm)
        Lines(keeper).at(b"holding")
        for workstations in (1, 2):
            folder = temporary_folder("kestrel-tables-bench-")
            try:
                rate = appends(desk, args.demo, folder, args.records, workstations)
            finally:
                shutil.rmtree(folder, True)
            print(f"appends per second, {workstations} workstation(s): {rate:.0f}")
        folder = temporary_folder("kestrel-tables-bench-")
        try:
            delays = release_to_notice(desk, args.demo, folder, args.rounds)
        finally:
            shutil.rmtree(folder, True)
        print(f"release to notice, ms: median {statistics.median(delays):.1f}, "
              f"max {max(delays):.1f} over {len(delays)} rounds")
        keeper.kill()
        shutil.rmtree(warm, True)


if __name__ == "__main__":
    main()
