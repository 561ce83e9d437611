"""Hostile connections to the listeners, against the real server binary in a running game of two
players: idle console connections and the descriptor table filled through the console under a low
descriptor limit, a console that never authenticates, a flood of wrong console passwords, silent game
connections beside a player who joins, and, on a server of its own, a connection waiting in the client
port's backlog while the match-making link is not Ready. Each time the server stays idle (CPU), its log
small, what it must refuse is refused, and the game's orders are all relayed.

The attackers and the test's own console connections use different loopback addresses (127.0.0.2 and
up), since the server's limits are kept per source address."""

import asyncio
import os
import select
import socket
import sys
import time

import game_play
import harness
from console_client import TYPE_AUTH, TYPE_AUTH_ANSWER, ConsoleClient, PacketReader, encode_packet
from game_driver import GameDriver

PLAYERS = [11, 12]
JOINER = 13
PASSWORD = "hostile-console"
# Two players launch the game; with the joiner the game is full.
VARIABLES = ("NbMaxPlayer=3\nNbMinPlayer=2\nWarmupCountdown=10\nLoadingTimeMax=60\nDeploiementTimeMax=60\n"
             "DebriefingTimeMax=10\nTimeLimit=0\n")
# The server's descriptor limit, as in the report of the fault: 240 idle console sockets exhausted it.
SERVER_DESCRIPTORS = 256
IDLE_CONSOLE_SOCKETS = 240
# Connections left waiting in the console's backlog once the server has no descriptor left.
BACKLOG_WAITING = 20
# What the server may spend while attacked: CPU seconds per second, log bytes per attack.
MEASURE_SECONDS = 15.0
CPU_SHARE = 0.20
LOG_GROWTH = 2 * 1024 * 1024
# The server's own limits, as it enforces them.
CONSOLE_UNAUTHENTICATED = 16
CONSOLE_UNAUTHENTICATED_PER_ADDRESS = 4
CONSOLE_AUTHENTICATION_SECONDS = 10.0
PASSWORD_FAILURES = 5
UNIDENTIFIED_PER_ADDRESS = 8
IDENTIFICATION_SECONDS = 5.0
WRONG_PASSWORDS = 400
SILENT_ADDRESSES = ["127.0.0.3", "127.0.0.4", "127.0.0.5"]
# The idle console sockets come from as many addresses as it takes to fill the console's waiting places,
# the connections left in the backlog from another: none of them is the test's own console's.
IDLE_CONSOLE_ADDRESSES = ["127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"]
BACKLOG_ADDRESS = "127.0.0.10"
SILENT_PER_ADDRESS = 10
GAME_START_SECONDS = 45
GAME_END_SECONDS = 90

setUpModule = game_play.start_database


def note(text):
    sys.stderr.write("%s\n" % text)
    sys.stderr.flush()


def cpu_seconds(pid):
    """User and system time of the process so far."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def resident_kilobytes(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def connect(port, source="127.0.0.1", timeout=5.0):
    return socket.create_connection((harness.LOOPBACK, port), timeout=timeout, source_address=(source, 0))


def read_until_closed(sock, timeout):
    """Every byte until the server closes the connection; None when it has not within the time."""
    data = b""
    deadline = time.monotonic() + timeout
    while True:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([sock], [], [], left)[0]:
            return None
        try:
            chunk = sock.recv(4096)
        except ConnectionResetError:
            return data
        if not chunk:
            return data
        data += chunk


def console_answers(port):
    """The answers to the right password on a new console connection."""
    console = ConsoleClient(port)
    try:
        return console.authenticate(PASSWORD, timeout=5.0)
    finally:
        console.close()


class Measure:
    """The server's CPU time, log size and memory from its start to its end."""

    def __init__(self, server):
        self.server = server
        self.cpu = cpu_seconds(server.pid)
        self.log = server.serverlog_path.stat().st_size
        self.started = time.monotonic()

    def end(self, what):
        seconds = time.monotonic() - self.started
        cpu = cpu_seconds(self.server.pid) - self.cpu
        growth = self.server.serverlog_path.stat().st_size - self.log
        note("%s: %.1f s, server CPU %.2f s (%.1f%% of a core), serverlog.txt +%d bytes, RSS %d kB, %d descriptors"
             % (what, seconds, cpu, 100 * cpu / seconds, growth, resident_kilobytes(self.server.pid),
                descriptors(self.server.pid)))
        return seconds, cpu, growth


class HostileConnectionsTest(harness.AsyncIntegrationTestCase):
    def limited_binary(self, limit):
        """The server binary run under a descriptor limit of its own."""
        wrapper = self.workdir / "limited_server.sh"
        wrapper.write_text('#!/bin/sh\nulimit -n %d\nexec "%s" "$@"\n' % (limit, harness.server_binary()))
        wrapper.chmod(0o755)
        return str(wrapper)

    def lines(self, server, start, prefix):
        return [line for line in list(server.output.lines)[start:] if line.startswith(prefix)]

    def assert_idle(self, measured, what):
        seconds, cpu, growth = measured
        self.assertLess(cpu, CPU_SHARE * seconds, "%s: server CPU %.2f s in %.1f s" % (what, cpu, seconds))
        self.assertLess(growth, LOG_GROWTH, "%s: serverlog.txt grew by %d bytes" % (what, growth))

    async def test_attacks_beside_a_game(self):
        self.raise_descriptor_limit(4096)
        database = game_play.DATABASE
        database.create_database("hostile")
        for player in PLAYERS + [JOINER]:
            for number in (0, game_play.GAME_ID):
                database.put_document("hostile", "u%d_%d" % (number, player), {})
        mms = self.start_mms_peer("--demo", "--stats-url", database.url + "hostile/")
        console_port = harness.free_port(udp_too=False)
        server = self.start_server("+rcon_password", PASSWORD, "+rcon_port", console_port, mms_port=mms.port,
                                   files={"variables.ini": VARIABLES},
                                   binary=self.limited_binary(SERVER_DESCRIPTORS))
        await server.wait_for_line_async(" as CouchDB stats source")
        driver = GameDriver(int(server.port), PLAYERS, command_ticks=None)
        self.addAsyncCleanup(driver.close)
        await driver.connect_players()
        await driver.wait_for_game_start(0, timeout=GAME_START_SECONDS)
        await driver.wait_for_ticks(0, 5)
        note("game running: RSS %d kB, %d descriptors" % (resident_kilobytes(server.pid), descriptors(server.pid)))

        await self.idle_console_sockets(server, console_port, driver)
        await self.descriptors_exhausted_through_the_console(server, console_port, driver)
        await self.wrong_passwords(server, console_port)
        spectator = await self.silent_sockets_beside_a_joining_player(server, driver)

        driver.end_command(after=5)
        await driver.wait_for_game_end(0, timeout=GAME_END_SECONDS)
        ticks = driver.check_game(0, await game_play.saved_replay(server))
        driver.check_nobody_removed(driver.players + [spectator])
        note("game over: %d ticks relayed to every player; largest gap between two ticks %.2f s"
             % (ticks, driver.largest_tick_gap(0)))

    async def idle_console_sockets(self, server, port, driver):
        """The reported attack: idle connections to the console port, from four addresses in turn.
        Sixteen wait for a password (four from each address, its share) and are closed 10 s after
        their accept, every other one is closed at once."""
        mark = server.mark()
        measure = Measure(server)
        ticks = driver.tick_count(0)

        def attack():
            sockets = []
            opened = []
            try:
                for i in range(IDLE_CONSOLE_SOCKETS):
                    sockets.append(connect(port, IDLE_CONSOLE_ADDRESSES[i % len(IDLE_CONSOLE_ADDRESSES)]))
                    opened.append(time.monotonic())
                closed_at = [None] * len(sockets)
                deadline = time.monotonic() + CONSOLE_AUTHENTICATION_SECONDS + 5
                while None in closed_at and time.monotonic() < deadline:
                    open_ones = [s for s, at in zip(sockets, closed_at) if at is None]
                    for ready in select.select(open_ones, [], [], 0.5)[0]:
                        index = sockets.index(ready)
                        try:
                            data = ready.recv(64)
                        except ConnectionResetError:
                            data = b""
                        if not data:
                            closed_at[index] = time.monotonic() - opened[index]
                return closed_at
            finally:
                for sock in sockets:
                    sock.close()

        closed_at = await asyncio.to_thread(attack)
        self.assertNotIn(None, closed_at, "every idle console connection is closed")
        # Those closed at accept are seen closed once all are open (connecting 240 takes a while); the
        # held ones about 10 s after their accept.
        held = [seconds for seconds in closed_at if seconds > CONSOLE_AUTHENTICATION_SECONDS / 2]
        self.assertEqual(len(held), CONSOLE_UNAUTHENTICATED, sorted(closed_at)[-20:])
        held_from = [IDLE_CONSOLE_ADDRESSES[i % len(IDLE_CONSOLE_ADDRESSES)]
                     for i, seconds in enumerate(closed_at) if seconds > CONSOLE_AUTHENTICATION_SECONDS / 2]
        for address in IDLE_CONSOLE_ADDRESSES:
            self.assertEqual(held_from.count(address), CONSOLE_UNAUTHENTICATED_PER_ADDRESS, address)
        for seconds in held:
            self.assertGreater(seconds, CONSOLE_AUTHENTICATION_SECONDS - 0.5)
            self.assertLess(seconds, CONSOLE_AUTHENTICATION_SECONDS + 2.5)
        # The lines may still be on their way through the server's output when the sockets are seen closed:
        # wait for the last one expected (the count below says what came if it never does).
        rcon = "Rcon connection from ::ffff:127.0.0."
        expected = CONSOLE_UNAUTHENTICATED + len(IDLE_CONSOLE_ADDRESSES)
        seen = []

        def last_expected(line):
            if line.startswith(rcon):
                seen.append(line)
            return len(seen) == expected
        try:
            await server.wait_for_line_at_async(last_expected, start=mark)
        except AssertionError:
            pass
        lines = self.lines(server, mark, rcon)
        self.assertEqual(len(lines), expected, "a line for each late one and one for each address's refusals")
        self.assertEqual(len([line for line in lines if " are waiting for authentication " in line]),
                         len(IDLE_CONSOLE_ADDRESSES), lines)
        self.assert_idle(measure.end("%d idle console sockets" % IDLE_CONSOLE_SOCKETS), "idle console sockets")
        self.assertGreater(driver.tick_count(0), ticks)
        self.assertEqual(len(await asyncio.to_thread(console_answers, port)), 2)

    async def descriptors_exhausted_through_the_console(self, server, port, driver):
        """Authenticated console connections take every descriptor the server may have; more wait in
        the backlog. The server neither spins nor floods its log, closes the oldest waiting
        connection at each pause, relays the game all along, and answers once the sockets close."""
        mark = server.mark()

        def fill():
            held = []
            while len(held) < SERVER_DESCRIPTORS:
                console = ConsoleClient(port)
                try:
                    answers = console.authenticate(PASSWORD, timeout=2.0)
                except (socket.timeout, ConnectionResetError):
                    # Out of descriptors the server closes the oldest waiting connection, or leaves
                    # it waiting.
                    answers = []
                if len(answers) != 2:
                    console.close()
                    return held
                held.append(console)
            return held

        held = await asyncio.to_thread(fill)
        note("%d authenticated console connections took the server's descriptors (%d open)"
             % (len(held), descriptors(server.pid)))
        waiting = [connect(port, BACKLOG_ADDRESS) for _ in range(BACKLOG_WAITING)]
        try:
            measure = Measure(server)
            ticks = driver.tick_count(0)
            await asyncio.sleep(MEASURE_SECONDS)
            measured = measure.end("descriptors exhausted, %d connections waiting" % BACKLOG_WAITING)
            self.assert_idle(measured, "descriptors exhausted")
            # The game went on meanwhile: about five ticks a second.
            self.assertGreater(driver.tick_count(0) - ticks, MEASURE_SECONDS * 2)
            failures = self.lines(server, mark, "Rcon socket error -> failed to accept new client (error : Too many "
                                                "open files) [")
            # One line per pause, the pauses growing to a second.
            self.assertGreater(len(failures), 5)
            self.assertLess(len(failures), 2 * MEASURE_SECONDS + 10)
            dropped = [sock for sock in waiting if read_until_closed(sock, 0.01) is not None]
            self.assertGreater(len(dropped), 5, "the oldest waiting connections are closed, one per pause")
        finally:
            for console in held:
                console.close()
            for sock in waiting:
                sock.close()
        answers = await asyncio.to_thread(console_answers, port)
        self.assertEqual(len(answers), 2, "the console answers once the sockets are closed")

    async def wrong_passwords(self, server, port):
        """A flood of wrong passwords from one address: five are answered and logged, then the
        address is refused at accept with one line, while another address still gets in."""
        mark = server.mark()
        measure = Measure(server)

        def flood():
            answered = 0
            for _ in range(WRONG_PASSWORDS):
                sock = connect(port, "127.0.0.2")
                try:
                    sock.sendall(encode_packet(1, TYPE_AUTH, "guess"))
                    data = read_until_closed(sock, 5.0)
                finally:
                    sock.close()
                if data:
                    packets = PacketReader().feed(data)
                    self.assertEqual([(p.id, p.type) for p in packets], [(1, 0), (-1, TYPE_AUTH_ANSWER)])
                    answered += 1
            return answered

        started = time.monotonic()
        answered = await asyncio.to_thread(flood)
        note("%d wrong passwords in %.2f s: %d answered" % (WRONG_PASSWORDS, time.monotonic() - started, answered))
        self.assertEqual(answered, PASSWORD_FAILURES)
        refused = self.lines(server, mark, "Rcon authentication refused: wrong password from ::ffff:127.0.0.2 : ")
        self.assertEqual(len(refused), PASSWORD_FAILURES)
        blocked = self.lines(server, mark, "Rcon connections from ::ffff:127.0.0.2 refused for 60 s")
        self.assertEqual(len(blocked), 1)

        # The right password from the blocked address is not even read; from another, it works.
        def right_password(source):
            sock = connect(port, source)
            try:
                sock.sendall(encode_packet(1, TYPE_AUTH, PASSWORD))
                return read_until_closed(sock, 1.0)
            finally:
                sock.close()

        self.assertEqual(await asyncio.to_thread(right_password, "127.0.0.2"), b"")
        self.assertEqual(len(await asyncio.to_thread(console_answers, port)), 2)
        # A burst of a tenth of a second: its CPU share says nothing, its log does.
        _, _, growth = measure.end("%d wrong passwords" % WRONG_PASSWORDS)
        self.assertLess(growth, LOG_GROWTH)

    async def silent_sockets_beside_a_joining_player(self, server, driver):
        """Silent game connections from three addresses: eight of each wait, the others are closed at
        once; a player joining meanwhile is admitted, though the silent ones outnumber the free
        slots; the silent ones are refused with TimeOut 5 s after their accept."""
        mark = server.mark()
        measure = Measure(server)
        port = int(server.port)
        opened = []
        for source in SILENT_ADDRESSES:
            for _ in range(SILENT_PER_ADDRESS):
                opened.append((connect(port, source), time.monotonic()))
        try:
            spectator = await driver.add_client(JOINER)
            await driver.wait_until(lambda: spectator.admitted, harness.DEFAULT_TIMEOUT, "admission of the joiner")
            self.assertTrue(spectator.spectator)

            def outcomes():
                results = []
                for sock, at in opened:
                    data = read_until_closed(sock, IDENTIFICATION_SECONDS + 5)
                    results.append((data, time.monotonic() - at))
                return results

            results = await asyncio.to_thread(outcomes)
        finally:
            for sock, _ in opened:
                sock.close()
        time_outs = [seconds for data, seconds in results if data == bytes.fromhex("0006c70000000004")]
        self.assertEqual(len(time_outs), UNIDENTIFIED_PER_ADDRESS * len(SILENT_ADDRESSES), results)
        self.assertEqual([data for data, _ in results].count(b""),
                         (SILENT_PER_ADDRESS - UNIDENTIFIED_PER_ADDRESS) * len(SILENT_ADDRESSES))
        for seconds in time_outs:
            self.assertGreater(seconds, IDENTIFICATION_SECONDS - 0.5)
            self.assertLess(seconds, IDENTIFICATION_SECONDS + 3)
        for source in SILENT_ADDRESSES:
            self.assertEqual(len(self.lines(server, mark, "Refusing client connection from IP %s:" % source)),
                             SILENT_PER_ADDRESS - UNIDENTIFIED_PER_ADDRESS)
        self.assertEqual(len(self.lines(server, mark, "Client with IP 127.0.0.")), len(time_outs))
        self.assert_idle(measure.end("%d silent game connections" % len(opened)), "silent game connections")
        return spectator

    async def test_a_backlog_connection_while_the_link_is_down(self):
        """The match-making peer never answers the init: the link stays Connected, not Ready. A client
        connecting meanwhile waits in the backlog and costs the server no CPU."""
        peer = await self.start_mms_peer_in_process()
        server = self.start_server(mms_port=peer.port)
        await peer.events.wait_for({"name": "init"})
        client = connect(int(server.port))
        try:
            await asyncio.sleep(0.5)
            measure = Measure(server)
            await asyncio.sleep(5.0)
            self.assert_idle(measure.end("a connection in the backlog, link not Ready"), "backlog while not Ready")
            self.assertEqual(self.lines(server, 0, "New client trying to connect"), [])
        finally:
            client.close()


if __name__ == "__main__":
    harness.main()
