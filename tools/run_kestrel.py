#!/usr/bin/env python3
"""Runs KESTREL (build/windows/kestrel.exe) under Wine, serving a tape.

Without --device, COM1 is a pseudo-terminal whose far end plays the remote machine
(tools/remote_sim.py): it asks for every entry, checks what arrives against the
tape and prints its report. With a DISPLAY you pick the tape in KESTREL's file
dialog yourself; without one, KESTREL runs on a private X server and the tape given
with --tape (default samples/demo.tap) is picked for you by keystrokes.

With --device, COM1 is that serial device (a USB adapter with a real machine or a
null-modem cable at the other end) and KESTREL is yours to use: it needs a display.

    run_kestrel.py [--tape FILE] [--script SCRIPT] [--device /dev/ttyUSB0]
"""

import argparse
import os
import subprocess
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import remote_sim  # noqa: E402
import wine_ports  # noqa: E402
from winedesk import DesktopError, WineDesktop, windows_path  # noqa: E402

WINE_RUN = os.path.join(HERE, "wine-run.sh")
PREFIX = os.path.join(ROOT, "build", "windows", "wineprefix")
KESTREL = os.path.join(ROOT, "build", "windows", "kestrel.exe")
WORKDIR = os.path.join(ROOT, "build", "windows", "run")  # holds KESTREL.INI


def map_com1():
    """Maps COM1 of the prefix to a stable path; returns that path, which the caller
    points at a device or a pty slave."""
    os.makedirs(wine_ports.link_folder(PREFIX), exist_ok=True)
    link = os.path.join(wine_ports.link_folder(PREFIX), "com1")
    wine_ports.map_ports(WINE_RUN, PREFIX, {"COM1": link})
    return link


def use_port_com1():
    """Makes sure KESTREL.INI names COM1, the port this script maps."""
    os.makedirs(WORKDIR, exist_ok=True)
    with open(os.path.join(WORKDIR, "KESTREL.INI"), "wb") as f:
        f.write(b"[Impostazioni]\r\nPorta=COM1\r\n")


def serve_real_device(device):
    if not os.environ.get("DISPLAY"):
        print("run_kestrel: --device needs a display for KESTREL's window", file=sys.stderr)
        return 2
    link = map_com1()
    if os.path.islink(link):
        os.unlink(link)
    os.symlink(device, link)
    use_port_com1()
    env = dict(os.environ, WINEPREFIX=PREFIX)
    return subprocess.run([WINE_RUN, KESTREL], cwd=WORKDIR, env=env).returncode


def run_simulator(fd, steps, tape_bytes, result):
    sim = remote_sim.RemoteSimulator(fd, answer_timeout=10, first_timeout=600)
    result["report"] = sim.run(steps, tape_bytes)


def with_picture_before_the_end(steps, tape_bytes, take_picture):
    """The default script with a picture of the served session: every entry asked
    for, the picture taken once the log has had time to show them (it catches up
    when the line goes quiet), then the request that gets the end byte, after which
    the window closes."""
    if steps != [remote_sim.UntilEnd()]:
        return steps
    entries = len(remote_sim.tapfile.wire_entries(tape_bytes))
    return ([remote_sim.Send(b"B")] * entries +
            [remote_sim.Wait(0.5), remote_sim.Call(take_picture), remote_sim.UntilEnd()])


def serve_simulated_line(tape, script):
    link = map_com1()
    pty = remote_sim.LinkedPty(link)
    use_port_com1()
    with open(tape, "rb") as f:
        tape_bytes = f.read()
    result = {}
    steps = remote_sim.parse_script(script)

    def start_simulator(script_steps):
        simulator = threading.Thread(target=run_simulator, daemon=True,
                                     args=(pty.master, script_steps, tape_bytes, result))
        simulator.start()
        return simulator

    try:
        if os.environ.get("DISPLAY"):
            simulator = start_simulator(steps)
            print(f"Pick {tape} in KESTREL's file dialog.", file=sys.stderr)
            env = dict(os.environ, WINEPREFIX=PREFIX)
            subprocess.run([WINE_RUN, KESTREL], cwd=WORKDIR, env=env, timeout=3600)
        else:
            with WineDesktop(wine_run=WINE_RUN, prefix=PREFIX, name="kestrel",
                             screenshots=WORKDIR) as desk:
                program = desk.start(KESTREL, cwd=WORKDIR)
                dialog = desk.find_window("^Seleziona file da inviare$", timeout=60)
                desk.focus(dialog)
                desk.type_text(windows_path(tape))
                desk.key("Return")
                desk.find_window(r"^KESTREL 1\.00 ", timeout=30)

                def take_picture():
                    picture = desk.screenshot("session")
                    if picture:
                        print(f"A picture of the served session: {picture}", file=sys.stderr)

                simulator = start_simulator(
                    with_picture_before_the_end(steps, tape_bytes, take_picture))
                simulator.join(timeout=120)
                desk.wait_exit(program, timeout=30)
        simulator.join(timeout=30)
    finally:
        pty.close()
    report = result.get("report")
    if report is None:
        print("run_kestrel: the remote machine got no complete answer", file=sys.stderr)
        return 1
    print(report.text())
    return report.exit_status


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tape", default=os.path.join(ROOT, "samples", "demo.tap"))
    parser.add_argument("--script", default="B*", help="the simulated remote's commands")
    parser.add_argument("--device", help="a real serial device to serve as COM1")
    args = parser.parse_args()
    if not os.path.exists(KESTREL):
        print(f"run_kestrel: {KESTREL} is not built", file=sys.stderr)
        return 2
    subprocess.run([WINE_RUN, "--prepare"], check=True, env=dict(os.environ, WINEPREFIX=PREFIX))
    try:
        if args.device:
            return serve_real_device(args.device)
        return serve_simulated_line(os.path.abspath(args.tape), args.script)
    except DesktopError as error:
        print(f"run_kestrel: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
