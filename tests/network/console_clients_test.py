"""The remote console against its clients: the raw packet client of the test peers, which sends what a
well-behaved client never would, and the npm `rcon-client` an operator would use. Each test starts its
own console host (ORV_CONSOLE_HOST, set by CMake) in a temporary working folder, listening on a port
the system picks, and stops it by closing its standard input."""

import json
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

PEERS_DIR = Path(__file__).resolve().parent.parent / "peers"
sys.path.insert(0, str(PEERS_DIR))

import console_client  # noqa: E402
from console_client import TYPE_AUTH, TYPE_AUTH_ANSWER, TYPE_COMMAND, TYPE_RESPONSE, encode_packet  # noqa: E402

HOST_ENV = "ORV_CONSOLE_HOST"
PASSWORD = "open sesame"
NODE_MODULES = PEERS_DIR / "node_modules"
# How long a test waits for the host to start or stop, and for an answer.
DEADLINE_SECONDS = 10.0
# How long a test waits to see that nothing arrives.
QUIET_SECONDS = 0.3


class ConsoleHost:
    """The host process; its log lines go to a file in its working folder."""

    def __init__(self, binary, folder):
        self.log_path = Path(folder) / "host.log"
        self._log = open(self.log_path, "wb")
        self.process = subprocess.Popen([binary, PASSWORD], cwd=folder, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=self._log)
        line = self._read_line()
        if not line.startswith("port "):
            self.stop()
            raise RuntimeError("the console host did not start: %r, log: %s" % (line, self.log()))
        self.port = int(line.split()[1])

    def _read_line(self):
        deadline = time.monotonic() + DEADLINE_SECONDS
        data = b""
        while not data.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                break
            chunk = os.read(self.process.stdout.fileno(), 256)
            if not chunk:
                break
            data += chunk
        return data.decode(errors="replace").strip()

    def log(self):
        self._log.flush()
        return self.log_path.read_text(errors="replace")

    def stop(self):
        """Closes standard input and returns the exit status (the host is killed after the deadline)."""
        if self.process.stdin and not self.process.stdin.closed:
            self.process.stdin.close()
        try:
            status = self.process.wait(DEADLINE_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self.process.stdout.close()
        self._log.close()
        return status


class ConsoleTestCase(unittest.TestCase):
    def setUp(self):
        binary = os.environ.get(HOST_ENV)
        if not binary:
            self.skipTest("%s is not set: no console host to test" % HOST_ENV)
        folder = tempfile.TemporaryDirectory(prefix="orv-console-")
        self.addCleanup(folder.cleanup)
        self.host = ConsoleHost(binary, folder.name)
        self.addCleanup(self._stop_host)

    def _stop_host(self):
        status = self.host.stop()
        self.assertEqual(status, 0, "the console host ended with %d: %s" % (status, self.log_text()))

    def log_text(self):
        return self.host.log_path.read_text(errors="replace")

    def client(self):
        client = console_client.ConsoleClient(self.host.port)
        client.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.addCleanup(client.close)
        return client

    def authenticated_client(self):
        client = self.client()
        answers = client.authenticate(PASSWORD, 1)
        self.assertEqual([(p.id, p.type, p.body) for p in answers],
                         [(1, TYPE_RESPONSE, b""), (1, TYPE_AUTH_ANSWER, b"")])
        return client

    def assert_nothing_arrives(self, client):
        with self.assertRaises(socket.timeout):
            client.read_packet(QUIET_SECONDS)

    def assert_closed_without_answer(self, client):
        try:
            packets = client.read_until_closed(DEADLINE_SECONDS)
        except ConnectionResetError:
            packets = []  # closed with bytes still unread: the system resets the connection
        self.assertEqual(packets, [])


class RawPacketTest(ConsoleTestCase):
    def test_right_password_then_an_unknown_command(self):
        client = self.authenticated_client()
        client.send_packet(2, TYPE_COMMAND, "status")
        self.assertEqual(client.read_packet().as_dict(), {"id": 2, "type": TYPE_RESPONSE, "body": "Unknown command"})
        client.send_packet(3, TYPE_COMMAND, "echo one two")
        self.assertEqual(client.read_packet().as_dict(), {"id": 3, "type": TYPE_RESPONSE, "body": "echo one two"})
        self.assertIn("New rcon connection validated -> ", self.log_text())

    def test_wrong_password_gets_both_answers_then_the_close(self):
        client = self.client()
        client.send_raw(encode_packet(42, TYPE_AUTH, "guess"))
        received = b""
        client.sock.settimeout(DEADLINE_SECONDS)
        while True:
            chunk = client.sock.recv(4096)
            if not chunk:
                break
            received += chunk
        self.assertEqual(received, encode_packet(42, TYPE_RESPONSE) + encode_packet(-1, TYPE_AUTH_ANSWER))

    def test_a_command_before_authentication_closes_without_answer(self):
        client = self.client()
        client.send_packet(5, TYPE_COMMAND, "echo early")
        self.assert_closed_without_answer(client)

    def test_one_packet_in_two_segments(self):
        client = self.authenticated_client()
        packet = encode_packet(7, TYPE_COMMAND, "echo split")
        client.send_raw(packet[:9])
        self.assert_nothing_arrives(client)
        client.send_raw(packet[9:])
        self.assertEqual(client.read_packet().as_dict(), {"id": 7, "type": TYPE_RESPONSE, "body": "echo split"})

    def test_two_packets_in_one_segment(self):
        client = self.authenticated_client()
        client.send_raw(encode_packet(8, TYPE_COMMAND, "echo first") + encode_packet(9, TYPE_COMMAND, "echo second"))
        self.assertEqual([client.read_packet().as_dict() for _ in range(2)],
                         [{"id": 8, "type": TYPE_RESPONSE, "body": "echo first"},
                          {"id": 9, "type": TYPE_RESPONSE, "body": "echo second"}])

    def test_packet_sizes(self):
        largest = "echo " + "x" * (console_client.MAX_SIZE - 10 - 5)
        for size, packet, answer in (
                (9, encode_packet(10, TYPE_COMMAND, "", size=9), None),
                (10, encode_packet(10, TYPE_COMMAND, ""), "Unknown command"),
                (4096, encode_packet(10, TYPE_COMMAND, largest), largest),
                (4097, encode_packet(10, TYPE_COMMAND, largest + "x"), None)):
            with self.subTest(size=size):
                self.assertEqual(struct.unpack_from("<i", packet)[0], size)
                client = self.authenticated_client()
                client.send_raw(packet)
                if answer is None:
                    self.assert_closed_without_answer(client)
                else:
                    self.assertEqual(client.read_packet().as_dict(), {"id": 10, "type": TYPE_RESPONSE, "body": answer})

    def test_a_body_without_its_nul(self):
        client = self.authenticated_client()
        client.send_raw(encode_packet(11, TYPE_COMMAND, "echo bare", terminators=b""))
        self.assertEqual(client.read_packet().as_dict(), {"id": 11, "type": TYPE_RESPONSE, "body": "echo bare"})
        client.send_raw(encode_packet(12, TYPE_COMMAND, "ab", terminators=b""))
        self.assertEqual(client.read_packet().as_dict(), {"id": 12, "type": TYPE_RESPONSE, "body": "Unknown command"})

    def test_other_types_are_ignored(self):
        client = self.authenticated_client()
        client.send_raw(encode_packet(13, 5, "echo ignored") + encode_packet(14, TYPE_COMMAND, "echo seen"))
        self.assertEqual(client.read_packet().as_dict(), {"id": 14, "type": TYPE_RESPONSE, "body": "echo seen"})

    def test_a_long_reply_arrives_in_packets_with_one_id(self):
        client = self.authenticated_client()
        client.send_packet(15, TYPE_COMMAND, "long 10000")
        packets = []
        text = b""
        while len(text) < 10000:
            packet = client.read_packet()
            self.assertIsNotNone(packet, "the connection closed after %d bytes" % len(text))
            packets.append(packet)
            text += packet.body
        self.assertEqual([(p.id, p.type) for p in packets], [(15, TYPE_RESPONSE)] * 3)
        self.assertEqual(text, bytes(ord("a") + i % 26 for i in range(10000)))
        self.assertTrue(all(len(p.raw) - 4 <= console_client.MAX_SIZE for p in packets))
        self.assert_nothing_arrives(client)


class RconClientTest(ConsoleTestCase):
    def run_rcon_client(self, password, *commands):
        if not (NODE_MODULES / "rcon-client").is_dir() or not shutil.which("node"):
            if os.environ.get("ORV_REQUIRE_NPM_PEERS"):
                self.fail("the npm peers are not installed: run scripts/setup.sh")
            self.skipTest("the npm peers are not installed")
        result = subprocess.run(["node", str(PEERS_DIR / "rcon_command.js"), "--port", str(self.host.port),
                                 "--password", password, "--timeout", "3000", *commands],
                                capture_output=True, text=True, timeout=30)
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines()]

    def test_authenticates_runs_a_command_and_hears_of_an_unknown_one(self):
        status, records = self.run_rcon_client(PASSWORD, "echo hello there", "status")
        self.assertEqual(status, 0, records)
        self.assertEqual(records, [{"authenticated": True},
                                   {"command": "echo hello there", "reply": "echo hello there"},
                                   {"command": "status", "reply": "Unknown command"}])

    def test_a_wrong_password_is_refused_and_runs_nothing(self):
        # rcon-client alone takes the empty response, which carries its id, for the answer; the
        # command program waits for the verdict, whose id -1 refuses.
        status, records = self.run_rcon_client("wrong", "echo never")
        self.assertEqual(status, 2, records)
        self.assertEqual(records, [{"authenticated": False, "error": "authentication refused"}])
        self.assertNotIn("echo never", self.log_text())


if __name__ == "__main__":
    unittest.main()
