"""The match-making link lost while an admitted user's team request is held by the database, against
the real server binary: the request goes with the link, the user leaves afterwards with nothing ended
twice, and the next link, 20 s after the first, serves new clients and their teams again. The user's
close reaches the server in a later pass of its loop than the link's loss, never in the same one: a
step of the test clock asked for once the loss is logged is taken at the start of a later pass, and
said so, before the user closes."""

import asyncio
import json
import signal

import harness
from admission_test import TEAM_ID, AdmissionCase
from http_endpoint import HttpEndpoint


class LinkLossTest(AdmissionCase):
    async def test_link_lost_while_a_team_request_is_held(self):
        endpoint = HttpEndpoint()
        port = endpoint.start()
        self.addCleanup(endpoint.stop)
        document = {"@name": "Held", "active_team": str(TEAM_ID), "name": "Wolves"}
        endpoint.command({"cmd": "answer", "status": 200, "body": json.dumps(document)})
        endpoint.command({"cmd": "hold"})
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, {"StatsURL": "http://127.0.0.1:%d/stats/" % port})
        peer.set_auto_verdict(0)
        # A step of 1 ms changes no time-out that matters here: only its line is wanted.
        server = self.server = self.start_server(mms_port=peer.port, env={"ORV_TEST_CLOCK_STEP_MS": 1})
        await server.wait_for_line_async(" as CouchDB stats source")

        player = await self.connect(91)
        # The login's two documents are answered one by one; the team's stays held.
        for count in (1, 2):
            await asyncio.to_thread(endpoint.wait_for_requests, count, harness.DEFAULT_TIMEOUT)
            endpoint.command({"cmd": "release", "count": 1})
        await player.events.wait_for({"name": "client_event", "kind": 1, "player_id": 91})
        player.admitted = True
        requests = await asyncio.to_thread(endpoint.wait_for_requests, 3, harness.DEFAULT_TIMEOUT)
        self.assertEqual([request["path"] for request in requests],
                         ["/stats/u0_91", "/stats/u24_91", "/stats/t%d" % TEAM_ID])
        self.assertEqual(endpoint.held_count(), 1)

        mark = server.mark()
        await peer.close_link()
        await server.wait_for_line_async("Disconnected from match making server -> ", start=mark)
        await server.wait_for_line_async("Team statistics of client 91 not fetched (reason : match making link lost)",
                                         start=mark)
        step = server.mark()
        server.signal(signal.SIGUSR1)
        await server.wait_for_line_async("Test clock moved 1 ms ahead: ", start=step)
        # The held answer now finds nobody to take it.
        endpoint.command({"cmd": "release"})
        await self.leave(player)
        self.assertFalse(any(event.get("key") == "PlayerTeamName" and event["value"] for event in player.events.events))

        await peer.events.wait_for({"name": "init", "link": 2}, timeout=40)
        await server.wait_for_line_async(" as CouchDB stats source", start=mark)
        second = await self.admit(92)
        await second.events.wait_for({"name": "player_variable", "user_session_id": 1, "key": "PlayerTeamName",
                                      "value": "Wolves"})
        await self.stop_server()


if __name__ == "__main__":
    harness.main()
