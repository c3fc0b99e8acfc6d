"""kestrel-serve's lines end to end: the serial line it holds, refuses or loses, and
the network lines, listening for a machine or connecting to a bridge."""

import grp
import os
import pwd
import signal
import socket
import subprocess
import unittest

import remote_sim
from serve_harness import (DEMO, EXIT_LOST, EXIT_PORT, EXIT_SERVED, EXIT_STOPPED, PATIENT, SERVE,
                           ServeCase, WAITING, big_entry, free_port)


class TheLine(ServeCase):
    def test_a_second_server_on_the_same_line_is_refused_while_the_first_serves(self):
        self.start(DEMO)
        self.out.wait_for(WAITING)
        second = subprocess.run([SERVE, "--port", self.link, self.tape_file(DEMO)],
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=PATIENT)
        self.assertEqual(second.returncode, EXIT_PORT)
        self.assertIn(b"in use by another program", second.stderr)
        self.assertEqual(second.stdout, b"")
        self.assert_served(self.remote("B*", DEMO))
        self.assertEqual(self.wait_exit(), EXIT_SERVED)

    def test_a_line_that_vanishes_while_waiting_ends_the_session(self):
        self.start(DEMO)
        self.out.wait_for(WAITING)
        self.close_line()
        self.assertEqual(self.wait_exit(), EXIT_LOST)
        self.assertIn("was lost", self.err.text())

    def test_a_line_that_vanishes_during_an_entry_ends_the_session(self):
        self.start(big_entry(40960).to_bytes())
        line = self.line_end()
        os.write(self.line.master, b"B")
        self.assertEqual(line.receive(1, PATIENT), b"\x00")
        self.out.wait_for("Sending file BIG...")
        self.close_line()
        self.assertEqual(self.wait_exit(), EXIT_LOST)
        self.assertIn("was lost", self.err.text())

    def test_what_is_not_a_serial_line_is_refused(self):
        regular = self.tape_file(b"", "not-a-line")
        for device, words in (("/dev/null", b"not a serial line"),
                              (regular, b"not a serial line"),
                              (os.path.join(self.folder, "missing"), b"no such device")):
            with self.subTest(device=device):
                run = subprocess.run([SERVE, "--port", device, self.tape_file(DEMO)],
                                     stdin=subprocess.DEVNULL, capture_output=True,
                                     timeout=PATIENT)
                self.assertEqual(run.returncode, EXIT_PORT)
                self.assertIn(words, run.stderr)

    def test_a_device_the_user_may_not_open_is_refused_with_its_reason(self):
        """As root the pty belongs to the group dialout and the program runs as nobody;
        otherwise the pty is the test's own, with every permission taken away."""
        as_root = os.geteuid() == 0
        if as_root:
            os.chown(self.line.slave_name, 0, grp.getgrnam("dialout").gr_gid)
            os.chmod(self.line.slave_name, 0o660)
            os.chmod(self.folder, 0o755)  # the tape and the link, for nobody to reach
            nobody = pwd.getpwnam("nobody")
            dropped = {"user": nobody.pw_uid, "group": nobody.pw_gid, "extra_groups": []}
        else:
            os.chmod(self.line.slave_name, 0)
            dropped = {}
        run = subprocess.run([SERVE, "--port", self.link, self.tape_file(DEMO)],
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=PATIENT,
                             **dropped)
        self.assertEqual(run.returncode, EXIT_PORT, run.stderr)
        self.assertIn(b"cannot open " + self.link.encode() + b": Permission denied", run.stderr)
        if as_root:
            self.assertIn(b"; the group dialout may open it: add yourself to the group dialout: "
                          b"sudo usermod -aG dialout nobody, then log in again\n", run.stderr)
        else:
            self.assertNotIn(b"usermod", run.stderr)  # the test's own group may not open it


class NetworkLines(ServeCase):
    """--listen waits for the machine to connect; --port tcp:HOST:PORT connects to a
    bridge. Either way the wire carries what a serial line would."""

    def serve_listening(self, address, image=DEMO, keyboard=False):
        self.start(image, keyboard=keyboard, line=["--listen", address])
        port = int(address.rpartition(":")[2])
        self.out.wait_for(f"listening on 127.0.0.1:{port} ...")
        return port

    def serve_to_bridge(self, image=DEMO):
        bridge = remote_sim.TcpListener()
        self.addCleanup(bridge.close)
        self.start(image, line=["--port", f"tcp:127.0.0.1:{bridge.port}"])
        fd = bridge.accept(PATIENT)
        self.assertIsNotNone(fd, "kestrel-serve did not connect")
        return bridge.port, fd

    def assert_rebuilt(self, fd):
        report = self.remote("B*", DEMO, fd=fd)
        self.assert_served(report)
        self.assertTrue(report.identical_to_original, report.text())
        self.assertGreaterEqual(max(a.pause_before_header() for a in report.entries), 0.005)
        self.assertGreaterEqual(max(a.pause_before_data() for a in report.entries), 0.005)
        self.assertEqual(self.wait_exit(), EXIT_SERVED, self.err.text())

    def test_a_machine_that_connects_gets_the_tape_byte_for_byte(self):
        port = self.serve_listening(f"127.0.0.1:{free_port()}")
        fd = remote_sim.connect_tcp("127.0.0.1", port, PATIENT)
        self.addCleanup(os.close, fd)
        self.out.wait_for("connected: 127.0.0.1:")
        # One machine a session: the listening ended with the first connection.
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=PATIENT).close()
        self.assert_rebuilt(fd)
        self.assertIn(WAITING, self.out.text())

    def test_a_bridge_gets_the_tape_byte_for_byte(self):
        _, fd = self.serve_to_bridge()
        self.addCleanup(os.close, fd)
        self.assert_rebuilt(fd)

    def test_a_connection_that_drops_during_an_entry_ends_the_session(self):
        port, fd = self.serve_to_bridge(big_entry(65280).to_bytes())
        try:
            line = remote_sim.RemoteSimulator(fd)
            os.write(fd, b"B")
            self.assertEqual(line.receive(1, PATIENT), b"\x00")
            self.out.wait_for("Sending file BIG...")
        finally:
            os.close(fd)
        self.assertEqual(self.wait_exit(), EXIT_LOST)
        self.assertIn(f"the line tcp:127.0.0.1:{port} was lost", self.err.text())

    def test_a_refused_connection_names_the_address(self):
        with socket.socket() as bound:  # bound, never listening: a connection is refused
            bound.bind(("127.0.0.1", 0))
            port = bound.getsockname()[1]
            run = subprocess.run([SERVE, "--port", f"tcp:127.0.0.1:{port}", self.tape_file(DEMO)],
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=PATIENT)
        self.assertEqual(run.returncode, EXIT_PORT)
        self.assertIn(f"cannot connect to 127.0.0.1:{port}: Connection refused".encode(),
                      run.stderr)

    def stop_the_wait(self, press, cause):
        self.serve_listening(str(free_port()), keyboard=True)  # on 127.0.0.1 unless asked
        press()
        self.assertEqual(self.wait_exit(), EXIT_STOPPED)
        self.assertIn(f"stopped ({cause})", self.err.text())

    def test_q_ends_the_wait_for_a_machine(self):
        self.stop_the_wait(lambda: os.write(self.keyboard, b"q"), "q")

    def test_sigterm_ends_the_wait_for_a_machine(self):
        self.stop_the_wait(lambda: self.proc.send_signal(signal.SIGTERM), "SIGTERM")


if __name__ == "__main__":
    unittest.main()
