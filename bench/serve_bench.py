#!/usr/bin/env python3
"""Measures kestrel-serve, the native tape server, over a pseudo-terminal (run by hand).

The same measurements as bench/session_bench.py takes of kestrel.exe under Wine, with
its tapes and figures, so the two can be set side by side; tools/remote_sim.py plays
the remote machine on the pty's master:

1. Latency: a tape of small entries served with "B*": the time from the write of "B"
   to the arrival of the start byte, and the time each block takes beyond its two
   10 ms pauses (from the start byte to the block's last byte, less 20 ms), each
   pause's excess over 10 ms on its own.
2. Throughput: a tape of about 1 MB in entries of 40 KB, served with "B*": the same
   two figures, and the bytes a second including the pauses.
3. Idle: the session is open and the remote sends nothing; kestrel-serve's processor
   time over 10 s (the scheduler's nanosecond counters) as a share of one core, and
   how often it was scheduled in. The session is then served to its end.

Every session's rebuilt tape is checked against the original; one that did not serve
its tape exactly makes the bench fail (exit status 1). The figures are not a test:
they depend on the machine and its load.

    python3 bench/serve_bench.py [--serve build/native/kestrel-serve] [--requests 1000]
        [--idle 10] [--only latency|throughput|idle] [--json FILE]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, HERE)

import remote_sim  # noqa: E402
from session_bench import (KB, PAUSE, BenchError, large_entries_tape,  # noqa: E402
                           scheduler_counts, small_entries_tape, spread_ms)


class ServeSession:
    """kestrel-serve serving one tape over a pty of its own."""

    def __init__(self, program, tape_bytes):
        self.program = program
        self.tape_bytes = tape_bytes
        self.folder = tempfile.TemporaryDirectory(prefix="serve-bench-")
        self.tape = os.path.join(self.folder.name, "bench.tap")
        with open(self.tape, "wb") as f:
            f.write(tape_bytes)
        self.pty = remote_sim.LinkedPty(os.path.join(self.folder.name, "line"))
        self.process = None

    def __enter__(self):
        self.process = subprocess.Popen([self.program, "--port", self.pty.link, self.tape],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        sim = remote_sim.RemoteSimulator(self.pty.master)
        if not sim.wait_for_peer(30):
            self.__exit__()
            raise BenchError("kestrel-serve did not open its line")
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.pty.close()
        self.folder.cleanup()
        return False

    def serve(self):
        """Asks for the whole tape; the report, once the program has ended with 0."""
        sim = remote_sim.RemoteSimulator(self.pty.master, answer_timeout=10, max_time=600)
        report = sim.run(remote_sim.parse_script("B*"), self.tape_bytes)
        if report.exit_status != remote_sim.EXIT_OK or not report.splitter.ended:
            raise BenchError("the session did not serve its tape:\n" + report.text())
        if self.process.wait(30) != 0:
            raise BenchError(f"kestrel-serve ended with {self.process.returncode}")
        return report


def block_figures(report):
    entries = report.entries
    return {
        "load_average_1min": round(os.getloadavg()[0], 2),
        "entries": len(entries),
        "b_to_start_byte_ms": spread_ms(a.latency() for a in entries if not a.queued),
        "block_beyond_pauses_ms": spread_ms(
            a.last_time - a.start_time - 2 * PAUSE for a in entries),
        "pause1_excess_ms": spread_ms(a.pause_before_header() - PAUSE for a in entries),
        "pause2_excess_ms": spread_ms(a.pause_before_data() - PAUSE for a in entries
                                      if a.pause_before_data() is not None),
    }


def measure_latency(program, requests):
    with ServeSession(program, small_entries_tape(requests)) as session:
        return block_figures(session.serve())


def measure_throughput(program, _, total=1000 * KB, entry_size=40 * KB):
    with ServeSession(program, large_entries_tape(total, entry_size)) as session:
        report = session.serve()
    figures = block_figures(report)
    figures["bytes_per_s"] = report.throughput()["bytes_per_s_overall"]
    return figures


def measure_idle(program, seconds):
    with ServeSession(program, small_entries_tape(1)) as session:
        time.sleep(1.0)  # start-up settles
        pid = session.process.pid
        before = scheduler_counts(pid)
        began = time.monotonic()
        time.sleep(seconds)
        after = scheduler_counts(pid)
        elapsed = time.monotonic() - began
        alive = session.process.poll() is None
        session.serve()  # the session still answers after the wait, and ends
    if not alive:
        raise BenchError("kestrel-serve ended during the idle wait")
    return {
        "load_average_1min": round(os.getloadavg()[0], 2),
        "seconds": round(elapsed, 3),
        "percent_of_a_core": round(100.0 * (after[0] - before[0]) / elapsed, 4),
        "scheduled_in_per_s": round((after[1] - before[1]) / elapsed, 2),
    }


MEASUREMENTS = {"latency": measure_latency, "throughput": measure_throughput,
                "idle": measure_idle}


def print_summary(results):
    def row(label, spread):
        if spread:
            print(f"  {label:<38} median {spread['median']:8.3f} ms   p99 {spread['p99']:8.3f} ms"
                  f"   max {spread['max']:8.3f} ms  ({spread['count']})")

    for name in ("latency", "throughput"):
        figures = results.get(name)
        if figures:
            print(f"{name.capitalize()} session: {figures['entries']} entries "
                  f"(load {figures['load_average_1min']})")
            row("B to start byte", figures["b_to_start_byte_ms"])
            row("block beyond its two 10 ms pauses", figures["block_beyond_pauses_ms"])
            row("  first pause beyond 10 ms", figures["pause1_excess_ms"])
            row("  second pause beyond 10 ms", figures["pause2_excess_ms"])
            if "bytes_per_s" in figures:
                print(f"  {figures['bytes_per_s'] / 1e6:.2f} MB/s including the pauses")
    idle = results.get("idle")
    if idle:
        print(f"Idle session, {idle['seconds']:.1f} s (load {idle['load_average_1min']}): "
              f"{idle['percent_of_a_core']:.4f}% of a core, scheduled in "
              f"{idle['scheduled_in_per_s']:.2f} times a second")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--serve", default=os.path.join(ROOT, "build", "native", "kestrel-serve"))
    parser.add_argument("--requests", type=int, default=1000,
                        help="entries of the latency tape (default 1000)")
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of the idle wait")
    parser.add_argument("--only", choices=tuple(MEASUREMENTS), action="append",
                        help="run only this measurement (may be repeated)")
    parser.add_argument("--json", metavar="FILE", help="also write the figures here")
    args = parser.parse_args()
    if not os.path.exists(args.serve):
        print(f"serve_bench: {args.serve} is not built", file=sys.stderr)
        return 2
    argument = {"latency": args.requests, "throughput": None, "idle": args.idle}
    results = {}
    try:
        for name in args.only or list(MEASUREMENTS):
            results[name] = MEASUREMENTS[name](args.serve, argument[name])
    except BenchError as error:
        print(f"serve_bench: {error}", file=sys.stderr)
        return 1
    print(f"kestrel-serve ({os.path.abspath(args.serve)}); {os.cpu_count()} CPUs")
    print_summary(results)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
