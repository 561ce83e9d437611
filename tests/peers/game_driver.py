"""Drives whole games against the dedicated server over raw sockets: N players, and spectators admitted
while a game runs, each with a light client state of its own, and the checks of what every client saw.

Each player answers pings, follows the phases by asking for the next state (52 in loading, 53 in
deployment, 101 after `command_ticks` ticks of the command phase, 0 on the first tick of the debriefing)
and, on every tick
it receives while the game runs, sends one 'd' order carrying its player id and a sequence number that
starts at 1 with each game, then a 'g' report of that tick with a checksum all players share.

    driver = GameDriver(port, [11, 12, 13, 14], command_ticks=25)   # None: until driver.end_command()
    await driver.connect_players()             # every player admitted
    await driver.wait_for_game_start(0)        # next_state 51 of the first game seen by every player
    await driver.wait_for_game_end(0)          # back to match making
    driver.check_game(0, replay_bytes)         # AssertionError naming what went wrong
    driver.check_nobody_removed()
    await driver.close()

Built for many clients (a soak of 56 players): the relays of channel 194 are decoded with struct alone, and
each client keeps per game only the tick numbers, their arrival times and the relayed orders.
"""

import asyncio
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import game_client as gc  # noqa: E402
import replay_reader  # noqa: E402
import wire  # noqa: E402

# One order: the sender's player id and its sequence number in the game, little-endian as the actions
# payload is.
ORDER = struct.Struct("<QI")
ACTIONS_HEAD = struct.Struct("<IIIH")
SENDER = struct.Struct(">Q")
TICKET = bytes(range(128))
CHECKSUM = 0x5EED5EED
LETTER_ORDERS = ord("d")
# The container's header (magic, version, size and digest) is written again when the replay is saved,
# so a spectator's stream is compared with the file after it.
CONTAINER_HEADER = 40


class GameRecord:
    """What one client saw of one game, from its next_state 51 to its next_state 0."""

    def __init__(self, spectator):
        self.spectator = spectator
        self.ticks = []          # tick numbers in order of arrival, one entry per tick
        self.tick_times = []     # monotonic arrival time of each tick's first relay
        self.relays = {}         # tick -> [(sender id, player number, actions bytes)] in arrival order
        self.orders = {}         # sender id -> sequence numbers received, in order
        self.sent = []           # (sequence number, monotonic time) of the orders this client sent
        self.stream = bytearray()  # replay bytes streamed to a spectator
        self.states = [gc.STATE_LOADING]
        self.requested = {}      # state -> orders this client had sent when it asked for that state
        self.ticks_at = {}       # state -> ticks this client had received when that state began
        self.ended = False
        self.problems = []       # what could not be decoded

    @property
    def last_tick(self):
        return self.ticks[-1] if self.ticks else None


class DrivenClient:
    def __init__(self, driver, player_id):
        self.driver = driver
        self.player_id = player_id
        self.user_session_id = None
        self.spectator = None
        self.state = None
        self.local = None
        self.games = []
        self.removals = []       # last packets (reason) and close events: nobody is removed in a good run
        self.departures = []     # player ids of left events (kind 2) received
        self.player_numbers = {}  # user session id -> player number
        self._command_ticks = 0
        self._asked_debriefing = False
        self._reader = None
        self._writer = None
        self._task = None
        self._closing = False

    @property
    def admitted(self):
        return self.user_session_id is not None

    @property
    def game(self):
        return self.games[-1] if self.games else None

    def played(self, index):
        """Whether the client was a player of the game (not a spectator, and there from its start)."""
        return len(self.games) > index and self.games[index] is not None and not self.games[index].spectator

    async def connect(self, port):
        self._reader, self._writer = await asyncio.open_connection("127.0.0.1", port)
        self.local = "%s:%d" % self._writer.get_extra_info("sockname")[:2]
        self._task = asyncio.ensure_future(self._receive())
        await self._send(gc.encode_connect(self.player_id, TICKET, self.driver.version))

    async def close(self):
        self._closing = True
        if self._writer is not None and not self._writer.is_closing():
            self._writer.close()
            try:
                await self._writer.wait_closed()
            except OSError:
                pass
        if self._task is not None:
            await asyncio.gather(self._task, return_exceptions=True)

    async def _send(self, data):
        if self._writer.is_closing():
            return
        self._writer.write(data)
        await self._writer.drain()

    async def _receive(self):
        try:
            while True:
                body = await wire.read_frame(self._reader)
                if body is None:
                    break
                await self._on_frame(body)
                self.driver.notify()
        except (wire.FrameError, ConnectionError, OSError) as error:
            if not self._closing:
                self.removals.append({"event": "error", "reason": repr(error)})
        if not self._closing:
            self.removals.append({"event": "closed", "by": "server"})
        self.driver.notify()

    async def _on_frame(self, body):
        channel = body[0]
        if channel == gc.CHANNEL_GAME_DATA:
            await self._on_game_data(body)
        elif channel == gc.CHANNEL_REPLAY_STREAM:
            if self.game is not None and len(body) >= 5:
                self.game.stream += body[5:]
        else:
            event = gc.decode_server_frame(body)
            name = event.get("name")
            if name == "system" and event["command"] == gc.PING_REQUEST:
                await self._send(gc.encode_system(gc.PING_ANSWER, event["value"]))
            elif name == "admission":
                self.user_session_id = event["user_session_id"]
                self.spectator = event["spectator"]
                self.state = event["state"]
                if self.spectator and self.state in gc.RUNNING_STATES:
                    # Admitted during a game: it watches the rest of the game the players are in.
                    current = max((len(client.games) for client in self.driver.players), default=1)
                    self.games += [None] * (current - 1 - len(self.games))
                    self.games.append(GameRecord(True))
            elif name == "next_state":
                await self._on_next_state(event["state"])
            elif name == "last_packet":
                self.removals.append({"event": "last_packet", "reason": event["reason"],
                                      "reason_name": event["reason_name"]})
            elif name == "client_event" and event["kind"] == 2:
                self.departures.append(event["player_id"])
            elif name == "player_numbers":
                self.player_numbers = dict(event["pairs"])

    async def _on_next_state(self, state):
        self.state = state
        if state == gc.STATE_LOADING:
            self.games.append(GameRecord(bool(self.spectator)))
            self._command_ticks = 0
            self._asked_debriefing = False
        elif self.game is not None and not self.game.ended:
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
            await self._request_state(gc.NEXT_REQUEST[state])

    async def _request_state(self, state):
        if self.game is not None:
            self.game.requested[state] = len(self.game.sent)
        await self._send(gc.encode_state_request(state))

    async def _on_game_data(self, body):
        game = self.game
        if game is None or game.ended or len(body) < 10 or body[9] != LETTER_ORDERS:
            return
        sender = SENDER.unpack_from(body, 1)[0]
        payload = body[10:]
        if len(payload) < ACTIONS_HEAD.size:
            game.problems.append("short actions payload from %d" % sender)
            return
        tick, number, count, size = ACTIONS_HEAD.unpack_from(payload)
        actions = bytes(payload[ACTIONS_HEAD.size:])
        if size != len(actions) or size != count * ORDER.size:
            game.problems.append("tick %d from %d: count %d, size %d, %d bytes" % (tick, sender, count, size,
                                                                                 len(actions)))
        for offset in range(0, len(actions) - ORDER.size + 1, ORDER.size):
            player, sequence = ORDER.unpack_from(actions, offset)
            if player != sender:
                game.problems.append("tick %d: order of %d relayed as %d's" % (tick, player, sender))
            game.orders.setdefault(player, []).append(sequence)
        first = not game.ticks or game.ticks[-1] != tick
        if first:
            game.ticks.append(tick)
            game.tick_times.append(time.monotonic())
            game.relays[tick] = []
        game.relays.setdefault(tick, []).append((sender, number, actions))
        if first and not self.spectator and self.state in gc.RUNNING_STATES:
            await self._on_tick(game, tick)

    async def _on_tick(self, game, tick):
        sequence = len(game.sent) + 1
        game.sent.append((sequence, time.monotonic()))
        await self._send(gc.encode_game_message("d", ORDER.pack(self.player_id, sequence))
                         + gc.encode_game_message("g", gc.tick_report_data(tick, CHECKSUM)))
        if self.state == gc.STATE_DEBRIEFING and gc.STATE_MATCH_MAKING not in game.requested:
            await self._request_state(gc.STATE_MATCH_MAKING)
        if self.state == gc.STATE_COMMAND and not self._asked_debriefing:
            self._command_ticks += 1
            limit = self.driver.command_ticks
            if limit is not None and self._command_ticks >= limit:
                self._asked_debriefing = True
                await self._request_state(gc.STATE_DEBRIEFING)


class GameDriver:
    def __init__(self, port, player_ids, command_ticks=25, version="1.0"):
        self.port = port
        self.player_ids = list(player_ids)
        self.command_ticks = command_ticks
        self.version = version
        self.clients = []
        self._changed = asyncio.Event()

    def end_command(self, after=0):
        """Players leave the command phase after `after` more of its ticks (with `command_ticks` None
        they stay in it until this is called)."""
        self.command_ticks = min((client._command_ticks for client in self.players), default=0) + after

    def notify(self):
        self._changed.set()

    async def wait_until(self, predicate, timeout, what):
        """Waits until predicate() is true, rechecked after every frame any client receives."""
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

    def describe(self):
        parts = []
        for client in self.clients:
            game = client.game
            parts.append("%d: state %s, spectator %s, games %d, last tick %s, removals %s" % (
                client.player_id, client.state, client.spectator, len(client.games),
                game.last_tick if game else None, client.removals))
        return "; ".join(parts)

    @property
    def players(self):
        return [client for client in self.clients if client.player_id in self.player_ids]

    async def add_client(self, player_id):
        """Connects one more client and sends its connect packet; admission is not awaited."""
        client = DrivenClient(self, player_id)
        self.clients.append(client)
        await client.connect(self.port)
        return client

    async def connect_players(self, timeout=30.0):
        for player_id in self.player_ids:
            await self.add_client(player_id)
        await self.wait_until(lambda: all(client.admitted for client in self.players), timeout, "admission")

    async def wait_for_game_start(self, index, timeout=60.0):
        await self.wait_until(lambda: all(len(client.games) > index for client in self.players), timeout,
                              "start of game %d" % index)

    async def wait_for_ticks(self, index, count, timeout=30.0):
        """Until every player has received count ticks of the game."""
        await self.wait_until(lambda: all(len(client.games) > index and len(client.games[index].ticks) >= count
                                          for client in self.players), timeout, "%d ticks of game %d" % (count, index))

    async def wait_for_game_end(self, index, timeout=60.0):
        await self.wait_until(lambda: all(len(client.games) > index and client.games[index].ended
                                          for client in self.players), timeout, "end of game %d" % index)

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
        """No client (of the list given, or of all) was sent away or saw another leave."""
        clients = self.clients if clients is None else clients
        problems = ["%d: %s" % (client.player_id, client.removals) for client in clients if client.removals]
        problems += ["%d saw %s leave" % (client.player_id, client.departures) for client in clients
                     if client.departures]
        if problems:
            raise AssertionError("clients removed: " + "; ".join(problems))

    def check_game(self, index, replay_bytes=None):
        """Every tick from 0 to the last reached every player once, with one actions packet of each
        player; every order a player sent before the next-to-last tick reached every player exactly once
        and in order; the replay holds every tick with the same actions; spectators received a stream
        that the saved replay continues."""
        players = [client for client in self.clients if client.played(index)]
        if not players:
            raise AssertionError("nobody played game %d" % index)
        games = {client.player_id: client.games[index] for client in players}
        problems = ["%d: %s" % (pid, game.problems) for pid, game in games.items() if game.problems]
        senders = sorted(games)
        last = max(game.last_tick if game.last_tick is not None else -1 for game in games.values())
        if last < 1:
            problems.append("game %d has %d ticks" % (index, last + 1))
        for pid, game in games.items():
            if game.ticks != list(range(last + 1)):
                problems.append("%d received ticks %s" % (pid, _runs(game.ticks)))
            for tick, relays in game.relays.items():
                if sorted(sender for sender, _, _ in relays) != senders:
                    problems.append("%d got tick %d from %s" % (pid, tick, [s for s, _, _ in relays]))
        reference = games[senders[0]]
        for pid, game in games.items():
            if game.relays != reference.relays:
                problems.append("%d and %d received different actions" % (pid, senders[0]))
        for sender in senders:
            own = games[sender]
            must = self.orders_due(own)
            if not must:
                problems.append("no tick came after any state request of %d: its orders cannot be checked" % sender)
            counts = set()
            for pid, game in games.items():
                received = game.orders.get(sender, [])
                counts.add(len(received))
                if received != list(range(1, len(received) + 1)):
                    problems.append("%d received the orders of %d as %s" % (pid, sender, _runs(received)))
                if len(received) < must or len(received) > len(own.sent):
                    problems.append("%d received %d orders of %d, which sent %d (%d due)"
                                    % (pid, len(received), sender, len(own.sent), must))
            if len(counts) > 1:
                problems.append("the orders of %d reached the players in different numbers %s" % (sender, counts))
        if replay_bytes is not None:
            problems += self._check_replay(index, reference, last, replay_bytes)
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

    def _check_replay(self, index, reference, last, data):
        replay = replay_reader.read_replay(data)
        problems = ["replay: %s" % problem for problem in replay.problems]
        if not replay.digest_ok:
            problems.append("replay digest does not match")
        ticks = [tick["tick"] for tick in replay.ticks]
        if ticks != list(range(last + 1)):
            problems.append("replay ticks %s, relayed 0 to %d" % (_runs(ticks), last))
        for tick in replay.ticks:
            recorded = sorted((action["player_number"], action["actions"]) for action in tick["actions"])
            relayed = sorted((number, actions) for _, number, actions in reference.relays.get(tick["tick"], []))
            if recorded != relayed:
                problems.append("replay tick %d differs from the relayed one" % tick["tick"])
                break
        for client in self.clients:
            if len(client.games) > index and client.games[index] is not None and client.games[index].spectator:
                stream = bytes(client.games[index].stream)
                if len(stream) <= CONTAINER_HEADER or data[CONTAINER_HEADER:len(stream)] != stream[CONTAINER_HEADER:]:
                    problems.append("spectator %d: %d streamed bytes are not the replay's start"
                                    % (client.player_id, len(stream)))
        return problems


def _runs(numbers):
    """A list of numbers as runs, "0-41, 43-50", so a gap or repeat shows in a short text."""
    runs = []
    for number in numbers:
        if runs and number == runs[-1][1] + 1:
            runs[-1][1] = number
        else:
            runs.append([number, number])
    return ", ".join("%d-%d" % (a, b) if a != b else "%d" % a for a, b in runs)
