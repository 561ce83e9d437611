"""A whole game against the real server binary: players gathered in match making launch it by
themselves, go through loading, deployment, command and debriefing while the server relays their
orders every tick, the result report reaches the result endpoint, the replay is saved, and the
session is back in match making, where the next game is launched."""

import asyncio
import re
import time

import harness
import replay_reader
from game_play import (CHECKSUM, COMMAND_TICKS, DESYNC_REPLAY, GAME_ID, KEY, LOGIN, MAP, PHASES, REPLAY,
                       RESULT_LINE, WARMUP_SECONDS, GameCase, orders_in, start_database)
from game_client import STATE_DEBRIEFING, STATE_MATCH_MAKING

setUpModule = start_database


class WholeGameTest(GameCase):
    PLAYERS = [301, 302, 303]

    async def test_players_launch_play_and_end_a_game(self):
        server = await self.game_server(self.PLAYERS)
        before = int(time.time())
        clients = await self.join(self.PLAYERS)
        await self.wait_for_state(clients, STATE_DEBRIEFING, STATE_MATCH_MAKING)
        # What each player saw of that one game: its frames up to the return to match making.
        games = [client.events.events[:client.events.find({"name": "next_state", "state": STATE_MATCH_MAKING}) + 1]
                 for client in clients]
        ids = {client.user_session_id: player for client, player in zip(clients, self.PLAYERS)}
        player_ids = [ids[number] for number in sorted(ids)]

        # Launched by the last admission, after a countdown every player heard second by second.
        await server.wait_for_line_async("Launch game")
        for events in games:
            phases = [(e["previous"], e["state"]) for e in events if e.get("name") == "next_state"]
            self.assertEqual(phases, PHASES)
            launch = next(i for i, e in enumerate(events) if e.get("name") == "next_state")
            timers = [(e["state"], e["time_left"], e["tick"]) for e in events[:launch] if e.get("name") == "state_timer"]
            self.assertEqual(timers, [(STATE_MATCH_MAKING, left, 0) for left in range(WARMUP_SECONDS - 1, -1, -1)])

        # The player numbers, by alliance then user session id, reach everyone before the loading.
        alliances = {}
        for event in games[0]:
            if event.get("name") == "player_variable" and event["key"] == "PlayerAlliance":
                alliances[event["user_session_id"]] = int(event["value"])
        ranked = sorted(alliances, key=lambda number: (alliances[number], number))
        numbers = [[number, ranked.index(number)] for number in sorted(alliances)]
        for events in games:
            lists = [e for e in events if e.get("name") == "player_numbers"]
            self.assertEqual([e["pairs"] for e in lists], [numbers])
            self.assertLess(events.index(lists[0]), next(i for i, e in enumerate(events) if e.get("name") == "next_state"))

        # Every tick brings each player one actions packet per player, in admission order, and
        # every player's orders are relayed once each, in order, to everyone.
        relayed = [[e for e in events if e.get("name") == "relay" and e["letter"] == "d"] for events in games]
        self.assertEqual([[(e["tick"], e["sender"]) for e in got] for got in relayed[1:]],
                         [[(e["tick"], e["sender"]) for e in relayed[0]]] * (len(clients) - 1))
        ticks = sorted({e["tick"] for e in relayed[0]})
        last_tick = ticks[-1]
        self.assertEqual(ticks, list(range(last_tick + 1)))
        self.assertEqual([(e["tick"], e["sender"]) for e in relayed[0]],
                         [(tick, player) for tick in ticks for player in player_ids])
        self.assertGreaterEqual(len(ticks), COMMAND_TICKS)
        for got in relayed[1:]:
            self.assertEqual([e["data"] for e in got], [e["data"] for e in relayed[0]])
        for client, player in zip(clients, self.PLAYERS):
            own = [e for e in relayed[0] if e["sender"] == player]
            self.assertEqual({e["player_number"] for e in own}, {ranked.index(client.user_session_id)})
            orders = orders_in(own)
            # The orders that came after the last tick of the game are dropped with it.
            self.assertEqual([count for _, count, _ in orders], list(range(1, len(orders) + 1)))
            self.assertGreaterEqual(len(orders), client.orders_sent - 2)
            self.assertEqual({number for number, _, _ in orders}, {client.user_session_id})
            for relay in own:
                self.assertTrue(all(answered < relay["tick"] for _, _, answered in orders_in([relay])))

        # The phase packets carry the number of ticks run so far.
        for events in games:
            run = 0
            for event in events:
                if event.get("name") == "relay" and event["letter"] == "d":
                    run = event["tick"] + 1
                elif event.get("name") in ("next_state", "state_timer"):
                    self.assertEqual(event["tick"], run, event)

        # Each player reported every tick it received, once, with the checksum that all share.
        for events in games:
            for player in player_ids:
                reports = [(e["tick"], e["checksum"]) for e in events
                           if e.get("name") == "relay" and e["letter"] == "g" and e["sender"] == player]
                self.assertEqual(reports[0], (0, CHECKSUM))
                self.assertEqual(reports, [(tick, CHECKSUM) for tick in range(len(reports))])
                self.assertGreaterEqual(len(reports), last_tick)

        # The report of the game reached the endpoint as a form of three fields.
        requests = await asyncio.to_thread(self.endpoint.wait_for_requests, 1, harness.DEFAULT_TIMEOUT)
        await server.wait_for_line_async(RESULT_LINE + "200")
        after = int(time.time())
        self.assertEqual([(r["method"], r["path"]) for r in requests], [("POST", "/recorddedicatedgame")])
        parts = {part["name"]: part["content"] for part in requests[0]["parts"]}
        self.assertEqual((parts["login"], parts["password"]), (LOGIN, KEY))
        document = re.sub(r'"timestamp" : "(\d+)"', '"timestamp" : "T"', parts["game"])
        self.assertEqual(document, '{\n  "invalid_users": [],\n  "expected_user_list": [\n%s\n  ],\n'
                                   '  "timestamp" : "T",\n  "gameid" : %d,\n  "user_results" : {\n'
                                   '    "game" : { "map": "%s" }\n  }\n}\n'
                         % (",\n".join('    "%d"' % p for p in player_ids), GAME_ID, MAP))
        stamp = int(re.search(r'"timestamp" : "(\d+)"', parts["game"]).group(1))
        # time() reads the kernel's coarse clock, which may still show the second before this process's.
        self.assertTrue(before - 1 <= stamp <= after)

        # The replay holds what the players were sent, and no desync copy was made.
        replay = replay_reader.read_replay((await self.wait_for_file(REPLAY)).read_bytes())
        self.assertTrue(replay.digest_ok)
        self.assertEqual(replay.problems, [])
        self.assertFalse((server.cwd / DESYNC_REPLAY).exists())
        self.assertEqual(sorted(key for key in replay.header if key != "game"),
                         sorted("player_%d" % number for number in range(len(clients))))
        for client, player in zip(clients, self.PLAYERS):
            member = replay.header["player_%d" % ranked.index(client.user_session_id)]
            self.assertEqual(member["PlayerUserId"], str(player))
        self.assertEqual(replay.header["game"]["Map"], MAP)
        self.assertEqual([tick["tick"] for tick in replay.ticks], ticks)
        self.assertEqual([(a["tick"], a["player_number"], a["count"], a["actions"].hex())
                          for tick in replay.ticks for a in tick["actions"]],
                         [(e["tick"], e["player_number"], e["count"], e["actions"]) for e in relayed[0]])
        changes = [tuple(record["values"][1:3]) for tick in replay.ticks for record in tick["records"]
                   if record["kind"] == replay_reader.STATE_CHANGE]
        # A tick writes the changes since the one before: the debriefing may end before the next.
        self.assertIn(changes, (PHASES[1:3], PHASES[1:4]))

        # Back in match making, where the players launch the next game.
        first = server.output.lines.index("Entering in matchmaking state")
        again, _ = await asyncio.to_thread(server.output.wait_for, "Entering in matchmaking state", start=first + 1)
        await server.wait_for_line_async("Launch game", start=again)


if __name__ == "__main__":
    harness.main()
