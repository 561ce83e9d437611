"""Clients logging in, against the real server binary: each refusal reaches the client as the last
packet with its reason, is logged with its name and ends with the server closing the connection;
an accepted connect packet reaches the match-making server as a validation request; no connection is
accepted before the match-making link is Ready."""

import asyncio
import signal

import harness
import udp_query
from console_client import ConsoleClient
from game_client import GameClient

GAME_INFO = {"StatsURL": "http://127.0.0.1:5984/"}
NEW_CLIENT = "New client trying to connect from IP "
REJECTING = "Rejecting pending client with IP %s (reason : %s)"
VALIDATION_FAILED = "Validation for client %d with IP {ip} failed (reason : %s) -> Disconnected"
DROP = "Drop packet from pending client with IP {ip} (reason : %s)"
NB_PLAYER = 'Variable NbPlayer set to "'
PLAYER = 0x1234
TEAM = 1 << 56 | 5
TICKET = bytes(range(128))

# The servers of the refusal table, by name: extra switches and "variables.ini".
SERVERS = {
    "password": ((), "Password=secret\n"),
    "version 1.0": (("+force_game_version", "1.0"), ""),
    # Both places are taken (see take_both_places) before its row runs.
    "two places": ((), "NbMaxPlayer=2\n"),
}


def last_packet(reason):
    return bytes.fromhex("0006c700") + reason.to_bytes(4, "big")


def received_frames(client):
    """Every frame the client read, as it was on the wire (length included)."""
    frames = []
    for event in client.events.events:
        if event["event"] in ("connected", "closed"):
            continue
        if "raw" in event:
            body = bytes.fromhex(event["raw"])
            frames.append(len(body).to_bytes(2, "big") + body)
        else:
            frames.append(event)
    return frames


def connect_with(player, **fields):
    async def send(client, peer):
        await client.send_connect(player, TICKET, **fields)
    return send


def verdict(player, value):
    async def send(client, peer):
        await client.send_connect(player, TICKET, password="secret")
        await peer.events.wait_for({"name": "validate_player", "player_id": player})
        await peer.send_verdict(player, value)
    return send


class PendingClientsTest(harness.AsyncIntegrationTestCase):
    async def linked_server(self, *extra, files=None, directory=None):
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, GAME_INFO)
        server = self.start_server(*extra, mms_port=peer.port, files=files, directory=directory)
        await server.wait_for_line_async(" as CouchDB stats source")
        return peer, server

    async def new_client(self, server):
        """A client the server has accepted, from an address of its own: the server writes about a
        few connections a second of one address, and these are many at once."""
        self.sources = getattr(self, "sources", 0) + 1
        client = GameClient()
        await client.connect(server.port, source="127.0.3.%d" % self.sources)
        self.addAsyncCleanup(client.close)
        await server.wait_for_line_async(NEW_CLIENT + client.events.events[0]["local"] + " ")
        return client

    async def refused(self, server, client, reason, name, line=None):
        """The reason is the one frame the client reads before the server closes the connection; the
        rejection is logged with its name, after `line` when given ("{ip}" stands for the client's)."""
        closed = await client.events.wait_for({"event": "closed"})
        self.assertEqual(received_frames(client), [last_packet(reason)])
        self.assertEqual(closed, {"event": "closed", "by": "server"})
        ip = client.events.events[0]["local"]
        rejection, _ = await asyncio.to_thread(server.output.wait_for, REJECTING % (ip, name))
        if line is not None:
            index, _ = await asyncio.to_thread(server.output.wait_for, line.format(ip=ip))
            self.assertLess(index, rejection)

    async def take_both_places(self, server, peer):
        """Two clients identified and waiting for their verdict: a server for two players is full. A
        silent connection holds no place."""
        first = await self.new_client(server)
        await first.send_connect(PLAYER + 100, TICKET)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER + 100})
        await self.new_client(server)
        second = await self.new_client(server)
        await second.send_connect(PLAYER + 101, TICKET)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER + 101})
        await server.wait_for_line_async(NB_PLAYER + '2"')
        return first, second

    async def test_refusals(self):
        linked = await asyncio.gather(*(
            self.linked_server(*extra, files={"variables.ini": ini}, directory=name.replace(" ", "_"))
            for name, (extra, ini) in SERVERS.items()))
        servers = dict(zip(SERVERS, linked))
        full_peer, full_server = servers["two places"]
        first, second = await self.take_both_places(full_server, full_peer)

        cases = [
            # server, what the client sends (nothing for None), reason, its name, line logged before
            ("password", lambda c, p: c.send_raw(b"\x00\x02\xc2x"), 20, "Failed",
             DROP % "invalid channel, channel 194"),
            ("password", lambda c, p: c.send_raw(b"\x00\x03\xc1\x01\x02"), 20, "Failed",
             DROP % "decode packet failed, channel : NETWORK_CHANNEL_DEDICATED_INIT_CONN"),
            ("password", connect_with(TEAM, password="secret"), 11, "IncorrectIdentification", None),
            ("password", connect_with(PLAYER, version="", password="secret"), 12, "IncorrectVersion", None),
            ("password", connect_with(PLAYER), 25, "DedicatedServerNeedPassword", None),
            ("password", connect_with(PLAYER, password="guess"), 26, "DedicatedServerInvalidPassword", None),
            ("password", verdict(PLAYER + 2, 2), 2, "ConnectionLost",
             VALIDATION_FAILED % (PLAYER + 2, "client is not connected to match making server")),
            ("password", verdict(PLAYER + 9, 9), 20, "Failed",
             VALIDATION_FAILED % (PLAYER + 9, "match making server sent invalid reason")),
            ("version 1.0", connect_with(PLAYER, version="2.0"), 12, "IncorrectVersion", None),
            # Refused when it identifies itself, the game being full by then.
            ("two places", connect_with(PLAYER + 102), 5, "Full", None),
        ]

        async def one(server_name, send, reason, name, line):
            peer, server = servers[server_name]
            client = await self.new_client(server)
            if send is not None:
                await send(client, peer)
            await self.refused(server, client, reason, name, line)

        await asyncio.gather(*(one(*case) for case in cases))

        # The forced version is the one accepted.
        peer, server = servers["version 1.0"]
        client = await self.new_client(server)
        await client.send_connect(PLAYER, TICKET, version="1.0")
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER})

        # The refused third left the count alone; the first leaving frees its place.
        reply = await asyncio.to_thread(udp_query.query, full_server.port)
        self.assertIsNotNone(reply)
        self.assertEqual(reply.as_dict()["NbPlayer"], "2")
        self.assertEqual(second.events.events[1:], [])
        mark = full_server.mark()
        await first.close()
        await full_server.wait_for_line_async(NB_PLAYER + '1"', start=mark)
        counts = [line[len(NB_PLAYER):] for line in full_server.output.lines if line.startswith(NB_PLAYER)]
        self.assertEqual(counts, ['1"', '2"', '1"'])

    async def test_validation_request_and_verdicts(self):
        peer, server = await self.linked_server()
        port = int(server.port)
        client = await self.start_game_client_in_process(port)
        await client.send_connect(PLAYER, TICKET)
        message = await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER})
        self.assertEqual(message["ticket"], TICKET.hex())
        # A verdict for another id changes nothing; a second packet before the verdict refuses.
        await peer.send_verdict(PLAYER + 1, 1)
        await client.send_connect(PLAYER, TICKET)
        await self.refused(server, client, 1, "Refused",
                           "Client with id %d and IP {ip} sent packet while waiting ticket validation "
                           "-> Disconnected" % PLAYER)

        # The refused client's request is still unanswered: its id stays taken until the verdict
        # comes, so the next client logs in with another.
        client = await self.start_game_client_in_process(port)
        await client.send_connect(PLAYER + 3, TICKET)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER + 3},
                                   start=len(peer.events.events))
        await peer.send_verdict(PLAYER + 3, 1)
        await self.refused(server, client, 18, "InvalidTicket",
                           VALIDATION_FAILED % (PLAYER + 3, "invalid ticket"))

    async def test_exit_while_a_refused_client_keeps_its_end_open(self):
        """SIGTERM within the second a refused client is given to close its end: the kill still
        waiting ends with the server, which exits cleanly."""
        peer, server = await self.linked_server()
        client = await self.new_client(server)
        await client.send_raw(bytes.fromhex("0002c278"))
        await client.events.wait_for({"name": "last_packet"})
        server.signal(signal.SIGTERM)
        status = await asyncio.to_thread(server.wait)
        self.assertEqual(status, 0, "\n".join(server.output.lines[-10:]))
        self.assertFalse(any("Fatal" in line for line in server.output.lines))

    async def test_connections_wait_for_the_ready_link(self):
        peer = await self.start_mms_peer_in_process()  # silent: the link stays Connected
        console_port = harness.free_port(udp_too=False)
        server = self.start_server("+rcon_password", "pw", "+rcon_port", console_port, mms_port=peer.port)
        await peer.events.wait_for({"name": "init"})
        clients = [await self.start_game_client_in_process(server.port) for _ in range(3)]
        for number, client in enumerate(clients):
            await client.send_connect(PLAYER + number, TICKET)

        # A console round trip: the server's event loop has run with the connections waiting.
        def authenticate():
            console = ConsoleClient(console_port)
            try:
                return console.authenticate("pw")
            finally:
                console.close()

        self.assertEqual(len(await asyncio.to_thread(authenticate)), 2)
        for client in clients:
            self.assertEqual(client.events.events[1:], [])

        await peer.answer_init(0, GAME_INFO)
        ready, _ = await asyncio.to_thread(server.output.wait_for, "Connection to match making server validated ")
        for number, client in enumerate(clients):
            index, _ = await asyncio.to_thread(server.output.wait_for, NEW_CLIENT + client.events.events[0]["local"])
            self.assertGreater(index, ready)
            # What the client sent while it waited is read once it is accepted.
            await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER + number})
        accepted = [line for line in server.output.lines if line.startswith(NEW_CLIENT)]
        self.assertEqual(len(accepted), len(clients))


if __name__ == "__main__":
    harness.main()
