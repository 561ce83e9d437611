"""Admission against the real server binary: clients that the match-making peer validates and whose
statistics pouchdb-server holds become users. What each connection receives, and in which order; the
refusals seen from outside; team names; leaving, the host role and the version of the session; pings;
chat, the chat log and the drops of the client channels; SIGTERM with users; and `make run`'s script
with its scripted client."""

import asyncio
import json
import os
import re
import signal
import struct
import time
import unittest
from pathlib import Path

import harness
import udp_query
from game_client import chat_data, encode_command, encode_game_message

# The server's game id when none is given: the per-game statistics documents are "u24_<id>".
GAME_ID = 24
TICKET = bytes(range(128))
REJECTING = "Rejecting pending client with IP %s (reason : %s)"
DISCONNECTING = "Disconnecting client %d with IP %s (reason : %s)"
CLIENT_ADDED = re.compile(r"^Client added in session \(OrvNetId : (\d+), UserSessionId : (\d+), socket : \d+, "
                          r"IP : (\S+)\)$")
# A team id: kind 1 in the top byte.
TEAM_ID = 1 << 56 | 77
PING_NOT_MEASURED = 9999
ROOT = Path(__file__).resolve().parents[2]

# Every server property but the hidden Password.
VISIBLE_PROPERTIES = {
    "NbMaxPlayer", "NbPlayer", "Seed", "Private", "ServerName", "WithHost", "ServerProtocol", "TimeLeft", "Version",
    "GameState", "NeedPassword", "GameType", "Map", "InitMoney", "TimeLimit", "ScoreLimit", "NbIA", "VictoryCond",
    "IncomeRate", "WarmupCountdown", "DeploiementTimeMax", "DebriefingTimeMax", "LoadingTimeMax", "NbMinPlayer",
    "DeltaMaxTeamSize", "MaxTeamSize", "NationConstraint", "ThematicConstraint", "DateConstraint",
}

DATABASE = None


def setUpModule():
    global DATABASE
    DATABASE = harness.SharedFixture(unittest.addModuleCleanup).start_pouchdb()


def create_database(name, documents):
    """A statistics database on the module's pouchdb-server holding the documents; its URL."""
    DATABASE.create_database(name)
    for doc_id, document in documents.items():
        DATABASE.put_document(name, doc_id, document)
    return DATABASE.url + name + "/"


def player_documents(*players, general=None, game=None):
    """The general and the game document of each player ("u0_<id>", "u24_<id>"), empty unless
    given; False leaves one out."""
    documents = {}
    for player in players:
        for number, document in ((0, general), (GAME_ID, game)):
            if document is not False:
                documents["u%d_%d" % (number, player)] = document or {}
    return documents


def variables(player, **values):
    """A user's published player variables: those with a value, from statistics documents holding
    nothing, with the given changes."""
    result = {"PlayerUserId": str(player), "PlayerIALevel": "-1", "PlayerObserver": "0", "PlayerAlliance": "0",
              "PlayerReady": "1", "PlayerElo": "1500", "PlayerLevel": "1", "PlayerName": "Player"}
    result.update(values)
    return result


def summary(events, later_properties=False):
    """A connection's frames as items, the ping traffic (197, 208) set aside: runs of server
    properties and runs of one user's player variables become one item each; 201 frames after the
    first run of them are set aside too unless `later_properties`. Player variables with an empty
    value are left out of their run: whether those are sent at all is the server's choice."""
    items = []
    for event in events:
        if event.get("event") != "frame" and event.get("event") != "undecodable":
            continue
        name, channel = event.get("name"), event.get("channel")
        if channel in (197, 208):
            continue
        last = items[-1] if items else None
        if name == "property":
            if last and last[0] == "properties":
                last[1][event["key"]] = event["value"]
            elif later_properties or not any(item[0] == "properties" for item in items):
                items.append(("properties", {event["key"]: event["value"]}))
        elif name == "admission":
            items.append(("admission", event["user_session_id"], event["spectator"], event["state"]))
        elif name == "player_variable":
            if not (last and last[0] == "variables" and last[1] == event["user_session_id"]):
                last = ("variables", event["user_session_id"], {})
                items.append(last)
            if event["value"]:
                last[2][event["key"]] = event["value"]
        elif name == "client_event":
            item = (event["kind_name"], event["player_id"], event["user_session_id"])
            # The flag of ready and left events has no set value.
            if event["kind_name"] in ("joined", "host"):
                item += (event["flag"],)
            items.append(item)
        else:
            items.append((name or "undecodable", channel, event.get("raw")))
    return items


def last_lines(process):
    return "\n".join(process.output.lines[-20:] + process.errors.lines[-20:])


async def nth_event(log, match, count, start=0):
    """The count-th event from index start on that matches."""
    for _ in range(count):
        event = await log.wait_for(match, timeout=harness.DEFAULT_TIMEOUT, start=start)
        start = log.events.index(event, start) + 1
    return event


class Player:
    """A game client with its id and its connection's local address (the "IP" of the log lines)."""

    def __init__(self, player_id, client):
        self.id = player_id
        self.client = client
        self.local = client.events.events[0]["local"]
        self.admitted = False
        self.left = False

    @property
    def events(self):
        return self.client.events

    def index_of(self, match):
        index = self.events.find(match)
        if index < 0:
            raise AssertionError("no event matching %r" % (match,))
        return index

    def admission(self):
        """Its frames from the admission answer to the ready event about itself."""
        first = self.index_of({"name": "admission"})
        last = self.index_of({"name": "client_event", "kind": 1, "player_id": self.id})
        return summary(self.events.events[first:last + 1])

    def after_admission(self):
        """Its frames after its own ready event, 201 frames set aside."""
        start = self.index_of({"name": "client_event", "kind": 1, "player_id": self.id}) + 1
        return [item for item in summary(self.events.events[start:], later_properties=True)
                if item[0] != "properties"]

    def relays(self):
        return [(e["sender"], e.get("word"), e.get("text")) for e in self.events.events if e.get("name") == "relay"]


class AdmissionCase(harness.AsyncIntegrationTestCase):
    """Helpers over `self.server`: clients that log in, are admitted or refused, and leave."""

    server = None

    async def connect(self, player_id, answer_pings=True, **connect):
        client = await self.start_game_client_in_process(self.server.port, answer_pings=answer_pings)
        player = Player(player_id, client)
        self.addAsyncCleanup(self.leave, player)
        await client.send_connect(player_id, TICKET, **connect)
        return player

    async def admit(self, player_id, answer_pings=True, **connect):
        """A client admitted: its ready event about itself has come."""
        player = await self.connect(player_id, answer_pings, **connect)
        await player.events.wait_for({"name": "client_event", "kind": 1, "player_id": player_id},
                                     timeout=harness.DEFAULT_TIMEOUT)
        player.admitted = True
        return player

    async def refuse(self, player_id, reason, name, **connect):
        """A client refused: the reason in the last packet and the rejection line; the client then
        closes its end, as a game client does."""
        mark = self.server.mark()
        player = await self.connect(player_id, **connect)
        await player.events.wait_for({"name": "last_packet", "zero": 0, "reason": reason},
                                     timeout=harness.DEFAULT_TIMEOUT)
        await self.server.wait_for_line_async(REJECTING % (player.local, name), start=mark)
        await self.leave(player)
        self.assertFalse(any(e.get("name") == "admission" for e in player.events.events))
        return player

    async def leave(self, player):
        """Closes the connection; for a user, waits until the server has let it go."""
        if player.left:
            return
        player.left = True
        await player.client.close()
        if player.admitted and self.server.alive():
            await self.server.wait_for_line_async(DISCONNECTING % (player.id, player.local, "ConnectionLost"))

    async def query(self):
        reply = await asyncio.to_thread(udp_query.query, self.server.port, b"adm!", 5.0)
        self.assertIsNotNone(reply, "no answer to the property query")
        return reply.as_dict()

    def assertLinesInOrder(self, lines, wanted):
        rest = iter(lines)
        for line in wanted:
            if line not in rest:
                self.fail("%r missing or out of order in:\n%s" % (line, "\n".join(lines)))

    def check_properties(self, item, **values):
        self.assertEqual(item[0], "properties")
        self.assertEqual(set(item[1]), VISIBLE_PROPERTIES)
        self.assertEqual({key: item[1][key] for key in values}, values)

    async def linked_server(self, *extra, database, slave=False):
        """A server of its own, linked to an in-process match-making peer that validates every
        client; returns (peer, server)."""
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, {"StatsURL": database})
        peer.set_auto_verdict(0)
        self.server = self.start_server(*extra, *(("+mms_slave",) if slave else ()), mms_port=peer.port)
        await self.server.wait_for_line_async(" as CouchDB stats source")
        return peer, self.server

    async def stop_server(self):
        """SIGTERM: the server exits at once while no game runs, with status 0 (no leak reported
        either, under the sanitizers)."""
        self.server.signal(signal.SIGTERM)
        status = await asyncio.to_thread(self.server.wait)
        self.assertEqual(status, 0, last_lines(self.server))


class SharedServerTest(AdmissionCase):
    """One server for the class, with a chat log; every test leaves it without users."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        shared = harness.SharedFixture(cls.addClassCleanup)
        cls.database = "shared"
        url = create_database(cls.database, {
            **player_documents(101, general={"@name": "Alice", "@avatar": "alice.png"},
                               game={"@level": "7", "ELO": 1650}),
            **player_documents(102, 103, 7, 301, 401, 402, 501, 502),
            **player_documents(201, game=False),
            **player_documents(202, general=False),
            **player_documents(302, game={"active_team": str(TEAM_ID)}),
            "t%d" % TEAM_ID: {"name": "Red Wolves"},
        })
        mms = shared.start_mms_peer("--on-init", "answer", "--game-info", json.dumps({"StatsURL": url}),
                                    "--verdict", "0")
        cls.server = shared.start_server("+chat_log_file", "chat.txt", mms_port=mms.port)
        cls.server.wait_for_line(" as CouchDB stats source")
        cls.chat_log = shared.workdir / "chat.txt"

    @classmethod
    def tearDownClass(cls):
        cls.server.signal(signal.SIGTERM)
        status = cls.server.wait()
        super().tearDownClass()
        if status != 0:
            raise AssertionError("the shared server ended with status %d:\n%s" % (status, last_lines(cls.server)))

    async def test_two_clients_are_admitted_told_of_each_other_and_leave(self):
        a_id, b_id, c_id = 101, 102, 103
        a_vars = variables(a_id, PlayerName="Alice", PlayerAvatar="alice.png", PlayerLevel="7", PlayerElo="1650")
        b_vars = variables(b_id)
        mark = self.server.mark()

        a = await self.admit(a_id)
        items = a.admission()
        self.check_properties(items[1], Version="1.0", NbPlayer="1", NbMaxPlayer="20", WithHost="0",
                              ServerProtocol="1.0", NeedPassword="0", ServerName="Default Server Name")
        self.assertEqual(items[:1] + items[2:], [
            ("admission", 1, False, 0),
            ("joined", a_id, 1, False),
            ("variables", 1, a_vars),
            ("ready", a_id, 1),
        ])

        b = await self.admit(b_id)
        # The alliance comes last: the smaller one, 1.
        alliance = {"name": "player_variable", "user_session_id": 2, "key": "PlayerAlliance", "value": "1"}
        for player in (a, b):
            await player.events.wait_for(alliance)
        items = b.admission()
        self.check_properties(items[1], Version="1.0", NbPlayer="2")
        self.assertEqual(items[:1] + items[2:], [
            ("admission", 2, False, 0),
            ("joined", b_id, 2, False),
            ("joined", a_id, 1, False),
            ("variables", 1, a_vars),
            ("variables", 2, b_vars),
            ("ready", a_id, 1),
            ("ready", b_id, 2),
        ])
        self.assertEqual(b.after_admission(), [("variables", 2, {"PlayerAlliance": "1"})])
        self.assertEqual(a.after_admission(), [
            ("joined", b_id, 2, False),
            ("variables", 2, b_vars),
            ("ready", b_id, 2),
            ("variables", 2, {"PlayerAlliance": "1"}),
        ])

        # The harness reads the server's output on its own: await the last line before reading them.
        await self.server.wait_for_line_async("Client added in session (OrvNetId : %d," % b_id, start=mark)
        added = [CLIENT_ADDED.match(line).groups() for line in self.server.output.lines[mark:]
                 if CLIENT_ADDED.match(line)]
        self.assertEqual(added, [(str(a_id), "1", a.local), (str(b_id), "2", b.local)])
        await self.server.wait_for_line_async('Variable Version set to "1.0"', start=mark)
        self.assertEqual((await self.query())["NbPlayer"], "2")

        # The first leaves: the other is told; the second leaves: the session's version is free again.
        await self.leave(a)
        await b.events.wait_for({"name": "client_event", "kind": 2, "player_id": a_id, "user_session_id": 1})
        self.assertEqual((await self.query())["NbPlayer"], "1")
        await self.leave(b)
        properties = await self.query()
        self.assertEqual((properties["NbPlayer"], properties["Version"]), ("0", "0"))
        await self.server.wait_for_line_async('Variable Version set to "0"', start=mark)

        # The numbering starts again.
        c = await self.admit(c_id)
        self.assertEqual(c.admission()[0], ("admission", 1, False, 0))

    async def test_refusals(self):
        # 201 has no game document, 202 no general one.
        cases = [
            (201, 20, "Failed", "Failed to get stats for pending client 201"),
            (202, 20, "Failed", "Failed to get stats for pending client 202"),
            (7, 7, "AlreadyInSession", None),
        ]
        first = await self.admit(7)
        for player_id, reason, name, line in cases:
            with self.subTest(player=player_id):
                mark = self.server.mark()
                await self.refuse(player_id, reason, name)
                if line:
                    await self.server.wait_for_line_async(line, start=mark)
        # Nobody else joined the session.
        self.assertEqual(first.after_admission(), [])

    async def test_active_team_name_reaches_the_clients(self):
        database_mark = DATABASE.mark()
        other = await self.admit(301)
        member = await self.admit(302)
        team = {"name": "player_variable", "user_session_id": member.client.user_session_id,
                "key": "PlayerTeamName", "value": "Red Wolves"}
        for player in (other, member):
            await player.events.wait_for(team)
        await self.server.wait_for_line_async('Client 302 variable PlayerTeamName set to "Red Wolves"')
        await asyncio.to_thread(DATABASE.wait_for_line, "GET /%s/t%d " % (self.database, TEAM_ID),
                                start=database_mark)

    async def test_pings_are_measured_and_reported_to_everyone(self):
        answering = await self.admit(401)
        silent = await self.admit(402, answer_pings=False)
        # The silent client answers its first ping with another id: the answer does not count.
        request = await silent.events.wait_for({"name": "system", "command": 1})
        await silent.client.send_ping_answer(request["value"] + 7)

        # Three cycles since the second admission, seen from each connection: each pings each user
        # in order, then reports that user's ping to every user.
        starts = {answering: answering.index_of({"name": "client_event", "kind": 1, "player_id": 402}) + 1,
                  silent: 0}
        cycles = {answering: [("system", None), ("ping_table", 401), ("ping_table", 402)],
                  silent: [("ping_table", 401), ("system", None), ("ping_table", 402)]}
        for player, start in starts.items():
            await nth_event(player.events, {"name": "ping_table", "player_id": 402}, 3, start)
            events = [e for e in player.events.events[start:] if e.get("name") in ("system", "ping_table")]
            seen = [(e["name"], e.get("player_id")) for e in events]
            self.assertEqual(seen, [cycles[player][i % 3] for i in range(len(seen))])
            requests = [e["value"] for e in events if e["name"] == "system"]
            self.assertEqual(requests, list(range(requests[0], requests[0] + len(requests))))
            reported = {}
            for event in events:
                if event["name"] == "ping_table":
                    reported.setdefault(event["player_id"], []).append(event["ping"])
            self.assertEqual(set(reported[402]), {PING_NOT_MEASURED})
            self.assertLess(reported[401][-1], PING_NOT_MEASURED)

    async def test_chat_log_and_drops_of_the_client_channels(self):
        sender = await self.admit(501)
        listener = await self.admit(502)
        before = int(time.time())
        mark = self.server.mark()
        await sender.client.send_chat("hello there", word=7)
        await sender.client.send_chat("line one\r\nline two")
        # One segment: a game message of one byte, a command, a chat whose text is cut short, a chat.
        await sender.client.send_raw(
            encode_game_message("e")
            + encode_command("jump now")
            + encode_game_message("e", struct.pack("<IH", 0, 50) + b"cut")
            + encode_game_message("e", chat_data("still here")))
        await listener.events.wait_for({"name": "relay", "text": "still here"})
        await sender.events.wait_for({"name": "relay", "text": "still here"})
        after = int(time.time())

        expected = [(501, 7, "hello there"), (501, 0, "line one\r\nline two"), (501, 0, "still here")]
        self.assertEqual(listener.relays(), expected)
        self.assertEqual(sender.relays(), expected)
        # In the order sent (the chat cut short is dropped with a line of its own).
        await self.server.wait_for_line_async("Invalid command received from client 501 : jump now", start=mark)
        self.assertLinesInOrder(self.server.output.lines[mark:], [
            "Invalid client packet data received from 501", "Client 501 request command : jump now",
            "Invalid command received from client 501 : jump now"])

        lines = self.chat_log.read_text().splitlines()
        for line in lines:
            self.assertRegex(line, r"^\[\d+\] \d+: ")
        chat = [re.match(r"^\[(\d+)\] (.*)$", line).groups() for line in lines]
        self.assertEqual([text for _, text in chat if text.startswith("501: ")],
                         ["501: hello there", r"501: line one\r\nline two", "501: still here"])
        # The server stamps with time(), which reads the kernel's coarse clock: at a second's turn it can
        # still show the second before the one this process read.
        self.assertTrue(all(before - 1 <= int(stamp) <= after for stamp, text in chat if text.startswith("501: ")))


class FreshServerTest(AdmissionCase):
    """Tests that need a server of their own."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.database = create_database("fresh", player_documents(*range(31, 37), *range(41, 44), 61, 62))

    async def test_slave_mode_admits_the_awaited_client_then_others_and_moves_the_host(self):
        peer, server = await self.linked_server(database=self.database, slave=True)
        await self.refuse(31, 3, "NotAvailable")

        await peer.send_slave_update(32, 8)
        await server.wait_for_line_async("Waiting client with id 32 to join hosted session")
        await self.refuse(31, 3, "NotAvailable")
        host = await self.admit(32)
        await server.wait_for_line_async("ServerPropertyReporting listening for client !")
        items = host.admission()
        self.check_properties(items[1], WithHost="1", NbMaxPlayer="8", Version="1.0")
        self.assertEqual(items[:1] + items[2:], [
            ("admission", 1, False, 0), ("joined", 32, 1, False), ("variables", 1, variables(32)),
            ("host", 32, 1, False), ("ready", 32, 1)])
        # Someone asking to host a game of their own finds one being played.
        await self.refuse(33, 1, "Refused", ask=True)
        second = await self.admit(34)
        third = await self.admit(35)
        self.assertEqual(second.admission()[2:], [
            ("joined", 34, 2, False), ("joined", 32, 1, False), ("variables", 1, variables(32)),
            ("variables", 2, variables(34)), ("ready", 32, 1), ("host", 32, 1, False), ("ready", 34, 2)])
        self.assertEqual((await self.query())["NbPlayer"], "3")

        # The host leaves: the role goes to the last player admitted, and everyone hears it.
        await self.leave(host)
        for player in (second, third):
            await player.events.wait_for({"name": "client_event", "kind": 3, "player_id": 35})
        self.assertEqual(second.after_admission(), [
            ("variables", 2, {"PlayerAlliance": "1"}), ("joined", 35, 3, False), ("variables", 3, variables(35)),
            ("ready", 35, 3), ("left", 32, 1), ("host", 35, 3, False)])
        self.assertEqual(third.after_admission(), [("left", 32, 1), ("host", 35, 3, False)])

        mark = server.mark()
        await self.leave(second)
        await self.leave(third)
        await server.wait_for_line_async("Server is ready to host new session", start=mark)
        available = await peer.events.wait_for({"name": "server_available"})
        self.assertEqual(available["raw"], "e501")
        await server.wait_for_line_async('Variable Version set to "0"', start=mark)
        await self.refuse(36, 3, "NotAvailable")

        # The next session numbers its users from 1 again.
        await peer.send_slave_update(36, 4)
        await server.wait_for_line_async("Waiting client with id 36 to join hosted session", start=mark)
        again = await self.admit(36)
        self.assertEqual(again.admission()[0], ("admission", 1, False, 0))
        self.assertIn(("host", 36, 1, False), again.admission())
        await self.stop_server()

    async def test_forced_version_outlives_its_sessions(self):
        peer, server = await self.linked_server("+force_game_version", "2.5", database=self.database)
        first = await self.admit(41, version="2.5")
        await self.leave(first)
        properties = await self.query()
        self.assertEqual((properties["NbPlayer"], properties["Version"]), ("0", "2.5"))
        await self.refuse(42, 12, "IncorrectVersion", version="1.0")
        await self.admit(43, version="2.5")
        self.assertNotIn('Variable Version set to "0"', server.output.lines)
        await self.stop_server()

    async def test_sigterm_closes_every_user(self):
        peer, server = await self.linked_server(database=self.database)
        players = [await self.admit(61), await self.admit(62)]
        mark = server.mark()
        await self.stop_server()
        lines = server.output.lines[mark:]
        exiting = lines.index("Server will exit as soon as possible.")
        for player in players:
            await player.events.wait_for({"event": "closed", "by": "server"})
            self.assertFalse(any(e.get("name") == "last_packet" for e in player.events.events))
            self.assertGreater(lines.index(DISCONNECTING % (player.id, player.local, "ConnectionLost")), exiting)
            player.left = True


class RunLocalTest(harness.IntegrationTestCase):
    """`make run`'s script with the server under test, in a folder of its own."""

    def test_scripted_client_is_admitted_and_chats(self):
        run_dir = self.workdir / "run"
        env = dict(os.environ, ORV_RUN_DIR=str(run_dir))
        script = self._managed(harness.ManagedProcess(
            ["bash", ROOT / "scripts" / "run-local.sh", harness.server_binary()], self.workdir, "run_local", env=env))
        script.wait_for_line(re.compile(r'^run: game client: .*"name": "admission"'), timeout=60)
        relay = script.wait_for_line(re.compile(r'^run: game client: .*"name": "relay"'))
        self.assertEqual(json.loads(relay.split(": ", 2)[2])["text"], "Hello from the scripted client")
        self.assertRegex((run_dir / "chat.txt").read_text(), r"^\[\d+\] 5: Hello from the scripted client\n$")
        script.signal(signal.SIGTERM)
        self.assertEqual(script.wait(), 0)
        script.wait_for_line("run: server ended with status 0")


if __name__ == "__main__":
    harness.main()
