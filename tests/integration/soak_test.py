"""The relay under load against the real server binary: one asyncio process drives 56 players and 8
spectators through a whole game (match making, loading, deployment, command, debriefing, match making
again), with the game driver of tests/peers. On every tick it receives, each player sends one order
carrying (its player id, a sequence number) and a tick report with the checksum every player shares; the
spectators join in the command phase; on the game's last tick the players ask for the debriefing, then,
on the debriefing's first tick, for match making.

Checked (by the driver, but for the soak's own settings): every order sent before the debriefing, and
every tick report, reaches every player exactly once and in order; no tick is missing or repeated and
each brings one actions packet per player; every player received the same relayed bytes; the saved
replay holds every tick with its 56 'pact' chunks equal to what was relayed, and the phase changes at
the ticks the players were told of them; the spectators' streams equal the saved file (bytes 8 to 39
aside: the size and the digest are written at the save); nobody was removed; once everyone has left,
the server holds as many descriptors as before the game; a second short game plays normally; and the
server then exits cleanly.

ORV_SOAK_TICKS sets the ticks of the first game (300 by default; `make soak` passes SOAK_TICKS).
"""

import asyncio
import collections
import os
import signal
import time
import unittest

import harness
import replay_reader
import udp_query
from game_client import STATE_COMMAND, STATE_DEBRIEFING, STATE_MATCH_MAKING
import game_driver
from game_driver import GameDriver
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
NO_LIMIT = str(game_driver.NO_LIMIT)
# Phase times are only a backstop: the players ask for the next phase at once. The warm-up leaves the
# test time to let everyone leave after the game before the next launch starts a loading phase.
# The password shows that the replay's header leaves hidden properties out.
PASSWORD = "soak"
VARIABLES_INI = ("NbMaxPlayer=64\nNbMinPlayer=56\nWarmupCountdown=10\nLoadingTimeMax=60\nDeploiementTimeMax=30\n"
                 "DebriefingTimeMax=10\nTimeLimit=0\nPassword=%s\n" % PASSWORD)
# How long admissions, phase changes and the server's clean-up may take, on a loaded CI machine.
STEP_TIMEOUT = 60.0
# What a game left to report and to leave: its driver, the ticks it ran, the orders relayed to each
# player and the size of its replay.
Played = collections.namedtuple("Played", "driver ticks_played orders_relayed replay_size")


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
        # The line comes before the database connection pool (and libcurl's descriptors) is made: a
        # property query answered afterwards says the event loop has come round again, pool made.
        for _ in range(30):
            if await asyncio.to_thread(udp_query.query, self.server.port, b"soak", 1.0) is not None:
                break
        else:
            self.fail("the server answered no property query after its link came up")

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
        """One game of every player, the spectators joining in its command phase; the driver's checks of
        it, and those of the soak's own settings."""
        driver = GameDriver(self.server.port, PLAYER_IDS, command_ticks=None, game_ticks=ticks, password=PASSWORD)
        self.addAsyncCleanup(driver.close)
        mark = self.server.mark()
        await driver.add_clients(PLAYER_IDS, STEP_TIMEOUT, "admission of the players")
        for client in driver.players:
            self.assertEqual((client.admission["spectator"], client.admission["state"]), (False, STATE_MATCH_MAKING))

        await driver.wait_until(lambda: any(client.state == STATE_COMMAND for client in driver.players),
                                STEP_TIMEOUT, "the command phase")
        spectators = await driver.add_clients(SPECTATOR_IDS[:spectator_count], STEP_TIMEOUT,
                                              "admission of the spectators")
        for client in spectators:
            self.assertEqual((client.admission["spectator"], client.admission["state"]), (True, STATE_COMMAND))

        # The game lasts ticks x 200 ms on the server's clock; the rest is slack for a loaded machine.
        await driver.wait_for_game_end(0, ticks * 0.2 * 2 + STEP_TIMEOUT, driver.clients)
        driver.check_nobody_removed()
        removals = [line for line in self.server.output.lines[mark:]
                    if "Disconnecting client" in line or "Rejecting pending client" in line]
        self.assertEqual(removals, [])

        data = await self.saved_replay(replay_number)
        # Every player reported the same checksum: no desync copy.
        self.assertEqual(sorted(path.name for path in (self.server.cwd / "Replays").iterdir()),
                         ["lastreplay%03d.orvgamerpl2" % number for number in range(1, replay_number + 1)])
        played = driver.check_game(0, data, whole_streams=True)
        self.assertGreaterEqual(played, ticks)
        for client in driver.players:
            # One order on each of the game's ticks up to the one that asked for the debriefing.
            self.assertEqual(client.games[0].requested.get(STATE_DEBRIEFING), ticks, "client %d" % client.player_id)
        replay = replay_reader.read_replay(data)
        self.assertEqual(replay.header["game"]["NeedPassword"], "1")
        self.assertNotIn("Password", replay.header["game"])
        self.assertEqual(set(replay.header), {"game"} | {"player_%d" % n for n in range(PLAYERS)})
        await asyncio.to_thread(self.endpoint.wait_for_requests, replay_number, STEP_TIMEOUT)
        reference = driver.players[0].games[0]
        return Played(driver, played, sum(len(orders) for orders in reference.orders.values()), len(data))

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

    # -- helpers --

    async def leave(self, game):
        """Everyone closes; the server lets every user go, and then no launch countdown runs. Leaving is
        put off until the warm-up that the return to match making launched has stepped once: a warm-up
        cancelled before its first step would be stopped only at that step, and players arriving in
        between would find a countdown still running and launch no game."""
        driver = game.driver
        await driver.wait_until(lambda: any(client.game.warm_up_after for client in driver.players), STEP_TIMEOUT,
                                "the warm-up after the game")
        mark = self.server.mark()
        await driver.close()
        for client in driver.clients:
            await self.server.wait_for_line_async("Disconnecting client %d with IP %s (reason : ConnectionLost)"
                                                  % (client.player_id, client.local), timeout=STEP_TIMEOUT, start=mark)
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


if __name__ == "__main__":
    harness.main()
