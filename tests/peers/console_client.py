#!/usr/bin/env python3
"""A raw remote-console client: builds and reads the console's packets byte by byte (little-endian i32
size, id and type, the body, two NULs) over a plain socket, so a test can send what a well-behaved
client never would: packets split over segments, packets together, sizes out of range, bodies without
their NUL.

    python3 console_client.py --port P --password PW [--id 7] [--idle 0.5] command...
        authenticates, runs each command and prints every packet received as a JSON line
        {"id": 7, "type": 0, "body": "..."}; {"closed": true} when the server closes

Imported by a test: `encode_packet`, `PacketReader` (packets out of bytes as they arrive) and
`ConsoleClient` (blocking socket: `send_packet`, `send_raw`, `read_packet(timeout)`, `authenticate`,
`read_until_closed`).
"""

import argparse
import json
import socket
import struct
import sys

TYPE_RESPONSE = 0
TYPE_COMMAND = 2
TYPE_AUTH_ANSWER = 2
TYPE_AUTH = 3

# Accepted size fields (bytes after the size field): an empty body gives 10, the largest packet 4096.
MIN_SIZE = 10
MAX_SIZE = 4096


class Packet:
    def __init__(self, packet_id, packet_type, body, raw):
        self.id = packet_id
        self.type = packet_type
        self.body = body        # the text up to the first NUL
        self.raw = raw          # the whole packet, size field included

    def as_dict(self):
        return {"id": self.id, "type": self.type, "body": self.body.decode("utf-8", "replace")}

    def __repr__(self):
        return "Packet(id=%d, type=%d, body=%r)" % (self.id, self.type, self.body)


def encode_packet(packet_id, packet_type, body=b"", size=None, terminators=b"\0\0"):
    """One packet; size and terminators can be forced to build malformed ones."""
    body = body.encode("utf-8") if isinstance(body, str) else bytes(body)
    payload = struct.pack("<ii", packet_id, packet_type) + body + terminators
    return struct.pack("<i", len(payload) if size is None else size) + payload


class PacketReader:
    """Cuts packets out of a byte stream; a size outside 10..4096 raises ValueError."""

    def __init__(self):
        self._buffer = bytearray()

    def feed(self, data):
        self._buffer += data
        packets = []
        while len(self._buffer) >= 4:
            (size,) = struct.unpack_from("<i", self._buffer)
            if not MIN_SIZE <= size <= MAX_SIZE:
                raise ValueError("packet size %d out of %d..%d" % (size, MIN_SIZE, MAX_SIZE))
            if len(self._buffer) < 4 + size:
                break
            raw = bytes(self._buffer[:4 + size])
            del self._buffer[:4 + size]
            packet_id, packet_type = struct.unpack_from("<ii", raw, 4)
            packets.append(Packet(packet_id, packet_type, raw[12:4 + size - 2].split(b"\0")[0], raw))
        return packets


class ConsoleClient:
    def __init__(self, port, host="127.0.0.1", timeout=5.0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.reader = PacketReader()
        self._ready = []
        self.closed = False

    def close(self):
        self.sock.close()

    def send_raw(self, data):
        self.sock.sendall(data)

    def send_packet(self, packet_id, packet_type, body=b""):
        self.sock.sendall(encode_packet(packet_id, packet_type, body))

    def read_packet(self, timeout=5.0):
        """The next packet; None when the server closed the connection. Raises socket.timeout when
        nothing complete arrives in time."""
        self.sock.settimeout(timeout)
        while not self._ready:
            if self.closed:
                return None
            data = self.sock.recv(65536)
            if not data:
                self.closed = True
                continue
            self._ready.extend(self.reader.feed(data))
        return self._ready.pop(0)

    def authenticate(self, password, packet_id=1, timeout=5.0):
        """Sends the password; returns the two answer packets (or fewer when the server closed)."""
        self.send_packet(packet_id, TYPE_AUTH, password)
        answers = []
        for _ in range(2):
            packet = self.read_packet(timeout)
            if packet is None:
                break
            answers.append(packet)
        return answers

    def read_until_closed(self, timeout=5.0):
        """Every packet until the server closes; raises socket.timeout when it does not in time."""
        packets = []
        while True:
            packet = self.read_packet(timeout)
            if packet is None:
                return packets
            packets.append(packet)


def main():
    parser = argparse.ArgumentParser(description="Raw remote-console client.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--id", type=int, default=1, help="id of the first packet; each command takes the next")
    parser.add_argument("--idle", type=float, default=0.5,
                        help="seconds without a packet after which a command's answer is taken as complete")
    parser.add_argument("commands", nargs="*")
    args = parser.parse_args()
    if args.host not in ("127.0.0.1", "::1", "localhost"):
        parser.error("the console is reached on loopback only")

    def show(packet):
        print(json.dumps({"closed": True} if packet is None else packet.as_dict()), flush=True)

    client = ConsoleClient(args.port, args.host)
    answers = client.authenticate(args.password, args.id)
    for packet in answers:
        show(packet)
    if len(answers) < 2 or answers[1].id == -1:
        show(None)
        return 2
    for number, command in enumerate(args.commands, start=args.id + 1):
        client.send_packet(number, TYPE_COMMAND, command)
        try:
            while True:
                packet = client.read_packet(args.idle)
                show(packet)
                if packet is None:
                    return 1
        except socket.timeout:
            pass
    client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
