"""What the tests of whole games share: a server that launches a game by itself once its players
are in, with the shortest phase times it accepts, linked to an in-process match-making peer and
reporting results to an in-process HTTP endpoint, and play-along players.

The players are play-along game clients: each asks for the next phase as soon as one begins, sends
one order and one tick report (all with the same checksum) on every tick it receives, never on a
timer, and asks for the debriefing after a number of ticks of the command phase."""

import asyncio
import struct
import time
import unittest

import harness
from game_client import STATE_COMMAND, STATE_DEBRIEFING, STATE_DEPLOYMENT, STATE_LOADING, STATE_MATCH_MAKING
from http_endpoint import HttpEndpoint

# The server's game id when none is given: the per-game statistics documents are "u24_<id>".
GAME_ID = 24
TICKET = bytes(range(128))
LOGIN, KEY = "game_login", "game_key"
# The shortest warm-up countdown the server accepts.
WARMUP_SECONDS = 10
MAP = "12"
# Ticks of the command phase before the players ask for the debriefing: a few seconds of battle.
COMMAND_TICKS = 15
# What every play-along player reports as its state checksum.
CHECKSUM = 0x600DF00D
PHASES = [(STATE_MATCH_MAKING, STATE_LOADING), (STATE_LOADING, STATE_DEPLOYMENT),
          (STATE_DEPLOYMENT, STATE_COMMAND), (STATE_COMMAND, STATE_DEBRIEFING),
          (STATE_DEBRIEFING, STATE_MATCH_MAKING)]
RESULT_LINE = "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: "
EXIT_SOON = "Server will exit as soon as possible."
EXIT_NOW = "Exiting immediatly."
# Each order a player sends: its user session id, its own count of orders, the tick it answers.
ORDER = struct.Struct("<III")
REPLAY = "Replays/lastreplay001.orvgamerpl2"
DESYNC_REPLAY = "Replays/desync_replay001.orvgamerpl2"
# How long a whole game may take on a loaded machine: countdown, ticks and the debriefing.
GAME_TIMEOUT = 60.0

DATABASE = None


def start_database():
    """The statistics database of a test module, stopped with the module: its setUpModule."""
    global DATABASE
    DATABASE = harness.SharedFixture(unittest.addModuleCleanup).start_pouchdb()


def variables_ini(players):
    """The game launches by itself once `players` are in, with the shortest phase times the server
    accepts; the players end each phase long before by asking for the next one, and the battle has
    no time limit."""
    return ("[server]\nNbMaxPlayer=64\nNbMinPlayer=%d\nWarmupCountdown=%d\nLoadingTimeMax=60\n"
            "DeploiementTimeMax=10\nTimeLimit=0\nDebriefingTimeMax=10\nMap=%s\n" % (players, WARMUP_SECONDS, MAP))


async def saved_replay(server, index=0):
    """The replay of the server's game of that index (its first game is 0), once written whole: its
    size field gives its length. AssertionError when it is not within the default deadline."""
    path = server.cwd / "Replays" / ("lastreplay%03d.orvgamerpl2" % (index + 1))
    deadline = time.monotonic() + harness.DEFAULT_TIMEOUT
    while True:
        data = path.read_bytes() if path.exists() else b""
        if len(data) >= 12 and int.from_bytes(data[8:12], "big") == len(data):
            return data
        if time.monotonic() > deadline:
            raise AssertionError("%s was not saved" % path)
        await asyncio.sleep(0.05)


def frames(client, name, **wanted):
    return [e for e in client.events.events
            if e.get("name") == name and all(e.get(k) == v for k, v in wanted.items())]


def orders_in(relays):
    """The orders that the actions packets hold, in the order relayed."""
    orders = []
    for relay in relays:
        actions = bytes.fromhex(relay["actions"])
        if len(actions) != relay["count"] * ORDER.size:
            raise AssertionError("actions packet of tick %d holds %d bytes for %d orders"
                                 % (relay["tick"], len(actions), relay["count"]))
        orders += [ORDER.unpack_from(actions, at) for at in range(0, len(actions), ORDER.size)]
    return orders


class GameCase(harness.AsyncIntegrationTestCase):
    async def game_server(self, players, *extra, others=()):
        """A server linked to an in-process match-making peer that validates everyone, reading the
        statistics of `players` (and of `others`, who do not count for the launch) from pouchdb and
        reporting results to an in-process endpoint."""
        database = self.database = "game%d" % (id(self) & 0xFFFFFF)
        DATABASE.create_database(database)
        for player in list(players) + list(others):
            for number in (0, GAME_ID):
                DATABASE.put_document(database, "u%d_%d" % (number, player), {})
        self.endpoint = HttpEndpoint()
        self.endpoint.start()
        self.addCleanup(self.endpoint.stop)
        self.peer = await self.start_mms_peer_in_process()
        self.peer.set_on_init("answer", 0, {"StatsURL": DATABASE.url + database + "/"})
        self.peer.set_auto_verdict(0)
        self.server_argv = ("+game_reporting", "http://127.0.0.1:%d/recorddedicatedgame" % self.endpoint.port) + extra
        return await self.restart_game_server(players)

    async def restart_game_server(self, players):
        """The server of game_server started (again) in the same working directory, with the same
        peers."""
        self.server = self.start_server(*self.server_argv, mms_port=self.peer.port, login=LOGIN, key=KEY,
                                        files={"variables.ini": variables_ini(len(players))})
        await self.server.wait_for_line_async(" as CouchDB stats source")
        return self.server

    async def join(self, players, command_ticks=COMMAND_TICKS):
        """Play-along clients admitted one after the other; the last one launches the game."""
        clients = []
        for player in players:
            client = await self.start_game_client_in_process(self.server.port, play_along=True,
                                                             command_ticks=command_ticks, checksum=CHECKSUM)
            await client.send_connect(player, TICKET)
            await client.events.wait_for({"name": "client_event", "kind": 1, "player_id": player},
                                         timeout=harness.DEFAULT_TIMEOUT)
            clients.append(client)
        return clients

    async def wait_for_state(self, clients, previous, state, timeout=GAME_TIMEOUT):
        for client in clients:
            await client.events.wait_for({"name": "next_state", "previous": previous, "state": state}, timeout)

    async def wait_for_file(self, name, timeout=harness.DEFAULT_TIMEOUT):
        path = self.server.cwd / name
        deadline = time.monotonic() + timeout
        while not path.exists():
            if time.monotonic() > deadline:
                self.fail("%s did not appear" % name)
            await asyncio.sleep(0.05)
        return path
