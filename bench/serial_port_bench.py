#!/usr/bin/env python3
"""Measures the serial port layer under Wine over a pseudo-terminal (run by hand).

1. Idle cost: an open, armed, quiet port for 10 s. Processor time of the program and
   of the prefix's wineserver, as a share of one core; the same without a port as a
   baseline, and with a port whose line has hung up (both ends of its pseudo-terminal
   closed, as an unplugged adapter): a receive thread that spins on the failed device
   shows here.
2. Answer latency: the remote sends "B", the program answers 00h from the receive
   notification; the time from the write of "B" to the arrival of 00h.

  WINEPREFIX=build/windows/wineprefix bench/serial_port_bench.py \\
      tools/wine-run.sh build/windows/bench/serial_port_bench.exe [SECONDS] [ANSWERS]
"""
import os
import select
import statistics
import subprocess
import sys
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
for folder in ("tools", os.path.join("tests", "serial")):  # pty_remote needs tools/ too
    sys.path.insert(0, os.path.join(HERE, "..", folder))
import pty_remote  # noqa: E402  (port mapping shared with the tests)



def cpu_seconds(pid):
    """Processor time of all the process's threads, from the scheduler's nanosecond
    counters (the tick counts of /proc/PID/stat are too coarse for an idle program)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # the thread has just ended
    return total / 1e9


def processes(prefix, program_name):
    """The program's process and the prefix's wineserver."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("latin-1")
            with open("/proc/%d/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=%s" % prefix).encode() not in environ:
            continue
        if program_name in cmdline:
            found["program"] = pid
        elif "wineserver" in cmdline:
            found["wineserver"] = pid
    return found


def start(wine_run, program, args):
    # The wineserver that the first program starts inherits its stderr and prints an
    # object dump there when it exits; keep that out of the figures.
    child = subprocess.Popen([wine_run, program] + args, stdout=subprocess.PIPE,
                             stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
    line = child.stdout.readline().strip()
    if line != "ready":
        child.kill()
        raise SystemExit("the bench program did not start: %r" % line)
    return child


def idle_cost(wine_run, program, prefix, mode, seconds, after_start=None):
    child = start(wine_run, program, [mode, str(seconds + 3)])
    if after_start:
        after_start()
    time.sleep(2.0)  # let start-up settle
    pids = processes(os.path.realpath(prefix), os.path.basename(program))
    before = {name: cpu_seconds(pid) for name, pid in pids.items()}
    began = time.monotonic()
    time.sleep(seconds)
    after = {name: cpu_seconds(pid) for name, pid in pids.items()}
    elapsed = time.monotonic() - began
    child.wait(timeout=60)
    return {name: 100.0 * (after[name] - before[name]) / elapsed for name in pids}


def point(link, slave):
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)


def hung_up_cost(wine_run, program, prefix, link, seconds):
    master, slave = os.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    point(link, slave)

    def hang_up():
        os.close(master)
        os.close(slave)

    return idle_cost(wine_run, program, prefix, "idle", seconds, after_start=hang_up)


def answer_latency(wine_run, program, prefix, master, answers):
    child = start(wine_run, program, ["echo", str(answers)])
    time.sleep(1.0)
    pids = processes(os.path.realpath(prefix), os.path.basename(program))
    before = {name: cpu_seconds(pid) for name, pid in pids.items()}
    began = time.monotonic()
    delays = []
    for _ in range(answers):
        sent = time.perf_counter()
        os.write(master, b"B")
        ready, _, _ = select.select([master], [], [], 5.0)
        if not ready:
            raise SystemExit("no answer to B within 5 s")
        os.read(master, 16)
        delays.append((time.perf_counter() - sent) * 1000.0)
        time.sleep(0.02)
    after = {name: cpu_seconds(pid) for name, pid in pids.items()}
    elapsed = time.monotonic() - began
    child.wait(timeout=60)
    busy = {name: 100.0 * (after[name] - before[name]) / elapsed for name in pids}
    return delays, busy


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    wine_run, program = sys.argv[1], sys.argv[2]
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    answers = int(sys.argv[4]) if len(sys.argv) > 4 else 200
    prefix = os.environ["WINEPREFIX"]
    subprocess.run([wine_run, "--prepare"], check=True)

    master, slave = os.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    link_dir = prefix.rstrip("/") + "-ports"
    os.makedirs(link_dir, exist_ok=True)
    links = {name: os.path.join(link_dir, name.lower()) for name in pty_remote.PORTS}
    point(links["COM1"], slave)
    pty_remote.map_ports(wine_run, prefix, links)

    for mode in ("noport", "idle", "hung-up"):
        if mode == "hung-up":
            shares = hung_up_cost(wine_run, program, prefix, links["COM1"], seconds)
            point(links["COM1"], slave)
        else:
            shares = idle_cost(wine_run, program, prefix, mode, seconds)
        total = sum(shares.values())
        detail = ", ".join("%s %.3f%%" % item for item in sorted(shares.items()))
        print("%-7s %2d s: %.3f%% of a core (%s)" % (mode, seconds, total, detail))

    delays, busy = answer_latency(wine_run, program, prefix, master, answers)
    delays.sort()
    print("B to answer over %d requests: median %.2f ms, 90%% %.2f ms, max %.2f ms" % (
        len(delays), statistics.median(delays), delays[int(len(delays) * 0.9)], delays[-1]))
    print("while answering (a B every 20 ms): %s" % ", ".join(
        "%s %.2f%%" % item for item in sorted(busy.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
