"""The outside peers failing in the middle of a game of four players, against the real server binary:
the match-making peer killed and restarted, pouchdb-server killed and restarted, the result endpoint
killed before the debriefing, and a thousand idle sockets with a flood of property queries. Each time
the game goes on or resumes, every tick and every order reaches every player once and in order, the
replay holds every tick, and no player is removed."""

import asyncio
import os
import sys
import unittest

import harness
import udp_query
from game_driver import GameDriver
from game_play import saved_replay

GAME_ID = 24
PLAYERS = [11, 12, 13, 14]
# The shortest warm-up the server accepts; the game launches itself once the four are in.
VARIABLES = ("NbMinPlayer=4\nWarmupCountdown=10\nLoadingTimeMax=60\nDeploiementTimeMax=60\n"
             "DebriefingTimeMax=10\nTimeLimit=0\n")
# The link is back within this time, well below the 150 s after which silent clients would be dropped.
LINK_BACK_SECONDS = 90
IDLE_SOCKETS = 1000
BATCH = 100
DESCRIPTORS = IDLE_SOCKETS + 200
GAME_START_SECONDS = 45
GAME_END_SECONDS = 90

DATABASE = None


def setUpModule():
    global DATABASE
    DATABASE = harness.SharedFixture(unittest.addModuleCleanup).start_pouchdb()


def seed(database, name, player_ids):
    """A statistics database holding the general and the game document of each player; its URL."""
    database.create_database(name)
    for player in player_ids:
        for number in (0, GAME_ID):
            database.put_document(name, "u%d_%d" % (number, player), {})
    return database.url + name + "/"


def note(text):
    sys.stderr.write("%s\n" % text)
    sys.stderr.flush()


class PeerFaultsTest(harness.AsyncIntegrationTestCase):
    async def start_game(self, url, *extra, mms_port=None, command_ticks=None):
        """A match-making peer (a process), a server and four players in the first game's loading."""
        mms = self.start_mms_peer(*(("--port", mms_port) if mms_port else ()), "--demo", "--stats-url", url)
        server = self.start_server(*extra, mms_port=mms.port, files={"variables.ini": VARIABLES})
        await server.wait_for_line_async(" as CouchDB stats source")
        driver = GameDriver(int(server.port), PLAYERS, command_ticks=command_ticks)
        self.addAsyncCleanup(driver.close)
        await driver.connect_players()
        await driver.wait_for_game_start(0, timeout=GAME_START_SECONDS)
        return mms, server, driver

    async def finish(self, server, driver, index, spectators=()):
        """Lets the players leave the command phase, waits for match making, and checks the game."""
        driver.end_command(after=5)
        await driver.wait_for_game_end(index, timeout=GAME_END_SECONDS)
        ticks = driver.check_game(index, await saved_replay(server, index))
        driver.check_nobody_removed(driver.players + list(spectators))
        removed = [line for line in list(server.output.lines) if line.startswith("Disconnecting client ")]
        self.assertEqual(removed, [])
        return ticks

    async def test_match_making_peer_killed_and_restarted(self):
        url = seed(DATABASE, "mmsfault", PLAYERS)
        mms_port = harness.free_port(udp_too=False)
        mms, server, driver = await self.start_game(url, mms_port=mms_port)
        await driver.wait_for_ticks(0, 10)

        mark = server.mark()
        mms.kill()
        _, _, dropped = await server.wait_for_line_at_async("Disconnected from match making server -> ", start=mark)
        self.start_mms_peer("--port", mms_port, "--demo", "--stats-url", url)
        index, _, _ = await server.wait_for_line_at_async("Connection to match making server validated",
                                                          timeout=LINK_BACK_SECONDS, start=mark)
        # The attempt that succeeded, about 20 s after the one before the loss.
        attempts = [i for i in range(mark, index) if server.output.lines[i] == "Connecting to match making server"]
        self.assertTrue(attempts, server.output.lines[mark:index + 1])
        retried = server.output.times[attempts[-1]]
        # The game does not wait for the link: the ticks go on while it is down.
        self.assertTrue(driver.ticks_between(0, dropped, retried), "no tick while the link was down")
        await server.wait_for_line_async(" as CouchDB stats source", start=index)
        # The property reporting, stopped with the link, answers again.
        reply = await asyncio.to_thread(udp_query.query, server.port, b"back", 5.0)
        self.assertIsNotNone(reply, "no answer to the property query once the link is back")
        self.assertIn(reply.as_dict()["GameState"], ("51", "52", "53", "101"))

        ticks = await self.finish(server, driver, 0)
        note("link down for %.1f s; %d ticks; largest gap between two ticks %.2f s"
             % (retried - dropped, ticks, driver.largest_tick_gap(0)))
        # No pause anywhere near the outage's length (the ticks' own pace is checked with the outage
        # test's tighter bound, on a lighter load).
        self.assertLess(driver.largest_tick_gap(0), 2.0)

    async def test_pouchdb_killed_and_restarted(self):
        joiner, watcher = 21, 22
        database = self.start_pouchdb()
        url = seed(database, "pouchfault", PLAYERS + [joiner, watcher])
        _, server, driver = await self.start_game(url)
        await driver.wait_for_ticks(0, 5)

        mark = server.mark()
        database.kill()
        refused = await driver.add_client(joiner)
        await driver.wait_until(lambda: refused.removals, harness.DEFAULT_TIMEOUT, "refusal of the joiner")
        self.assertEqual(refused.removals[0], {"event": "last_packet", "reason": 20, "reason_name": "Failed"})
        curl, failed, rejected = [(await server.wait_for_line_at_async(line, start=mark))[0] for line in (
            "Curl HTTP 0 error", "Failed to get stats for pending client %d" % joiner,
            "Rejecting pending client with IP %s (reason : Failed)" % refused.local)]
        self.assertLess(curl, failed)
        self.assertLess(failed, rejected)
        ticks = driver.tick_count(0)
        await driver.wait_for_ticks(0, ticks + 5)

        database = self.start_pouchdb(port=database.port)
        seed(database, "pouchfault", [watcher])
        spectator = await driver.add_client(watcher)
        await driver.wait_until(lambda: spectator.admitted, harness.DEFAULT_TIMEOUT, "admission of the watcher")
        self.assertTrue(spectator.spectator)
        await self.finish(server, driver, 0, [spectator])

    async def test_result_endpoint_killed_before_the_debriefing(self):
        url = seed(DATABASE, "resultfault", PLAYERS)
        port = harness.free_port(udp_too=False)
        endpoint = self.start_http_endpoint("--port", port)
        reporting = "http://127.0.0.1:%d/recorddedicatedgame" % port
        _, server, driver = await self.start_game(url, "+game_reporting", reporting, "+login", "faults")
        await driver.wait_for_ticks(0, 5)

        endpoint.kill()
        mark = server.mark()
        await self.finish(server, driver, 0)
        await server.wait_for_line_async("TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: 0",
                                         start=mark)

        endpoint = self.start_http_endpoint("--port", port)
        mark = server.mark()
        # Back in match making with four players, the next game launches itself.
        driver.command_ticks = None
        await driver.wait_for_game_start(1, timeout=GAME_START_SECONDS)
        await self.finish(server, driver, 1)
        request = await asyncio.to_thread(endpoint.wait_event, {"event": "request"}, harness.DEFAULT_TIMEOUT)
        self.assertEqual(request["path"], "/recorddedicatedgame")
        parts = {part["name"]: part["content"] for part in request["parts"]}
        self.assertEqual(parts["login"], "faults")
        self.assertIn('"gameid" : %d' % GAME_ID, parts["game"])
        for player in PLAYERS:
            self.assertIn('"%d"' % player, parts["game"])
        await server.wait_for_line_async("TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: 200",
                                         start=mark)

    async def test_idle_sockets_and_a_query_flood_during_a_game(self):
        self.raise_descriptor_limit(DESCRIPTORS)
        url = seed(DATABASE, "loadfault", PLAYERS)
        _, server, driver = await self.start_game(url)
        await driver.wait_for_ticks(0, 5)
        mark = server.mark()

        idle = []
        self.addAsyncCleanup(self.close_all, idle)
        for _ in range(IDLE_SOCKETS // BATCH):
            idle += await asyncio.gather(*(asyncio.open_connection(harness.LOOPBACK, server.port)
                                           for _ in range(BATCH)))
        flood = self._managed(harness.JsonPeerProcess(harness.python_peer(
            "udp_query.py", "--port", server.port, "--flood", 10 ** 9, "--sockets", 4), self.workdir, "flood"))
        await asyncio.to_thread(flood.wait_event, {"event": "flooding"}, 30)
        ticks = driver.tick_count(0)
        await driver.wait_for_ticks(0, ticks + 25)
        flood.stop()
        sent = [event for event in flood.events() if event.get("event") == "flood_end"]

        ticks = await self.finish(server, driver, 0)
        note("%d ticks under %s queries and %d idle sockets; largest gap between two ticks %.2f s"
             % (ticks, sent[0]["sent"] if sent else "?", len(idle), driver.largest_tick_gap(0)))
        self.assertFalse(any("Disconnected from match making server" in line for line in server.output.lines[mark:]))
        self.assertEqual(sum("Connection to match making server validated" in line for line in server.output.lines), 1)

    @staticmethod
    async def close_all(connections):
        for _, writer in connections:
            writer.close()


if __name__ == "__main__":
    harness.main()
