"""The replay reader over containers written out field by field in the test."""

import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import replay_reader

# SHA-224 of the empty message: the digest of a container with no chunk.
EMPTY_DIGEST = bytes.fromhex("d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f")


def record(tag, payload, value=0):
    return tag + struct.pack(">III", value, len(payload), 0) + payload


def container(records, digest=None, size=None, magic=b"ESAV", version=1):
    body = b"".join(records)
    digest = hashlib.sha224(body).digest() if digest is None else digest
    return magic + struct.pack(">II", version, 40 + len(body) if size is None else size) + digest + body


def states(tick, *records):
    data = struct.pack("<II", tick, len(records))
    for kind, text, values in records:
        data += struct.pack("<IH", kind, len(text)) + text + struct.pack("<5I", *values)
    return data


def actions(tick, player, count, data):
    return struct.pack("<IIIH", tick, player, count, len(data)) + data


def end_of_tick(tick, departed):
    low = sum(1 << (p & 31) for p in departed if not p & 32)
    high = sum(1 << (p & 31) for p in departed if p & 32)
    return struct.pack("<III", tick, low, high)


HEADER = {"game": {"ServerName": "x", "GameState": "51"}, "player_0": {"PlayerName": "a"}}


def sample_replay():
    return container([
        record(b"rply", json.dumps(HEADER).encode()),
        record(b"star", states(0, (5, b"", (0xFFFFFFFF, 0, 51, 0xFFFFFFFF, 0)))),
        record(b"pact", actions(0, 0, 3, bytes(10))),
        record(b"pact", actions(0, 1, 0, b"")),
        record(b"endt", end_of_tick(0, [40, 3])),
        record(b"star", states(1)),
        record(b"endt", end_of_tick(1, [])),
    ])


class ContainerTest(unittest.TestCase):
    def test_empty_container_has_the_empty_message_digest(self):
        data = b"ESAV" + bytes.fromhex("00000001" "00000028") + EMPTY_DIGEST
        replay = replay_reader.read_replay(data)
        self.assertTrue(replay.digest_ok)
        self.assertEqual((replay.size_field, replay.chunks, replay.problems), (40, [], []))

    def test_broken_containers_end_the_walk_with_a_problem(self):
        good = sample_replay()
        flipped = bytearray(good)
        flipped[60] ^= 1
        huge = container([record(b"pact", b"")])[:-16] + b"pact" + struct.pack(">III", 0, 0xFFFFFFFF, 0)
        one_short = container([record(b"rply", b"{}")])[:-1]
        cases = [
            ("flipped byte", bytes(flipped), "", True),
            ("size field", container([], size=41), "size field 41", False),
            ("size 0xFFFFFFFF", huge, "announces 4294967295", False),
            ("data one byte short", one_short, "announces 2 bytes, 1 remain", False),
            ("tail shorter than a record", good + b"star", "no room for a record", False),
            ("magic", container([], magic=b"EVAS"), "bad magic", False),
            ("version", container([], version=2), "version 2", False),
            ("no header", b"ESAV", "shorter than its header", False),
        ]
        for name, data, problem, walked_to_end in cases:
            with self.subTest(name):
                replay = replay_reader.read_replay(data)
                self.assertFalse(replay.digest_ok)
                self.assertIn(problem, " ".join(replay.problems))
                if walked_to_end:
                    self.assertEqual(len(replay.chunks), 7)

    def test_zero_size_chunk_is_a_sixteen_byte_record(self):
        data = container([record(b"abcd", b"", value=7)])
        self.assertEqual(len(data), 56)
        self.assertEqual(replay_reader.walk_container(data).chunks, [(b"abcd", 7, b"")])


class ReplayTest(unittest.TestCase):
    def test_ticks_decode(self):
        replay = replay_reader.read_replay(sample_replay())
        self.assertTrue(replay.digest_ok)
        self.assertEqual((replay.problems, replay.header), ([], HEADER))
        first, second = replay.ticks
        self.assertEqual(first["records"], [{"kind": 5, "text": "", "values": [0xFFFFFFFF, 0, 51, 0xFFFFFFFF, 0]}])
        self.assertEqual([(a["player_number"], a["count"], len(a["actions"])) for a in first["actions"]],
                         [(0, 3, 10), (1, 0, 0)])
        self.assertEqual(first["end"], {"tick": 0, "low": 1 << 3, "high": 1 << 8, "departed": [3, 40]})
        self.assertEqual((second["tick"], second["records"], second["actions"], second["end"]["departed"]), (1, [], [], []))

    def test_chunks_out_of_place_are_reported(self):
        cases = [
            ("no header chunk", [record(b"star", states(0))], "not 'rply'"),
            ("header not JSON", [record(b"rply", b"{"), record(b"star", states(0)), record(b"endt", end_of_tick(0, []))],
             "not JSON"),
            ("actions outside a tick", [record(b"rply", b"{}"), record(b"pact", actions(0, 0, 0, b""))], "outside a tick"),
            ("tick without end", [record(b"rply", b"{}"), record(b"star", states(0))], "no 'endt'"),
            ("bad action size", [record(b"rply", b"{}"), record(b"star", states(0)),
                                 record(b"pact", actions(0, 0, 1, b"ab")[:-1])], "announces 2 action bytes"),
        ]
        for name, records, problem in cases:
            with self.subTest(name):
                replay = replay_reader.read_replay(container(records))
                self.assertIn(problem, " ".join(replay.problems))

    def test_program_prints_the_summary(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "lastreplay001.orvgamerpl2")
            with open(path, "wb") as handle:
                handle.write(sample_replay())
            result = subprocess.run([sys.executable, "replay_reader.py", path], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        summary = json.loads(result.stdout)
        self.assertEqual((summary["digest_ok"], summary["ticks"], summary["chunk_count"]), (True, 2, 7))

    def test_program_names_a_file_it_cannot_read(self):
        with tempfile.TemporaryDirectory() as folder:
            for path, reason in [(os.path.join(folder, "missing.orvgamerpl2"), "No such file or directory"),
                                 (folder, "Is a directory")]:
                with self.subTest(reason):
                    result = subprocess.run([sys.executable, "replay_reader.py", path], capture_output=True,
                                            text=True)
                    self.assertEqual(result.returncode, 2)
                    self.assertEqual(result.stdout, "")
                    self.assertTrue(result.stderr.startswith("usage: replay_reader.py"), result.stderr)
                    self.assertIn("cannot read %s: %s" % (path, reason), result.stderr)
                    self.assertNotIn("Traceback", result.stderr)


if __name__ == "__main__":
    unittest.main()
