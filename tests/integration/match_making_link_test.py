"""The match-making link from the init answer on, against the real server binary: refused answers and bad
game information (dropped quietly, then retried), the link-up lines, the Ready traffic, slave mode, the
peer closing the link, and the UDP property query that lives while the link is up, also under a flood."""

import asyncio
import re
import socket

import harness
import mms_peer
import udp_query
from console_client import TYPE_COMMAND, ConsoleClient

STATS_URL = "http://127.0.0.1:5984/"
GAME_INFO = {"StatsURL": STATS_URL}
VALIDATED = "Connection to match making server validated %s, dedicated server can be used by clients on IP %s:%d"
FAILED_INFO = ("Failed to get game info from data received from match making server -> Disconnected from match "
               "making server !")
PARSE_ERROR = "Error parsing game info received from match making server -> Disconnected from match making server !"
# The same failure in an update: the link stays up, and the line says so.
UPDATE_PARSE_ERROR = ("Error parsing game info received from match making server -> update ignored, still connected "
                      "to match making server")
DROP = "Drop packet received from match making server (reason : "
WAIT_REFUSED = "Failed to apply a wait client message in slave mode (reason : "
REPORTING = "ServerPropertyReporting listening for client !"
# A client id and a team id (kind 1 in the top byte).
CLIENT_ID = 5
TEAM_ID = 1 << 56 | 5

# The published properties after start-up with the variables.ini of the query test.
PUBLISHED = {
    "NbMaxPlayer": "20", "NbPlayer": "0", "Seed": "1", "Private": "0", "ServerName": "Loopback Server",
    "WithHost": "0", "ServerProtocol": "1.0", "TimeLeft": "4294967295", "Version": "0", "GameState": "0",
    "NeedPassword": "1", "GameType": "0", "Map": "Northmoor_Plains_10v10", "InitMoney": "4000",
    "TimeLimit": "1200", "ScoreLimit": "4000", "NbIA": "0", "VictoryCond": "1", "IncomeRate": "3",
    "WarmupCountdown": "120", "DeploiementTimeMax": "120", "DebriefingTimeMax": "30", "LoadingTimeMax": "120",
    "NbMinPlayer": "10", "DeltaMaxTeamSize": "10", "MaxTeamSize": "10", "NationConstraint": "-1",
    "ThematicConstraint": "-1", "DateConstraint": "-1",
}


def expected_reply(challenge, properties):
    text = b"\x01"
    for key in sorted(properties, key=lambda k: k.encode()):
        text += key.encode() + b"\x01" + properties[key].encode() + b"\x01"
    return challenge + text


class LinkCase(harness.AsyncIntegrationTestCase):
    async def linked_server(self, *extra, game_info=None, address_id=None, files=None):
        """A server whose link the peer accepts with Success; returns (peer, server) once it is Ready."""
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, GAME_INFO if game_info is None else game_info, address_id)
        server = self.start_server(*extra, mms_port=peer.port, files=files)
        await server.wait_for_line_async(" as CouchDB stats source")
        return peer, server


class InitAnswerTest(LinkCase):
    async def test_refused_answers_drop_the_link_quietly_and_it_is_tried_again(self):
        codes = list(range(1, 14))  # 9 and 13 have no name

        async def one(code):
            peer = await self.start_mms_peer_in_process()
            peer.set_on_init("answer", code, GAME_INFO)
            server = self.start_server(mms_port=peer.port)
            name = mms_peer.INIT_RESULT_NAMES.get(code, "Unknown")
            await server.wait_for_line_async("Connection to mms failed (reason : %s)" % name)
            await peer.events.wait_for({"event": "closed", "link": 1, "by": "server"})
            # Quiet: no link-up, no drop line; the next attempt comes after 20 s.
            await peer.events.wait_for({"name": "init", "link": 2}, timeout=40)
            await server.wait_for_line_async("Connected to match making server", start=server.output.lines.index(
                "Connection to mms failed (reason : %s)" % name))
            log = "\n".join(server.output.lines)
            self.assertNotIn("Failed to connect to match making server", log)
            self.assertNotIn("validated", log)

        await asyncio.gather(*(one(code) for code in codes))

    async def test_game_information_without_a_usable_stats_url_fails_the_link(self):
        cases = [
            ({"gameVersion": "1.2"}, FAILED_INFO),
            ({"StatsURL": 5}, FAILED_INFO),
            ("{", PARSE_ERROR),
            ("[]", FAILED_INFO),
        ]

        async def one(game_info, line):
            peer = await self.start_mms_peer_in_process()
            peer.set_on_init("answer", 0, game_info)
            server = self.start_server(mms_port=peer.port)
            await server.wait_for_line_async(line)
            await peer.events.wait_for({"event": "closed", "link": 1, "by": "server"})
            log = server.serverlog()
            self.assertNotIn("validated", log)
            self.assertNotIn("Failed to connect to match making server", log)
            # The version is locked: the game information leaves it alone.
            self.assertNotIn('Variable Version set to "1.2"', log)

        await asyncio.gather(*(one(*case) for case in cases))

    async def test_the_second_stats_url_is_kept(self):
        info = '{"StatsURL":"http://127.0.0.1:1/first","gameVersion":"1.2","StatsURL":"http://127.0.0.1:1/second"}'
        peer, server = await self.linked_server(game_info=info)
        server.wait_for_line("Stats URL for game http://127.0.0.1:1/second")
        server.wait_for_line("Using http://127.0.0.1:1/second as CouchDB stats source")
        self.assertNotIn("first", server.serverlog())
        self.assertNotIn('Variable Version set to "1.2"', server.serverlog())


class ReadyLinkTest(LinkCase):
    async def test_link_up_lines_and_the_property_query_until_the_link_drops(self):
        peer = await self.start_mms_peer_in_process()
        # The address id names the address that the match-making server sees.
        peer.set_on_init("answer", 0, GAME_INFO, mms_peer.address_id("10.1.2.3"))
        server = self.start_server(mms_port=peer.port)
        init = await peer.events.wait_for({"name": "init"})
        self.assertFalse(init["slave"])
        line = await server.wait_for_line_async("Connection to match making server validated ")
        self.assertEqual(line, VALIDATED % ("", "10.1.2.3", server.port))
        # The lines after it may not be written yet.
        await server.wait_for_line_async("Using %s as CouchDB stats source" % STATS_URL)
        log = server.serverlog().splitlines()
        start = log.index("Stats URL for game " + STATS_URL)
        self.assertEqual(log[start + 1:start + 4], [line, REPORTING, "Using %s as CouchDB stats source" % STATS_URL])
        reply = await asyncio.to_thread(udp_query.query, server.port)
        self.assertIsNotNone(reply)

        mark = server.mark()
        await peer.close_link()
        line = await server.wait_for_line_async("Disconnected from match making server -> ", start=mark)
        self.assertEqual(line, "Disconnected from match making server -> Error during reading. End of file received.")
        # The query closed with the link.
        self.assertIsNone(await asyncio.to_thread(udp_query.query, server.port, b"abcd", 0.5))
        self.assertNotIn("Failed to connect to match making server", server.serverlog())

    async def test_override_replaces_the_stats_source(self):
        peer, server = await self.linked_server("+override_couchdb_server", "http://127.0.0.1:1/db/")
        server.wait_for_line("Using http://127.0.0.1:1/db/ as CouchDB stats source")

    async def test_ready_traffic(self):
        peer, server = await self.linked_server()
        mark = server.mark()
        # Two frames in one write, then each kind of frame; a marker update closes the sequence.
        await peer.send([{"type": "game_info", "game_info": {"StatsURL": "http://127.0.0.1:1/two"}},
                         {"type": "game_info", "game_info": "not json"}])
        await peer.send_slave_update(CLIENT_ID, 8)
        await peer.send_verdict(CLIENT_ID, 0)
        await peer.send([{"type": "raw", "hex": "0002" "e1" "00"}, {"type": "raw", "hex": "0002" "e3" "00"}])
        await peer.send_game_info({"StatsURL": "http://127.0.0.1:1/last"})
        await server.wait_for_line_async("Stats URL for game http://127.0.0.1:1/last", start=mark)
        lines = server.output.lines[mark:]
        self.assertEqual(lines, [
            "Stats URL for game http://127.0.0.1:1/two",
            UPDATE_PARSE_ERROR,
            DROP + "invalid game info received",
            DROP + "dedicated server is not a mms slave",
            DROP + "invalid channel -> 225)",
            DROP + "invalid channel -> 227)",
            "Stats URL for game http://127.0.0.1:1/last",
        ])
        self.assertNotIn("Waiting client", server.serverlog())
        self.assertFalse(any(e.get("event") == "closed" for e in peer.events.events))

    async def test_slave_mode(self):
        peer = await self.start_mms_peer_in_process()
        server = self.start_server("+mms_slave", mms_port=peer.port)
        init = await peer.events.wait_for({"name": "init"})
        self.assertTrue(init["slave"])
        # The answer and a wait order in one segment: the order is handled without further traffic.
        await peer.send([{"type": "init_answer", "code": 0, "game_info": GAME_INFO},
                         {"type": "slave_update", "client_id": TEAM_ID, "max_players": 8}])
        line = await server.wait_for_line_async("Connection to match making server validated ")
        self.assertEqual(line, VALIDATED % ("(SlaveMode)", "127.0.0.1", server.port))
        await server.wait_for_line_async(WAIT_REFUSED + "received client id is not a valid id)")
        # A slave hosting nobody does not answer property queries.
        self.assertNotIn(REPORTING, server.serverlog())

        await peer.send_slave_update(CLIENT_ID, 8)
        await server.wait_for_line_async("Waiting client with id 5 to join hosted session")
        await server.wait_for_line_async('Variable NbMaxPlayer set to "8"')
        await peer.send_slave_update(6, 4)
        await server.wait_for_line_async(WAIT_REFUSED + "dedicated server is currently accepting anybody)")

        # Client 5 never comes: after 10 s the server tells the match-making server it is free again.
        await server.wait_for_line_async(
            "Client with id 5 did not connect in 10 second : server is ready to host other session", timeout=30)
        available = await peer.events.wait_for({"name": "server_available"})
        self.assertEqual(available["raw"], "e501")


class PropertyQueryTest(LinkCase):
    FILES = {"variables.ini": "ServerName=Loopback Server\nPassword=secret\nMap=Caf\u00e9\n"}

    async def test_replies_byte_for_byte(self):
        peer, server = await self.linked_server(files=self.FILES)

        def exchange():
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
                sock.settimeout(10)
                sock.connect(("127.0.0.1", server.port))
                for ignored in (b"getinfos abc", b"getinfos abcde", b"GETINFOS abcd", b"getinfosabcde"):
                    sock.send(ignored)
                sock.send(b"getinfos \0\0x\0")
                return sock.recv(4096)

        # The ignored datagrams went first: the first reply is the one to the last query.
        data = await asyncio.to_thread(exchange)
        self.assertEqual(data, expected_reply(b"\0\0x\0", PUBLISHED))
        self.assertNotIn(b"secret", data)

    async def test_a_flood_leaves_the_server_responsive(self):
        console_port = harness.free_port(udp_too=False)
        peer, server = await self.linked_server("+rcon_password", "pw", "+rcon_port", console_port)
        flood = self._managed(harness.JsonPeerProcess(
            harness.python_peer("udp_query.py", "--port", server.port, "--flood", 200000), self.workdir, "flood"))
        flood.wait_event({"event": "flooding"})

        def console_line():
            client = ConsoleClient(console_port)
            try:
                client.authenticate("pw")
                client.send_packet(5, TYPE_COMMAND, b"launch")
                return client.read_packet()
            finally:
                client.close()

        answer = await asyncio.to_thread(console_line)
        self.assertEqual((answer.id, answer.body), (5, b"No player connected and ready to play"))

        def fifth_socket_query():
            # From another address: the flood's own address is held to its rate of answers.
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
                sock.bind(("127.0.0.2", 0))
                sock.connect(("127.0.0.1", server.port))
                sock.settimeout(0.1)
                for _ in range(300):  # 30 s
                    sock.send(b"getinfos 5th!")
                    try:
                        while True:
                            data = sock.recv(4096)
                            if data.startswith(b"5th!"):
                                return data
                    except socket.timeout:
                        continue
            return None

        reply = await asyncio.to_thread(fifth_socket_query)
        self.assertIsNotNone(reply)
        self.assertEqual(udp_query.parse_reply(reply).as_dict()["ServerName"], "Default Server Name")

        # The link is still served: an update goes through.
        await peer.send_game_info({"StatsURL": "http://127.0.0.1:1/flooded"})
        await server.wait_for_line_async("Stats URL for game http://127.0.0.1:1/flooded")
        self.assertTrue(flood.alive(), "the flood ended before the checks")
        flood.stop()
        self.assertNotIn("Disconnected from match making server", server.serverlog())
        self.assertFalse(any(e.get("event") == "closed" for e in peer.events.events))


if __name__ == "__main__":
    harness.main()
