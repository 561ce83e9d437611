"""The match-making peer: its message codec against the protocol's example bytes, and the peer itself
driven by a stand-in for the dedicated server's side of the link."""

import asyncio
import json
import subprocess
import sys
import unittest

import mms_peer
import wire

# An init message for port 10000, game id 24, address 1.2.3.4, slave off, login "ab" and key "c".
INIT_EXAMPLE = bytes.fromhex("0017" "e1" "1027" "00000018" "04030201" "00" "00000002" "6162" "00000001" "63")


class MessageCodecTest(unittest.TestCase):
    def test_init_example_decodes_and_encodes_byte_for_byte(self):
        self.assertEqual(mms_peer.encode_init_message(10000, 24, "1.2.3.4", False, "ab", "c"), INIT_EXAMPLE)
        (body,) = wire.FrameReader().feed(INIT_EXAMPLE)
        event = mms_peer.decode_server_message(body)
        self.assertEqual({k: event[k] for k in ("name", "port", "game_id", "address", "slave", "login", "key")},
                         {"name": "init", "port": 10000, "game_id": 24, "address": "1.2.3.4", "slave": False,
                          "login": "ab", "key": "c"})
        self.assertNotIn("extra", event)

    def test_server_messages(self):
        ticket = bytes(range(128))
        cases = [
            (wire.pack("BQ#v", 226, 5, 128, ticket), {"name": "validate_player", "player_id": 5, "ticket": ticket.hex()}),
            (bytes.fromhex("e300"), {"name": "keep_alive", "value": 0}),
            (bytes.fromhex("e501"), {"name": "server_available", "available": True}),
            (bytes.fromhex("e30007"), {"name": "keep_alive", "extra": "07"}),
            (bytes.fromhex("e2000000000000000501"), {"event": "undecodable"}),
            (bytes.fromhex("e1102700"), {"event": "undecodable"}),
            (bytes.fromhex("ea"), {"name": "unknown", "channel": 234}),
            (b"", {"event": "undecodable"}),
        ]
        for body, wanted in cases:
            with self.subTest(body=body.hex()[:20]):
                event = mms_peer.decode_server_message(body)
                self.assertEqual({k: event.get(k) for k in wanted}, wanted)

    def test_peer_messages_layout(self):
        self.assertEqual(mms_peer.encode_verdict(5, 2).hex(), "000a" "e2" "0000000000000005" "02")
        self.assertEqual(mms_peer.encode_slave_update(5, 8).hex(), "000d" "e5" "0000000000000005" "00000008")
        self.assertEqual(mms_peer.encode_game_info({"a": "b"}).hex(), "000e" "e4" "00000009" + b'{"a":"b"}'.hex())
        self.assertEqual(mms_peer.encode_init_answer(4, "x", 0x0400271001020304).hex(),
                         "000f" "e1" "04" "00000001" "78" "0400271001020304")
        # The address id carries the address as a sockaddr_in holds it and the port in the high word.
        self.assertEqual(mms_peer.address_id("1.2.3.4", 10000), 0x0400271004030201)


class StandIn:
    """The dedicated server's end of the link, reading frames and every byte that arrives."""

    async def connect(self, port):
        self.reader, self.writer = await asyncio.open_connection("127.0.0.1", port)
        self.frames = wire.FrameReader()
        self.bodies = []

    async def read_bodies(self, count, timeout=5.0):
        while len(self.bodies) < count:
            data = await asyncio.wait_for(self.reader.read(65536), timeout)
            if not data:
                break
            self.bodies += self.frames.feed(data)
        taken, self.bodies = self.bodies[:count], self.bodies[count:]
        return taken


class PeerTest(unittest.IsolatedAsyncioTestCase):
    async def asyncSetUp(self):
        self.peer = mms_peer.MmsPeer()
        self.port = await self.peer.start()
        self.addAsyncCleanup(self.peer.stop)
        self.server = StandIn()
        await self.server.connect(self.port)
        self.addCleanup(self.server.writer.close)

    async def test_scripted_init_answer_is_one_frame_the_codec_reads(self):
        self.peer.set_on_init("answer", 0, {"StatsURL": "http://127.0.0.1:5984/stats"})
        self.server.writer.write(INIT_EXAMPLE)
        (answer,) = await self.server.read_bodies(1)
        self.assertEqual(self.server.frames.pending, 0)
        code, info, address = wire.unpack("BsQ", answer[1:])
        self.assertEqual((answer[0], code, json.loads(info)), (225, 0, {"StatsURL": "http://127.0.0.1:5984/stats"}))
        self.assertEqual(address, mms_peer.address_id("127.0.0.1", 10000))
        init = await self.peer.events.wait_for({"name": "init"})
        self.assertEqual((init["login"], init["link"]), ("ab", 1))

    async def test_verdicts_updates_and_messages_sent_together(self):
        self.peer.set_auto_verdict(9)
        self.server.writer.write(wire.typed_frame(226, wire.pack("Q#v", 77, 128, bytes(128))))
        (verdict,) = await self.server.read_bodies(1)
        self.assertEqual(mms_peer.decode_peer_message(verdict), {"name": "verdict", "player_id": 77, "verdict": 9})

        await self.peer.send([{"type": "init_answer", "code": 3, "game_info": "not json", "address_id": 1},
                              {"type": "slave_update", "client_id": 12, "max_players": 4},
                              {"type": "raw", "hex": "0002e300"}])
        bodies = await self.server.read_bodies(3)
        self.assertEqual([mms_peer.decode_peer_message(b) for b in bodies[:2]], [
            {"name": "init_answer", "code": 3, "game_info": "not json", "address_id": 1},
            {"name": "slave_update", "client_id": 12, "max_players": 4}])
        self.assertEqual(bodies[2], b"\xe3\x00")
        sent = await self.peer.events.wait_for({"event": "sent", "messages": ["init_answer", "slave_update", "raw"]})
        self.assertEqual(bytes.fromhex(sent["raw"])[-4:], b"\x00\x02\xe3\x00")

        await self.peer.send_game_info({"StatsURL": "u", "gameVersion": "1.2"})
        (info,) = await self.server.read_bodies(1)
        self.assertEqual(json.loads(mms_peer.decode_peer_message(info)["game_info"]), {"StatsURL": "u", "gameVersion": "1.2"})

    async def test_close_on_init_and_on_command(self):
        self.peer.set_on_init("close")
        self.server.writer.write(INIT_EXAMPLE)
        self.assertEqual(await asyncio.wait_for(self.server.reader.read(), 5), b"")
        await self.peer.events.wait_for({"event": "closed", "link": 1, "by": "peer"})

        self.peer.set_on_init("silent")
        second = StandIn()
        await second.connect(self.port)
        self.addCleanup(second.writer.close)
        await self.peer.events.wait_for({"event": "connected", "link": 2})
        await self.peer.handle({"cmd": "close"})
        self.assertEqual(await asyncio.wait_for(second.reader.read(), 5), b"")

    async def test_oversized_frame_drops_the_link(self):
        self.server.writer.write(b"\x10\x01" + bytes(10))
        event = await self.peer.events.wait_for({"event": "frame_error"})
        self.assertIn("4097", event["reason"])
        self.assertEqual(await asyncio.wait_for(self.server.reader.read(), 5), b"")


class ProgramTest(unittest.TestCase):
    def test_demo_mode_accepts_the_server_and_takes_commands(self):
        program = subprocess.Popen([sys.executable, "-u", "mms_peer.py", "--demo", "--stats-url", "http://127.0.0.1:1/db"],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(program.kill)
        self.addCleanup(program.stdout.close)
        self.addCleanup(program.stdin.close)
        listening = json.loads(program.stdout.readline())

        async def talk():
            server = StandIn()
            await server.connect(listening["port"])
            server.writer.write(INIT_EXAMPLE)
            (answer,) = await server.read_bodies(1)
            program.stdin.write(json.dumps({"cmd": "slave_update", "client_id": 3, "max_players": 2}) + "\n")
            program.stdin.flush()
            (update,) = await server.read_bodies(1)
            server.writer.write(wire.typed_frame(226, wire.pack("Q#v", 8, 128, bytes(128))))
            (verdict,) = await server.read_bodies(1)
            server.writer.close()
            return [mms_peer.decode_peer_message(body) for body in (answer, update, verdict)]

        answer, update, verdict = asyncio.run(talk())
        self.assertEqual((answer["code"], json.loads(answer["game_info"])), (0, {"StatsURL": "http://127.0.0.1:1/db"}))
        self.assertEqual(update, {"name": "slave_update", "client_id": 3, "max_players": 2})
        self.assertEqual(verdict, {"name": "verdict", "player_id": 8, "verdict": 0})
        program.stdin.write('{"cmd": "quit"}\n')
        program.stdin.flush()
        events = [json.loads(line) for line in program.stdout]
        self.assertEqual(program.wait(10), 0)
        self.assertIn("init", [e.get("name") for e in events])
        self.assertEqual(events[-1], {"event": "closed", "link": 1, "by": "server"})


if __name__ == "__main__":
    unittest.main()
