"""The game driver's checks over a game written out in the test: a sound game of two players passes,
and each kind of fault the checks exist for (a tick missing or repeated, an order lost, repeated or out of
order, an actions packet missing, a replay that differs, a spectator's stream that is not the replay, a
client sent away) is named."""

import copy
import json
import unittest

import game_driver
from game_driver import ORDER, DrivenClient, GameDriver, GameRecord
from replay_reader_test import actions, container, end_of_tick, record, states

PLAYERS = {11: 0, 12: 1}   # player id -> player number
TICKS = 5


def actions_of(sender, tick):
    """The order a sender made on receiving the previous tick; tick 0 carries none."""
    return ORDER.pack(sender, tick) if tick else b""


def sound_record():
    game = GameRecord(False)
    for tick in range(TICKS):
        game.ticks.append(tick)
        game.tick_times.append(tick * 0.2)
        game.relays[tick] = [(sender, number, actions_of(sender, tick)) for sender, number in PLAYERS.items()]
        # Each order answers a tick; the last one comes after the game's last tick and is lost.
        game.sent.append((tick + 1, tick * 0.2 + 0.01))
    game.orders = {sender: list(range(1, TICKS)) for sender in PLAYERS}
    game.states += [52, 53, 101, 0]
    # Asked for the debriefing with three orders sent; the debriefing began before tick 4 came.
    game.requested = {101: 3}
    game.ticks_at = {101: 4}
    game.ended = True
    return game


def replay_bytes(ticks=range(TICKS), changed=None):
    records = [record(b"rply", json.dumps({"game": {}}).encode())]
    for tick in ticks:
        records.append(record(b"star", states(tick)))
        for sender, number in PLAYERS.items():
            data = actions_of(sender, tick) if (tick, sender) != changed else ORDER.pack(sender, 99)
            records.append(record(b"pact", actions(tick, number, len(data) // ORDER.size, data)))
        records.append(record(b"endt", end_of_tick(tick, [])))
    return container(records)


def sound_driver():
    driver = GameDriver(0, list(PLAYERS))
    for player in PLAYERS:
        client = DrivenClient(driver, player)
        client.user_session_id = len(driver.clients) + 1
        client.games.append(sound_record())
        driver.clients.append(client)
    return driver


def add_spectator(driver, stream):
    client = DrivenClient(driver, 21)
    game = GameRecord(True)
    game.stream += stream
    client.games.append(game)
    driver.clients.append(client)


def game_of(driver, player):
    return next(client for client in driver.clients if client.player_id == player).games[0]


class GameDriverChecksTest(unittest.TestCase):
    def test_a_sound_game_passes(self):
        driver = sound_driver()
        data = replay_bytes()
        add_spectator(driver, data[:game_driver.CONTAINER_HEADER + 30])
        self.assertEqual(driver.check_game(0, data), TICKS)
        driver.check_nobody_removed()

    def test_each_fault_is_named(self):
        def drop_tick(game):
            del game.ticks[2], game.tick_times[2]

        def repeat_tick(game):
            game.ticks.insert(3, 2)

        def lose_relay(game):
            game.relays[3] = game.relays[3][1:]

        def repeat_order(game):
            game.orders[12] = [1, 2, 2, 3, 4]

        def swap_orders(game):
            game.orders[12] = [1, 3, 2, 4]

        cases = [
            # (what, player whose record changes, change, text of the failure)
            ("tick missing", 12, drop_tick, "12 received ticks 0-1, 3-4"),
            ("tick repeated", 11, repeat_tick, "11 received ticks 0-2, 2-4"),
            ("actions packet missing", 12, lose_relay, "12 got tick 3 from [12]"),
            ("order repeated", 11, repeat_order, "11 received the orders of 12 as 1-2, 2-4"),
            ("orders out of order", 12, swap_orders, "12 received the orders of 12 as 1, 3, 2, 4"),
        ]
        for what, player, change, text in cases:
            with self.subTest(what):
                driver = sound_driver()
                change(game_of(driver, player))
                with self.assertRaises(AssertionError) as failure:
                    driver.check_game(0)
                self.assertIn(text, str(failure.exception))

    def test_orders_lost_at_the_end_are_found(self):
        # Orders 3 and 4 of player 11 reached nobody, though 3 was sent before its request for the
        # debriefing, and a tick ran in the debriefing.
        driver = sound_driver()
        for client in driver.clients:
            client.games[0].orders[11] = [1, 2]
        with self.assertRaises(AssertionError) as failure:
            driver.check_game(0)
        self.assertIn("received 2 orders of 11, which sent 5 (3 due)", str(failure.exception))

    def test_replay_faults_are_named(self):
        cases = [
            ("tick missing", replay_bytes(range(TICKS - 1)), "replay ticks 0-3, relayed 0 to 4"),
            ("actions changed", replay_bytes(changed=(2, 11)), "replay tick 2 differs from the relayed one"),
            ("digest broken", replay_bytes()[:12] + bytes(28) + replay_bytes()[40:], "replay digest does not match"),
        ]
        for what, data, text in cases:
            with self.subTest(what):
                with self.assertRaises(AssertionError) as failure:
                    sound_driver().check_game(0, data)
                self.assertIn(text, str(failure.exception))

    def test_a_spectator_stream_that_is_not_the_replay_is_named(self):
        driver = sound_driver()
        data = replay_bytes()
        stream = bytearray(data[:game_driver.CONTAINER_HEADER + 30])
        stream[-1] ^= 1
        add_spectator(driver, stream)
        with self.assertRaises(AssertionError) as failure:
            driver.check_game(0, data)
        self.assertIn("spectator 21: 70 streamed bytes are not the replay's start", str(failure.exception))

    def test_orders_are_due_only_when_a_tick_followed_the_request(self):
        game = sound_record()
        self.assertEqual(GameDriver.orders_due(game), 3)
        game.ticks_at = {101: 5}
        self.assertEqual(GameDriver.orders_due(game), 0)
        game.requested, game.ticks_at = {52: 1, 53: 2, 101: 3}, {52: 1, 53: 2, 101: 5}
        self.assertEqual(GameDriver.orders_due(game), 2)

    def test_removals_are_named(self):
        driver = sound_driver()
        driver.clients[0].removals.append({"event": "last_packet", "reason": 22, "reason_name": "KickedDueToBadPerf"})
        driver.clients[1].departures.append(11)
        with self.assertRaises(AssertionError) as failure:
            driver.check_nobody_removed()
        self.assertIn("KickedDueToBadPerf", str(failure.exception))
        self.assertIn("12 saw [11] leave", str(failure.exception))
        driver.check_nobody_removed([])


if __name__ == "__main__":
    unittest.main()
