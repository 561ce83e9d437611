"""A thousand silent connections against the real server binary: the player limit's worth wait for
their login time-out, every other one is refused at once and closed, the server gives every descriptor
back, and a client logging in afterwards is validated and has its statistics asked for."""

import asyncio
import os
import re

import harness
import udp_query
from http_endpoint import HttpEndpoint

SOCKETS = 1000
# Fewer than the listen backlog at a time, so the kernel refuses none of them.
BATCH = 100
PLAYER_LIMIT = 10
# Enough descriptors for a thousand sockets in each process, besides their own.
DESCRIPTORS = SOCKETS + 200
ACCEPTED = re.compile(r"^New client trying to connect from IP (\S+) \(socket : \d+\)$")
TIMED_OUT = re.compile(r"^Client with IP (\S+) has taken too much time to login\. Disconnecting\.$")
REJECTED = re.compile(r"^Rejecting pending client with IP (\S+) \(reason : (\w+)\)$")
PLAYER = 0x1234
TICKET = bytes(range(128))


class IdleSocketsTest(harness.AsyncIntegrationTestCase):
    async def test_a_thousand_idle_sockets(self):
        self.raise_descriptor_limit(DESCRIPTORS)
        endpoint = HttpEndpoint()
        endpoint.start()
        self.addCleanup(endpoint.stop)
        endpoint.command({"cmd": "answer", "status": 404})
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, {"StatsURL": "http://127.0.0.1:%d/" % endpoint.port})
        server = self.start_server(mms_port=peer.port, files={"variables.ini": "NbMaxPlayer=%d\n" % PLAYER_LIMIT})
        await server.wait_for_line_async(" as CouchDB stats source")
        # The statistics source opens its descriptors after that line: a query answered later comes
        # after them.
        self.assertIsNotNone(await asyncio.to_thread(udp_query.query, server.port))
        descriptors = self.open_descriptors(server)

        clients = {}
        for _ in range(SOCKETS // BATCH):
            batch = await asyncio.gather(*(self.start_game_client_in_process(server.port) for _ in range(BATCH)))
            batch = {client.events.events[0]["local"]: client for client in batch}
            clients.update(batch)
            await self.wait_for_every_line(server, ACCEPTED, set(batch))
        order = [ACCEPTED.match(line).group(1) for line in list(server.output.lines) if ACCEPTED.match(line)]
        self.assertEqual(sorted(order), sorted(clients))
        held, refused = order[:PLAYER_LIMIT], order[PLAYER_LIMIT:]

        # Past the limit each one is told Full at once and closed by the server.
        await self.wait_for_every_line(server, REJECTED, set(refused))
        await asyncio.gather(*(self.last_packet(clients[ip], 5) for ip in refused))
        self.assertEqual(self.rejections(server), {ip: "Full" for ip in refused})
        # All of that before any held one timed out.
        for ip in held:
            self.assertEqual(clients[ip].events.events[1:], [], ip)
        self.assertEqual(self.open_descriptors(server), descriptors + PLAYER_LIMIT)

        # The held ones wait for their login time-out.
        await asyncio.gather(*(self.last_packet(clients[ip], 4, timeout=60) for ip in held))
        await self.wait_for_every_line(server, TIMED_OUT, held)
        await self.wait_for_every_line(server, REJECTED, held)
        self.assertEqual(self.rejections(server), {**{ip: "Full" for ip in refused}, **{ip: "TimeOut" for ip in held}})
        self.assertEqual(self.open_descriptors(server), descriptors)

        client = await self.start_game_client_in_process(server.port)
        await client.send_connect(PLAYER, TICKET)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER})
        await peer.send_verdict(PLAYER, 0)
        # Its statistics are asked for: the general document, then the one of this game (id 24).
        requests = await asyncio.to_thread(endpoint.wait_for_requests, 2)
        self.assertEqual([(r["method"], r["path"]) for r in requests], [("GET", "/u0_%d" % PLAYER),
                                                                         ("GET", "/u24_%d" % PLAYER)])

    @staticmethod
    def open_descriptors(server):
        return len(os.listdir("/proc/%d/fd" % server.pid))

    @staticmethod
    async def wait_for_every_line(server, pattern, addresses):
        """Waits until the pattern's lines have named every address."""
        left = set(addresses)

        def test(line):
            match = pattern.match(line)
            if match:
                left.discard(match.group(1))
            return not left

        await asyncio.to_thread(server.output.wait_for, test)

    @staticmethod
    def rejections(server):
        matches = (REJECTED.match(line) for line in list(server.output.lines))
        return {match.group(1): match.group(2) for match in matches if match}

    async def last_packet(self, client, reason, timeout=15):
        """The reason is the one frame the client reads, then the server closes the connection."""
        closed = await client.events.wait_for({"event": "closed"}, timeout=timeout)
        self.assertEqual(closed, {"event": "closed", "by": "server"})
        self.assertEqual([event.get("raw") for event in client.events.events[1:-1]], ["c700%08x" % reason])


if __name__ == "__main__":
    harness.main()
