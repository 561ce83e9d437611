"""Floods of game connections against the real server binary: silent connections from many loopback
addresses while a real player logs in, connect-and-reset from one address, identifications from one
address, and two connections with one player id. The player is admitted every time, the log grows by
kilobytes, the match-making server sees a few validation requests a second from one address, and a
verdict reaches only the connection whose request it answers.

Attackers connect from 127.0.0.2 and up; the real players from 127.0.0.1."""

import asyncio
import multiprocessing
import os
import socket
import struct
import sys
import threading
import time

import harness
from admission_test import TICKET, AdmissionCase, create_database, player_documents, setUpModule  # noqa: F401
from game_client import encode_connect

PLAYER = 4242
# The silent attack of the report: 249 addresses, 8 connections each (the bound per address).
SILENT_ADDRESSES = ["127.0.0.%d" % host for host in range(2, 251)]
SILENT_PER_ADDRESS = 8
LOGIN_TRIES = 10
FLOOD_SECONDS = 20.0
# Two flooding threads are enough to exceed every rate, and leave the suites running beside this one
# (ctest runs several at once) their share of a small machine.
FLOOD_WORKERS = 2
IDENTIFICATION_SECONDS = 10.0
# What the server's per-address rates let through in a run of that length (burst and rate), with
# a little slack for a loaded machine's clock.
IDENTIFICATION_BURST = 16
IDENTIFICATIONS_PER_SECOND = 4
# The log may grow by this much during the connect-and-reset flood: kilobytes, not megabytes.
FLOOD_LOG_GROWTH = 256 * 1024
ALREADY_IN_SESSION = 7
INVALID_TICKET = 18


def note(text):
    sys.stderr.write("%s\n" % text)
    sys.stderr.flush()


def descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Sampler:
    """The server's descriptor count, sampled every 100 ms in a thread until stopped; the largest."""

    def __init__(self, pid):
        self.pid = pid
        self.largest = 0
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stopped.wait(0.1):
            try:
                self.largest = max(self.largest, descriptors(self.pid))
            except OSError:
                return

    def stop(self):
        self.stopped.set()
        self.thread.join()
        return self.largest


def hold_silent_connections(port, stop, opened):
    """In a process of its own: every silent connection of every attacking address, each opened again
    as soon as the server closes it, until `stop` is set."""

    async def hold(source):
        while not stop.is_set():
            try:
                reader, writer = await asyncio.open_connection(harness.LOOPBACK, port, local_addr=(source, 0))
            except OSError:
                await asyncio.sleep(0.1)
                continue
            with opened.get_lock():
                opened.value += 1
            try:
                while not stop.is_set():
                    try:
                        if not await asyncio.wait_for(reader.read(64), timeout=0.5):
                            break
                    except asyncio.TimeoutError:
                        continue
            except OSError:
                pass
            finally:
                writer.close()
            await asyncio.sleep(0.05)

    async def main():
        await asyncio.gather(*(hold(source) for source in SILENT_ADDRESSES for _ in range(SILENT_PER_ADDRESS)))

    asyncio.run(main())


class ManySourcesTest(AdmissionCase):
    async def server_for(self, name, players, verdict=0):
        url = create_database(name, player_documents(*players))
        peer, server = await self.linked_server(database=url)
        peer.set_auto_verdict(verdict)
        return peer, server

    async def test_silent_connections_from_many_addresses_leave_room_for_a_player(self):
        self.raise_descriptor_limit(8192)
        _, server = await self.server_for("silent", [PLAYER])
        # The attackers run in a process of their own, so that their churn does not hold up the
        # player's client in this one.
        context = multiprocessing.get_context("spawn")
        stop = context.Event()
        opened = context.Value("q", 0)
        attackers = context.Process(target=hold_silent_connections, args=(int(server.port), stop, opened))
        attackers.start()
        try:
            await asyncio.sleep(5)
            admitted = 0
            started = time.monotonic()
            for _ in range(LOGIN_TRIES):
                player = await self.admit(PLAYER)
                admitted += 1
                await self.leave(player)
                await asyncio.sleep(1)
            note("%d of %d logins admitted beside %d addresses x %d silent connections (%d opened) in %.1f s"
                 % (admitted, LOGIN_TRIES, len(SILENT_ADDRESSES), SILENT_PER_ADDRESS, opened.value,
                    time.monotonic() - started))
            self.assertEqual(admitted, LOGIN_TRIES)
            self.assertFalse(any("PendingClientListFull" in line for line in server.output.lines))
        finally:
            stop.set()
            await asyncio.to_thread(attackers.join, 30)
            if attackers.is_alive():
                attackers.kill()
        await self.stop_server()

    async def test_connect_and_reset_flood_from_one_address(self):
        self.raise_descriptor_limit(8192)
        _, server = await self.server_for("reset", [PLAYER])
        port = int(server.port)
        log_before = server.serverlog_path.stat().st_size
        cpu_before = cpu_seconds(server.pid)
        sampler = Sampler(server.pid)
        deadline = time.monotonic() + FLOOD_SECONDS
        counts = [0] * FLOOD_WORKERS

        def flood(index):
            linger = struct.pack("ii", 1, 0)
            while time.monotonic() < deadline:
                sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                try:
                    sock.bind(("127.0.0.2", 0))
                    sock.connect((harness.LOOPBACK, port))
                    sock.send(b"\xff\xff")
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, linger)
                    counts[index] += 1
                except OSError:
                    pass
                finally:
                    sock.close()

        await asyncio.gather(*(asyncio.to_thread(flood, index) for index in range(FLOOD_WORKERS)))
        largest = sampler.stop()
        # The summary of the last second is written a second later.
        await asyncio.sleep(1.5)
        growth = server.serverlog_path.stat().st_size - log_before
        cpu = cpu_seconds(server.pid) - cpu_before
        note("connect-and-reset flood: %d connections in %.0f s, serverlog.txt +%d bytes, server CPU %.2f s, "
             "at most %d descriptors" % (sum(counts), FLOOD_SECONDS, growth, cpu, largest))
        self.assertLess(growth, FLOOD_LOG_GROWTH)
        self.assertTrue(any(" connections from 127.0.0.2 refused or closed in the last second (" in line
                            for line in server.output.lines))
        # A real player still logs in from another address.
        player = await self.admit(PLAYER)
        await self.leave(player)
        await self.stop_server()

    async def test_identifications_from_one_address_reach_match_making_at_its_rate(self):
        self.raise_descriptor_limit(8192)
        peer, server = await self.server_for("identify", [PLAYER], verdict=1)
        port = int(server.port)
        sampler = Sampler(server.pid)
        deadline = time.monotonic() + IDENTIFICATION_SECONDS
        sent = [0]

        def flood():
            player = 1 << 20
            while time.monotonic() < deadline:
                sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                try:
                    sock.settimeout(2.0)
                    sock.bind(("127.0.0.3", 0))
                    sock.connect((harness.LOOPBACK, port))
                    player += 1
                    sock.sendall(encode_connect(player, TICKET))
                    sent[0] += 1
                except OSError:
                    pass
                finally:
                    sock.close()

        started = time.monotonic()
        await asyncio.gather(*(asyncio.to_thread(flood) for _ in range(FLOOD_WORKERS)))
        seconds = time.monotonic() - started
        largest = sampler.stop()
        await asyncio.sleep(1.0)
        requests = len([event for event in peer.events.events if event.get("name") == "validate_player"])
        note("identification flood: %d sent in %.1f s, %d validation requests forwarded, at most %d descriptors"
             % (sent[0], seconds, requests, largest))
        self.assertLessEqual(requests, IDENTIFICATION_BURST + IDENTIFICATIONS_PER_SECOND * (seconds + 1))
        self.assertLess(largest, 200)
        await self.stop_server()

    async def test_one_id_twice_and_verdicts_out_of_order(self):
        peer, server = await self.server_for("twice", [PLAYER], verdict=None)
        # The first connection's request is held; a second connection with the id is refused at once,
        # and the verdict, when it comes, admits the first.
        victim = await self.connect(PLAYER)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER})
        asked = time.monotonic()
        attacker = await self.connect(PLAYER)
        await attacker.events.wait_for({"name": "last_packet", "zero": 0, "reason": ALREADY_IN_SESSION})
        self.assertLess(time.monotonic() - asked, 2.0)
        await self.leave(attacker)
        await peer.send_verdict(PLAYER, 0)
        await victim.events.wait_for({"name": "client_event", "kind": 1, "player_id": PLAYER})
        victim.admitted = True
        validations = [event for event in peer.events.events if event.get("name") == "validate_player"]
        self.assertEqual(len(validations), 1)
        await self.leave(victim)

        # The first connection leaves before its verdict: the id stays taken until the verdict comes,
        # which then admits nobody; the next connection's own verdict is its own.
        mark = server.mark()
        asked = len(peer.events.events)
        first = await self.connect(PLAYER)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER}, start=asked)
        await self.leave(first)
        await server.wait_for_line_async("Rejecting pending client with IP %s (reason : ConnectionLost)"
                                         % first.local, start=mark)
        second = await self.connect(PLAYER)
        await second.events.wait_for({"name": "last_packet", "zero": 0, "reason": ALREADY_IN_SESSION})
        await self.leave(second)
        await peer.send_verdict(PLAYER, 0)
        # The verdict frees the id once the server has read it; nothing in the log says when, so the
        # next connection tries until it is no longer refused.
        for _ in range(20):
            asked = len(peer.events.events)
            third = await self.connect(PLAYER)
            validated = asyncio.ensure_future(
                peer.events.wait_for({"name": "validate_player", "player_id": PLAYER}, start=asked))
            refused = asyncio.ensure_future(
                third.events.wait_for({"name": "last_packet", "zero": 0, "reason": ALREADY_IN_SESSION}))
            done, pending = await asyncio.wait([validated, refused], timeout=harness.DEFAULT_TIMEOUT,
                                               return_when=asyncio.FIRST_COMPLETED)
            for future in pending:
                future.cancel()
            if validated in done:
                break
            await self.leave(third)
        else:
            self.fail("the id stayed taken after the verdict of the left connection")
        await peer.send_verdict(PLAYER, 1)
        await third.events.wait_for({"name": "last_packet", "zero": 0, "reason": INVALID_TICKET})
        await self.leave(third)
        self.assertFalse(any(line.startswith("Client added in session") for line in list(server.output.lines)[mark:]))
        await self.stop_server()


if __name__ == "__main__":
    harness.main()
