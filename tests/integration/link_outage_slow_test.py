"""A match-making outage during a game, against the real server binary: the match-making peer closes
the link while two players are in battle, and refuses every attempt to come back until the test lets
it. Through the outage the ticks keep their 200 ms, the console answers, the game goes on to its
debriefing and its result reaches the endpoint, and a player who leaves is seen to leave at once;
what needs the link waits: a new client stays in the client port's backlog. Once the peer accepts the
next attempt (the test clock steps over the 20 s between attempts), the server is Ready again and
admits the waiting client and a new one."""

import asyncio
import signal
import time

import harness
from console_client import TYPE_COMMAND, ConsoleClient
from game_client import STATE_COMMAND, STATE_DEBRIEFING, STATE_DEPLOYMENT
from game_play import GAME_ID, KEY, LOGIN, RESULT_LINE, TICKET, start_database, variables_ini
from http_endpoint import HttpEndpoint

import game_play

setUpModule = start_database

PLAYERS = [701, 702]
WAITING, LATE = 703, 704
# Ticks of battle before the players ask for the debriefing: long enough to measure the ticks
# through the outage.
COMMAND_TICKS = 30
# One step passes the 20 s between two connection attempts.
CLOCK_STEP_MS = 20001
CONSOLE_PASSWORD = "outage"
# The most a tick may come after the one before it, in seconds: one 200 ms tick late by half of
# one, or under the sanitizers on a loaded machine by two (a stalled loop misses far more).
LONGEST_TICK_GAP = 0.6 if harness.SANITIZED else 0.3
DROPPED = "Disconnected from match making server -> "
VALIDATED = "Connection to match making server validated"
DISCONNECTING = "Disconnecting client %d with IP %s (reason : ConnectionLost)"


class LinkOutageTest(harness.AsyncIntegrationTestCase):
    async def start_player(self, player, ticks=None, **options):
        """A game client that has sent its connect packet; with `ticks`, the monotonic time and number
        of every tick it receives (the first actions packet of each)."""

        def on_frame(event):
            if ticks is not None and event.get("name") == "relay" and event.get("letter") == "d":
                if not ticks or ticks[-1][1] != event["tick"]:
                    ticks.append((time.monotonic(), event["tick"]))

        client = await self.start_game_client_in_process(self.server.port, on_frame=on_frame, **options)
        await client.send_connect(player, TICKET)
        return client

    def console(self, command):
        """The console's answer to one command, in a session of its own."""
        console = ConsoleClient(self.console_port)
        try:
            answers = console.authenticate(CONSOLE_PASSWORD)
            if len(answers) != 2 or answers[1].id != 1:
                raise AssertionError("console authentication refused: %r" % answers)
            console.send_packet(2, TYPE_COMMAND, command)
            return console.read_packet().body.decode("utf-8")
        finally:
            console.close()

    async def test_a_game_plays_on_through_a_match_making_outage(self):
        database = "outage"
        game_play.DATABASE.create_database(database)
        for player in PLAYERS + [WAITING, LATE]:
            for number in (0, GAME_ID):
                game_play.DATABASE.put_document(database, "u%d_%d" % (number, player), {})
        endpoint = HttpEndpoint()
        endpoint.start()
        self.addCleanup(endpoint.stop)
        game_info = {"StatsURL": game_play.DATABASE.url + database + "/"}
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, game_info)
        peer.set_auto_verdict(0)
        self.console_port = harness.free_port(udp_too=False)
        self.server = self.start_server(
            "+game_reporting", "http://127.0.0.1:%d/recorddedicatedgame" % endpoint.port,
            "+rcon_port", self.console_port, "+rcon_password", CONSOLE_PASSWORD,
            mms_port=peer.port, login=LOGIN, key=KEY, files={"variables.ini": variables_ini(len(PLAYERS))},
            env={"ORV_TEST_CLOCK_STEP_MS": CLOCK_STEP_MS})
        server = self.server
        await server.wait_for_line_async(" as CouchDB stats source")

        ticks = []
        players = []
        for number, player in enumerate(PLAYERS):
            client = await self.start_player(player, ticks if number == 0 else None, play_along=True,
                                             command_ticks=COMMAND_TICKS)
            await client.events.wait_for({"name": "client_event", "kind": 1, "player_id": player},
                                         timeout=harness.DEFAULT_TIMEOUT)
            players.append(client)
        for client in players:
            await client.events.wait_for({"name": "next_state", "previous": STATE_DEPLOYMENT,
                                          "state": STATE_COMMAND}, timeout=game_play.GAME_TIMEOUT)

        # The peer closes the link in the battle and refuses every attempt from now on.
        peer.set_on_init("close")
        drop = server.mark()
        await peer.close_link()
        _, _, dropped_at = await server.wait_for_line_at_async(DROPPED, start=drop)

        # The console answers.
        reply = await asyncio.to_thread(self.console, "display_all_clients")
        self.assertEqual(reply, "Client List :\n%d Player\n%d Player\n" % tuple(PLAYERS))
        # A new client waits in the backlog: it is not even taken in.
        waiting = await self.start_player(WAITING)

        # The battle goes on to its debriefing, tick after tick, and the result is sent.
        for client in players:
            await client.events.wait_for({"name": "next_state", "previous": STATE_COMMAND,
                                          "state": STATE_DEBRIEFING}, timeout=game_play.GAME_TIMEOUT)
        (report,) = await asyncio.to_thread(endpoint.wait_for_requests, 1, harness.DEFAULT_TIMEOUT)
        self.assertEqual({part["name"]: part["content"] for part in report["parts"]}["login"], LOGIN)
        await server.wait_for_line_async(RESULT_LINE + "200", start=drop)
        outage = [at for at, _ in ticks if at >= dropped_at]
        self.assertGreaterEqual(len(outage), 10, ticks)
        gaps = [later - earlier for earlier, later in zip(outage, outage[1:])]
        self.assertLessEqual(max(gaps), LONGEST_TICK_GAP, "tick gaps through the outage: %s" % gaps)
        self.assertEqual([tick for _, tick in ticks], list(range(ticks[0][1], ticks[-1][1] + 1)))

        # A player who leaves is let go at once.
        leaving = players[1]
        mark = server.mark()
        await leaving.close()
        await server.wait_for_line_async(DISCONNECTING % (PLAYERS[1], leaving.events.events[0]["local"]),
                                         timeout=5.0, start=mark)

        # The next attempt, 20 s after the last, is refused as ever; the link stayed down all this
        # while, and the waiting client was never taken in.
        await peer.events.wait_for({"event": "closed", "link": 2, "by": "peer"}, timeout=30.0)
        await server.wait_for_line_async("Failed to connect to match making server", start=drop)
        lines = server.output.lines[drop:]
        self.assertFalse(any(VALIDATED in line for line in lines), lines)
        self.assertFalse(any(event.get("name") == "admission" for event in waiting.events.events))

        # The peer accepts again; the clock passes the 20 s to the next attempt. The server is Ready,
        # takes the waiting client in and admits a new one.
        peer.set_on_init("answer", 0, game_info)
        mark = server.mark()
        server.signal(signal.SIGUSR1)
        await server.wait_for_line_async(VALIDATED, start=mark)
        await waiting.events.wait_for({"name": "client_event", "kind": 1, "player_id": WAITING},
                                      timeout=harness.DEFAULT_TIMEOUT)
        late = await self.start_player(LATE)
        await late.events.wait_for({"name": "client_event", "kind": 1, "player_id": LATE},
                                   timeout=harness.DEFAULT_TIMEOUT)

        server.signal(signal.SIGTERM)
        self.assertEqual(await asyncio.to_thread(server.wait, game_play.GAME_TIMEOUT), 0)


if __name__ == "__main__":
    harness.main()
