#!/usr/bin/env python3
"""Reads a replay: the chunked save-file container ("ESAV", version, total size, SHA-224 of everything
after the 40-byte header) and the replay's chunks inside it: the 'rply' header JSON, then per tick one
'star' (state records), one 'pact' per playing player (its actions payload) and one 'endt' (departed
players).

    python3 replay_reader.py Replays/lastreplay001.orvgamerpl2 [--chunks]
        prints one JSON summary: digest check, header, tick count, and with --chunks every chunk

Imported by a test: `replay = read_replay(data)` gives `replay.digest_ok`, `replay.header` (the parsed
JSON), `replay.chunks` (tag, value, payload) and `replay.ticks` (per tick: its 'star', 'pact' list and
'endt', decoded). A container whose header is bad, or whose last record is cut short, is reported in
`replay.problems`; the walk never runs past the end of the data.
"""

import argparse
import hashlib
import json
import struct
import sys

MAGIC = b"ESAV"
VERSION = 1
HEADER_SIZE = 40
DIGEST_SIZE = 28
RECORD_HEAD = 16

TAG_HEADER = b"rply"
TAG_STATES = b"star"
TAG_ACTIONS = b"pact"
TAG_END_OF_TICK = b"endt"

STATE_CHANGE = 5
STATE_TIMER = 6


class Replay:
    def __init__(self):
        self.version = None
        self.size_field = None
        self.stored_digest = b""
        self.digest = b""
        self.digest_ok = False
        self.chunks = []        # (tag bytes, value, payload bytes)
        self.header = None
        self.ticks = []
        self.problems = []


def walk_container(data):
    """Checks the container and splits it into records. Fills a Replay's container fields."""
    replay = Replay()
    if len(data) < HEADER_SIZE:
        replay.problems.append("container of %d bytes is shorter than its header" % len(data))
        return replay
    magic, replay.version, replay.size_field = struct.unpack_from(">4sII", data)
    replay.stored_digest = bytes(data[12:HEADER_SIZE])
    if magic != MAGIC:
        replay.problems.append("bad magic %r" % magic)
        return replay
    if replay.version > VERSION:
        replay.problems.append("version %d above %d" % (replay.version, VERSION))
        return replay
    if replay.size_field != len(data):
        replay.problems.append("size field %d, file %d bytes" % (replay.size_field, len(data)))
    digest = hashlib.sha224()
    position = HEADER_SIZE
    while position < len(data):
        remaining = len(data) - position
        if remaining < RECORD_HEAD:
            replay.problems.append("%d bytes left at offset %d: no room for a record" % (remaining, position))
            break
        tag, value, size, zero = struct.unpack_from(">4sIII", data, position)
        if size > remaining - RECORD_HEAD:
            replay.problems.append("record %r at offset %d announces %d bytes, %d remain"
                                   % (tag, position, size, remaining - RECORD_HEAD))
            break
        if zero != 0:
            replay.problems.append("record %r at offset %d: fourth word %d" % (tag, position, zero))
        end = position + RECORD_HEAD + size
        digest.update(data[position:end])
        replay.chunks.append((tag, value, bytes(data[position + RECORD_HEAD:end])))
        position = end
    replay.digest = digest.digest()
    replay.digest_ok = replay.digest == replay.stored_digest and not replay.problems
    return replay


def decode_states(payload):
    tick, count = struct.unpack_from("<II", payload)
    offset, records = 8, []
    for _ in range(count):
        kind, length = struct.unpack_from("<IH", payload, offset)
        offset += 6
        text = payload[offset:offset + length].decode("utf-8", "replace")
        offset += length
        values = list(struct.unpack_from("<5I", payload, offset))
        offset += 20
        records.append({"kind": kind, "text": text, "values": values})
    if offset != len(payload):
        raise ValueError("'star' of tick %d: %d bytes after its records" % (tick, len(payload) - offset))
    return {"tick": tick, "records": records}


def decode_actions(payload):
    tick, player_number, count, size = struct.unpack_from("<IIIH", payload)
    if 14 + size != len(payload):
        raise ValueError("'pact' of tick %d announces %d action bytes in %d" % (tick, size, len(payload)))
    return {"tick": tick, "player_number": player_number, "count": count, "actions": payload[14:]}


def decode_end_of_tick(payload):
    tick, low, high = struct.unpack("<III", payload)
    departed = [p for p in range(64) if (high if p & 32 else low) >> (p & 31) & 1]
    return {"tick": tick, "low": low, "high": high, "departed": departed}


def read_replay(data):
    """Walks the container and decodes the replay's chunks into ticks; a chunk out of its place is
    listed in problems."""
    replay = walk_container(data)
    chunks = replay.chunks
    if not chunks:
        return replay
    if chunks[0][0] != TAG_HEADER:
        replay.problems.append("first chunk is %r, not 'rply'" % chunks[0][0])
        return replay
    try:
        replay.header = json.loads(chunks[0][2].decode("utf-8"))
    except ValueError as error:
        replay.problems.append("header is not JSON: %s" % error)
    tick = None
    try:
        for tag, _, payload in chunks[1:]:
            if tag == TAG_STATES:
                if tick is not None:
                    replay.problems.append("tick %d has no 'endt'" % tick["tick"])
                tick = decode_states(payload)
                tick.update(actions=[], end=None)
                replay.ticks.append(tick)
            elif tick is None:
                replay.problems.append("chunk %r outside a tick" % tag)
            elif tag == TAG_ACTIONS:
                tick["actions"].append(decode_actions(payload))
            elif tag == TAG_END_OF_TICK:
                tick["end"] = decode_end_of_tick(payload)
                tick = None
            else:
                replay.problems.append("unknown chunk %r" % tag)
    except (ValueError, struct.error) as error:
        replay.problems.append(str(error))
    if tick is not None:
        replay.problems.append("last tick %d has no 'endt'" % tick["tick"])
    return replay


def summary(replay, with_chunks=False):
    result = {
        "digest_ok": replay.digest_ok,
        "size_field": replay.size_field,
        "problems": replay.problems,
        "header": replay.header,
        "chunk_count": len(replay.chunks),
        "ticks": len(replay.ticks),
    }
    if with_chunks:
        result["chunks"] = [{"tag": tag.decode("latin-1"), "value": value, "size": len(payload),
                             "data": payload.hex() if tag != TAG_HEADER else payload.decode("utf-8", "replace")}
                            for tag, value, payload in replay.chunks]
    return result


def main():
    parser = argparse.ArgumentParser(description="Reads a replay file and checks its digest.")
    parser.add_argument("path")
    parser.add_argument("--chunks", action="store_true", help="list every chunk")
    args = parser.parse_args()
    try:
        with open(args.path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        parser.error("cannot read %s: %s" % (args.path, error.strerror or error))
    replay = read_replay(data)
    json.dump(summary(replay, args.chunks), sys.stdout, indent=1)
    sys.stdout.write("\n")
    return 0 if replay.digest_ok and not replay.problems else 1


if __name__ == "__main__":
    sys.exit(main())
