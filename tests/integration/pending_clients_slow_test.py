"""The login time-outs against the real server binary: a client that connects and sends nothing is
refused with TimeOut 5 s after its accept, one that identifies itself and never gets its verdict 30 s
after it; each is told so on the last packet, and closed."""

import time

import harness

GAME_INFO = {"StatsURL": "http://127.0.0.1:5984/"}
PLAYER = 0x1234
TICKET = bytes(range(128))
# The server's time-outs, and what a loaded machine may add to them.
IDENTIFICATION_SECONDS = 5.0
LOGIN_SECONDS = 30.0
SLACK_SECONDS = 3.0


class LoginTimeOutTest(harness.AsyncIntegrationTestCase):
    async def test_silent_and_unvalidated_clients_are_refused_with_time_out(self):
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, GAME_INFO)
        server = self.start_server(mms_port=peer.port)
        await server.wait_for_line_async(" as CouchDB stats source")
        silent = await self.start_game_client_in_process(int(server.port))
        silent_since = time.monotonic()
        waiting = await self.start_game_client_in_process(int(server.port))
        waiting_since = time.monotonic()
        await waiting.send_connect(PLAYER, TICKET)
        await peer.events.wait_for({"name": "validate_player", "player_id": PLAYER})

        for client, since, limit in ((silent, silent_since, IDENTIFICATION_SECONDS),
                                     (waiting, waiting_since, LOGIN_SECONDS)):
            local = client.events.events[0]["local"]
            await client.events.wait_for({"name": "last_packet", "zero": 0, "reason": 4},
                                         timeout=limit + SLACK_SECONDS)
            waited = time.monotonic() - since
            self.assertGreater(waited, limit - 0.5, local)
            await server.wait_for_line_async(
                "Client with IP %s has taken too much time to login. Disconnecting." % local)
            await server.wait_for_line_async("Rejecting pending client with IP %s (reason : TimeOut)" % local)
            await client.close()


if __name__ == "__main__":
    harness.main()
