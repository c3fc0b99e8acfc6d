#!/usr/bin/env python3
"""Measures the whole tool, kestrel.exe under Wine, over a pseudo-terminal (run by hand).

COM1 of a prefix of the bench's own is a pty; the remote machine is played by
tools/remote_sim.py. Three sessions, each in a Wine virtual desktop on a private
Xvfb, the tape given on the command line:

1. Latency: a tape of many small entries, served with "B*" (each "B" sent when the
   previous answer has fully arrived). The time from the write of "B" to the arrival
   of the start byte 00h; and the time each block takes beyond its two 10 ms pauses
   (from the start byte to the block's last byte, less 20 ms), each pause's excess
   over 10 ms on its own, and the whole answer from "B" to the last byte less 20 ms.
2. Throughput: a tape of about 1 MB in entries of 40 KB, served with "B*": bytes of
   all answers over the time from the first "B" to the last byte received.
3. Idle: the session is open and the remote sends nothing; the processor time of
   kestrel.exe and of the prefix's wineserver over 10 s, from the scheduler's
   nanosecond counters of every thread, as a share of one core. The session is then
   ended by asking for the tape to its end.

Every session's rebuilt tape is checked against the original; a session that did not
serve its tape exactly makes the bench fail (exit status 1). The figures are not a
test: they depend on the machine and its load.

    python3 bench/session_bench.py [--exe build/windows/kestrel.exe] [--requests 300]
        [--idle 10] [--json FILE]

Needs the windows build of kestrel.exe, Wine, Xvfb and xdotool (tools/install-deps.sh).
"""

import argparse
import json
import math
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tools"))

import remote_sim  # noqa: E402
import tapfile  # noqa: E402
import wine_ports  # noqa: E402
from winedesk import WineDesktop, exit_cleanly_on_sigterm, windows_path  # noqa: E402

WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")
# A prefix of its own: the bench restarts and ends its wineserver, and counts that
# wineserver's processor time, without touching the tests' prefix.
PREFIX = os.path.join(ROOT, "build", "windows", "bench-wineprefix")
WORKDIR = os.path.join(ROOT, "build", "windows", "bench-run")
CAPTION = r"^KESTREL 1\.00 "
PAUSE = 0.010  # each of the two pauses of a block
KB = 1024


class BenchError(Exception):
    pass


# --- Figures ---------------------------------------------------------------------

def percentile(values, share):
    """Nearest-rank percentile of a list of numbers."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def spread_ms(seconds):
    values = [value * 1000.0 for value in seconds if value is not None]
    if not values:
        return None
    return {"count": len(values), "min": round(min(values), 3),
            "median": round(statistics.median(values), 3),
            "p99": round(percentile(values, 0.99), 3), "max": round(max(values), 3)}


def tenth_medians(seconds):
    tenth = max(1, len(seconds) // 10)
    return [round(statistics.median(seconds[start:start + tenth]) * 1000.0, 3)
            for start in range(0, len(seconds) - tenth + 1, tenth)]


def scheduler_counts(pid):
    """(processor seconds, times scheduled in) of all the process's threads, from the
    scheduler's counters (the tick counts of /proc/PID/stat are too coarse for an idle
    program). The second is about the number of wake-ups."""
    seconds = runs = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return 0.0, 0  # the process has ended
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                fields = f.read().split()
        except OSError:
            continue  # the thread has just ended
        seconds += int(fields[0])
        runs += int(fields[2])
    return seconds / 1e9, runs


def prefix_processes(prefix):
    """The processes of the prefix, by role: "kestrel.exe", "wineserver", "explorer"
    (the virtual desktop) and "other" (Wine's services)."""
    found = {}
    marker = f"WINEPREFIX={prefix}".encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = [arg.decode("latin-1") for arg in f.read().split(b"\0") if arg]
            with open(f"/proc/{entry}/environ", "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if marker not in environ or not argv:
            continue
        # argv[0] only: the desktop's explorer carries kestrel.exe among its arguments.
        program = argv[0].replace("\\", "/").rsplit("/", 1)[-1].lower()
        if program == "kestrel.exe":
            role = "kestrel.exe"
        elif program.startswith("wineserver"):  # wineserver64 on Debian
            role = "wineserver"
        elif program == "explorer.exe":
            role = "explorer"
        else:
            role = "other"
        found.setdefault(role, []).append(int(entry))
    return found


def counts_by_role(pids):
    totals = {}
    for role, group in pids.items():
        counts = [scheduler_counts(pid) for pid in group]
        totals[role] = (sum(c[0] for c in counts), sum(c[1] for c in counts))
    return totals


# --- Tapes -----------------------------------------------------------------------

def small_entries_tape(count):
    return tapfile.build_tape(
        tapfile.TapEntry.make(tapfile.TYPE_CODE, f"B{index:04d}", bytes(range(32)))
        for index in range(count))


def large_entries_tape(total, entry_size):
    count = max(1, round(total / entry_size))
    pattern = bytes(range(256)) * (entry_size // 256 + 1)
    return tapfile.build_tape(
        tapfile.TapEntry.make(tapfile.TYPE_CODE, f"L{index:03d}", pattern[:entry_size])
        for index in range(count))


# --- One session -----------------------------------------------------------------

class Session:
    """kestrel.exe serving one tape on a private desktop, COM1 a pty."""

    def __init__(self, exe, tape_bytes, label):
        self.exe = exe
        self.tape_bytes = tape_bytes
        self.folder = os.path.join(WORKDIR, label)
        os.makedirs(self.folder, exist_ok=True)
        with open(os.path.join(self.folder, "KESTREL.INI"), "wb") as f:
            f.write(b"[Impostazioni]\r\nPorta=COM1\r\n")
        self.tape = os.path.join(self.folder, label + ".tap")
        with open(self.tape, "wb") as f:
            f.write(tape_bytes)
        self.link = os.path.join(wine_ports.link_folder(PREFIX), "com1")
        self.pty = None
        self.desk = None
        self.program = None

    def __enter__(self):
        self.pty = remote_sim.LinkedPty(self.link)
        try:
            self.desk = WineDesktop(wine_run=WINE_RUN, prefix=PREFIX, name="kestrel-bench")
            self.desk.__enter__()
            self.program = self.desk.start(self.exe, windows_path(self.tape), cwd=self.folder)
            self.desk.find_window(CAPTION, timeout=60)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        try:
            if self.desk is not None:
                self.desk.close()
        finally:
            self.pty.close()
        return False

    def serve(self, max_time=600):
        """Asks for the whole tape and waits for the program to end; the report."""
        sim = remote_sim.RemoteSimulator(self.pty.master, answer_timeout=10,
                                         first_timeout=30, max_time=max_time)
        report = sim.run(remote_sim.parse_script("B*"), self.tape_bytes)
        if report.exit_status != remote_sim.EXIT_OK:
            raise BenchError("the session did not serve its tape:\n" + report.text())
        self.desk.wait_exit(self.program, timeout=30)
        return report


# --- The three measurements ------------------------------------------------------

def measure_latency(exe, requests):
    with Session(exe, small_entries_tape(requests), "latency") as session:
        time.sleep(1.0)  # let the first display settle
        load = os.getloadavg()[0]
        report = session.serve()
    entries = report.entries
    return {
        "load_average_1min": round(load, 2),
        "entries": len(entries),
        "entry_data_bytes": 32,
        "b_to_start_byte_ms": spread_ms(a.latency() for a in entries if not a.queued),
        "block_beyond_pauses_ms": spread_ms(
            a.last_time - a.start_time - 2 * PAUSE for a in entries),
        "answer_beyond_pauses_ms": spread_ms(
            a.last_time - a.request_time - 2 * PAUSE for a in entries),
        "pause1_excess_ms": spread_ms(a.pause_before_header() - PAUSE for a in entries),
        "pause2_excess_ms": spread_ms(a.pause_before_data() - PAUSE for a in entries),
        # The log grows by a line an entry: medians of each tenth of the run show its cost.
        "b_to_start_byte_median_by_tenth_ms": tenth_medians(
            [a.latency() for a in entries if not a.queued]),
        "end_byte_latency_ms": next((round(a.latency() * 1000, 3) for a in report.answers
                                     if a.kind == "end" and a.latency() is not None), None),
    }


def measure_throughput(exe, total, entry_size):
    tape = large_entries_tape(total, entry_size)
    with Session(exe, tape, "throughput") as session:
        time.sleep(1.0)
        load = os.getloadavg()[0]
        report = session.serve()
    rate = report.throughput()
    entries = report.entries
    pauses = 2 * PAUSE * len(entries)
    return {
        "load_average_1min": round(load, 2),
        "tape_bytes": len(tape),
        "entries": rate["entries"],
        "entry_data_bytes": entry_size,
        "answer_bytes": rate["answer_bytes"],
        "elapsed_s": rate["elapsed_s"],
        "bytes_per_s": rate["bytes_per_s_overall"],
        "mandated_pauses_s": round(pauses, 3),
        "bytes_per_s_without_pauses": round(rate["answer_bytes"] / (rate["elapsed_s"] - pauses), 1),
        "block_beyond_pauses_ms": spread_ms(
            a.last_time - a.start_time - 2 * PAUSE for a in entries),
        "b_to_start_byte_ms": spread_ms(a.latency() for a in entries if not a.queued),
    }


def measure_idle(exe, seconds):
    tape = small_entries_tape(1)
    with Session(exe, tape, "idle") as session:
        time.sleep(2.0)  # start-up settles
        pids = prefix_processes(os.path.realpath(PREFIX))
        if "kestrel.exe" not in pids or "wineserver" not in pids:
            raise BenchError(f"kestrel.exe or the wineserver not found: {pids}")
        before = counts_by_role(pids)
        began = time.monotonic()
        time.sleep(seconds)
        after = counts_by_role(pids)
        elapsed = time.monotonic() - began
        alive = session.program.poll() is None
        load = os.getloadavg()[0]
        session.serve()  # the session still answers after the wait, and ends
    if not alive:
        raise BenchError("the program ended during the idle wait")
    shares = {role: round(100.0 * (after[role][0] - before[role][0]) / elapsed, 3)
              for role in pids}
    wakeups = {role: round((after[role][1] - before[role][1]) / elapsed) for role in pids}
    return {
        "load_average_1min": round(load, 2),
        "seconds": round(elapsed, 3),
        "percent_of_a_core": shares,
        "scheduled_in_per_s": wakeups,
        "kestrel_plus_wineserver_percent": round(
            shares["kestrel.exe"] + shares["wineserver"], 3),
    }


# --- Report ----------------------------------------------------------------------

def build_description(exe):
    def git(*args):
        result = subprocess.run(["git", "-C", ROOT, *args], capture_output=True, text=True,
                                check=False)
        return result.stdout.strip()

    return {"commit": git("log", "-1", "--format=%h %s"),
            "exe_modified": time.strftime("%Y-%m-%d %H:%M:%S UTC",
                                          time.gmtime(os.path.getmtime(exe))),
            "cpus": os.cpu_count(), "load_average": [round(x, 2) for x in os.getloadavg()]}


def print_summary(results):
    def row(label, spread):
        if spread:
            print(f"  {label:<38} median {spread['median']:8.2f} ms   p99 {spread['p99']:8.2f} ms"
                  f"   max {spread['max']:8.2f} ms  ({spread['count']})")

    build = results["build"]
    print(f"kestrel.exe of {build['exe_modified']}, tree at {build['commit']}; "
          f"{build['cpus']} CPUs, load {build['load_average']}")
    latency = results.get("latency")
    if latency:
        print(f"Latency session: {latency['entries']} entries of "
              f"{latency['entry_data_bytes']} bytes (load {latency['load_average_1min']})")
        row("B to start byte", latency["b_to_start_byte_ms"])
        row("block beyond its two 10 ms pauses", latency["block_beyond_pauses_ms"])
        row("  first pause beyond 10 ms", latency["pause1_excess_ms"])
        row("  second pause beyond 10 ms", latency["pause2_excess_ms"])
        row("B to last byte, less 20 ms", latency["answer_beyond_pauses_ms"])
        tenths = " ".join(f"{value:.1f}" for value in latency["b_to_start_byte_median_by_tenth_ms"])
        print(f"  B to start byte, median of each tenth of the run (ms): {tenths}")
    rate = results.get("throughput")
    if rate:
        print(f"Throughput session: {rate['tape_bytes']} byte tape, {rate['entries']} entries "
              f"of {rate['entry_data_bytes']} bytes (load {rate['load_average_1min']})")
        print(f"  {rate['answer_bytes']} bytes in {rate['elapsed_s']:.3f} s = "
              f"{rate['bytes_per_s'] / 1e6:.2f} MB/s ({rate['bytes_per_s_without_pauses'] / 1e6:.2f}"
              f" MB/s without the {rate['mandated_pauses_s']:.2f} s of pauses)")
        row("block beyond its two 10 ms pauses", rate["block_beyond_pauses_ms"])
    idle = results.get("idle")
    if idle:
        shares = idle["percent_of_a_core"]
        detail = ", ".join(f"{role} {share:.3f}%" for role, share in sorted(shares.items()))
        print(f"Idle session, {idle['seconds']:.1f} s (load {idle['load_average_1min']}): "
              f"kestrel.exe + wineserver "
              f"{idle['kestrel_plus_wineserver_percent']:.3f}% of a core ({detail})")
        runs = idle["scheduled_in_per_s"]
        print(f"  scheduled in per second: kestrel.exe {runs['kestrel.exe']}, "
              f"wineserver {runs['wineserver']}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "windows", "kestrel.exe"))
    parser.add_argument("--requests", type=int, default=300,
                        help="entries of the latency tape (default 300; at least 200)")
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of the idle wait")
    parser.add_argument("--only", choices=("latency", "throughput", "idle"), action="append",
                        help="run only this measurement (may be repeated)")
    parser.add_argument("--json", metavar="FILE", help="also write the figures here")
    args = parser.parse_args()
    if not os.path.exists(args.exe):
        print(f"session_bench: {args.exe} is not built", file=sys.stderr)
        return 2
    exit_cleanly_on_sigterm()
    os.makedirs(WORKDIR, exist_ok=True)
    # A copy: a rebuild of the tree during the run does not change what is measured.
    exe = os.path.join(WORKDIR, "kestrel.exe")
    shutil.copy2(args.exe, exe)
    env = dict(os.environ, WINEPREFIX=PREFIX)
    subprocess.run([WINE_RUN, "--prepare"], check=True, env=env)
    os.makedirs(wine_ports.link_folder(PREFIX), exist_ok=True)
    wine_ports.map_ports(WINE_RUN, PREFIX,
                         {"COM1": os.path.join(wine_ports.link_folder(PREFIX), "com1")})

    wanted = args.only or ["latency", "throughput", "idle"]
    results = {"build": build_description(args.exe)}
    try:
        if "latency" in wanted:
            results["latency"] = measure_latency(exe, args.requests)
        if "throughput" in wanted:
            results["throughput"] = measure_throughput(exe, 1000 * KB, 40 * KB)
        if "idle" in wanted:
            results["idle"] = measure_idle(exe, args.idle)
    except BenchError as error:
        print(f"session_bench: {error}", file=sys.stderr)
        return 1
    print_summary(results)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
