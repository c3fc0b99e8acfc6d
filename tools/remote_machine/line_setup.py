"""Line set-up: a serial device, a linked pseudo-terminal or a TCP connection as the line."""

from __future__ import annotations

import os
import socket
import termios

from remote_machine.protocol import LINE_BAUD
from remote_machine.simulator import SimulatorError

_SPEEDS = {rate: getattr(termios, f"B{rate}") for rate in
           (9600, 19200, 38400, 57600, 115200, 230400) if hasattr(termios, f"B{rate}")}


def configure_line(fd: int, baud: int = LINE_BAUD) -> None:
    """Raw mode, 8 data bits, no parity, 2 stop bits, no flow control."""
    if baud not in _SPEEDS:
        raise SimulatorError(f"unsupported speed {baud}")
    attrs = termios.tcgetattr(fd)
    attrs[0] &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP |
                  termios.INLCR | termios.IGNCR | termios.ICRNL | termios.IXON |
                  termios.IXOFF | termios.IXANY | termios.INPCK)
    attrs[1] &= ~termios.OPOST
    attrs[2] &= ~(termios.CSIZE | termios.PARENB | getattr(termios, "CRTSCTS", 0))
    attrs[2] |= termios.CS8 | termios.CSTOPB | termios.CREAD | termios.CLOCAL
    attrs[3] &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG |
                  termios.IEXTEN)
    attrs[4] = attrs[5] = _SPEEDS[baud]
    attrs[6][termios.VMIN] = 0
    attrs[6][termios.VTIME] = 0
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def open_device(path: str, baud: int = LINE_BAUD, flush: bool = True) -> int:
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        configure_line(fd, baud)
        if flush:
            termios.tcflush(fd, termios.TCIOFLUSH)
    except BaseException:
        os.close(fd)
        raise
    return fd


class LinkedPty:
    """A pty whose slave is reachable through a symlink; the simulator keeps the master.

    Our own slave descriptor is closed, so the master reports a hang-up until the
    tool opens the link."""

    def __init__(self, link: str):
        self.link = link
        self.master, slave = os.openpty()
        try:
            configure_line(slave)
            self.slave_name = os.ttyname(slave)
            # Replaced in one step: a tool opening the link never finds it missing.
            fresh = link + ".new"
            if os.path.lexists(fresh):
                os.unlink(fresh)
            os.symlink(self.slave_name, fresh)
            os.replace(fresh, link)
        except BaseException:
            os.close(self.master)
            raise
        finally:
            os.close(slave)

    def close(self) -> None:
        try:
            if os.path.islink(self.link) and os.readlink(self.link) == self.slave_name:
                os.unlink(self.link)
        finally:
            os.close(self.master)


def _tcp_ready(sock: socket.socket) -> int:
    """The connection as the line: no Nagle delay, so each "B" leaves at once; the
    descriptor is handed on (the caller closes it), the socket object let go."""
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock.detach()


def parse_host_port(text: str) -> tuple[str, int]:
    """ "HOST:PORT", "[V6ADDR]:PORT" -> (host, port); ValueError when it is neither."""
    host, colon, port = text.rpartition(":")
    if not colon or not host or not port.isdigit() or not 0 < int(port) < 65536:
        raise ValueError(f"not HOST:PORT: {text!r}")
    return host.strip("[]"), int(port)


def connect_tcp(host: str, port: int, timeout: float) -> int:
    """A TCP connection to a tool (or a bridge) listening at host:port, as a
    descriptor for RemoteSimulator; OSError when it cannot be made in time."""
    return _tcp_ready(socket.create_connection((host, port), timeout=timeout))


class TcpListener:
    """Listens on 127.0.0.1 (port 0: one the system picks, read back in `port`) for
    the one tool that connects; `accept` gives its connection as a descriptor."""

    def __init__(self, port: int = 0, host: str = "127.0.0.1"):
        self.sock = socket.create_server((host, port), backlog=1)
        self.port = self.sock.getsockname()[1]

    def accept(self, timeout: float) -> int | None:
        """The connection's descriptor, None when nobody connected within `timeout`."""
        self.sock.settimeout(timeout)
        try:
            connection, _ = self.sock.accept()
        except socket.timeout:
            return None
        return _tcp_ready(connection)

    def close(self) -> None:
        self.sock.close()
