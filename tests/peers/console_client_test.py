"""The raw console client's packets, and both console clients (this one and the npm `rcon-client`)
against a stand-in console that answers as the protocol says."""

import json
import os
import shutil
import socket
import socketserver
import subprocess
import sys
import threading
import unittest
from pathlib import Path

import console_client

NODE_MODULES = Path(__file__).resolve().parent / "node_modules"
PASSWORD = "secret"


class PacketTest(unittest.TestCase):
    def test_layout(self):
        self.assertEqual(console_client.encode_packet(1, 3, "").hex(), "0a000000" "01000000" "03000000" "0000")
        self.assertEqual(console_client.encode_packet(-1, 2, "ab").hex(), "0c000000" "ffffffff" "02000000" "6162" "0000")
        self.assertEqual(console_client.encode_packet(7, 2, "x", size=9, terminators=b"").hex(),
                         "09000000" "07000000" "02000000" "78")

    def test_reader_cuts_packets_wherever_the_bytes_break(self):
        data = (console_client.encode_packet(1, 0, "") + console_client.encode_packet(2, 0, "a\0b")
                + console_client.encode_packet(3, 2, "x" * 4086))
        for step in (1, 5, len(data)):
            reader = console_client.PacketReader()
            packets = []
            for i in range(0, len(data), step):
                packets += reader.feed(data[i:i + step])
            self.assertEqual([(p.id, p.type, p.body) for p in packets],
                             [(1, 0, b""), (2, 0, b"a"), (3, 2, b"x" * 4086)])
        self.assertEqual(len(packets[2].raw), 4100)

    def test_sizes_out_of_range(self):
        for size in (9, 4097, -1):
            with self.subTest(size=size):
                with self.assertRaises(ValueError):
                    console_client.PacketReader().feed(console_client.encode_packet(1, 2, "", size=size))


class StandInConsole(socketserver.ThreadingTCPServer):
    """Answers authentication as the server does and each command with "ran: <line>"."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), StandInHandler)


class StandInHandler(socketserver.BaseRequestHandler):
    def handle(self):
        reader = console_client.PacketReader()
        authenticated = False
        while True:
            data = self.request.recv(4096)
            if not data:
                return
            for packet in reader.feed(data):
                if packet.type == console_client.TYPE_AUTH:
                    right = packet.body.decode() == PASSWORD
                    self.request.sendall(console_client.encode_packet(packet.id, 0)
                                         + console_client.encode_packet(packet.id if right else -1, 2))
                    if not right:
                        self.request.shutdown(socket.SHUT_RDWR)
                        return
                    authenticated = True
                elif packet.type == console_client.TYPE_COMMAND:
                    if not authenticated:
                        return
                    self.request.sendall(console_client.encode_packet(packet.id, 0, "ran: " + packet.body.decode()))


class ClientsTest(unittest.TestCase):
    def setUp(self):
        self.console = StandInConsole()
        threading.Thread(target=self.console.serve_forever, args=(0.05,), daemon=True).start()
        self.addCleanup(self.console.server_close)
        self.addCleanup(self.console.shutdown)
        self.port = self.console.server_address[1]

    def test_raw_client_authenticates_and_sees_the_refusal(self):
        client = console_client.ConsoleClient(self.port)
        self.addCleanup(client.close)
        self.assertEqual([(p.id, p.type) for p in client.authenticate(PASSWORD, 4)], [(4, 0), (4, 2)])
        client.send_packet(5, console_client.TYPE_COMMAND, "status")
        self.assertEqual(client.read_packet().as_dict(), {"id": 5, "type": 0, "body": "ran: status"})

        wrong = console_client.ConsoleClient(self.port)
        self.addCleanup(wrong.close)
        self.assertEqual([(p.id, p.type) for p in wrong.authenticate("nope", 9)], [(9, 0), (-1, 2)])
        self.assertEqual(wrong.read_until_closed(), [])

    def test_program_prints_the_answers(self):
        result = subprocess.run([sys.executable, "console_client.py", "--port", str(self.port), "--password", PASSWORD,
                                 "--id", "3", "--idle", "0.2", "kick bob"], capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([json.loads(line) for line in result.stdout.splitlines()],
                         [{"id": 3, "type": 0, "body": ""}, {"id": 3, "type": 2, "body": ""},
                          {"id": 4, "type": 0, "body": "ran: kick bob"}])

    def run_npm_client(self, password, *commands):
        if not (NODE_MODULES / "rcon-client").is_dir() or not shutil.which("node"):
            if os.environ.get("ORV_REQUIRE_NPM_PEERS"):
                self.fail("the npm peers are not installed: run scripts/setup.sh")
            self.skipTest("the npm peers are not installed")
        script = str(NODE_MODULES.parent / "rcon_command.js")
        result = subprocess.run(["node", script, "--port", str(self.port), "--password", password, *commands],
                                capture_output=True, text=True, timeout=20)
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines()]

    def test_npm_rcon_client_runs_commands(self):
        status, records = self.run_npm_client(PASSWORD, "launch", "kick bob")
        self.assertEqual(status, 0, records)
        self.assertEqual(records, [{"authenticated": True}, {"command": "launch", "reply": "ran: launch"},
                                   {"command": "kick bob", "reply": "ran: kick bob"}])

    def test_npm_rcon_client_prints_its_usage_without_connecting(self):
        script = str(NODE_MODULES.parent / "rcon_command.js")
        for arguments, status, stream in [(["--help"], 0, "stdout"), (["-h"], 0, "stdout"),
                                          (["display_all_clients"], 2, "stderr"), ([], 2, "stderr")]:
            with self.subTest(arguments):
                result = subprocess.run(["node", script, *arguments], capture_output=True, text=True, timeout=20)
                self.assertEqual(result.returncode, status)
                self.assertTrue(getattr(result, stream).startswith("Usage: node rcon_command.js --port P"),
                                (result.stdout, result.stderr))
                # No step was tried: no JSON line.
                self.assertFalse([line for line in (result.stdout + result.stderr).splitlines()
                                  if line.startswith("{")])

    def test_npm_rcon_client_reports_a_refused_password(self):
        status, records = self.run_npm_client("nope", "launch")
        self.assertEqual(status, 2, records)
        self.assertEqual(records, [{"authenticated": False, "error": "authentication refused"}])


if __name__ == "__main__":
    unittest.main()
