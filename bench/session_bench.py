#!/usr/bin/env python3
"""Measures the whole tool, kestrel.exe under Wine, over a pseudo-terminal (run by hand).

COM1 of a prefix of the bench's own is a pty; the remote machine is played by
tools/remote_sim.py. Five sessions, each in a Wine virtual desktop on a private
Xvfb, the tape given on the command line:

1. Noise: 40,000 bytes none of which is "B", then "B" (remote_sim's "noise:40000 B"),
   three times on a tape of three small entries. The time from the first noise byte
   written to the arrival of the start byte 00h; and from the write of that "B",
   which goes out once the line has taken the last noise byte (at once while the
   tool's side of the line has room for the noise, later when it reads slowly).
2. Responsiveness: one entry of 48,000 bytes read at the line's speed (115200 baud
   8N2, 10,472 bytes a second: the tool's writes block as on a real line), while
   kestrel_window_reader --ping sends the session window WM_NULL after WM_NULL from
   before the "B" until the window is gone: the longest a message waited for its
   answer (5000 ms for one never answered), the median, how many timed out.
3. Throughput: a tape of about 1 MB in entries of 40 KB, served with "B*": bytes of
   all answers over the time from the first "B" to the last byte received; the time
   from "B" to the start byte and the time each block takes beyond its two 10 ms
   pauses (from the start byte to the block's last byte, less 20 ms).
4. Latency: a tape of 3000 small entries, served with "B*" (each "B" sent when the
   previous answer has fully arrived). The time from the write of "B" to the arrival
   of the start byte, over the whole run and over its first and last 200 entries (the
   log grows by a line an entry); the time each block takes beyond its two pauses,
   each pause's excess over 10 ms on its own, and the whole answer from "B" to the
   last byte less 20 ms.
5. Idle: the session is open and the remote sends nothing; the processor time of
   kestrel.exe and of the prefix's wineserver over 10 s, from the scheduler's
   nanosecond counters of every thread, as a share of one core. The session is then
   ended by asking for the tape to its end.

With --before-exe, each measurement is taken with that kestrel.exe too (first), and
the figures are printed side by side. The latency session is also served by
naive_server.exe (bench/naive_server_win32.cpp: one thread, no window, the port
polled every millisecond, the header in one write), the yardstick of what the
platform itself costs; its B to start byte and block time beyond the pauses are
printed beside the tool's (--no-naive leaves it out). Every session's rebuilt tape is checked
against the original; a session that did not serve its tape exactly makes the bench
fail (exit status 1). Every wait has a limit. The figures are not a test: they
depend on the machine and its load.

    python3 bench/session_bench.py [--exe build/windows/kestrel.exe] [--before-exe PATH]
        [--reader build/windows/tests/kestrel_window_reader.exe] [--requests 3000]
        [--idle 10] [--only noise|responsiveness|throughput|latency|idle] [--json FILE]
        [--naive build/windows/bench/naive_server.exe | --no-naive]

Needs the windows build of kestrel.exe and of kestrel_window_reader.exe (for the
responsiveness), Wine, Xvfb and xdotool (tools/install-deps.sh).
"""

import argparse
import json
import math
import os
import re
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
from winedesk import (DesktopError, WineDesktop, exit_cleanly_on_sigterm, read_line,  # noqa: E402
                      windows_path)

WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")
# A prefix of its own: the bench restarts and ends its wineserver, and counts that
# wineserver's processor time, without touching the tests' prefix.
PREFIX = os.path.join(ROOT, "build", "windows", "bench-wineprefix")
WORKDIR = os.path.join(ROOT, "build", "windows", "bench-run")
CAPTION_PREFIX = "KESTREL 1.00 "
CAPTION = "^" + re.escape(CAPTION_PREFIX)
DESKTOP = "kestrel-bench"
PAUSE = 0.010  # each of the two pauses of a block
KB = 1024
NOISE_BYTES = 40000
NOISE_ROUNDS = 3
RESPONSIVE_ENTRY_BYTES = 48000
EDGE_ENTRIES = 200  # the first and last entries of the latency run compared
PROBE_SECONDS = 120  # the probe stops earlier, when the session's window is gone


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


def one_entry_tape(size):
    pattern = bytes(range(256)) * (size // 256 + 1)
    return tapfile.build_tape([tapfile.TapEntry.make(tapfile.TYPE_CODE, "BIG", pattern[:size])])


def large_entries_tape(total, entry_size):
    count = max(1, round(total / entry_size))
    pattern = bytes(range(256)) * (entry_size // 256 + 1)
    return tapfile.build_tape(
        tapfile.TapEntry.make(tapfile.TYPE_CODE, f"L{index:03d}", pattern[:entry_size])
        for index in range(count))


# --- One session -----------------------------------------------------------------

class Session:
    """kestrel.exe serving one tape on a private desktop, COM1 a pty; with `naive`,
    naive_server.exe serving it instead, a console program with no window."""

    def __init__(self, exe, tape_bytes, label, naive=False):
        self.exe = exe
        self.naive = naive
        self.label = label
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
            self.desk = WineDesktop(wine_run=WINE_RUN, prefix=PREFIX, name=DESKTOP)
            self.desk.__enter__()
            if self.naive:
                self.program = self.desk.start_console(self.exe, windows_path(self.tape),
                                                       cwd=self.folder)
                ready = read_line(self.program, 60)
                if ready != "ready":
                    raise BenchError(f"naive_server did not start: {ready!r}")
            else:
                self.program = self.desk.start(self.exe, windows_path(self.tape),
                                               cwd=self.folder)
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

    def serve(self, script="B*", answer_timeout=10, max_time=600, read_rate=None):
        """Plays the script, which asks for the whole tape, and waits for the program
        to end; the report."""
        sim = remote_sim.RemoteSimulator(self.pty.master, answer_timeout=answer_timeout,
                                         first_timeout=max(30, answer_timeout),
                                         max_time=max_time, read_rate=read_rate)
        report = sim.run(remote_sim.parse_script(script), self.tape_bytes)
        if report.exit_status != remote_sim.EXIT_OK or not report.splitter.ended:
            raise BenchError(f"the {self.label} session did not serve its tape:\n"
                             + report.text())
        self.desk.wait_exit(self.program, timeout=30)
        return report


# --- The measurements ------------------------------------------------------------

def measure_noise(exe, _):
    script = " ".join([f"noise:{NOISE_BYTES} B"] * NOISE_ROUNDS + ["B*"])
    with Session(exe, small_entries_tape(NOISE_ROUNDS), "noise") as session:
        time.sleep(1.0)
        load = os.getloadavg()[0]
        report = session.serve(script, answer_timeout=60)
    entries = report.entries
    # Each noise step begins as the previous answer has arrived (the first: at 0).
    begun = [0.0] + [a.last_time for a in entries[:-1]]
    from_noise = [a.start_time - start for a, start in zip(entries, begun)]
    return {
        "load_average_1min": round(load, 2),
        "noise_bytes": NOISE_BYTES,
        "rounds": len(entries),
        "noise_to_start_byte_ms": spread_ms(from_noise),
        "noise_to_start_byte_each_ms": [round(value * 1000, 1) for value in from_noise],
        "b_to_start_byte_ms": spread_ms(a.latency() for a in entries),
        "b_to_start_byte_each_ms": [round(a.latency() * 1000, 1) for a in entries],
    }


def measure_responsiveness(exe, reader):
    if reader is None:
        raise BenchError("the responsiveness needs kestrel_window_reader.exe (--reader)")
    with Session(exe, one_entry_tape(RESPONSIVE_ENTRY_BYTES), "responsiveness") as session:
        probe = session.desk.start_console(reader, "--ping", CAPTION_PREFIX, str(PROBE_SECONDS),
                                           DESKTOP)
        found = read_line(probe, 90)
        if not found.startswith("window=") or found == "window=0":
            raise BenchError(f"the probe did not find the session window: {found}")
        time.sleep(1.0)
        load = os.getloadavg()[0]
        report = session.serve(read_rate=remote_sim.LINE_BYTES_PER_SECOND)
        try:
            output, _ = probe.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            raise BenchError("the probe did not end within 30 s of the session") from None
    figures = dict(line.split("=", 1) for line in output.decode("latin-1").split() if "=" in line)
    if figures.get("gone") != "1" or "longest_ms" not in figures:
        raise BenchError(f"the probe did not see the whole session: {figures}")
    (entry,) = report.entries
    return {
        "load_average_1min": round(load, 2),
        "entry_data_bytes": RESPONSIVE_ENTRY_BYTES,
        "read_rate_bytes_per_s": round(remote_sim.LINE_BYTES_PER_SECOND, 1),
        "entry_arrival_s": round(entry.last_time - entry.start_time, 3),
        "pings": int(figures["pings"]),
        "longest_unanswered_ms": float(figures["longest_ms"]),
        "median_ping_ms": float(figures["median_ms"]),
        "timeouts": int(figures["timeouts"]),
    }


def measure_latency(exe, requests, naive=False):
    with Session(exe, small_entries_tape(requests), "latency", naive) as session:
        time.sleep(1.0)  # let the first display settle
        load = os.getloadavg()[0]
        report = session.serve()
    entries = report.entries
    answered = [a.latency() for a in entries if not a.queued]
    edge = min(EDGE_ENTRIES, len(answered) // 2)
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
        "b_to_start_byte_median_by_tenth_ms": tenth_medians(answered),
        "edge_entries": edge,
        "b_to_start_byte_first_median_ms": round(statistics.median(answered[:edge]) * 1000, 3),
        "b_to_start_byte_last_median_ms": round(statistics.median(answered[-edge:]) * 1000, 3),
        "end_byte_latency_ms": next((round(a.latency() * 1000, 3) for a in report.answers
                                     if a.kind == "end" and a.latency() is not None), None),
    }


def measure_throughput(exe, _, total=1000 * KB, entry_size=40 * KB):
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
        # The tree the program was built from: the one that holds its build folder.
        result = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(exe)), *args],
                                capture_output=True, text=True, check=False)
        return result.stdout.strip()

    return {"exe": os.path.abspath(exe), "commit": git("log", "-1", "--format=%h %s"),
            "exe_modified": time.strftime("%Y-%m-%d %H:%M:%S UTC",
                                          time.gmtime(os.path.getmtime(exe))),
            "cpus": os.cpu_count(), "load_average": [round(x, 2) for x in os.getloadavg()]}


def print_summary(results):
    def row(label, spread):
        if spread:
            print(f"  {label:<38} median {spread['median']:8.2f} ms   p99 {spread['p99']:8.2f} ms"
                  f"   max {spread['max']:8.2f} ms  ({spread['count']})")

    build = results["build"]
    print(f"kestrel.exe of {build['exe_modified']} ({build['exe']}), tree at {build['commit']}; "
          f"{build['cpus']} CPUs, load {build['load_average']}")
    noise = results.get("noise")
    if noise:
        print(f"Noise session: {noise['rounds']} times {noise['noise_bytes']} noise bytes, then B "
              f"(load {noise['load_average_1min']})")
        each = ", ".join(f"{value:.1f}" for value in noise["noise_to_start_byte_each_ms"])
        print(f"  first noise byte to start byte (ms): {each}")
        each = ", ".join(f"{value:.1f}" for value in noise["b_to_start_byte_each_ms"])
        print(f"  B to start byte (ms): {each}")
    responsive = results.get("responsiveness")
    if responsive:
        print(f"Responsiveness session: one entry of {responsive['entry_data_bytes']} bytes read "
              f"at {responsive['read_rate_bytes_per_s']:.0f} bytes/s, arrived in "
              f"{responsive['entry_arrival_s']:.2f} s (load {responsive['load_average_1min']})")
        print(f"  {responsive['pings']} pings: longest "
              f"{responsive['longest_unanswered_ms']:.1f} ms, "
              f"median {responsive['median_ping_ms']:.2f} ms, "
              f"{responsive['timeouts']} unanswered in 5 s")
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
        print(f"  B to start byte, median of the first and last {latency['edge_entries']} "
              f"entries: {latency['b_to_start_byte_first_median_ms']:.2f} ms, "
              f"{latency['b_to_start_byte_last_median_ms']:.2f} ms")
    rate = results.get("throughput")
    if rate:
        print(f"Throughput session: {rate['tape_bytes']} byte tape, {rate['entries']} entries "
              f"of {rate['entry_data_bytes']} bytes (load {rate['load_average_1min']})")
        print(f"  {rate['answer_bytes']} bytes in {rate['elapsed_s']:.3f} s = "
              f"{rate['bytes_per_s'] / 1e6:.2f} MB/s ({rate['bytes_per_s_without_pauses'] / 1e6:.2f}"
              f" MB/s without the {rate['mandated_pauses_s']:.2f} s of pauses)")
        row("B to start byte", rate["b_to_start_byte_ms"])
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


# The figures set side by side: (label, measurement, how to read it from its results).
KEY_FIGURES = (
    (f"1 {NOISE_BYTES} noise bytes, B: noise to start byte, median ms", "noise",
     lambda r: r["noise_to_start_byte_ms"]["median"]),
    ("  the same, from the B, median ms", "noise",
     lambda r: r["b_to_start_byte_ms"]["median"]),
    (f"2 {RESPONSIVE_ENTRY_BYTES} B at line speed: longest unanswered ms", "responsiveness",
     lambda r: r["longest_unanswered_ms"]),
    ("  pings unanswered in 5 s", "responsiveness", lambda r: r["timeouts"]),
    ("3 40 KB entries: B to start byte, median ms", "throughput",
     lambda r: r["b_to_start_byte_ms"]["median"]),
    ("  B to start byte, p99 ms", "throughput", lambda r: r["b_to_start_byte_ms"]["p99"]),
    ("  block beyond its pauses, median ms", "throughput",
     lambda r: r["block_beyond_pauses_ms"]["median"]),
    ("  block beyond its pauses, p99 ms", "throughput",
     lambda r: r["block_beyond_pauses_ms"]["p99"]),
    ("4 small entries: B to start byte, median ms", "latency",
     lambda r: r["b_to_start_byte_ms"]["median"]),
    ("  block beyond its pauses, median ms", "latency",
     lambda r: r["block_beyond_pauses_ms"]["median"]),
    ("  block beyond its pauses, p99 ms", "latency",
     lambda r: r["block_beyond_pauses_ms"]["p99"]),
    (f"  B to start byte, first {EDGE_ENTRIES}, median ms", "latency",
     lambda r: r["b_to_start_byte_first_median_ms"]),
    (f"  last {EDGE_ENTRIES}, median ms", "latency",
     lambda r: r["b_to_start_byte_last_median_ms"]),
    ("5 idle: kestrel.exe + wineserver, % of a core", "idle",
     lambda r: r["kestrel_plus_wineserver_percent"]),
)


def print_comparison(runs):
    labels = list(runs)
    print(f"{'':<56}" + "".join(f"{label:>12}" for label in labels))
    for title, name, figure in KEY_FIGURES:
        cells = []
        for label in labels:
            results = runs[label].get(name)
            cells.append("-" if results is None else f"{figure(results):g}")
        if any(cell != "-" for cell in cells):
            print(f"{title:<56}" + "".join(f"{cell:>12}" for cell in cells))


MEASUREMENTS = {"noise": measure_noise, "responsiveness": measure_responsiveness,
                "throughput": measure_throughput, "latency": measure_latency,
                "idle": measure_idle}


def staged_copy(path, folder):
    """A copy under the bench's folder: a rebuild of the tree during the run does not
    change what is measured."""
    os.makedirs(folder, exist_ok=True)
    copy = os.path.join(folder, os.path.basename(path))
    shutil.copy2(path, copy)
    return copy


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "windows", "kestrel.exe"))
    parser.add_argument("--before-exe", metavar="PATH",
                        help="another kestrel.exe to measure the same way, side by side")
    parser.add_argument("--reader", default=os.path.join(ROOT, "build", "windows", "tests",
                                                         "kestrel_window_reader.exe"),
                        help="kestrel_window_reader.exe, the responsiveness probe")
    parser.add_argument("--requests", type=int, default=3000,
                        help="entries of the latency tape (default 3000; at least 400)")
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of the idle wait")
    parser.add_argument("--only", choices=tuple(MEASUREMENTS), action="append",
                        help="run only this measurement (may be repeated)")
    parser.add_argument("--json", metavar="FILE", help="also write the figures here")
    parser.add_argument("--naive", default=os.path.join(ROOT, "build", "windows", "bench",
                                                        "naive_server.exe"),
                        help="naive_server.exe, measured beside the tool in the latency session")
    parser.add_argument("--no-naive", action="store_true",
                        help="leave the naive program out")
    args = parser.parse_args()
    wanted = args.only or list(MEASUREMENTS)
    programs = {"before": args.before_exe, "current": args.exe} if args.before_exe \
        else {"current": args.exe}
    needed = list(programs.values())
    if "responsiveness" in wanted:
        needed.append(args.reader)
    naive_wanted = "latency" in wanted and not args.no_naive
    if naive_wanted:
        needed.append(args.naive)
    for path in needed:
        if not os.path.exists(path):
            print(f"session_bench: {path} is not built", file=sys.stderr)
            return 2
    exit_cleanly_on_sigterm()
    os.makedirs(WORKDIR, exist_ok=True)
    # kestrel.exe keeps its name in each copy: the processes are found by it.
    staged = {label: staged_copy(path, os.path.join(WORKDIR, label))
              for label, path in programs.items()}
    reader = staged_copy(args.reader, WORKDIR) if "responsiveness" in wanted else None
    naive = staged_copy(args.naive, os.path.join(WORKDIR, "naive")) if naive_wanted else None
    env = dict(os.environ, WINEPREFIX=PREFIX)
    subprocess.run([WINE_RUN, "--prepare"], check=True, env=env)
    os.makedirs(wine_ports.link_folder(PREFIX), exist_ok=True)
    wine_ports.map_ports(WINE_RUN, PREFIX,
                         {"COM1": os.path.join(wine_ports.link_folder(PREFIX), "com1")})

    runs = {label: {"build": build_description(path)} for label, path in programs.items()}
    argument = {"noise": None, "responsiveness": reader, "throughput": None,
                "latency": args.requests, "idle": args.idle}
    try:
        # Measurement by measurement, each program in turn: both see the same load.
        for name in MEASUREMENTS:
            if name in wanted:
                for label, exe in staged.items():
                    runs[label][name] = MEASUREMENTS[name](exe, argument[name])
                if name == "latency" and naive is not None:
                    runs.setdefault("naive", {"build": {"exe": naive}})
                    runs["naive"][name] = measure_latency(naive, argument[name], naive=True)
    except (BenchError, DesktopError) as error:
        print(f"session_bench: {error}", file=sys.stderr)
        return 1
    for label, results in runs.items():
        if label == "naive":
            continue  # its figures are in the table below
        print(f"--- {label}")
        print_summary(results)
    print()
    print_comparison(runs)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(runs, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
