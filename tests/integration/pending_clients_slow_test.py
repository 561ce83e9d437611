"""The login time-out against the real server binary: a client that connects and sends nothing is
refused with TimeOut after 30 s, told so on the last packet, and closed."""

import harness

GAME_INFO = {"StatsURL": "http://127.0.0.1:5984/"}


class LoginTimeOutTest(harness.AsyncIntegrationTestCase):
    async def test_silent_client_is_refused_with_time_out(self):
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, GAME_INFO)
        server = self.start_server(mms_port=peer.port)
        await server.wait_for_line_async(" as CouchDB stats source")
        client = await self.start_game_client_in_process(int(server.port))
        local = client.events.events[0]["local"]
        await client.events.wait_for({"name": "last_packet", "zero": 0, "reason": 4}, timeout=60)
        await server.wait_for_line_async("Client with IP %s has taken too much time to login. Disconnecting." % local)
        await server.wait_for_line_async("Rejecting pending client with IP %s (reason : TimeOut)" % local)
        await client.close()


if __name__ == "__main__":
    harness.main()
