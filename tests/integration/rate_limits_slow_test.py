"""Hostile peers during a running game, against the real server binary, with the figures the server must
hold while two well-behaved players play on:

- a burst of 2,000 property queries from one socket is answered at most 20 times and 10 times a second
  after, while a query from another loopback address is answered meanwhile;
- a player that floods tick reports past what one tick lets it relay is kicked, unrelayed;
- a spectator flooding the chat with 1,000 lines a second of 4,000 characters grows the chat log by at
  most 10 lines and 5 a second, and its drops are logged once a second with a count that loses nothing;
- a player that reads a few kilobytes now and then while other players send it all that their limits
  allow (chat at its rate, tick reports within the tick's cap) is cut off once 4 MiB are queued for it;
  the server's resident memory stays flat, and the two players' ticks keep coming on time.

One server and one game of twelve players (the two, the slow reader, the tick-report flooder, eight
loud players) carry every attack, one after the other."""

import asyncio
import os
import re
import socket
import time

import harness
import game_client as gc
import udp_query
from game_driver import CHECKSUM, TICKET, DrivenClient, GameDriver
import game_play
from game_play import GAME_ID, GameCase, start_database

setUpModule = start_database

STEADY = [801, 802]
SLOW = 803
FLOODER = 804
LOUD = [811, 812, 813, 814, 815, 816, 817, 818]
CHATTER = 821
PLAYERS = STEADY + [SLOW, FLOODER] + LOUD
CHAT_LOG = "chat.txt"

# The server's limits this suite holds it to.
QUERY_BURST = 20
QUERIES_PER_SECOND = 10
CHAT_BURST = 10
CHAT_LINES_PER_SECOND = 5
SEND_QUEUE_LIMIT = 4 * 1024 * 1024
# A tick report of 16 bytes is a relayed frame of 28: 145 of them fill the 4,063 bytes of a tick.
REPORTS_PER_TICK = 145

QUERY_FLOOD = 2000
CHAT_FLOOD_SECONDS = 5
CHAT_FLOOD_PER_SECOND = 1000
CHAT_TEXT = 4000
# The slow reader's receive buffer, so that its kernel holds little of what it is sent.
SLOW_RECEIVE_BUFFER = 4096
# Padding of the loud players' tick reports: at most one such report each quarter of a second, so that
# even a second's stall of the server brings no more than four into one tick (4 x 1,012 bytes of frames).
LOUD_REPORT = 1000
LOUD_REPORT_SECONDS = 0.25
# How long the slow reader may take to be cut off: 4 MiB at the loud players' 100 kB a second or more.
CUT_TIMEOUT = 120.0
# Every 200 ms a tick; on a loaded two-core machine a second between two is still on time.
LARGEST_TICK_GAP = 1.0
# What the server may grow by while it holds a client's 4 MiB: the queue, libevent's chains around it,
# and what the allocator keeps; and what it may still take on once that client is gone.
RESIDENT_GROWTH_KB = 24 * 1024
RESIDENT_SLACK_KB = 2 * 1024
DROPPED_QUERIES = re.compile(r"^Dropped (\d+) property queries over the rate limits$")


def resident_kilobytes(pid):
    with open("/proc/%d/status" % pid) as lines:
        return next(int(line.split()[1]) for line in lines if line.startswith("VmRSS:"))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def sanitized(pid):
    with open("/proc/%d/maps" % pid) as maps:
        return any("libasan" in line for line in maps)


def chat_line(text, recipient=gc.ALL_RECIPIENTS):
    return gc.encode_game_message("e", gc.chat_data(text), recipient)


class LoudClient(DrivenClient):
    """A player that, once loud, sends the slow reader chat lines of 4,000 characters at the chat's rate,
    and pads a tick report to 1,000 bytes once a quarter of a second: all that the limits let it send."""

    loud_to = None
    _last_padded = 0.0

    def _on_tick(self, game, tick):
        super()._on_tick(game, tick)
        now = time.monotonic()
        if self.loud_to is not None and now - self._last_padded >= LOUD_REPORT_SECONDS:
            self._last_padded = now
            padding = bytes(LOUD_REPORT - 16)
            self._send(gc.encode_game_message("g", gc.tick_report_data(tick, CHECKSUM) + padding))

    async def talk(self):
        text = "%d " % self.player_id + "x" * CHAT_TEXT
        while self.loud_to is not None:
            self._send(chat_line(text[:CHAT_TEXT], self.loud_to))
            await asyncio.sleep(1.0 / CHAT_LINES_PER_SECOND)


class SlowClient(DrivenClient):
    """A player with a small receive buffer that, once slowed, reads one buffer's worth a second."""

    slowed = False

    async def connect(self, port):
        loop = asyncio.get_running_loop()
        self._closed = loop.create_future()
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, SLOW_RECEIVE_BUFFER)
        sock.setblocking(False)
        await loop.sock_connect(sock, ("127.0.0.1", port))
        await loop.create_connection(lambda: self, sock=sock)
        self._send(gc.encode_connect(self.player_id, TICKET, self.driver.version))

    def slow_down(self):
        self.slowed = True
        # It claims to be far ahead, so that the lag check does not remove it first: the send queue
        # limit is what removes it here.
        self._send(gc.encode_game_message("g", gc.tick_report_data(0x7FFFFFF0, CHECKSUM)))
        self._transport.pause_reading()

    def _on_tick(self, game, tick):
        # Slowed, it answers no tick it reads late: a late report would undo its claim to be ahead.
        if not self.slowed:
            super()._on_tick(game, tick)

    def data_received(self, data):
        super().data_received(data)
        if self.slowed and self._transport is not None and not self._transport.is_closing():
            self._transport.pause_reading()

    async def read_now_and_then(self):
        while self.slowed and self._transport is not None and not self._transport.is_closing():
            self._transport.resume_reading()
            await asyncio.sleep(1.0)


class RateLimitsTest(GameCase):
    async def test_hostile_peers_during_a_game(self):
        server = await self.game_server(PLAYERS, "+chat_log_file", CHAT_LOG)
        # The spectator that floods the chat is a known player too, though the game does not wait for it.
        for number in (0, GAME_ID):
            game_play.DATABASE.put_document(self.database, "u%d_%d" % (number, CHATTER), {})
        driver = GameDriver(int(server.port), STEADY, command_ticks=None)
        self.addAsyncCleanup(driver.close)
        await driver.connect_players()
        slow = await self.add(driver, SlowClient, SLOW)
        flooder = await self.add(driver, DrivenClient, FLOODER)
        loud = [await self.add(driver, LoudClient, player) for player in LOUD]
        await driver.wait_until(lambda: all(client.admitted for client in driver.clients), harness.DEFAULT_TIMEOUT,
                                "admission of every player")
        await driver.wait_until(lambda: all(client.state == gc.STATE_COMMAND for client in driver.clients), 60.0,
                                "the command phase")
        # The baseline: the game under way, nothing hostile yet.
        await driver.wait_for_ticks(0, driver.tick_count(0) + 5)
        started = time.monotonic()
        resident = [(started, resident_kilobytes(server.pid))]
        cpu_before = cpu_seconds(server.pid)

        await self.query_burst(server)
        await self.tick_report_flood(server, driver, flooder)
        sampling = asyncio.create_task(self.sample_resident(server, resident))
        try:
            cut = await self.slow_reader_cut_off(server, driver, slow, loud)
            # The players still talk for a while, to nobody now.
            await asyncio.sleep(3.0)
        finally:
            for client in loud:
                client.loud_to = None
            sampling.cancel()
        elapsed = time.monotonic() - started
        cpu = (cpu_seconds(server.pid) - cpu_before) / elapsed

        # Flat: what the server holds past its baseline is the slow reader's queue and little more,
        # and it does not grow on once that reader is gone.
        peak = max(kb for _, kb in resident)
        at_cut = max(kb for at, kb in resident if at <= cut)
        after = [kb for at, kb in resident if at > cut + 0.5]
        note("resident memory %d kB before, %d kB at the cut, %d kB at most, %d kB at the end; server CPU %.0f%% "
             "over %.0f s" % (resident[0][1], at_cut, peak, resident[-1][1], cpu * 100, elapsed))
        self.assertTrue(after, "no sample after the cut")
        # AddressSanitizer keeps what is freed in a quarantine of its own (256 MB): there the resident
        # memory says nothing of what the server holds.
        if not sanitized(server.pid):
            self.assertLess(peak - resident[0][1], RESIDENT_GROWTH_KB)
            self.assertLessEqual(max(after), at_cut + RESIDENT_SLACK_KB)

        # The two players' ticks kept coming, every one of them, on time.
        for client in driver.players:
            game = client.games[0]
            self.assertEqual(game.ticks, list(range(len(game.ticks))), "player %d" % client.player_id)
            gaps = [b - a for a, b in zip(game.tick_times, game.tick_times[1:]) if a >= started]
            self.assertLess(max(gaps), LARGEST_TICK_GAP, "player %d" % client.player_id)
            self.assertEqual(client.removals, [], "player %d" % client.player_id)
        note("largest gap between two ticks of the steady players: %.2f s" % driver.largest_tick_gap(0))

    async def add(self, driver, kind, player_id):
        client = kind(driver, player_id)
        driver.clients.append(client)
        await client.connect(driver.port)
        return client

    async def query_burst(self, server):
        """2,000 queries from one socket at once: its burst and its rate are answered, the rest dropped
        and counted once a second; another address is answered meanwhile."""
        mark = server.mark()
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as flood, \
                socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as other:
            flood.connect((harness.LOOPBACK, server.port))
            other.bind(("127.0.0.2", 0))
            other.settimeout(5.0)
            flood.setblocking(False)
            # 100 queries each tenth of a second for two seconds, the replies read as they come; the
            # other address asks once in the middle of it.
            replies = []
            reply = None
            begun = time.monotonic()
            for step in range(QUERY_FLOOD // 100):
                for _ in range(100):
                    flood.send(udp_query.encode_query(b"fld!"))
                if step == QUERY_FLOOD // 200:
                    other.sendto(udp_query.encode_query(b"othr"), (harness.LOOPBACK, server.port))
                    reply = udp_query.parse_reply(other.recv(udp_query.MAX_REPLY + 1))
                await asyncio.sleep(0.1)
                replies += self.received(flood)
            await asyncio.sleep(0.5)
            replies += self.received(flood)
            elapsed = time.monotonic() - begun
        self.assertEqual(reply.challenge, b"othr")
        self.assertEqual(reply.as_dict()["GameState"], str(gc.STATE_COMMAND))
        # What is answered is the reply any query gets, the challenge aside.
        for data in replies:
            self.assertEqual(data[:4], b"fld!")
            self.assertEqual(data[4:], reply.raw[4:])
        answered = len(replies)
        note("query burst: %d of %d answered in %.1f s" % (answered, QUERY_FLOOD, elapsed))
        self.assertGreater(answered, QUERY_BURST)
        self.assertLessEqual(answered, QUERY_BURST + QUERIES_PER_SECOND * elapsed + 1)
        await server.wait_for_line_async(DROPPED_QUERIES, start=mark)
        drops = [line for line in server.output.lines[mark:] if DROPPED_QUERIES.match(line)]
        self.assertLessEqual(len(drops), elapsed + 2)

    @staticmethod
    def received(sock):
        datagrams = []
        while True:
            try:
                datagrams.append(sock.recv(udp_query.MAX_REPLY + 1))
            except BlockingIOError:
                return datagrams

    async def tick_report_flood(self, server, driver, flooder):
        """A player sending 1,000 tick reports at once is kicked at the 146th, which is not relayed."""
        mark = server.mark()
        flooder._send(b"".join(gc.encode_game_message("g", gc.tick_report_data(0, CHECKSUM)) for _ in range(1000)))
        await driver.wait_until(lambda: flooder.removals, harness.DEFAULT_TIMEOUT, "the flooder's removal")
        self.assertEqual(flooder.removals[0], {"event": "last_packet", "reason": 15, "reason_name": "Kicked"})
        await server.wait_for_line_async("Dropping game message, flooding (client %d)" % FLOODER, start=mark)
        await server.wait_for_line_async("Disconnecting client %d with IP %s (reason : Kicked)"
                                         % (FLOODER, flooder.local), start=mark)

    async def slow_reader_cut_off(self, server, driver, slow, loud):
        """The loud players send the slow reader all their limits allow while it reads a little now and
        then, and a spectator floods the chat meanwhile; the slow reader is cut off past 4 MiB. The time
        of the cut."""
        mark = server.mark()
        slowed = time.monotonic()
        slow.slow_down()
        reader = asyncio.create_task(slow.read_now_and_then())
        talkers = []
        for client in loud:
            client.loud_to = slow.user_session_id
            talkers.append(asyncio.create_task(client.talk()))
        try:
            await self.chat_flood(server)
            line = "Client %d with IP %s has " % (SLOW, slow.local)
            index, text, cut = await server.wait_for_line_at_async(line, timeout=CUT_TIMEOUT, start=mark)
            queued = int(text[len(line):].split()[0])
            self.assertGreater(queued, SEND_QUEUE_LIMIT)
            self.assertTrue(text.endswith(" bytes queued, more than the %d allowed -> Disconnected"
                                          % SEND_QUEUE_LIMIT), text)
            # The line after the cut, once it has come through the server's output.
            await server.wait_for_line_at_async(lambda _: True, start=index + 1)
            self.assertEqual(server.output.lines[index + 1], "Disconnecting client %d with IP %s (reason : ConnectionLost)"
                             % (SLOW, slow.local))
            note("slow reader cut off %.1f s after it slowed down, %d bytes queued" % (cut - slowed, queued))
            # Nobody else was removed, and no loud line was dropped: their chat kept within its rate.
            removed = [line for line in server.output.lines[mark:] if line.startswith("Disconnecting client ")]
            self.assertEqual(removed, ["Disconnecting client %d with IP %s (reason : ConnectionLost)"
                                       % (SLOW, slow.local)])
            for player in LOUD:
                self.assertFalse(any(" chat lines of client %d " % player in line for line in server.output.lines))
            return cut
        finally:
            slow.slowed = False
            reader.cancel()
            for task in talkers:
                task.cancel()

    async def chat_flood(self, server):
        """A spectator sends 1,000 chat lines a second of 4,000 characters for five seconds: the chat log
        takes at most 10 of them and 5 a second, and the drop lines, one a second at most, count the
        rest."""
        log = server.cwd / CHAT_LOG
        start = log.stat().st_size if log.exists() else 0
        mark = server.mark()
        chatter = await self.start_game_client_in_process(server.port, keep=lambda event: event.get("name") == "admission")
        await chatter.send_connect(CHATTER, TICKET)
        await chatter.events.wait_for({"name": "admission"}, timeout=harness.DEFAULT_TIMEOUT)
        text = "c" * CHAT_TEXT
        sent = 0
        begun = time.monotonic()
        while time.monotonic() - begun < CHAT_FLOOD_SECONDS:
            await chatter.send_raw(chat_line(text) * (CHAT_FLOOD_PER_SECOND // 10))
            sent += CHAT_FLOOD_PER_SECOND // 10
            await asyncio.sleep(0.1)
        elapsed = time.monotonic() - begun
        dropped_line = re.compile(r"^Dropped (\d+) chat lines of client %d \(more than 5 a second\)$" % CHATTER)

        def counted():
            with open(log, "rb") as file:
                file.seek(start)
                written = sum(1 for line in file if b"] %d: " % CHATTER in line)
            drops = [int(dropped_line.match(line).group(1)) for line in list(server.output.lines[mark:])
                     if dropped_line.match(line)]
            return written, drops

        # Every line is either written or counted: the count of the last second comes once it is over.
        deadline = time.monotonic() + harness.DEFAULT_TIMEOUT
        written, drops = counted()
        while written + sum(drops) < sent and time.monotonic() < deadline:
            await asyncio.sleep(0.1)
            written, drops = counted()
        note("chat flood: %d lines sent in %.1f s, %d written to the chat log, %d dropped in %d lines"
             % (sent, elapsed, written, sum(drops), len(drops)))
        self.assertGreater(written, 0)
        self.assertLessEqual(written, CHAT_BURST + CHAT_LINES_PER_SECOND * elapsed + 1)
        self.assertLessEqual(len(drops), elapsed + 2)
        self.assertEqual(written + sum(drops), sent)

    @staticmethod
    async def sample_resident(server, samples):
        while True:
            await asyncio.sleep(0.5)
            samples.append((time.monotonic(), resident_kilobytes(server.pid)))


def note(text):
    print(text, flush=True)


if __name__ == "__main__":
    harness.main()
