"""Drives whole games against the dedicated server over raw sockets: N players, and spectators admitted
while a game runs, each with a light client state of its own, and the checks of what every client saw.

Each player answers pings, follows the phases by asking for the next state (52 in loading, 53 in
deployment, 101 after `command_ticks` ticks of the command phase or on the game's tick `game_ticks` - 1,
0 on the first tick of the debriefing) and, on every tick it receives while the game runs, sends one 'd'
order carrying its player id and a sequence number that starts at 1 with each game, then a 'g' report of
that tick with a checksum all players share.

    driver = GameDriver(port, [11, 12, 13, 14], command_ticks=25)   # None: until driver.end_command()
    await driver.connect_players()             # every player admitted
    await driver.wait_for_game_start(0)        # next_state 51 of the first game seen by every player
    await driver.wait_for_game_end(0)          # back to match making
    driver.check_game(0, replay_bytes)         # AssertionError naming what went wrong
    driver.check_nobody_removed()
    await driver.close()

Built for many clients in one process (a soak of 56 players and 8 spectators for thousands of ticks): the
clients are asyncio protocols whose frames are handled as they arrive, the relays of channel 194 are
decoded with struct alone and checked on arrival, and each client keeps per game only the tick numbers
and their arrival times, the senders of each tick, the sequence numbers of the orders, a digest of the
relayed bytes and the streamed replay; one reference player also keeps every relayed actions payload, to
compare with the saved replay.
"""

import array
import asyncio
import hashlib
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import game_client as gc  # noqa: E402
import replay_reader  # noqa: E402

# One order: the sender's player id and its sequence number in the game, little-endian as the actions
# payload is.
ORDER = struct.Struct("<QI")
ACTIONS_HEAD = struct.Struct("<IIIH")
REPORT = struct.Struct("<IIII")
SENDER = struct.Struct(">Q")
FRAME_LENGTH = struct.Struct(">H")
TICKET = bytes(range(128))
CHECKSUM = 0x5EED5EED
LETTER_ORDERS = ord("d")
LETTER_TICK_REPORT = ord("g")
NO_LIMIT = 0xFFFFFFFF
# The container's header (magic, version, size and digest) is written again when the replay is saved,
# so a spectator's stream is compared with the file around it.
CONTAINER_HEADER = 40
# The replay stream's pieces carry at most this many bytes: whole ones while the spectator is behind.
LARGEST_PIECE = 4064
# Problems kept per game record: the first ones tell what went wrong, and a broken relay of thousands
# of ticks would otherwise fill the memory with the same text.
MAX_PROBLEMS = 20


class GameRecord:
    """What one client saw of one game, from its next_state 51 (or its admission as a spectator) to its
    next_state 0."""

    # The senders of a tick are the same tuple from tick to tick: one object serves them all.
    _sender_tuples = {}

    def __init__(self, spectator, keep_relays=False):
        self.spectator = spectator
        self.ticks = []          # tick numbers in order of arrival, one entry per tick
        self.tick_times = []     # monotonic arrival time of each tick's first relay
        self.tick_senders = []   # for each entry of ticks, the senders of its actions packets in order
        self._senders = []       # those of the tick being received
        self.relay_digest = hashlib.sha256()  # every relayed actions frame, in order of arrival
        self.relayed = [] if keep_relays else None  # the reference's actions payloads, in order of arrival
        self.orders = {}         # sender id -> array of the sequence numbers received, in order
        self.reports = {}        # sender id -> tick of the last tick report received from it
        self.sent = []           # (sequence number, monotonic time) of the orders this client sent
        self.reported = None     # tick of the last tick report this client sent
        self.stream = bytearray()  # replay bytes streamed to a spectator
        self.pieces = []         # their sizes, piece by piece
        self.states = [gc.STATE_LOADING]
        self.told = []           # (previous, state, tick) of every next_state of the game
        self.requested = {}      # state -> orders this client had sent when it asked for that state
        self.reported_when_requested = {}  # state -> its last tick report when it asked for that state
        self.ticks_at = {}       # state -> ticks this client had received when that state began
        self.ended = False
        self.warm_up_after = False  # a launch countdown ran in the match making after the game
        self.problems = []       # what could not be decoded or broke the relay's order

    @property
    def last_tick(self):
        return self.ticks[-1] if self.ticks else None

    def problem(self, text):
        if len(self.problems) < MAX_PROBLEMS:
            self.problems.append(text)

    def senders_of_ticks(self):
        """tick_senders with the tick being received."""
        return self.tick_senders + [tuple(self._senders)] if self.ticks else []

    def on_actions(self, body):
        """One relayed actions frame (channel byte, sender, letter 'd', payload); whether it began a tick."""
        sender = SENDER.unpack_from(body, 1)[0]
        payload = body[10:]
        if self.spectator:
            self.problem("relayed actions of %d received by a spectator" % sender)
            return False
        if len(payload) < ACTIONS_HEAD.size:
            self.problem("short actions payload from %d" % sender)
            return False
        self.relay_digest.update(body)
        tick, _, count, size = ACTIONS_HEAD.unpack_from(payload)
        if size != len(payload) - ACTIONS_HEAD.size or size != count * ORDER.size:
            self.problem("tick %d from %d: count %d, size %d, %d bytes" % (tick, sender, count, size,
                                                                         len(payload) - ACTIONS_HEAD.size))
        orders = self.orders.get(sender)
        for offset in range(ACTIONS_HEAD.size, len(payload) - ORDER.size + 1, ORDER.size):
            player, sequence = ORDER.unpack_from(payload, offset)
            if player != sender:
                self.problem("tick %d: order of %d relayed as %d's" % (tick, player, sender))
            orders = self.orders.get(player)
            if orders is None:
                orders = self.orders[player] = array.array("I")
            orders.append(sequence)
        first = not self.ticks or self.ticks[-1] != tick
        if first:
            if self.ticks:
                senders = tuple(self._senders)
                self.tick_senders.append(self._sender_tuples.setdefault(senders, senders))
            self._senders = []
            self.ticks.append(tick)
            self.tick_times.append(time.monotonic())
        self._senders.append(sender)
        if self.relayed is not None:
            self.relayed.append(bytes(payload))
        return first

    def on_tick_report(self, sender, data):
        """A relayed 'g': the ticks a sender reports come one after the other, all with the checksum."""
        if self.spectator:
            self.problem("tick report of %d received by a spectator" % sender)
            return
        if len(data) != REPORT.size:
            self.problem("tick report of %d bytes from %d" % (len(data), sender))
            return
        tick, _, checksum, _ = REPORT.unpack(data)
        last = self.reports.get(sender, -1)
        if tick != last + 1 or checksum != CHECKSUM:
            self.problem("tick report (%d, %#x) from %d after tick %d" % (tick, checksum, sender, last))
        self.reports[sender] = tick

    def on_piece(self, body):
        """A piece of the replay stream: channel byte, a head of 0, the bytes."""
        if not self.spectator:
            self.problem("replay stream piece received by a player")
        head = int.from_bytes(body[1:5], "big")
        if head != 0:
            self.problem("replay stream piece with head %d" % head)
        self.pieces.append(len(body) - 5)
        self.stream += body[5:]


def client_source_address(index):
    """The loopback address the driver's client of that index connects from: one of its own, as players
    come from machines of their own (the server lets one address have only a few connections that have
    not identified themselves yet, so a crowd from one address would be turned away)."""
    return "127.2.%d.%d" % (index // 250, index % 250 + 1)


class DrivenClient(asyncio.Protocol):
    def __init__(self, driver, player_id):
        self.driver = driver
        self.player_id = player_id
        self.user_session_id = None
        self.admission = None
        self.spectator = None
        self.state = None
        self.local = None
        self.games = []
        self.removals = []       # last packets (reason) and close events: nobody is removed in a good run
        self.departures = []     # player ids of left events (kind 2) received
        self.player_numbers = {}  # user session id -> player number
        self.problems = []       # frames that could not be read, outside any game
        self._command_ticks = 0
        self._asked_debriefing = False
        self._transport = None
        self._buffer = bytearray()
        self._closing = False
        self._closed = None

    @property
    def admitted(self):
        return self.user_session_id is not None

    @property
    def game(self):
        return self.games[-1] if self.games else None

    def played(self, index):
        """Whether the client was a player of the game (not a spectator, and there from its start)."""
        return len(self.games) > index and self.games[index] is not None and not self.games[index].spectator

    def problem(self, text):
        if self.game is not None:
            self.game.problem(text)
        elif len(self.problems) < MAX_PROBLEMS:
            self.problems.append(text)

    # -- the connection --

    async def connect(self, port, source="127.0.0.1"):
        loop = asyncio.get_running_loop()
        self._closed = loop.create_future()
        await loop.create_connection(lambda: self, "127.0.0.1", port, local_addr=(source, 0))
        self._send(gc.encode_connect(self.player_id, TICKET, self.driver.version, password=self.driver.password))

    def connection_made(self, transport):
        self._transport = transport
        self.local = "%s:%d" % transport.get_extra_info("sockname")[:2]

    def connection_lost(self, error):
        if not self._closing:
            if error is not None:
                self.removals.append({"event": "error", "reason": repr(error)})
            self.removals.append({"event": "closed", "by": "server"})
        if not self._closed.done():
            self._closed.set_result(None)
        self.driver.notify()

    async def close(self):
        self._closing = True
        if self._transport is not None:
            self._transport.close()
            await self._closed

    def _send(self, data):
        if self._transport is not None and not self._transport.is_closing():
            self._transport.write(data)

    def data_received(self, data):
        buffer = self._buffer
        buffer += data
        position, size = 0, len(buffer)
        while size - position >= 2:
            length = FRAME_LENGTH.unpack_from(buffer, position)[0]
            if size - position - 2 < length:
                break
            body = bytes(buffer[position + 2:position + 2 + length])
            position += 2 + length
            try:
                self._on_frame(body)
            except (ValueError, IndexError, KeyError, struct.error) as error:
                # A frame the checks cannot even read is a failure of its own, not a lost connection.
                self.problem("frame %s: %r" % (body.hex(), error))
        del buffer[:position]
        self.driver.notify()

    # -- what arrives --

    def _on_frame(self, body):
        channel = body[0]
        if channel == gc.CHANNEL_GAME_DATA:
            self._on_game_data(body)
        elif channel == gc.CHANNEL_REPLAY_STREAM:
            # The last pieces of a replay may come after the return to match making.
            if self.game is not None:
                self.game.on_piece(body)
            else:
                self.problem("replay stream piece outside a game")
        else:
            event = gc.decode_server_frame(body)
            name = event.get("name")
            if name == "system" and event["command"] == gc.PING_REQUEST:
                self._send(gc.encode_system(gc.PING_ANSWER, event["value"]))
            elif name == "admission":
                if self.admitted:
                    self.problem("second admission answer %r" % event)
                    return
                self.admission = event
                self.user_session_id = event["user_session_id"]
                self.spectator = event["spectator"]
                self.state = event["state"]
                if self.spectator and self.state in gc.RUNNING_STATES:
                    # Admitted during a game: it watches the rest of the game the players are in.
                    current = max((len(client.games) for client in self.driver.players), default=1)
                    self.games += [None] * (current - 1 - len(self.games))
                    self.games.append(GameRecord(True))
            elif name == "next_state":
                self._on_next_state(event["previous"], event["state"], event["tick"])
            elif name == "state_timer":
                game = self.game
                if (game is not None and game.ended and event["state"] == gc.STATE_MATCH_MAKING
                        and event["time_left"] != NO_LIMIT):
                    game.warm_up_after = True
            elif name == "last_packet":
                self.removals.append({"event": "last_packet", "reason": event["reason"],
                                      "reason_name": event["reason_name"]})
            elif name == "client_event" and event["kind"] == 2:
                self.departures.append(event["player_id"])
            elif name == "player_numbers":
                self.player_numbers = dict(event["pairs"])
            elif event.get("event") == "undecodable":
                self.problem("undecodable frame: %r" % event)

    def _on_next_state(self, previous, state, tick):
        self.state = state
        if state == gc.STATE_LOADING:
            self.games.append(GameRecord(bool(self.spectator), keep_relays=self.player_id == self.driver.reference))
            self._command_ticks = 0
            self._asked_debriefing = False
        if self.game is not None and not self.game.ended:
            self.game.told.append((previous, state, tick))
            if state != gc.STATE_LOADING:
                self.game.states.append(state)
                self.game.ticks_at[state] = len(self.game.ticks)
            if state == gc.STATE_MATCH_MAKING:
                self.game.ended = True
        if state == gc.STATE_MATCH_MAKING:
            # Everyone is a player again in match making.
            self.spectator = False
        if self.spectator:
            return
        # The debriefing is left on its first tick, so that a tick is known to have run after every order
        # sent before the request for it (see orders_due).
        if state in gc.NEXT_REQUEST and state != gc.STATE_DEBRIEFING:
            self._request_state(gc.NEXT_REQUEST[state])

    def _request_state(self, state):
        if self.game is not None:
            self.game.requested[state] = len(self.game.sent)
            self.game.reported_when_requested[state] = self.game.reported
        self._send(gc.encode_state_request(state))

    def _on_game_data(self, body):
        game = self.game
        if game is None or game.ended:
            return
        letter = body[9] if len(body) > 9 else None
        if letter == LETTER_ORDERS:
            if game.on_actions(body) and not self.spectator and self.state in gc.RUNNING_STATES:
                self._on_tick(game, game.ticks[-1])
        elif letter == LETTER_TICK_REPORT:
            game.on_tick_report(SENDER.unpack_from(body, 1)[0], body[10:])
        else:
            game.problem("unexpected relayed message %s" % body.hex())

    def _on_tick(self, game, tick):
        sequence = len(game.sent) + 1
        game.sent.append((sequence, time.monotonic()))
        game.reported = tick
        self._send(gc.encode_game_message("d", ORDER.pack(self.player_id, sequence))
                   + gc.encode_game_message("g", gc.tick_report_data(tick, CHECKSUM)))
        if self.state == gc.STATE_DEBRIEFING and gc.STATE_MATCH_MAKING not in game.requested:
            self._request_state(gc.STATE_MATCH_MAKING)
        if self.state == gc.STATE_COMMAND and not self._asked_debriefing:
            self._command_ticks += 1
            limit = self.driver.command_ticks
            if limit is not None and self._command_ticks >= limit:
                self._asked_debriefing = True
                self._request_state(gc.STATE_DEBRIEFING)
        if self.driver.game_ticks is not None and tick == self.driver.game_ticks - 1:
            if self.state != gc.STATE_COMMAND:
                game.problem("last tick %d in state %s, not in the command phase" % (tick, self.state))
            elif not self._asked_debriefing:
                self._asked_debriefing = True
                self._request_state(gc.STATE_DEBRIEFING)


class GameDriver:
    def __init__(self, port, player_ids, command_ticks=25, version="1.0", game_ticks=None, password="",
                 reference=None):
        """game_ticks: the players ask for the debriefing on the game's tick game_ticks - 1 (then in its
        command phase), whatever command_ticks says. reference: the player whose records keep every
        relayed actions payload for the replay's check (the first player by default)."""
        self.port = port
        self.player_ids = list(player_ids)
        self.command_ticks = command_ticks
        self.game_ticks = game_ticks
        self.version = version
        self.password = password
        self.reference = self.player_ids[0] if reference is None else reference
        self.clients = []
        self._changed = asyncio.Event()

    def end_command(self, after=0):
        """Players leave the command phase after `after` more of its ticks (with `command_ticks` None
        they stay in it until this is called)."""
        self.command_ticks = min((client._command_ticks for client in self.players), default=0) + after

    def notify(self):
        self._changed.set()

    async def wait_until(self, predicate, timeout, what):
        """Waits until predicate() is true, rechecked after the frames any client receives."""
        deadline = time.monotonic() + timeout
        while not predicate():
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("%s: not within %.1f s; %s" % (what, timeout, self.describe()))
            self._changed.clear()
            try:
                await asyncio.wait_for(self._changed.wait(), min(left, 0.5))
            except asyncio.TimeoutError:
                pass

    def describe(self, limit=8):
        parts = []
        for client in self.clients[:limit]:
            game = client.game
            parts.append("%d: state %s, spectator %s, games %d, last tick %s, removals %s" % (
                client.player_id, client.state, client.spectator, len(client.games),
                game.last_tick if game else None, client.removals))
        if len(self.clients) > limit:
            parts.append("%d more clients" % (len(self.clients) - limit))
        return "; ".join(parts)

    @property
    def players(self):
        return [client for client in self.clients if client.player_id in self.player_ids]

    async def add_client(self, player_id):
        """Connects one more client and sends its connect packet; admission is not awaited."""
        client = DrivenClient(self, player_id)
        self.clients.append(client)
        await client.connect(self.port, client_source_address(len(self.clients) - 1))
        return client

    async def add_clients(self, player_ids, timeout=30.0, what="admission"):
        """Connects clients at once and waits for their admission."""
        clients = await asyncio.gather(*(self.add_client(player_id) for player_id in player_ids))
        await self.wait_until(lambda: all(client.admitted for client in clients), timeout, what)
        return clients

    async def connect_players(self, timeout=30.0):
        await self.add_clients(self.player_ids, timeout)

    async def wait_for_game_start(self, index, timeout=60.0):
        await self.wait_until(lambda: all(len(client.games) > index for client in self.players), timeout,
                              "start of game %d" % index)

    async def wait_for_ticks(self, index, count, timeout=30.0):
        """Until every player has received count ticks of the game."""
        await self.wait_until(lambda: all(len(client.games) > index and len(client.games[index].ticks) >= count
                                          for client in self.players), timeout, "%d ticks of game %d" % (count, index))

    async def wait_for_game_end(self, index, timeout=60.0, clients=None):
        """Until the players (or the clients given) are back in match making after the game."""
        clients = self.players if clients is None else clients
        await self.wait_until(lambda: all(len(client.games) > index and client.games[index].ended
                                          for client in clients), timeout, "end of game %d" % index)

    async def close(self):
        await asyncio.gather(*(client.close() for client in self.clients))

    # -- checks --

    def tick_count(self, index):
        """The ticks of the game received so far by the player that received the most."""
        return max((len(client.games[index].ticks) for client in self.players if len(client.games) > index),
                   default=0)

    def largest_tick_gap(self, index):
        """The longest wait in seconds between two ticks of the game, over every player."""
        gaps = [later - earlier for client in self.players for earlier, later in
                zip(client.games[index].tick_times, client.games[index].tick_times[1:])]
        return max(gaps, default=0.0)

    def ticks_between(self, index, start, end):
        """Ticks that any player received between two monotonic times."""
        return [tick for client in self.players for tick, at in zip(client.games[index].ticks,
                                                                    client.games[index].tick_times)
                if start < at < end]

    def check_nobody_removed(self, clients=None):
        """No client (of the list given, or of all) was sent away, saw another leave or got a frame it
        could not read outside a game."""
        clients = self.clients if clients is None else clients
        problems = ["%d: %s" % (client.player_id, client.removals) for client in clients if client.removals]
        problems += ["%d saw %s leave" % (client.player_id, client.departures) for client in clients
                     if client.departures]
        problems += ["%d: %s" % (client.player_id, client.problems) for client in clients if client.problems]
        if problems:
            raise AssertionError("clients removed: " + "; ".join(problems))

    def check_game(self, index, replay_bytes=None, whole_streams=False):
        """Every tick from 0 to the last reached every player once, with one actions packet of each
        player, and every player received the same relayed bytes; every order a player sent before the
        debriefing's first tick reached every player exactly once and in order; every tick report reached
        every player, in order and with the shared checksum; the replay holds every tick with the
        actions relayed, one of each player, and the phase changes the players were told of; spectators
        received a stream that the saved replay continues (or, whole_streams, the saved replay itself,
        in whole pieces while they were behind). The ticks of the game are returned."""
        players = [client for client in self.clients if client.played(index)]
        if not players:
            raise AssertionError("nobody played game %d" % index)
        games = {client.player_id: client.games[index] for client in players}
        problems = ["%d: %s" % (pid, game.problems) for pid, game in games.items() if game.problems]
        senders = sorted(games)
        expected = tuple(senders)
        last = max(game.last_tick if game.last_tick is not None else -1 for game in games.values())
        if last < 1:
            problems.append("game %d has %d ticks" % (index, last + 1))
        for pid, game in games.items():
            if game.ticks != list(range(last + 1)):
                problems.append("%d received ticks %s" % (pid, _runs(game.ticks)))
            for tick, tick_senders in zip(game.ticks, game.senders_of_ticks()):
                if tuple(sorted(tick_senders)) != expected:
                    problems.append("%d got tick %d from %s" % (pid, tick, list(tick_senders)))
                    break
        reference = games.get(self.reference)
        if reference is None or reference.relayed is None:
            problems.append("the reference player %d did not play game %d" % (self.reference, index))
        digest = (reference or games[senders[0]]).relay_digest.digest()
        for pid, game in games.items():
            if game.relay_digest.digest() != digest:
                problems.append("%d and %d received different actions" % (pid, self.reference))
        for sender in senders:
            own = games[sender]
            must = self.orders_due(own)
            if not must:
                problems.append("no tick came after any state request of %d: its orders cannot be checked" % sender)
            counts = set()
            for pid, game in games.items():
                received = list(game.orders.get(sender, ()))
                counts.add(len(received))
                if received != list(range(1, len(received) + 1)):
                    problems.append("%d received the orders of %d as %s" % (pid, sender, _runs(received)))
                if len(received) < must or len(received) > len(own.sent):
                    problems.append("%d received %d orders of %d, which sent %d (%d due)"
                                    % (pid, len(received), sender, len(own.sent), must))
                # Tick reports are relayed as they come, while the game runs: every one sent before the
                # sender asked to leave the debriefing (its request follows them on the connection), the
                # last one sent included when the game was still running as it arrived. A report
                # answering a debriefing tick after that request may reach the server once the last
                # player's request has ended the game, and is then not relayed.
                got = game.reports.get(sender)
                due = own.reported_when_requested.get(gc.STATE_MATCH_MAKING, own.reported)
                if (got is None or due is None or not due <= got <= own.reported) and got != own.reported:
                    problems.append("%d received the tick reports of %d up to tick %s, which reported up to %s"
                                    " (%s due)" % (pid, sender, got, own.reported, due))
            if len(counts) > 1:
                problems.append("the orders of %d reached the players in different numbers %s" % (sender, counts))
        spectators = [client.games[index] for client in self.clients
                      if len(client.games) > index and client.games[index] is not None
                      and client.games[index].spectator]
        problems += ["spectator: %s" % game.problems for game in spectators if game.problems]
        if replay_bytes is not None and reference is not None and reference.relayed is not None:
            problems += self._check_replay(index, reference, len(senders), last, replay_bytes, whole_streams)
        if problems:
            raise AssertionError("game %d: %s" % (index, "\n".join(problems[:20])))
        return last + 1

    @staticmethod
    def orders_due(game):
        """How many of its orders a player's game must have relayed. The server reads a connection's frames
        in order, so the orders sent before a state request were in the sender's action buffer when that
        request was read; the state began only once every player had asked for it (the phases here end by
        the players' requests, not by their countdowns), and a tick that the sender received after that
        state's next_state frame ran after it, so it carried them. Later orders may miss the game's last
        tick without anything being wrong."""
        due = [game.requested[state] for state in game.requested
               if state in game.ticks_at and len(game.ticks) > game.ticks_at[state]]
        return max(due, default=0)

    def _check_replay(self, index, reference, player_count, last, data, whole_streams):
        replay = replay_reader.read_replay(data)
        problems = ["replay: %s" % problem for problem in replay.problems]
        if not replay.digest_ok:
            problems.append("replay digest does not match")
        ticks = [tick["tick"] for tick in replay.ticks]
        if ticks != list(range(last + 1)):
            problems.append("replay ticks %s, relayed 0 to %d" % (_runs(ticks), last))
        pacts = [payload for tag, _, payload in replay.chunks if tag == replay_reader.TAG_ACTIONS]
        if pacts != reference.relayed:
            problems.append("the replay's %d 'pact' chunks differ from the %d relayed actions"
                            % (len(pacts), len(reference.relayed)))
        changes = []
        for tick in replay.ticks:
            number = tick["tick"]
            actions = tick["actions"]
            if ({action["tick"] for action in actions} != {number}
                    or sorted(action["player_number"] for action in actions) != list(range(player_count))):
                problems.append("replay tick %d holds the actions of ticks %s and players %s" % (
                    number, sorted({action["tick"] for action in actions}),
                    sorted(action["player_number"] for action in actions)))
            end = tick["end"]
            if end is not None and (end["tick"], end["departed"]) != (number, []):
                problems.append("replay tick %d ends as tick %d with %s departed" % (number, end["tick"],
                                                                                    end["departed"]))
            for record in tick["records"]:
                if record["kind"] not in (replay_reader.STATE_CHANGE, replay_reader.STATE_TIMER):
                    problems.append("replay tick %d: record of kind %d" % (number, record["kind"]))
                elif record["values"][4] != number:
                    problems.append("replay tick %d: record %r of another tick" % (number, record))
                elif record["kind"] == replay_reader.STATE_CHANGE:
                    changes.append((record["values"][1], record["values"][2], number))
        # The changes during the recording, at the ticks the players were told of them; the debriefing
        # and the return to match making may come after the last tick the replay holds.
        told = [change for change in reference.told
                if change[1] != gc.STATE_LOADING and change[2] < len(replay.ticks)]
        if changes != told:
            problems.append("the replay's phase changes %s are not those told %s" % (changes, told))
        elif [change[:2] for change in changes[:2]] != [(gc.STATE_LOADING, gc.STATE_DEPLOYMENT),
                                                        (gc.STATE_DEPLOYMENT, gc.STATE_COMMAND)]:
            problems.append("the replay's phase changes begin with %s" % changes[:2])
        for client in self.clients:
            if len(client.games) > index and client.games[index] is not None and client.games[index].spectator:
                problems += self._check_stream(client.player_id, client.games[index], data, whole_streams)
        return problems

    @staticmethod
    def _check_stream(player_id, game, data, whole):
        """A spectator got the replay from its first byte, one piece a tick of at most 4064 bytes, whole
        ones while it was behind; whole: it caught up, and it got all of it unless the last ticks added
        more than a piece each (a loaded machine's late orders do), when it was still taking whole
        pieces at the end."""
        stream = bytes(game.stream)
        if (len(stream) <= CONTAINER_HEADER or stream[:8] != data[:8]
                or data[CONTAINER_HEADER:len(stream)] != stream[CONTAINER_HEADER:]):
            return ["spectator %d: %d streamed bytes are not the replay's start" % (player_id, len(stream))]
        caught_up = next((i for i, size in enumerate(game.pieces) if size < LARGEST_PIECE), len(game.pieces))
        if any(size != LARGEST_PIECE for size in game.pieces[:caught_up]) or any(
                size > LARGEST_PIECE for size in game.pieces[caught_up:]):
            return ["spectator %d: pieces of %s bytes" % (player_id, game.pieces[:40])]
        if whole and caught_up == len(game.pieces):
            return ["spectator %d never caught up with the replay" % player_id]
        if whole and len(stream) != len(data) and game.pieces[-1] != LARGEST_PIECE:
            return ["spectator %d: %d streamed bytes, the replay has %d" % (player_id, len(stream), len(data))]
        return []


def _runs(numbers):
    """A list of numbers as runs, "0-41, 43-50", so a gap or repeat shows in a short text."""
    runs = []
    for number in numbers:
        if runs and number == runs[-1][1] + 1:
            runs[-1][1] = number
        else:
            runs.append([number, number])
    return ", ".join("%d-%d" % (a, b) if a != b else "%d" % a for a, b in runs)
