"""The game client peer: every body it packs or reads against byte layouts written out by hand, and its
play-along mode against a scripted stand-in for the server."""

import asyncio
import json
import socket
import struct
import subprocess
import sys
import unittest

import game_client
import wire


def frame(hex_body):
    body = bytes.fromhex(hex_body.replace(" ", ""))
    return len(body).to_bytes(2, "big") + body


class ClientBodiesTest(unittest.TestCase):
    def test_frames_to_the_server(self):
        ticket = bytes(range(128))
        cases = [
            ("connect", game_client.encode_connect(5, ticket, "1.0", True, "pw"),
             frame("c1 0000000000000005" + ticket.hex() + "00000003 312e30 01 00000002 7077")),
            ("short ticket zero-padded", game_client.encode_connect(5, b"\x01", "", False, ""),
             frame("c1 0000000000000005 01" + "00" * 127 + "00000000 00 00000000")),
            ("chat", game_client.encode_game_message("e", game_client.chat_data("hé", 7)),
             frame("c2 ffffffff 65 07000000 0300 68c3a9")),
            ("chat to one", game_client.encode_game_message("e", game_client.chat_data("", 0), 3),
             frame("c2 00000003 65 00000000 0000")),
            ("tick report", game_client.encode_game_message("g", game_client.tick_report_data(9, 0xAABBCCDD)),
             frame("c2 ffffffff 67 09000000 00000000 ddccbbaa 00000000")),
            ("orders", game_client.encode_game_message("d", b"\x01\x02"), frame("c2 ffffffff 64 0102")),
            ("ping answer", game_client.encode_system(0, 7), frame("c5 00 00000007")),
            ("command", game_client.encode_command("launch"), frame("cb 00000006 6c61756e6368")),
            ("state request", game_client.encode_state_request(52), frame("cd 00000034")),
        ]
        for name, data, expected in cases:
            with self.subTest(name):
                self.assertEqual(data.hex(), expected.hex())

    def test_frames_read_back_as_a_server_reads_them(self):
        ticket = bytes(range(128))
        cases = [
            (game_client.encode_connect(5, ticket, "1.0", True, "pw"),
             {"name": "connect", "player_id": 5, "ticket": ticket, "version": "1.0", "ask": True, "password": "pw"}),
            (game_client.encode_game_message("e", b"\x01", 3),
             {"name": "game_message", "recipient": 3, "letter": "e", "data": "01"}),
            (game_client.encode_system(0, 7), {"name": "system", "command": 0, "value": 7}),
            (game_client.encode_command("launch"), {"name": "command", "line": "launch"}),
            (game_client.encode_state_request(52), {"name": "state_request", "state": 52}),
            (wire.typed_frame(196, b"\x00"), {"name": "ignored"}),
            (wire.typed_frame(193, bytes(8)), {"event": "undecodable", "channel": 193}),
        ]
        for data, wanted in cases:
            with self.subTest(wanted):
                event = game_client.decode_client_frame(data[2:])
                self.assertEqual({k: event.get(k) for k in wanted}, wanted)

    def test_connect_packet_reads_back(self):
        body = game_client.encode_connect(0x00000000DEADBEEF, b"t" * 128, "2.0", True, "secret")[3:]
        self.assertEqual(wire.unpack("Q#vsas", body, 128), [0xDEADBEEF, b"t" * 128, b"2.0", True, b"secret"])

    def test_id_list_keeps_what_it_read(self):
        data = game_client.encode_id_list([(1, 10), (2, 20)])
        self.assertEqual(data.hex(), "00000002" "0000000000000001" "0000000a" "0000000000000002" "00000014")
        self.assertEqual(game_client.decode_id_list(data), ([(1, 10), (2, 20)], True))
        self.assertEqual(game_client.decode_id_list(data[:-3]), ([(1, 10)], False))


class ServerFramesTest(unittest.TestCase):
    def test_frames_from_the_server(self):
        actions = struct.pack("<IIIH", 4, 1, 3, 10) + bytes(range(10))
        self.assertEqual(len(actions), 24)
        cases = [
            ("c7 00 00000005", {"name": "last_packet", "reason": 5, "reason_name": "Full"}),
            ("c7 00 00000013", {"reason": 19, "reason_name": "Unspecified"}),
            ("c7 00 0000001a", {"reason_name": "DedicatedServerInvalidPassword"}),
            ("c7 00 0000001b", {"reason_name": "Unspecified"}),
            ("c1 00000001 01 00000000", {"name": "admission", "user_session_id": 1, "spectator": True, "state": 0}),
            ("c8 00 0000000000000005 01 00000002",
             {"name": "client_event", "kind": 0, "kind_name": "joined", "player_id": 5, "flag": True, "user_session_id": 2}),
            ("c9 00000004 4e616d65 00000001 78", {"name": "property", "key": "Name", "value": "x"}),
            ("ca 00000002 00000001 61 00000000", {"name": "player_variable", "user_session_id": 2, "key": "a", "value": ""}),
            ("cc 00000002 00000001 00000000 00000002 00000001", {"name": "player_numbers", "pairs": [[1, 0], [2, 1]]}),
            ("cd 00000035 ffffffff 00000010", {"name": "state_timer", "state": 53, "time_left": 0xFFFFFFFF, "tick": 16}),
            ("ce ffffffff 00000000 00000000", {"name": "next_state", "previous": 0xFFFFFFFF, "state": 0, "tick": 0}),
            ("cf 00000000 45534156", {"name": "replay_stream", "head": 0, "data": "45534156"}),
            ("d0 0000000000000005 0000270f", {"name": "ping_table", "player_id": 5, "ping": 9999}),
            ("c5 01 00000003", {"name": "system", "command": 1, "value": 3}),
            ("c2 0000000000000005 64" + actions.hex(),
             {"name": "relay", "sender": 5, "letter": "d", "tick": 4, "player_number": 1, "count": 3,
              "actions": bytes(range(10)).hex()}),
            ("c2 0000000000000005 65 07000000 0200 6869", {"name": "relay", "letter": "e", "word": 7, "text": "hi"}),
            ("c2 0000000000000005 67 09000000 00000000 01000000 00", {"letter": "g", "tick": 9, "checksum": 1}),
            ("c2 0000000000000005 67 090000000000000001000000", {"letter": "g", "tick": None}),
            ("c1 00000001 01", {"event": "undecodable"}),
            ("c2 0000000000000005 64 04000000", {"event": "undecodable"}),
            ("c2 0000000000000005 64" + actions[:-1].hex(), {"event": "undecodable"}),
            ("ee", {"name": "unknown", "channel": 238}),
        ]
        for hex_body, wanted in cases:
            with self.subTest(hex_body):
                event = game_client.decode_server_frame(bytes.fromhex(hex_body.replace(" ", "")))
                self.assertEqual({k: event.get(k) for k in wanted}, wanted)


class ServerBodiesTest(unittest.TestCase):
    """A stand-in for the server builds its frames with the same codec: each one decodes back to the
    fields it was built from."""

    def test_every_server_body_encodes_as_it_decodes(self):
        cases = [
            ("admission", "c1 00000001 01 00000035", {"user_session_id": 1, "spectator": True, "state": 53}),
            ("system", "c5 01 00000003", {"command": 1, "value": 3}),
            ("last_packet", "c7 00 00000004", {"zero": 0, "reason": 4}),
            ("client_event", "c8 03 0102030405060708 00 00000009",
             {"kind": 3, "player_id": 0x0102030405060708, "flag": False, "user_session_id": 9}),
            ("property", "c9 00000004 4e616d65 00000000", {"key": "Name", "value": ""}),
            ("player_variable", "ca 00000002 00000001 61 00000002 6869",
             {"user_session_id": 2, "key": "a", "value": "hi"}),
            ("state_timer", "cd 00000035 ffffffff 00000010", {"state": 53, "time_left": 0xFFFFFFFF, "tick": 16}),
            ("next_state", "ce ffffffff 00000000 00000000", {"previous": 0xFFFFFFFF, "state": 0, "tick": 0}),
            ("ping_table", "d0 0000000000000005 0000270f", {"player_id": 5, "ping": 9999}),
        ]
        for name, hex_body, fields in cases:
            with self.subTest(name):
                data = game_client.encode_from_server(name, **fields)
                self.assertEqual(data.hex(), frame(hex_body).hex())
                event = game_client.decode_server_frame(data[2:])
                self.assertEqual({k: event[k] for k in fields}, fields)
                self.assertEqual(event["name"], name)

    def test_bodies_with_lists_and_raw_data(self):
        cases = [
            (game_client.encode_relay(5, "e", b"\x07\x00\x00\x00\x02\x00hi"),
             "c2 0000000000000005 65 07000000 0200 6869", {"name": "relay", "sender": 5, "text": "hi", "word": 7}),
            (game_client.encode_player_numbers([(1, 0), (2, 1)]), "cc 00000002 00000001 00000000 00000002 00000001",
             {"name": "player_numbers", "pairs": [[1, 0], [2, 1]]}),
            (game_client.encode_replay_stream(b"ESAV"), "cf 00000000 45534156",
             {"name": "replay_stream", "head": 0, "data": "45534156"}),
        ]
        for data, hex_body, wanted in cases:
            with self.subTest(hex_body):
                self.assertEqual(data.hex(), frame(hex_body).hex())
                event = game_client.decode_server_frame(data[2:])
                self.assertEqual({k: event.get(k) for k in wanted}, wanted)
        self.assertEqual(game_client.encode_server_available().hex(), "0002e501")

    def test_bytes_after_a_layout_are_kept_apart(self):
        event = game_client.decode_server_frame(bytes.fromhex("c7000000000501"))
        self.assertEqual((event["reason"], event["extra"]), (5, "01"))


class PlayAlongTest(unittest.IsolatedAsyncioTestCase):
    """A scripted stand-in for the server checks what the client answers, frame by frame."""

    async def asyncSetUp(self):
        self.accepted = asyncio.Queue()

        async def accept(reader, writer):
            await self.accepted.put((reader, writer))

        self.listener = await asyncio.start_server(accept, "127.0.0.1", 0)
        self.addAsyncCleanup(self.listener.wait_closed)
        self.addCleanup(self.listener.close)
        port = self.listener.sockets[0].getsockname()[1]
        self.client = game_client.GameClient(play_along=True, command_ticks=2, checksum=0x1234)
        await self.client.connect(port)
        self.addAsyncCleanup(self.client.close)
        self.reader, self.writer = await self.accepted.get()
        self.addCleanup(self.writer.close)

    async def expect(self, hex_body):
        body = await asyncio.wait_for(wire.read_frame(self.reader), 5)
        self.assertEqual(body.hex(), hex_body.replace(" ", ""))

    def send(self, hex_body):
        self.writer.write(frame(hex_body))

    def tick(self, tick, sender=5):
        actions = struct.pack("<IIIH", tick, 0, 0, 0)
        self.send("c2 %016x 64 %s" % (sender, actions.hex()))

    async def test_follows_a_whole_game(self):
        await self.client.send_connect(5, b"", "1.0")
        await self.expect(game_client.encode_connect(5, b"", "1.0")[2:].hex())
        self.send("c1 00000003 00 00000000")
        self.send("c5 01 00000007")
        await self.expect("c5 00 00000007")
        self.send("ce 00000000 00000033 00000000")
        await self.expect("cd 00000034")
        # Each tick: one order and one report, answering the first actions packet of the tick only.
        self.tick(0)
        self.tick(0, sender=6)
        await self.expect("c2 ffffffff 64" + struct.pack("<III", 3, 1, 0).hex())
        await self.expect("c2 ffffffff 67" + struct.pack("<IIII", 0, 0, 0x1234, 0).hex())
        self.send("ce 00000033 00000034 00000001")
        await self.expect("cd 00000035")
        self.send("ce 00000034 00000035 00000001")
        for number in (1, 2):
            self.tick(number)
            await self.expect("c2 ffffffff 64" + struct.pack("<III", 3, number + 1, number).hex())
            await self.expect("c2 ffffffff 67" + struct.pack("<IIII", number, 0, 0x1234, 0).hex())
        await self.expect("cd 00000065")
        self.send("ce 00000035 00000065 00000003")
        await self.expect("cd 00000000")
        # The next game's ticks start again: one numbered as the last game's last is answered too.
        self.send("ce 00000000 00000033 00000000")
        await self.expect("cd 00000034")
        self.tick(2)
        await self.expect("c2 ffffffff 64" + struct.pack("<III", 3, 4, 2).hex())
        await self.expect("c2 ffffffff 67" + struct.pack("<IIII", 2, 0, 0x1234, 0).hex())
        self.send("c7 00 00000015")
        self.writer.close()
        last = await self.client.events.wait_for({"name": "last_packet"})
        self.assertEqual(last["reason_name"], "KickedAtEndGame")
        await self.client.events.wait_for({"event": "closed"})
        self.assertEqual((self.client.user_session_id, self.client.state, self.client.orders_sent), (3, 51, 4))


class ClosedEventTest(unittest.IsolatedAsyncioTestCase):
    """Who ended the connection: a test tells the server's close from a reset and from its own close."""

    async def test_the_closed_event_names_who_ended_the_connection(self):
        def reset(writer):
            writer.get_extra_info("socket").setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            writer.close()

        async def client_side(client, writer):
            await client.close()

        cases = [
            ("server closes", lambda c, w: w.close(), {"by": "server"}),
            ("server resets", lambda c, w: reset(w), {"by": "server", "error": "ConnectionResetError"}),
            ("client closes", client_side, {"by": "client"}),
        ]
        for name, end, expected in cases:
            with self.subTest(name):
                accepted = asyncio.Queue()
                listener = await asyncio.start_server(lambda r, w: accepted.put_nowait(w), "127.0.0.1", 0)
                client = game_client.GameClient()
                await client.connect(listener.sockets[0].getsockname()[1])
                writer = await asyncio.wait_for(accepted.get(), 5)
                writer.write(frame("c7 00 00000005"))
                await client.events.wait_for({"name": "last_packet"})
                result = end(client, writer)
                if asyncio.iscoroutine(result):
                    await result
                closed = await client.events.wait_for({"event": "closed"}, timeout=5)
                await client.close()
                writer.close()
                listener.close()
                await listener.wait_closed()
                self.assertEqual({k: v for k, v in closed.items() if k != "event"}, expected)
                self.assertEqual([e.get("name", e["event"]) for e in client.events.events],
                                 ["connected", "last_packet", "closed"])


class ProgramTest(unittest.IsolatedAsyncioTestCase):
    async def test_connects_prints_what_it_is_asked_to_and_ends_with_the_connection(self):
        accepted = asyncio.Queue()
        listener = await asyncio.start_server(lambda r, w: accepted.put_nowait((r, w)), "127.0.0.1", 0)
        self.addAsyncCleanup(listener.wait_closed)
        self.addCleanup(listener.close)
        port = listener.sockets[0].getsockname()[1]
        program = await asyncio.create_subprocess_exec(
            sys.executable, "-u", "game_client.py", "--port", str(port), "--player-id", "9", "--version", "3.1",
            "--ticket", "ab", "--print", "admission,closed", stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        self.addCleanup(lambda: program.returncode is None and program.kill())
        reader, writer = await asyncio.wait_for(accepted.get(), 10)
        body = await asyncio.wait_for(wire.read_frame(reader), 10)
        self.assertEqual(body, game_client.encode_connect(9, b"\xab", "3.1")[2:])
        writer.write(frame("c5 01 00000001") + frame("c1 00000002 00 00000000"))
        self.assertEqual(await asyncio.wait_for(wire.read_frame(reader), 10), bytes.fromhex("c50000000001"))
        writer.close()
        output = await asyncio.wait_for(program.stdout.read(), 10)
        self.assertEqual(await program.wait(), 0)
        events = [json.loads(line) for line in output.decode().splitlines()]
        self.assertEqual([(e["event"], e.get("user_session_id")) for e in events], [("frame", 2), ("closed", None)])

    async def test_demo_mode_greets_every_player_once_admitted(self):
        accepted = asyncio.Queue()
        listener = await asyncio.start_server(lambda r, w: accepted.put_nowait((r, w)), "127.0.0.1", 0)
        self.addAsyncCleanup(listener.wait_closed)
        self.addCleanup(listener.close)
        port = listener.sockets[0].getsockname()[1]
        program = await asyncio.create_subprocess_exec(
            sys.executable, "-u", "game_client.py", "--port", str(port), "--player-id", "5", "--demo",
            "--print", "closed", stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        self.addCleanup(lambda: program.returncode is None and program.kill())
        reader, writer = await asyncio.wait_for(accepted.get(), 10)
        self.assertEqual(await asyncio.wait_for(wire.read_frame(reader), 10), game_client.encode_connect(5)[2:])
        writer.write(frame("c1 00000001 00 00000000"))
        greeting = game_client.DEMO_GREETING.encode()
        self.assertEqual((await asyncio.wait_for(wire.read_frame(reader), 10)).hex(),
                         "c2ffffffff65" "00000000" + struct.pack("<H", len(greeting)).hex() + greeting.hex())
        writer.close()
        self.assertEqual(await asyncio.wait_for(program.wait(), 10), 0)


if __name__ == "__main__":
    unittest.main()
