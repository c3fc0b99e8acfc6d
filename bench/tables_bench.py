#!/usr/bin/env python3
"""Measures the library's shared tables under Wine (run by hand).

tables_demo.exe processes of one prefix of the bench's own play workstations in one
folder, on a private Xvfb (the wait windows need a display):

1. Appends per second, one workstation: `add T N` (each record under the semaphore,
   code, append, fields, commit, release), less the time of `add T 0` (start-up).
2. Appends per second, two workstations adding N each at once.
3. Release to notice: a workstation holds record 1, another waits for it; the time
   from the holder's "released" to the waiter's "holding" (both on their standard
   output), over several rounds.

The figures depend on the machine and its load; they are not a test.

    python3 bench/tables_bench.py [--demo build/windows/tables_demo.exe] [--records 300]
        [--rounds 10]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
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


def line_at(process, expected):
    """Reads the process's next line, which must be `expected`; answers when it came."""
    line = process.stdout.readline()
    if line != expected + b"\n":
        raise SystemExit(f"expected {expected!r}, got {line!r}: {process.communicate()[1]!r}")
    return time.monotonic()


def appends(desk, demo, folder, records, workstations):
    run(desk, demo, folder, "create", "T")
    start_up = run(desk, demo, folder, "add", "T", "0", "U0")
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
        line_at(holder, b"holding")
        waiter = desk.start_console(demo, "hold", "R", "0", "record", cwd=folder)
        released = line_at(holder, b"released")
        noticed = line_at(waiter, b"holding")
        delays.append((noticed - released) * 1000)
        holder.wait(timeout=60)
        waiter.wait(timeout=60)
    return delays


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--demo", default=os.path.join(ROOT, "build", "windows", "tables_demo.exe"))
    parser.add_argument("--records", type=int, default=300)
    parser.add_argument("--rounds", type=int, default=10)
    args = parser.parse_args()
    exit_cleanly_on_sigterm()
    with WineDesktop(wine_run=WINE_RUN, prefix=PREFIX) as desk:
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


if __name__ == "__main__":
    main()
