#!/usr/bin/env python3
"""The UDP property query: sends "getinfos " and a 4-byte challenge to the server's client port number and
parses the reply, the challenge followed by 0x01 and key 0x01 value 0x01 for each published property.

    python3 udp_query.py --port P [--challenge abcd] [--timeout 2]
        prints {"challenge": "61626364", "properties": {"GameState": "0", ...}} or exits 1 without reply
    python3 udp_query.py --port P --line
        prints the published properties on one line, "key=value key=value ..."
    python3 udp_query.py --port P --flood 200000 [--sockets 4]
        sends queries from several sockets, round robin, as fast as it can, until the limit or SIGTERM;
        prints {"event": "flooding"} once replies come back and 20,000 queries are out (the server is under
        load from then on), then {"event": "flood_end", "sent": N}

Imported by a test: `query(port, challenge=b"abcd", timeout=2.0)` returns a Reply (challenge, properties
in reply order, raw bytes) or None when no reply came in time; `encode_query` and `parse_reply` work on
bytes alone.
"""

import argparse
import json
import signal
import socket
import sys

PREFIX = b"getinfos "
CHALLENGE_SIZE = 4
SEPARATOR = b"\x01"
# The server answers from a 2048-byte buffer; a reply never exceeds 2047 bytes.
MAX_REPLY = 2047


class Reply:
    def __init__(self, challenge, properties, raw):
        self.challenge = challenge
        self.properties = properties    # list of (key, value) text pairs, in reply order
        self.raw = raw

    def as_dict(self):
        return dict(self.properties)


def encode_query(challenge=b"abcd"):
    challenge = bytes(challenge)
    if len(challenge) != CHALLENGE_SIZE:
        raise ValueError("the challenge is %d bytes" % CHALLENGE_SIZE)
    return PREFIX + challenge


def parse_reply(data):
    """Splits a reply; raises ValueError when its text is not the separator-framed key/value list."""
    if len(data) < CHALLENGE_SIZE:
        raise ValueError("reply of %d bytes has no challenge" % len(data))
    challenge, text = data[:CHALLENGE_SIZE], data[CHALLENGE_SIZE:]
    properties = []
    if text:
        if not text.startswith(SEPARATOR) or not text.endswith(SEPARATOR):
            raise ValueError("reply text must start and end with 0x01: %r" % text[:40])
        fields = text[1:-1].split(SEPARATOR)
        if len(fields) % 2:
            raise ValueError("odd number of fields in the reply: %d" % len(fields))
        properties = [(fields[i].decode("latin-1"), fields[i + 1].decode("latin-1"))
                      for i in range(0, len(fields), 2)]
    return Reply(challenge, properties, bytes(data))


def query(port, challenge=b"abcd", timeout=2.0, host="127.0.0.1", payload=None):
    """Sends one query (or the given payload as it is) and waits for one reply from the server's
    address; None when none came within timeout."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family, socket.SOCK_DGRAM) as sock:
        sock.settimeout(timeout)
        sock.connect((host, port))
        sock.send(encode_query(challenge) if payload is None else payload)
        try:
            data = sock.recv(MAX_REPLY + 1)
        except (socket.timeout, ConnectionRefusedError):
            return None
    return parse_reply(data)


# Queries sent before the flood counts as under way.
FLOOD_UNDER_WAY = 20000


def flood(port, limit, sockets=4, host="127.0.0.1", emit=print):
    """Sends up to `limit` queries from `sockets` sockets in turn, never waiting for replies (they are
    read and dropped as they come); returns the number sent. SIGTERM ends it early."""
    stopping = []
    previous = signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    socks = [socket.socket(family, socket.SOCK_DGRAM) for _ in range(sockets)]
    for sock in socks:
        sock.connect((host, port))
        sock.setblocking(False)
    sent, replied, announced = 0, False, False
    datagram = encode_query(b"fld!")
    while sent < limit and not stopping:
        sock = socks[sent % sockets]
        try:
            sock.send(datagram)
            sent += 1
        except (BlockingIOError, ConnectionRefusedError):
            pass
        try:
            while sock.recv(MAX_REPLY + 1):
                replied = True
        except (BlockingIOError, ConnectionRefusedError):
            pass
        if replied and not announced and sent >= min(FLOOD_UNDER_WAY, limit):
            announced = True
            emit(json.dumps({"event": "flooding"}))
    for sock in socks:
        sock.close()
    signal.signal(signal.SIGTERM, previous)
    emit(json.dumps({"event": "flood_end", "sent": sent, "stopped": bool(stopping)}))
    return sent


def main():
    parser = argparse.ArgumentParser(description="Asks the dedicated server for its published properties.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--challenge", default="abcd")
    parser.add_argument("--timeout", type=float, default=2.0)
    parser.add_argument("--line", action="store_true", help="print the properties on one line")
    parser.add_argument("--flood", type=int, metavar="LIMIT", help="send up to LIMIT queries as fast as possible")
    parser.add_argument("--sockets", type=int, default=4, help="sockets of the flood")
    args = parser.parse_args()
    if args.host not in ("127.0.0.1", "::1", "localhost"):
        parser.error("queries go to loopback only")
    if args.flood is not None:
        flood(args.port, args.flood, args.sockets, args.host, emit=lambda line: print(line, flush=True))
        return 0
    reply = query(args.port, args.challenge.encode("latin-1"), args.timeout, args.host)
    if reply is None:
        print(json.dumps({"reply": None}))
        return 1
    if args.line:
        print(" ".join("%s=%s" % pair for pair in reply.properties))
    else:
        print(json.dumps({"challenge": reply.challenge.hex(), "properties": reply.as_dict()}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
