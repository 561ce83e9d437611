"""Clients logging in, against the real server binary: each refusal reaches the client as the last
packet with its reason, is logged with its name and ends with the server closing the connection;
an accepted connect packet reaches the match-making server as a validation request."""

import asyncio

import harness
import mms_peer
from game_client import GameClient

GAME_INFO = {"StatsURL": "http://127.0.0.1:5984/"}
REJECTING = "Rejecting pending client with IP 127.0.0.1:%d (reason : %s)"
PLAYER = 0x1234
TEAM = 1 << 56 | 5
TICKET = bytes(range(128))


class PendingClientsTest(harness.AsyncIntegrationTestCase):
    async def linked_server(self, files=None):
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, GAME_INFO)
        server = self.start_server(mms_port=peer.port, files=files)
        await server.wait_for_line_async(" as CouchDB stats source")
        return peer, server

    async def refused(self, server, client, reason, name):
        await client.events.wait_for({"name": "last_packet", "zero": 0, "reason": reason})
        local_port = int(client.events.events[0]["local"].split(":")[1])
        await server.wait_for_line_async(REJECTING % (local_port, name))
        await client.close()

    async def test_refusals(self):
        peer, server = await self.linked_server(files={"variables.ini": "Password=secret\n"})
        port = int(server.port)

        async def one(send, reason, name):
            client = await self.start_game_client_in_process(port)
            await server.wait_for_line_async(
                "New client trying to connect from IP " + client.events.events[0]["local"])
            await send(client)
            await self.refused(server, client, reason, name)

        cases = [
            (lambda c: c.send_raw(b"\x00\x02\xc2x"), 20, "Failed"),
            (lambda c: c.send_raw(b"\x00\x03\xc1\x01\x02"), 20, "Failed"),
            (lambda c: c.send_connect(TEAM, TICKET, password="secret"), 11, "IncorrectIdentification"),
            (lambda c: c.send_connect(PLAYER, TICKET, version="", password="secret"), 12, "IncorrectVersion"),
            (lambda c: c.send_connect(PLAYER, TICKET), 25, "DedicatedServerNeedPassword"),
            (lambda c: c.send_connect(PLAYER, TICKET, password="guess"), 26, "DedicatedServerInvalidPassword"),
        ]
        await asyncio.gather(*(one(*case) for case in cases))

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
        await self.refused(server, client, 1, "Refused")

        client = await self.start_game_client_in_process(port)
        await client.send_connect(PLAYER, TICKET)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER}, start=len(peer.events.events))
        await peer.send_verdict(PLAYER, 1)
        await self.refused(server, client, 18, "InvalidTicket")


if __name__ == "__main__":
    harness.main()
