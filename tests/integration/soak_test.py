"""The relay under load against the real server binary: one asyncio process drives 56 players and 8
spectators through a whole game (match making, loading, deployment, command, debriefing, match making
again). On every tick it receives, each player sends one order carrying (its index, a sequence number)
and a tick report with the checksum every player shares; the spectators join in the command phase; after
the last tick the players ask for the debriefing, then for match making.

Checked: every order sent before the last tick, and every tick report, reaches every player exactly once
and in order; no tick is missing or repeated and each brings one actions packet per player; every player
received the same relayed bytes; the saved replay holds every tick with its 56 'pact' chunks equal to
what was relayed; the spectators' streams equal the saved file (bytes 8 to 39 aside: the size and the
digest are written at the save); nobody was removed; once everyone has left, the server holds as many
descriptors as before the game; a second short game plays normally; and the server then exits cleanly.

ORV_SOAK_TICKS sets the ticks of the first game (300 by default; `make soak` passes SOAK_TICKS).
"""

import asyncio
import hashlib
import os
import signal
import struct
import time
import unittest

import harness
import replay_reader
import udp_query
from game_client import (CHANNEL_GAME_DATA, CHANNEL_REPLAY_STREAM, PING_ANSWER, PING_REQUEST, STATE_COMMAND,
                         STATE_DEBRIEFING, STATE_DEPLOYMENT, STATE_LOADING, STATE_MATCH_MAKING, decode_server_frame,
                         encode_connect, encode_game_message, encode_state_request, encode_system,
                         tick_report_data)
from http_endpoint import HttpEndpoint

TICKS = int(os.environ.get("ORV_SOAK_TICKS", "300"))
PLAYERS = 56
SPECTATORS = 8
# The second game: long enough for its spectators to catch up with the replay (a piece of at most 4064
# bytes per tick against about 2,300 bytes written per tick, after a header of some 11,000 bytes).
SECOND_GAME_TICKS = 30
SECOND_GAME_SPECTATORS = 2
PLAYER_IDS = [1000 + i for i in range(PLAYERS)]
SPECTATOR_IDS = [2000 + i for i in range(SPECTATORS)]
GAME_ID = 24
TICKET = bytes(range(128))
CHECKSUM = 0x5EED1E55
NO_LIMIT_VALUE = 0xFFFFFFFF
NO_LIMIT = str(NO_LIMIT_VALUE)
# Phase times are only a backstop: the players ask for the next phase at once. The warm-up leaves the
# test time to let everyone leave after the game before the next launch starts a loading phase.
# The password shows that the replay's header leaves hidden properties out.
PASSWORD = "soak"
VARIABLES_INI = ("NbMaxPlayer=64\nNbMinPlayer=56\nWarmupCountdown=10\nLoadingTimeMax=60\nDeploiementTimeMax=30\n"
                 "DebriefingTimeMax=10\nTimeLimit=0\nPassword=%s\n" % PASSWORD)
LARGEST_PIECE = 4064
ORDER = struct.Struct("<II")
ACTIONS_HEAD = struct.Struct("<IIIH")
REPORT = struct.Struct("<IIII")
LETTER_ORDERS = ord("d")
LETTER_TICK_REPORT = ord("g")
# How long admissions, phase changes and the server's clean-up may take, on a loaded CI machine.
STEP_TIMEOUT = 60.0
# Check failures kept per client; the first ones tell what went wrong.
MAX_FAULTS = 20


def resident_kilobytes(pid):
    with open("/proc/%d/status" % pid) as lines:
        return next(int(line.split()[1]) for line in lines if line.startswith("VmRSS:"))


def descriptors(pid, cached_ports=()):
    """What the open descriptors of the process are, TCP sockets as their ports and state, leaving out
    the connections to cached_ports: libcurl keeps its connections to the statistics database and to
    the game-result endpoint open for reuse (in CLOSE_WAIT once the peer's keep-alive has closed them),
    which is its connection cache, not the game's."""
    sockets = {}
    for table in ("tcp", "tcp6"):
        with open("/proc/%d/net/%s" % (pid, table)) as lines:
            for line in list(lines)[1:]:
                fields = line.split()
                local, remote = (int(address.split(":")[1], 16) for address in fields[1:3])
                sockets["socket:[%s]" % fields[9]] = (local, remote, fields[3])
    result = []
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if target in sockets:
            local, remote, state = sockets[target]
            if remote in cached_ports:
                continue
            target = "tcp %d -> %d (state %s)" % (local, remote, state)
        result.append(target)
    return sorted(result)


class Game:
    """One game as the driver sees it: its clients and the moments every client waits for."""

    def __init__(self, ticks):
        self.ticks = ticks
        self.index_of = {player_id: index for index, player_id in enumerate(PLAYER_IDS)}
        self.players = []
        self.spectators = []
        self.command_phase = asyncio.get_running_loop().create_future()
        # Back in match making with enough players, the server launches the next game's warm-up.
        self.next_warm_up = asyncio.get_running_loop().create_future()

    @property
    def clients(self):
        return self.players + self.spectators


class SoakClient(asyncio.Protocol):
    """A raw-socket client with just the state the soak needs: it answers pings, follows the phases, plays
    its orders and checks what it receives as it comes, keeping only digests, counters and the failures
    (the reference player also keeps every relayed actions payload, to compare with the replay)."""

    def __init__(self, game, player_id, spectator=False, reference=False):
        loop = asyncio.get_running_loop()
        self.game = game
        self.id = player_id
        self.index = None if spectator else game.index_of[player_id]
        self.spectator = spectator
        self.reference = reference
        self.transport = None
        self.buffer = bytearray()
        self.local = None
        self.admission = None
        self.admitted = loop.create_future()
        self.returned = loop.create_future()
        self.closed_by = None
        self.closing = False
        self.faults = []
        self.last_packets = []
        self.states = []          # (previous, state, tick) of every next-state packet
        self.state = None
        # The relay as this player saw it.
        self.tick = None
        self.tick_relays = 0
        self.ticks_seen = 0
        self.orders_sent = 0
        self.orders_before_last_tick = None
        self.received = {}        # sender id -> last sequence number received
        self.relay_digest = hashlib.sha256()
        self.relayed = []         # reference player: actions payloads in order received
        self.reports = {}         # sender id -> tick of the last tick report received
        # The replay stream as this spectator saw it.
        self.pieces = []
        self.stream = bytearray()

    def fault(self, text):
        if len(self.faults) < MAX_FAULTS:
            self.faults.append(text)

    # -- the connection --

    async def connect(self, port):
        await asyncio.get_running_loop().create_connection(lambda: self, harness.LOOPBACK, port)
        self.transport.write(encode_connect(self.id, TICKET, password=PASSWORD))

    def connection_made(self, transport):
        self.transport = transport
        self.local = "%s:%d" % transport.get_extra_info("sockname")[:2]

    def connection_lost(self, error):
        self.closed_by = "client" if self.closing else "server"
        if self.closing:
            return
        for future in (self.admitted, self.returned):
            if not future.done():
                future.set_exception(ConnectionError("client %d: connection closed by the %s (last packets %r)"
                                                     % (self.id, self.closed_by, self.last_packets)))

    def close(self):
        self.closing = True
        if self.transport is not None:
            self.transport.close()

    def data_received(self, data):
        buffer = self.buffer
        buffer += data
        position, size = 0, len(buffer)
        while size - position >= 2:
            length = buffer[position] << 8 | buffer[position + 1]
            if size - position - 2 < length:
                break
            body = bytes(buffer[position + 2:position + 2 + length])
            position += 2 + length
            try:
                self.on_frame(body)
            except (ValueError, IndexError, KeyError, struct.error) as error:
                # A frame the checks cannot even read is a failure of its own, not a lost connection.
                self.fault("frame %s: %r" % (body.hex(), error))
        del buffer[:position]

    # -- what arrives --

    def on_frame(self, body):
        channel = body[0] if body else None
        if channel == CHANNEL_GAME_DATA:
            if self.spectator:
                self.fault("relayed message received by a spectator: %s" % body.hex())
            elif len(body) > 9 and body[9] == LETTER_ORDERS:
                self.on_actions(int.from_bytes(body[1:9], "big"), body[10:])
                self.relay_digest.update(body)
            elif len(body) > 9 and body[9] == LETTER_TICK_REPORT:
                self.on_tick_report(int.from_bytes(body[1:9], "big"), body[10:])
            else:
                self.fault("unexpected relayed message %s" % body.hex())
            return
        if channel == CHANNEL_REPLAY_STREAM:
            if not self.spectator:
                self.fault("replay stream piece received by a player")
            head, piece = int.from_bytes(body[1:5], "big"), body[5:]
            if head != 0:
                self.fault("replay stream piece with head %d" % head)
            self.pieces.append(len(piece))
            self.stream += piece
            return
        event = decode_server_frame(body)
        name = event.get("name")
        if name == "system" and event["command"] == PING_REQUEST:
            self.transport.write(encode_system(PING_ANSWER, event["value"]))
        elif name == "admission":
            if self.admitted.done():
                self.fault("second admission answer %r" % event)
                return
            self.admission = event
            self.state = event["state"]
            self.admitted.set_result(event)
        elif name == "next_state":
            self.on_next_state(event["previous"], event["state"], event["tick"])
        elif name == "state_timer":
            if (self.returned.done() and event["state"] == STATE_MATCH_MAKING and event["time_left"] != NO_LIMIT_VALUE
                    and not self.game.next_warm_up.done()):
                self.game.next_warm_up.set_result(None)
        elif name == "last_packet":
            self.last_packets.append(event["reason_name"])
        elif event.get("event") == "undecodable":
            self.fault("undecodable frame: %r" % event)

    def on_next_state(self, previous, state, tick):
        self.states.append((previous, state, tick))
        self.state = state
        if state == STATE_COMMAND and not self.game.command_phase.done():
            self.game.command_phase.set_result(None)
        if state == STATE_MATCH_MAKING and previous == STATE_DEBRIEFING and not self.returned.done():
            self.returned.set_result(None)
        if self.spectator:
            return
        if state == STATE_LOADING:
            self.transport.write(encode_state_request(STATE_DEPLOYMENT))
        elif state == STATE_DEPLOYMENT:
            self.transport.write(encode_state_request(STATE_COMMAND))
        elif state == STATE_DEBRIEFING:
            self.transport.write(encode_state_request(STATE_MATCH_MAKING))

    def on_actions(self, sender, payload):
        tick, _, count, size = ACTIONS_HEAD.unpack_from(payload)
        if tick != self.tick:
            self.end_of_tick()
            expected = 0 if self.tick is None else self.tick + 1
            if tick != expected:
                self.fault("tick %d after tick %s" % (tick, self.tick))
            self.tick, self.tick_relays = tick, 0
            self.ticks_seen += 1
            self.play(tick)
        self.tick_relays += 1
        if len(payload) != ACTIONS_HEAD.size + size or size != count * ORDER.size:
            self.fault("tick %d: actions of %d bytes announce %d orders in %d bytes" % (tick, len(payload), count,
                                                                                        size))
            return
        index = self.game.index_of.get(sender)
        last = self.received.get(sender, 0)
        for offset in range(ACTIONS_HEAD.size, len(payload), ORDER.size):
            player, sequence = ORDER.unpack_from(payload, offset)
            if player != index or sequence != last + 1:
                self.fault("tick %d: order (%d, %d) from %d after sequence %d" % (tick, player, sequence, sender,
                                                                                 last))
            last = sequence
        self.received[sender] = last
        if self.reference:
            self.relayed.append(payload)

    def on_tick_report(self, sender, data):
        if len(data) != REPORT.size:
            self.fault("tick report of %d bytes from %d" % (len(data), sender))
            return
        tick, _, checksum, _ = REPORT.unpack(data)
        last = self.reports.get(sender, -1)
        if tick != last + 1 or checksum != CHECKSUM:
            self.fault("tick report (%d, %#x) from %d after tick %d" % (tick, checksum, sender, last))
        self.reports[sender] = tick

    def end_of_tick(self):
        if self.tick is not None and self.tick_relays != PLAYERS:
            self.fault("tick %d brought %d actions packets" % (self.tick, self.tick_relays))

    def play(self, tick):
        """One order and one tick report for every tick of the game; after the last, the debriefing."""
        if tick >= self.game.ticks:
            return
        if self.state not in (STATE_LOADING, STATE_DEPLOYMENT, STATE_COMMAND):
            self.fault("tick %d in state %s" % (tick, self.state))
            return
        self.orders_sent += 1
        self.transport.write(encode_game_message("d", ORDER.pack(self.index, self.orders_sent))
                             + encode_game_message("g", tick_report_data(tick, CHECKSUM)))
        if tick == self.game.ticks - 1:
            self.orders_before_last_tick = self.orders_sent - 1
            if self.state != STATE_COMMAND:
                self.fault("last tick %d before the command phase" % tick)
            self.transport.write(encode_state_request(STATE_DEBRIEFING))


@unittest.skipIf(not os.path.isdir("/proc/self/fd"), "descriptor counts need /proc")
class RelaySoakTest(harness.AsyncIntegrationTestCase):

    async def asyncSetUp(self):
        await super().asyncSetUp()
        # asyncio's debug mode, on in these test cases, costs more than the clients' own work at this load.
        asyncio.get_running_loop().set_debug(False)
        database = await asyncio.to_thread(self.start_pouchdb)
        database.create_database("soak")
        documents = [{"_id": "u%d_%d" % (number, player)} for player in PLAYER_IDS + SPECTATOR_IDS
                     for number in (0, GAME_ID)]
        status, answer = await asyncio.to_thread(database.request, "POST", "soak/_bulk_docs", {"docs": documents})
        self.assertEqual(status, 201, answer)
        self.endpoint = HttpEndpoint()
        report_port = self.endpoint.start()
        self.addCleanup(self.endpoint.stop)
        self.cached_ports = (int(database.url.rsplit(":", 1)[1].strip("/")), report_port)
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, {"StatsURL": database.url + "soak/"})
        peer.set_auto_verdict(0)
        self.server = self.start_server("+game_reporting", "http://127.0.0.1:%d/recorddedicatedgame" % report_port,
                                        mms_port=peer.port, files={"variables.ini": VARIABLES_INI})
        await self.server.wait_for_line_async(" as CouchDB stats source")

    async def test_players_and_spectators_through_a_long_game_then_a_short_one(self):
        descriptors_before = descriptors(self.server.pid, self.cached_ports)
        resident_before = resident_kilobytes(self.server.pid)
        started = time.monotonic()
        first = await self.play_game(TICKS, SPECTATORS, replay_number=1)
        await self.leave(first)
        await self.wait_for_descriptors(descriptors_before)
        print("\nsoak: %d ticks, %d orders relayed to each of %d players, %d spectators, %.1f s, replay of %d bytes, "
              "server resident memory %d kB before, %d kB after, %d cached database and report connections"
              % (first.ticks_played, first.orders_relayed, PLAYERS, SPECTATORS, time.monotonic() - started,
                 first.replay_size, resident_before, resident_kilobytes(self.server.pid), self.cached_connections()),
              flush=True)

        second = await self.play_game(SECOND_GAME_TICKS, SECOND_GAME_SPECTATORS, replay_number=2)
        await self.leave(second)
        await self.wait_for_descriptors(descriptors_before)
        print("soak: second game of %d ticks, server resident memory %d kB, %d cached database and report connections"
              % (second.ticks_played, resident_kilobytes(self.server.pid), self.cached_connections()), flush=True)
        self.assertEqual(len(self.endpoint.requests), 2, "one game result report per game")

        # Nothing of the games is left to free: the server exits cleanly (the sanitizer build reports leaks).
        self.server.signal(signal.SIGTERM)
        status = await asyncio.to_thread(self.server.wait)
        self.assertEqual(status, 0, "\n".join(self.server.output.lines[-20:] + self.server.errors.lines[-40:]))

    # -- one game --

    async def play_game(self, ticks, spectator_count, replay_number):
        game = Game(ticks)
        self.addAsyncCleanup(self.close_all, game)
        mark = self.server.mark()
        game.players = [SoakClient(game, player_id, reference=(index == 0))
                        for index, player_id in enumerate(PLAYER_IDS)]
        await asyncio.gather(*(client.connect(self.server.port) for client in game.players))
        await self.all_of([client.admitted for client in game.players], STEP_TIMEOUT, "admission of the players")
        for client in game.players:
            self.assertEqual((client.admission["spectator"], client.admission["state"]), (False, STATE_MATCH_MAKING))

        await self.all_of([game.command_phase], STEP_TIMEOUT, "the command phase")
        game.spectators = [SoakClient(game, player_id, spectator=True) for player_id in SPECTATOR_IDS[:spectator_count]]
        await asyncio.gather(*(client.connect(self.server.port) for client in game.spectators))
        await self.all_of([client.admitted for client in game.spectators], STEP_TIMEOUT, "admission of the spectators")
        for client in game.spectators:
            self.assertEqual((client.admission["spectator"], client.admission["state"]), (True, STATE_COMMAND))

        # The game lasts ticks x 200 ms on the server's clock; the rest is slack for a loaded machine.
        await self.all_of([client.returned for client in game.clients], ticks * 0.2 * 2 + STEP_TIMEOUT,
                          "the return to match making")
        for client in game.clients:
            self.assertEqual(client.faults, [], "client %d" % client.id)
            self.assertEqual((client.last_packets, client.closed_by), ([], None), "client %d" % client.id)
        removals = [line for line in self.server.output.lines[mark:]
                    if "Disconnecting client" in line or "Rejecting pending client" in line]
        self.assertEqual(removals, [])

        self.check_relay(game)
        data = await self.saved_replay(replay_number)
        # Every player reported the same checksum: no desync copy.
        self.assertEqual(sorted(path.name for path in (self.server.cwd / "Replays").iterdir()),
                         ["lastreplay%03d.orvgamerpl2" % number for number in range(1, replay_number + 1)])
        self.check_replay(game, data)
        self.check_streams(game, data)
        await asyncio.to_thread(self.endpoint.wait_for_requests, replay_number, STEP_TIMEOUT)
        game.replay_size = len(data)
        return game

    def check_relay(self, game):
        """Every player saw the same ticks, in order, and every order before the last tick exactly once."""
        reference = game.players[0]
        for client in game.players:
            client.end_of_tick()
            self.assertEqual(client.faults, [], "client %d" % client.id)
            self.assertEqual((client.ticks_seen, client.tick), (reference.ticks_seen, reference.ticks_seen - 1))
            self.assertEqual(client.relay_digest.digest(), reference.relay_digest.digest(), "client %d" % client.id)
            self.assertEqual(client.orders_sent, game.ticks)
            self.assertEqual(set(client.received), set(PLAYER_IDS))
            # Tick reports are relayed as they come: every one of them, the last tick's included.
            self.assertEqual(client.reports, {player_id: game.ticks - 1 for player_id in PLAYER_IDS})
            for sender in game.players:
                received = client.received[sender.id]
                self.assertTrue(sender.orders_before_last_tick <= received <= sender.orders_sent,
                                "client %d received %d orders from %d, which sent %d, %d before the last tick"
                                % (client.id, received, sender.id, sender.orders_sent, sender.orders_before_last_tick))
        self.assertGreaterEqual(reference.ticks_seen, game.ticks)
        game.ticks_played = reference.ticks_seen
        game.orders_relayed = sum(reference.received.values())

    async def saved_replay(self, number):
        """The replay's bytes once the server has written them whole."""
        path = self.server.cwd / "Replays" / ("lastreplay%03d.orvgamerpl2" % number)
        deadline = time.monotonic() + STEP_TIMEOUT
        while True:
            data = path.read_bytes() if path.exists() else b""
            if data and replay_reader.walk_container(data).digest_ok:
                return data
            if time.monotonic() > deadline:
                self.fail("no whole replay in %s (%d bytes)" % (path, len(data)))
            await asyncio.sleep(0.05)

    def check_replay(self, game, data):
        replay = replay_reader.read_replay(data)
        self.assertTrue(replay.digest_ok)
        self.assertEqual(replay.problems, [])
        self.assertEqual(replay.header["game"]["NeedPassword"], "1")
        self.assertNotIn("Password", replay.header["game"])
        self.assertEqual(set(replay.header), {"game"} | {"player_%d" % n for n in range(PLAYERS)})

        reference = game.players[0]
        self.assertEqual([tick["tick"] for tick in replay.ticks], list(range(reference.ticks_seen)))
        pacts = [payload for tag, _, payload in replay.chunks if tag == replay_reader.TAG_ACTIONS]
        self.assertEqual(len(pacts), len(reference.relayed))
        self.assertTrue(pacts == reference.relayed, "the 'pact' chunks differ from the relayed actions")
        changes = []
        for tick in replay.ticks:
            self.assertEqual(len(tick["actions"]), PLAYERS)
            self.assertEqual({actions["tick"] for actions in tick["actions"]}, {tick["tick"]})
            self.assertEqual(sorted(actions["player_number"] for actions in tick["actions"]), list(range(PLAYERS)))
            self.assertEqual((tick["end"]["tick"], tick["end"]["departed"]), (tick["tick"], []))
            for record in tick["records"]:
                self.assertIn(record["kind"], (replay_reader.STATE_CHANGE, replay_reader.STATE_TIMER))
                self.assertEqual(record["values"][4], tick["tick"])
                if record["kind"] == replay_reader.STATE_CHANGE:
                    changes.append((record["values"][1], record["values"][2], tick["tick"]))
        # The changes during the recording, at the ticks the players were told of them; the debriefing
        # and the return to match making may come after the last tick the replay holds.
        told = [change for change in reference.states
                if change[1] != STATE_LOADING and change[2] < len(replay.ticks)]
        self.assertEqual(changes, told)
        self.assertEqual([change[:2] for change in changes][:2],
                         [(STATE_LOADING, STATE_DEPLOYMENT), (STATE_DEPLOYMENT, STATE_COMMAND)])

    def check_streams(self, game, data):
        """Each spectator got the replay from its first byte, in pieces of at most 4064 bytes (whole ones
        while behind), and caught up with it."""
        for client in game.spectators:
            stream = bytes(client.stream)
            self.assertEqual(len(stream), len(data), "spectator %d" % client.id)
            self.assertTrue(stream[:8] == data[:8] and stream[40:] == data[40:],
                            "spectator %d: its stream differs from the saved replay" % client.id)
            caught_up = next(i for i, size in enumerate(client.pieces) if size < LARGEST_PIECE)
            self.assertEqual(set(client.pieces[:caught_up]) | {LARGEST_PIECE}, {LARGEST_PIECE})
            self.assertLess(max(client.pieces[caught_up:]), LARGEST_PIECE)

    # -- helpers --

    async def all_of(self, futures, timeout, what):
        done, pending = await asyncio.wait(futures, timeout=timeout)
        for future in done:
            future.result()
        if pending:
            self.fail("%s: %d of %d still awaited after %.0f s" % (what, len(pending), len(futures), timeout))

    async def leave(self, game):
        """Everyone closes; the server lets every user go, and then no launch countdown runs. Leaving is
        put off until the warm-up that the return to match making launched has stepped once: a warm-up
        cancelled before its first step would be stopped only at that step, and players arriving in
        between would find a countdown still running and launch no game."""
        await self.all_of([game.next_warm_up], STEP_TIMEOUT, "the warm-up after the game")
        mark = self.server.mark()
        for client in game.clients:
            client.close()
        for client in game.clients:
            await self.server.wait_for_line_async("Disconnecting client %d with IP %s (reason : ConnectionLost)"
                                                  % (client.id, client.local), timeout=STEP_TIMEOUT, start=mark)
        deadline = time.monotonic() + STEP_TIMEOUT
        while True:
            reply = await asyncio.to_thread(udp_query.query, self.server.port, b"soak", 1.0)
            properties = reply.as_dict() if reply else {}
            wanted = {"NbPlayer": "0", "GameState": "0", "TimeLeft": NO_LIMIT}
            if {key: properties.get(key) for key in wanted} == wanted:
                return
            if time.monotonic() > deadline:
                self.fail("the server did not settle after the game: %r" % properties)
            await asyncio.sleep(0.2)

    async def wait_for_descriptors(self, before):
        deadline = time.monotonic() + STEP_TIMEOUT
        while len(descriptors(self.server.pid, self.cached_ports)) != len(before) and time.monotonic() < deadline:
            await asyncio.sleep(0.1)
        self.assertEqual(descriptors(self.server.pid, self.cached_ports), before)

    def cached_connections(self):
        return len(descriptors(self.server.pid)) - len(descriptors(self.server.pid, self.cached_ports))

    async def close_all(self, game):
        for client in game.clients:
            client.close()


if __name__ == "__main__":
    harness.main()
