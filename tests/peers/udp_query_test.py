"""The property query: its datagram, the reply parser, and a round trip with a stand-in responder."""

import socket
import subprocess
import sys
import threading
import unittest

import udp_query


class ParseTest(unittest.TestCase):
    def test_query_datagram(self):
        self.assertEqual(udp_query.encode_query(b"\0ab\0"), b"getinfos \0ab\0")
        self.assertEqual(len(udp_query.encode_query()), 13)
        with self.assertRaises(ValueError):
            udp_query.encode_query(b"abc")

    def test_replies(self):
        cases = [
            (b"abcd", []),
            (b"abcd\x01GameState\x010\x01Name\x01\x01", [("GameState", "0"), ("Name", "")]),
            (b"\0\0\0\0\x01k\x01v\x01", [("k", "v")]),
        ]
        for data, properties in cases:
            with self.subTest(data):
                reply = udp_query.parse_reply(data)
                self.assertEqual((reply.challenge, reply.properties), (data[:4], properties))
        for bad in (b"abc", b"abcdk\x01v\x01", b"abcd\x01k\x01v", b"abcd\x01k\x01"):
            with self.subTest(bad):
                with self.assertRaises(ValueError):
                    udp_query.parse_reply(bad)


class RoundTripTest(unittest.TestCase):
    def setUp(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(self.sock.close)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.received = []
        thread = threading.Thread(target=self._answer, daemon=True)
        thread.start()

    def _answer(self):
        while True:
            try:
                data, source = self.sock.recvfrom(2048)
            except OSError:
                return
            self.received.append(data)
            if data.startswith(b"getinfos ") and len(data) == 13:
                self.sock.sendto(data[9:] + b"\x01Name\x01srv\x01NbPlayer\x012\x01", source)

    def test_query_gets_the_properties_and_its_challenge_back(self):
        reply = udp_query.query(self.port, b"\0\x01\xff\0")
        self.assertEqual(reply.challenge, b"\0\x01\xff\0")
        self.assertEqual(reply.as_dict(), {"Name": "srv", "NbPlayer": "2"})
        self.assertIsNone(udp_query.query(self.port, payload=b"GETINFOS abcd", timeout=0.2))

    def test_program_prints_one_line(self):
        result = subprocess.run([sys.executable, "udp_query.py", "--port", str(self.port)],
                                capture_output=True, text=True, timeout=10)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, '{"challenge": "61626364", "properties": {"Name": "srv", "NbPlayer": "2"}}\n')
        result = subprocess.run([sys.executable, "udp_query.py", "--port", str(self.port), "--line"],
                                capture_output=True, text=True, timeout=10)
        self.assertEqual(result.stdout, "Name=srv NbPlayer=2\n")

    def test_flood_stops_at_its_limit(self):
        lines = []
        self.assertEqual(udp_query.flood(self.port, 50, sockets=3, emit=lines.append), 50)
        self.assertEqual(lines[-1], '{"event": "flood_end", "sent": 50, "stopped": false}')


if __name__ == "__main__":
    unittest.main()
