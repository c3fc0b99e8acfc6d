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
4. Waiting: a workstation waits behind another's held record, held table, and (an
   exclusive open) behind a held record. Once its wait window shows, the CPU it and
   the wineserver use together (from /proc/PID/stat deltas over --wait-seconds, as
   a share of one core) and the wineserver's open descriptors gained meanwhile;
   then the holder lets go and the time from its "released" to the waiter's
   "holding" (which includes closing the wait window), over --wait-rounds rounds.
   With --before DEMO the same waits are measured with that build's waiter too
   (the holder stays this build's: only the waiting differs). The earlier build's
   exclusive open is left out: it exhausts the wineserver's descriptors within
   seconds and leaves the prefix unusable.

One more workstation holds a table of its own for the whole run, so that the
prefix's wineserver stays up and no run pays for starting it.

The figures depend on the machine and its load; they are not a test.

    python3 bench/tables_bench.py [--demo build/windows/tables_demo.exe] [--records 1000]
        [--rounds 10] [--wait-seconds 5] [--wait-rounds 5] [--before OLD/tables_demo.exe]
        [--only-waits]
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


# --- waiting ------------------------------------------------------------------------

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    """utime + stime of a process, 0 when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    except OSError:
        return 0


def parents():
    found = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    found[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                pass
    return found


def family(pid):
    """A process and all its descendants (wine-run.sh, the loader, the program)."""
    children = {}
    for child, parent in parents().items():
        children.setdefault(parent, []).append(child)
    members, todo = [], [pid]
    while todo:
        member = todo.pop()
        members.append(member)
        todo += children.get(member, [])
    return members


def wineserver_of(prefix):
    """The pid of the wineserver that serves this prefix: it works in the directory
    named after the prefix's device and inode."""
    info = os.stat(prefix)
    wanted = f"server-{info.st_dev:x}-{info.st_ino:x}"
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.path.basename(os.readlink(f"/proc/{entry}/cwd")) == wanted:
                with open(f"/proc/{entry}/comm") as f:
                    if f.read().strip().startswith("wineserver"):
                        return int(entry)
        except OSError:
            pass
    raise SystemExit("no wineserver for the bench's prefix")


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


WAITS = (("held record", "record", "record", "^Attendere$"),
         ("held table", "table", "table", "^Attendere$"),
         ("exclusive open behind a held record", "record", "exclusive", "^Attenzione$"))


def measure_wait(desk, demo, waiter_demo, folder, server, hold_mode, wait_mode, window,
                 seconds):
    """(CPU share of one core, descriptors gained, ms from release to success)."""
    holder = desk.start_console(demo, "hold", "R", "0", hold_mode, "cue", cwd=folder,
                                stdin=subprocess.PIPE)
    held = Lines(holder)
    held.at(b"holding")
    waiter = desk.start_console(waiter_demo, "hold", "R", "0", wait_mode, cwd=folder)
    waited = Lines(waiter)
    deadline = time.monotonic() + 60
    while not desk.windows(window):
        if time.monotonic() > deadline:
            raise SystemExit(f"the waiter's {window!r} window never showed")
        time.sleep(0.1)
    members = family(waiter.pid)
    fds_before = descriptors(server)
    ticks_before = sum(cpu_ticks(pid) for pid in members + [server])
    started = time.monotonic()
    time.sleep(seconds)
    ticks = sum(cpu_ticks(pid) for pid in members + [server]) - ticks_before
    share = ticks / CLOCK_TICKS / (time.monotonic() - started) * 100
    gained = descriptors(server) - fds_before
    holder.stdin.write(b"go\n")
    holder.stdin.flush()
    delay = max(0.0, waited.at(b"holding") - held.at(b"released")) * 1000
    holder.stdin.close()
    for process in (holder, waiter):
        process.wait(timeout=60)
    return share, gained, delay


def waits(desk, demo, before, folder, seconds, rounds):
    run(desk, demo, folder, "create", "R")
    run(desk, demo, folder, "add", "R", "1", "U0")
    server = wineserver_of(desk.prefix)
    builds = [("this build", demo)] + ([("before", before)] if before else [])
    for what, hold_mode, wait_mode, window in WAITS:
        for name, waiter_demo in builds:
            if name == "before" and wait_mode == "exclusive":
                continue
            figures = [measure_wait(desk, demo, waiter_demo, folder, server, hold_mode,
                                    wait_mode, window, seconds) for _ in range(rounds)]
            shares, gained, delays = zip(*figures)
            print(f"waiting behind a {what} ({name}): CPU {min(shares):.1f}-{max(shares):.1f} % "
                  f"of a core (program and wineserver), wineserver descriptors "
                  f"+{min(gained)}-{max(gained)} in {seconds:g} s, release to success "
                  f"median {statistics.median(delays):.1f} ms, max {max(delays):.1f} ms "
                  f"over {rounds} rounds")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--demo", default=os.path.join(ROOT, "build", "windows", "tables_demo.exe"))
    parser.add_argument("--records", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--wait-seconds", type=float, default=5.0)
    parser.add_argument("--wait-rounds", type=int, default=5)
    parser.add_argument("--before", help="an earlier build's tables_demo.exe, for comparison")
    parser.add_argument("--only-waits", action="store_true")
    args = parser.parse_args()
    exit_cleanly_on_sigterm()
    with WineDesktop(wine_run=WINE_RUN, prefix=PREFIX) as desk:
        # A workstation that stays for the whole run keeps the prefix's wineserver
        # up, so no run pays for starting it again.
        warm = temporary_folder("kestrel-tables-bench-")
        run(desk, args.demo, warm, "create", "W")
        keeper = desk.start_console(args.demo, "hold", "W", "3600", "table", cwd=warm)
        Lines(keeper).at(b"holding")
        folder = temporary_folder("kestrel-tables-bench-")
        try:
            waits(desk, args.demo, args.before, folder, args.wait_seconds, args.wait_rounds)
        finally:
            shutil.rmtree(folder, True)
        if args.only_waits:
            keeper.kill()
            shutil.rmtree(warm, True)
            return
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
