#!/usr/bin/env python3
"""Remote-machine simulator: plays the machine that loads a tape from KESTREL.

The remote end of the line sends command bytes; KESTREL answers each "B" (42h)
with the next entry of its tape: the start byte 00h, a pause, the 17-byte header
(type, 10-byte name, N, param1, param2, words low byte first), a pause and N data
bytes. A "B" on an exhausted tape gets the end byte 09h and the tool closes.

This program sends the command bytes of a script, records every byte it receives
with the time it arrived, splits the stream into answers by the protocol (the data
length comes from each header, so data bytes that look like 00h, 09h or "B" never
confuse it), rebuilds a .tap file from the answers with computed flags and
checksums, compares it with the tape the tool serves, and reports the latency from
each "B" to its start byte, the two pauses and the throughput.

Design: one thread and poll() with a deadline on every wait, so it never hangs: a
silent, slow or vanished peer turns into a reported timeout. The next "B" of a
script goes out only when every earlier answer has fully arrived. Times are taken
when a chunk is read, so a pause is measured from the arrival of the start byte to
the arrival of the header's first byte (and from the header's last byte to the
data's first byte).

Line speed: a pty hands over bytes as fast as they are written. With `read_rate`
(the command line's --line-speed: the 10,472 bytes a second of 115200 baud 8N2) a
LineModel stands for the wire: the simulator takes what the tool wrote as soon as it
is there, but never more than a few milliseconds of the line ahead of it, so the
rest waits in the pty and the tool's writes block as they would on a real line.
Each byte taken is stamped with the time it would finish arriving on that wire (one
byte time after it was written, or after the byte before it arrived, whichever is
later) and reaches the splitting only then, so latency and pauses are measured from
arrival on the line, not from when the simulator happened to read.

It works on any file descriptor: a serial device (a null-modem cable to a machine
running KESTREL, or a loopback between two ports of one machine), the master of a
pseudo-terminal whose slave the tool opened (the end-to-end tests), or a TCP
connection to kestrel-serve over the network (--tcp, --tcp-listen; a socket gets no
line settings). As a library:

    sim = RemoteSimulator(master_fd, answer_timeout=2.0)
    report = sim.run(parse_script("XYB B*"), original=open("demo.tap", "rb").read())
    assert report.exit_status == EXIT_OK, report.text()

Script tokens (separated by blanks or commas):
  B          send "B" and wait until its answer has fully arrived
  XYB        send the bytes X, Y and B in one write (any text; only "B" asks)
  BB         two "B" in quick succession: both answers are awaited
  hex:0D42   send bytes given in hexadecimal
  wait:50    listen for 50 ms without sending (also written 50ms)
  B*         send "B" after "B" until the end byte arrives
  3*TOKEN    the token three times (for example 3*B)
  noise:N    send N bytes none of which is "B" (a fixed pseudo-random sequence over the
             other 255 byte values), in writes of at most 4096 bytes, awaiting nothing
  flood:S    the same noise at ten times the line rate (104,720 bytes a second) for
             S seconds, paced, awaiting nothing: 104,720 x S bytes (a tool that takes
             them more slowly stretches the flood); then nothing more
  deaf:S     stop reading the line for S seconds (what the tool sends piles up and its
             writes block), then read again; right after B or XYB the answer is awaited
             only after the deaf spell, so it stalls that answer

Exit status: 0 all answers well-formed and equal to the tape; 1 the rebuilt tape
differs from the original; 2 the protocol was broken (timeout, wrong start byte,
missing end byte, unexpected bytes); 3 setup failed (device, tape file, script).
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import termios

import tapfile  # noqa: F401  (the tape format, for the programs that import this one)
from remote_machine.answers import Answer, StreamSplitter, compare_with_original  # noqa: F401
from remote_machine.line_model import LineModel  # noqa: F401
from remote_machine.line_setup import (LinkedPty, TcpListener, configure_line,  # noqa: F401
                                       connect_tcp, open_device, parse_host_port)
from remote_machine.protocol import (COMMAND_BYTE, END_BYTE, EXIT_OK, EXIT_PROTOCOL,  # noqa: F401
                                     EXIT_SETUP, EXIT_TAPE_DIFFERS, FLOOD_BYTES_PER_SECOND,
                                     HEADER_SIZE, LINE_BAUD, LINE_BYTES_PER_SECOND,
                                     NOISE_WRITE_SIZE, START_BYTE)
from remote_machine.report import Report  # noqa: F401
from remote_machine.script import (Call, Deaf, Noise, ScriptError, Send, UntilEnd,  # noqa: F401
                                   Wait, describe_steps, noise_bytes, parse_script)
from remote_machine.simulator import RemoteSimulator, RunLog, SimulatorError  # noqa: F401


# --- Command line ----------------------------------------------------------------

EPILOG = """\
examples:
  loopback check over a null-modem cable (KESTREL serving samples/demo.tap):
    %(prog)s --device /dev/ttyUSB0 --tape samples/demo.tap
  a pty for a tool under Wine (map COM1 to /tmp/kestrel-com1 in the registry):
    %(prog)s --pty-link /tmp/kestrel-com1 --tape samples/demo.tap --script "XYB B*"
  the same at line speed, after 40,000 bytes of noise:
    %(prog)s --pty-link /tmp/kestrel-com1 --tape samples/demo.tap --line-speed \\
        --script "noise:40000 B*"
  over the network, to kestrel-serve --listen 127.0.0.1:5000 samples/demo.tap:
    %(prog)s --tcp 127.0.0.1:5000 --tape samples/demo.tap
  waiting for kestrel-serve --port tcp:127.0.0.1:5000 samples/demo.tap:
    %(prog)s --tcp-listen 5000 --tape samples/demo.tap
exit status: 0 pass, 1 tape differs, 2 protocol broken, 3 setup failed
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        description="Play the remote machine that loads a tape from KESTREL, "
                    "check what it serves and time it.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    line = parser.add_mutually_exclusive_group(required=True)
    line.add_argument("--device", help="serial device, set raw 115200 8N2 (e.g. /dev/ttyUSB0)")
    line.add_argument("--pty-link", metavar="PATH",
                      help="make a pty and link its slave at PATH for the tool to open")
    line.add_argument("--tcp", metavar="HOST:PORT",
                      help="connect to a tool listening at HOST:PORT ([ADDR]:PORT for IPv6) "
                           "and take the connection as the line")
    line.add_argument("--tcp-listen", metavar="PORT", type=int,
                      help="listen on 127.0.0.1:PORT and take the first connection as the line")
    parser.add_argument("--tape", help="the .tap the tool serves, to compare with")
    parser.add_argument("--script", default="B*",
                        help='command script (default "B*": every entry, then the end byte)')
    parser.add_argument("--baud", type=int, default=LINE_BAUD, help="line speed (default 115200)")
    parser.add_argument("--line-speed", action="store_true",
                        help="read the line no faster than 115200 baud 8N2 carries it "
                             f"({LINE_BYTES_PER_SECOND:.0f} bytes/s), so the tool's writes "
                             "block as on a real line; each byte is timed as it would "
                             "arrive on that line (11 bits a byte after the one before, "
                             "or after it was written), so latency and pauses are measured "
                             "from arrival, not from reading")
    parser.add_argument("--timeout", type=float, default=2.0,
                        help="seconds an answer may stay silent (default 2)")
    parser.add_argument("--first-timeout", type=float, default=None,
                        help="seconds the first answer may take (default: --timeout)")
    parser.add_argument("--settle", type=float, default=0.2,
                        help="seconds to listen after the script for stray bytes (default 0.2)")
    parser.add_argument("--max-time", type=float, default=600.0,
                        help="limit of the whole run in seconds (default 600)")
    parser.add_argument("--wait-open", type=float, default=60.0,
                        help="with --pty-link or --tcp-listen: seconds to wait for the tool "
                             "to open the port or connect; with --tcp: for the connection")
    parser.add_argument("--no-flush", action="store_true",
                        help="with --device: keep bytes already queued on the line")
    parser.add_argument("--save", metavar="FILE", help="write the rebuilt .tap here")
    parser.add_argument("--json", action="store_true", help="print the report as JSON")
    parser.add_argument("--json-out", metavar="FILE", help="also write the JSON report here")
    parser.add_argument("--trace", action="store_true",
                        help="include every chunk sent and received in the JSON")
    return parser


def main(argv=None) -> int:
    args = build_parser().parse_args(argv)
    try:
        steps = parse_script(args.script)
        original = None
        if args.tape:
            with open(args.tape, "rb") as tape:
                original = tape.read()
    except (ScriptError, OSError) as error:
        print(f"remote_sim: {error}", file=sys.stderr)
        return EXIT_SETUP

    pty_link = None
    source = args.device
    try:
        if args.device:
            fd = open_device(args.device, args.baud, flush=not args.no_flush)
        elif args.tcp:
            # A socket has no line settings: the bytes pass as they are.
            fd = connect_tcp(*parse_host_port(args.tcp), timeout=args.wait_open)
            source = f"tcp:{args.tcp}"
        elif args.tcp_listen is not None:
            listener = TcpListener(args.tcp_listen)
            try:
                print(f"remote_sim: listening on 127.0.0.1:{listener.port}; waiting for the "
                      "tool to connect", file=sys.stderr)
                fd = listener.accept(args.wait_open)
            finally:
                listener.close()
            if fd is None:
                print(f"remote_sim: nobody connected within {args.wait_open:g} s",
                      file=sys.stderr)
                return EXIT_SETUP
            source = f"tcp:127.0.0.1:{listener.port} (listening)"
        else:
            pty_link = LinkedPty(args.pty_link)
            fd = pty_link.master
            source = f"{args.pty_link} ({pty_link.slave_name})"
    except (OSError, ValueError, SimulatorError, termios.error) as error:
        print(f"remote_sim: cannot set up the line: {error}", file=sys.stderr)
        return EXIT_SETUP

    try:
        sim = RemoteSimulator(fd, answer_timeout=args.timeout, first_timeout=args.first_timeout,
                              settle=args.settle, max_time=args.max_time,
                              read_rate=LINE_BYTES_PER_SECOND if args.line_speed else None)
        if pty_link is not None:
            print(f"remote_sim: {pty_link.slave_name} linked at {args.pty_link}; "
                  "waiting for the tool to open it", file=sys.stderr)
            if not sim.wait_for_peer(args.wait_open):
                print(f"remote_sim: nobody opened {args.pty_link} within {args.wait_open:g} s",
                      file=sys.stderr)
                return EXIT_SETUP
        report = sim.run(steps, original)
    finally:
        if pty_link is not None:
            pty_link.close()
        else:
            os.close(fd)

    if args.save:
        with open(args.save, "wb") as out:
            out.write(report.rebuilt)
    document = report.to_dict(trace=args.trace)
    if args.json_out:
        with open(args.json_out, "w") as out:
            json.dump(document, out, indent=2)
    if args.json:
        json.dump(document, sys.stdout, indent=2)
        print()
    else:
        print(f"Remote simulator on {source}, script: {describe_steps(steps)}")
        sys.stdout.write(report.text())
    return report.exit_status


if __name__ == "__main__":
    sys.exit(main())
