"""The game driver's checks over a game fed through its receive path: a sound game of two players passes,
and each kind of fault the checks exist for (a tick missing or repeated, an order lost, repeated or out of
order, an actions packet missing, a tick report skipped or lost, a replay that differs, a spectator's
stream that is not the replay, a client sent away) is named."""

import json
import unittest

import game_client as gc
import game_driver
import replay_reader
from game_driver import ACTIONS_HEAD, CHECKSUM, ORDER, REPORT, DrivenClient, GameDriver, GameRecord
from replay_reader_test import container, end_of_tick, record, states

PLAYERS = {11: 0, 12: 1}   # player id -> player number
TICKS = 5
# The phase changes the players are told of, (previous, state, tick), and recorded in the replay.
TOLD = [(0, 51, 0), (51, 52, 1), (52, 53, 2), (53, 101, 4)]


def game_data(sender, letter, data):
    return bytes([gc.CHANNEL_GAME_DATA]) + sender.to_bytes(8, "big") + letter + data


def actions_payload(tick, number, orders):
    data = b"".join(ORDER.pack(player, sequence) for player, sequence in orders)
    return ACTIONS_HEAD.pack(tick, number, len(orders), len(data)) + data


def sound_relays():
    """(tick, sender, player number, orders) in the order of arrival: the order a sender made on receiving
    a tick comes with the next; tick 0 carries none, and the order answering the last tick is lost."""
    return [(tick, sender, number, [(sender, tick)] if tick else [])
            for tick in range(TICKS) for sender, number in PLAYERS.items()]


def sound_reports():
    return [(sender, tick, CHECKSUM) for tick in range(TICKS) for sender in PLAYERS]


def fed_record(player, relays, reports):
    game = GameRecord(False, keep_relays=player == min(PLAYERS))
    for tick, sender, number, orders in relays:
        game.on_actions(game_data(sender, b"d", actions_payload(tick, number, orders)))
    for sender, tick, checksum in reports:
        game.on_tick_report(sender, REPORT.pack(tick, 0, checksum, 0))
    for tick in range(TICKS):
        game.sent.append((tick + 1, tick * 0.2 + 0.01))
    game.reported = TICKS - 1
    game.told = list(TOLD)
    game.states += [52, 53, 101, 0]
    # Asked for the debriefing with three orders sent; the debriefing began before tick 4 came.
    game.requested = {101: 3}
    game.ticks_at = {101: 4}
    game.ended = True
    return game


def driver_of(relays=None, reports=None):
    """A driver whose two players received the sound game, but for player -> relays or reports given."""
    relays, reports = relays or {}, reports or {}
    driver = GameDriver(0, list(PLAYERS))
    for player in PLAYERS:
        client = DrivenClient(driver, player)
        client.user_session_id = len(driver.clients) + 1
        client.games.append(fed_record(player, relays.get(player, sound_relays()),
                                       reports.get(player, sound_reports())))
        driver.clients.append(client)
    return driver


def replay_bytes(ticks=range(TICKS), changed=None, departed=(), change_at=None, odd_record=False, padding=""):
    records = [record(b"rply", json.dumps({"game": {"Padding": padding}}).encode())]
    for tick in ticks:
        state_records = [(replay_reader.STATE_CHANGE, b"", [0, previous, state, 0, tick])
                         for previous, state, told_at in TOLD if told_at == tick and state != 51]
        if change_at is not None and tick == change_at[0]:
            state_records.append((replay_reader.STATE_CHANGE, b"", [0, 53, 101, 0, change_at[1]]))
        if odd_record and tick == 3:
            state_records.append((7, b"x", [0, 0, 0, 0, tick]))
        records.append(record(b"star", states(tick, *state_records)))
        for sender, number in PLAYERS.items():
            sequence = 99 if (tick, sender) == changed else tick
            records.append(record(b"pact", actions_payload(tick, number, [(sender, sequence)] if tick else [])))
        records.append(record(b"endt", end_of_tick(tick, departed if tick == 3 else [])))
    return container(records)


def add_spectator(driver, stream, pieces=None):
    client = DrivenClient(driver, 21)
    game = GameRecord(True)
    for piece in pieces or [stream]:
        game.on_piece(bytes([gc.CHANNEL_REPLAY_STREAM]) + bytes(4) + piece)
    client.games.append(game)
    driver.clients.append(client)
    return game


def changed_relays(change):
    relays = sound_relays()
    change(relays)
    return relays


def fault_of(driver, *args, **kwargs):
    with unittest.TestCase().assertRaises(AssertionError) as failure:
        driver.check_game(0, *args, **kwargs)
    return str(failure.exception)


class GameDriverChecksTest(unittest.TestCase):
    def test_a_sound_game_passes(self):
        data = replay_bytes()
        for whole in (False, True):
            with self.subTest(whole_streams=whole):
                driver = driver_of()
                add_spectator(driver, data if whole else data[:game_driver.CONTAINER_HEADER + 30])
                self.assertEqual(driver.check_game(0, data, whole_streams=whole), TICKS)
                driver.check_nobody_removed()

    def test_each_relay_fault_is_named(self):
        def drop_tick(relays):
            relays[:] = [relay for relay in relays if relay[0] != 2]

        def repeat_tick(relays):
            relays[8:8] = [relay for relay in relays if relay[0] == 2]

        def lose_relay(relays):
            relays.remove(next(relay for relay in relays if relay[:2] == (3, 11)))

        def set_orders(tick, sender, orders):
            def change(relays):
                at = next(i for i, relay in enumerate(relays) if relay[:2] == (tick, sender))
                relays[at] = relays[at][:3] + (orders,)
            return change

        def swap_orders(relays):
            set_orders(2, 12, [(12, 3)])(relays)
            set_orders(3, 12, [(12, 2)])(relays)

        cases = [
            # (what, player whose relays change, change, text of the failure)
            ("tick missing", 12, drop_tick, "12 received ticks 0-1, 3-4"),
            ("tick repeated", 11, repeat_tick, "11 received ticks 0-3, 2, 4"),
            ("actions packet missing", 12, lose_relay, "12 got tick 3 from [12]"),
            ("order repeated", 11, set_orders(3, 12, [(12, 2)]), "11 received the orders of 12 as 1-2, 2, 4"),
            ("orders out of order", 12, swap_orders, "12 received the orders of 12 as 1, 3, 2, 4"),
            ("order relayed as another's", 12, set_orders(2, 12, [(11, 2)]), "tick 2: order of 11 relayed as 12's"),
            ("other bytes relayed", 12, set_orders(1, 11, [(11, 1), (11, 2)]), "12 and 11 received different actions"),
        ]
        for what, player, change, text in cases:
            with self.subTest(what):
                self.assertIn(text, fault_of(driver_of(relays={player: changed_relays(change)})))

    def test_each_tick_report_fault_is_named(self):
        reports = sound_reports()
        skipped = [report for report in reports if report[:2] != (11, 2)]
        wrong = [(sender, tick, 0xBAD if (sender, tick) == (11, 2) else checksum)
                 for sender, tick, checksum in reports]
        lost = [report for report in reports if report[:2] != (11, 4)]
        cases = [
            ("report skipped", skipped, "tick report (3, 0x5eed5eed) from 11 after tick 1"),
            ("wrong checksum", wrong, "tick report (2, 0xbad) from 11 after tick 1"),
            ("last report lost", lost, "12 received the tick reports of 11 up to tick 3, which reported up to 4"),
        ]
        for what, changed, text in cases:
            with self.subTest(what):
                self.assertIn(text, fault_of(driver_of(reports={12: changed})))

    def test_a_report_after_the_request_to_leave_may_miss_the_game(self):
        # 11 asked to leave the debriefing with tick 3 reported; its report of tick 4 reached the server
        # after the game had ended, and nobody received it.
        lost = [report for report in sound_reports() if report[:2] != (11, 4)]
        driver = driver_of(reports={11: lost, 12: lost})
        for client in driver.clients:
            client.games[0].requested[0] = 4
            client.games[0].reported_when_requested[0] = 3
        driver.check_game(0)
        # Before that request, the report was due.
        for client in driver.clients:
            client.games[0].reported_when_requested[0] = 4
        self.assertIn("12 received the tick reports of 11 up to tick 3, which reported up to 4 (4 due)",
                      fault_of(driver))

    def test_orders_lost_at_the_end_are_found(self):
        # Orders 3 and 4 of player 11 reached nobody, though 3 was sent before its request for the
        # debriefing, and a tick ran in the debriefing.
        relays = [relay[:3] + ([] if relay[1] == 11 and relay[0] >= 3 else relay[3],) for relay in sound_relays()]
        self.assertIn("received 2 orders of 11, which sent 5 (3 due)", fault_of(driver_of({11: relays, 12: relays})))

    def test_replay_faults_are_named(self):
        sound = replay_bytes()
        cases = [
            ("tick missing", replay_bytes(range(TICKS - 1)), "replay ticks 0-3, relayed 0 to 4"),
            ("actions changed", replay_bytes(changed=(2, 11)),
             "the replay's 10 'pact' chunks differ from the 10 relayed actions"),
            ("digest broken", sound[:12] + bytes(28) + sound[40:], "replay digest does not match"),
            ("player departed", replay_bytes(departed=[1]), "replay tick 3 ends as tick 3 with [1] departed"),
            ("phase change at another tick", replay_bytes(change_at=(3, 3)), "the replay's phase changes"),
            ("record of another kind", replay_bytes(odd_record=True), "replay tick 3: record of kind 7"),
        ]
        for what, data, text in cases:
            with self.subTest(what):
                self.assertIn(text, fault_of(driver_of(), data))

    def test_spectator_faults_are_named(self):
        data = replay_bytes()
        start = data[:game_driver.CONTAINER_HEADER + 30]
        # Long enough for whole pieces of 4064 bytes.
        large = replay_bytes(padding="p" * 10000)
        piece = game_driver.LARGEST_PIECE
        flipped = bytearray(start)
        flipped[-1] ^= 1
        cases = [
            (data, "stream not the replay", flipped, None, False,
             "spectator 21: 70 streamed bytes are not the replay's start"),
            (data, "stream cut short", start, None, True,
             "spectator 21: 70 streamed bytes, the replay has %d" % len(data)),
            (large, "piece larger than a frame holds", None, [large[:piece + 1]],
             False, "spectator 21: pieces of [%d]" % (piece + 1)),
            (large, "never caught up", None, [large[:piece], large[piece:2 * piece]],
             True, "spectator 21 never caught up with the replay"),
            (large, "short after catching up, then cut", None, [large[:piece], large[piece:piece + 36]],
             True, "spectator 21: %d streamed bytes, the replay has %d" % (piece + 36, len(large))),
        ]
        for replay, what, stream, pieces, whole, text in cases:
            with self.subTest(what):
                driver = driver_of()
                add_spectator(driver, bytes(stream or b""), pieces)
                self.assertIn(text, fault_of(driver, replay, whole_streams=whole))

    def test_a_spectator_behind_again_at_the_end_passes(self):
        # Caught up, then the last ticks added more than a piece each: it was taking whole pieces when
        # the game ended.
        large = replay_bytes(padding="p" * 10000)
        piece = game_driver.LARGEST_PIECE
        driver = driver_of()
        add_spectator(driver, b"", [large[:piece], large[piece:piece + 36], large[piece + 36:2 * piece + 36]])
        driver.check_game(0, large, whole_streams=True)

    def test_relays_to_the_wrong_kind_of_client_are_named(self):
        driver = driver_of()
        add_spectator(driver, b"").on_actions(game_data(11, b"d", actions_payload(0, 0, [])))
        driver.clients[0].games[0].on_piece(bytes([gc.CHANNEL_REPLAY_STREAM]) + bytes(4) + b"x")
        fault = fault_of(driver)
        self.assertIn("relayed actions of 11 received by a spectator", fault)
        self.assertIn("replay stream piece received by a player", fault)

    def test_frames_split_anywhere_are_read_whole(self):
        frames = [game_data(sender, b"d", actions_payload(tick, number, orders))
                  for tick, sender, number, orders in sound_relays()]
        stream = b"".join(len(frame).to_bytes(2, "big") + frame for frame in frames)
        driver = GameDriver(0, list(PLAYERS), command_ticks=None)
        client = DrivenClient(driver, 11)
        client.games.append(GameRecord(False))
        whole = GameRecord(False)
        for frame in frames:
            whole.on_actions(frame)
        for size in (1, 3, 7, 64):
            client._buffer.clear()
            game = client.games[0] = GameRecord(False)
            for start in range(0, len(stream), size):
                client.data_received(stream[start:start + size])
            self.assertEqual((game.ticks, game.senders_of_ticks(), game.relay_digest.digest(), game.problems),
                             (whole.ticks, whole.senders_of_ticks(), whole.relay_digest.digest(), []), size)

    def test_orders_are_due_only_when_a_tick_followed_the_request(self):
        game = fed_record(11, sound_relays(), sound_reports())
        self.assertEqual(GameDriver.orders_due(game), 3)
        game.ticks_at = {101: 5}
        self.assertEqual(GameDriver.orders_due(game), 0)
        game.requested, game.ticks_at = {52: 1, 53: 2, 101: 3}, {52: 1, 53: 2, 101: 5}
        self.assertEqual(GameDriver.orders_due(game), 2)

    def test_removals_are_named(self):
        driver = driver_of()
        driver.clients[0].removals.append({"event": "last_packet", "reason": 22, "reason_name": "KickedDueToBadPerf"})
        driver.clients[1].departures.append(11)
        with self.assertRaises(AssertionError) as failure:
            driver.check_nobody_removed()
        self.assertIn("KickedDueToBadPerf", str(failure.exception))
        self.assertIn("12 saw [11] leave", str(failure.exception))
        driver.check_nobody_removed([])


if __name__ == "__main__":
    unittest.main()
