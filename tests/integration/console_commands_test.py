"""The remote console of the real server binary driven by the npm `rcon-client`, as an operator would:
authentication with the "+rcon_password" switch, the client list, a kick, a server property set, and a
launch cancelled while its countdown runs; server names the property query cannot carry; and the README's
console examples as an operator types them."""

import asyncio
import json
import shlex
import subprocess
from pathlib import Path

import harness
from admission_test import AdmissionCase

GAME_ID = 24
PASSWORD = "op3rator"
RCON_COMMAND = harness.PEERS_DIR / "rcon_command.js"
ROOT = Path(__file__).resolve().parents[2]
# The console password of the local configuration `make run` starts the server with.
LOCAL_PASSWORD = "local-console"
NO_LIMIT = 4294967295
# The default warm-up countdown, in seconds.
WARMUP = 120
FIRST, SECOND = 31, 32


class ConsoleCommandsTest(AdmissionCase):
    async def rcon(self, *commands, password=PASSWORD):
        """Runs the commands in one console session; (exit status, the printed records)."""
        def run():
            return subprocess.run(["node", RCON_COMMAND, "--port", str(self.console_port), "--password", password,
                                   "--timeout", "5000", *commands], capture_output=True, timeout=30)

        done = await asyncio.to_thread(run)
        records = [json.loads(line) for line in done.stdout.decode().splitlines() if line.strip()]
        return done.returncode, records

    async def replies(self, *commands):
        status, records = await self.rcon(*commands)
        self.assertEqual(status, 0, records)
        self.assertEqual(records[0], {"authenticated": True})
        self.assertEqual([record["command"] for record in records[1:]], list(commands))
        return [record["reply"] for record in records[1:]]

    async def test_operator_session(self):
        database = self.start_pouchdb()
        database.create_database("console")
        for player in (FIRST, SECOND):
            for number in (0, GAME_ID):
                database.put_document("console", "u%d_%d" % (number, player), {})
        self.console_port = harness.free_port(udp_too=False)
        _, server = await self.linked_server(
            "+rcon_password", PASSWORD, "+rcon_port", self.console_port, database=database.url + "console/")

        # A wrong password: refused, and the server runs nothing.
        status, records = await self.rcon("display_all_clients", password="wrong")
        self.assertEqual(status, 2, records)
        self.assertEqual(records, [{"authenticated": False, "error": "authentication refused"}])
        self.assertFalse(any(line.startswith("RCon request command") for line in server.output.lines))
        self.assertEqual(await self.replies("display_all_clients"), ["Client List :\nServer is empty !"])

        first = await self.admit(FIRST)
        second = await self.admit(SECOND)
        self.assertEqual(await self.replies("display_all_clients"),
                         ["Client List :\n%d Player\n%d Player\n" % (FIRST, SECOND)])

        # A server property: every client is told, and the property query answers the new name.
        self.assertEqual(await self.replies("setsvar ServerName Faults Arena"), ["Ok."])
        for player in (first, second):
            await player.events.wait_for({"name": "property", "key": "ServerName", "value": "Faults Arena"})
        self.assertEqual((await self.query())["ServerName"], "Faults Arena")

        # A kick: the client is told Kicked and closed, the other sees it leave, the list shrinks.
        self.assertEqual(await self.replies("kick %d" % FIRST, "display_all_clients"),
                         ["Ok.", "Client List :\n%d Player\n" % SECOND])
        await first.events.wait_for({"name": "last_packet", "zero": 0, "reason": 15})
        await first.events.wait_for({"event": "closed", "by": "server"})
        first.left = True
        await second.events.wait_for({"name": "client_event", "kind": 2, "player_id": FIRST})
        await server.wait_for_line_async("RCon request command : kick %d" % FIRST)

        # Two players, below the default NbMinPlayer: only the console launches the game.
        # A launch starts the warm-up countdown of the match-making phase; a cancel stops it.
        mark = len(second.events.events)
        self.assertEqual(await self.replies("launch"), ["Ok."])
        await server.wait_for_line_async("Launch game")
        timer = await second.events.wait_for(lambda e: e.get("name") == "state_timer" and e["time_left"] != NO_LIMIT,
                                             start=mark)
        self.assertEqual((timer["state"], timer["time_left"]), (0, WARMUP - 1))
        mark = second.events.events.index(timer) + 1
        self.assertEqual(await self.replies("cancel_launch"), ["Ok."])
        await server.wait_for_line_async("Canceling launch game")
        stopped = await second.events.wait_for({"name": "state_timer", "time_left": NO_LIMIT}, start=mark)
        self.assertEqual(stopped["state"], 0)
        self.assertEqual((await self.query())["TimeLeft"], str(NO_LIMIT))
        # No phase change came: the game never started.
        self.assertFalse(any(e.get("name") == "next_state" for e in second.events.events[mark:]))
        await self.stop_server()

    async def test_server_names_the_property_query_cannot_carry_are_refused_aloud(self):
        """A ServerName of 1,600 characters (whose answer would not fit one datagram) or with letters
        beyond ASCII is refused with a line, and the query goes on answering the name the clients
        have; a name that fits is published."""
        self.console_port = harness.free_port(udp_too=False)
        _, server = await self.linked_server("+rcon_password", PASSWORD, "+rcon_port", self.console_port,
                                             database="http://127.0.0.1:9/none/")
        self.assertEqual(await self.replies("setsvar ServerName Arena"), ["Ok."])
        long_name = "n" * 1600
        cases = [(long_name, "too long for the property query answer"),
                 ("Caf\u00e9 M\u00fcller", "the property query carries printable ASCII only")]
        for name, reason in cases:
            with self.subTest(name[:20]):
                mark = server.mark()
                self.assertEqual(await self.replies("setsvar ServerName " + name), ["Ok."])
                await server.wait_for_line_async('Variable ServerName not set to "%s" (reason : %s)' % (name, reason),
                                                 start=mark)
                self.assertEqual((await self.query())["ServerName"], "Arena")
        self.assertEqual(await self.replies("setsvar ServerName " + "m" * 1000), ["Ok."])
        self.assertEqual((await self.query())["ServerName"], "m" * 1000)
        await self.stop_server()

    async def test_readme_console_examples(self):
        """The README's console examples, run as written with the port filled in, against a server
        with the local configuration's password and a scripted player admitted."""
        examples = readme_console_examples()
        self.assertTrue(examples, "no console example in the README")
        database = self.start_pouchdb()
        database.create_database("readme")
        for number in (0, GAME_ID):
            database.put_document("readme", "u%d_%d" % (number, FIRST), {})
        self.console_port = harness.free_port(udp_too=False)
        _, server = await self.linked_server("+rcon_password", LOCAL_PASSWORD, "+rcon_port", self.console_port,
                                             database=database.url + "readme/")
        await self.admit(FIRST)
        for example in examples:
            with self.subTest(example):
                words = [str(self.console_port) if word == "P" else word for word in shlex.split(example)]
                done = await asyncio.to_thread(subprocess.run, words, cwd=ROOT, capture_output=True, timeout=30)
                records = [json.loads(line) for line in done.stdout.decode().splitlines()]
                self.assertEqual(done.returncode, 0, records)
                commands = words[words.index(LOCAL_PASSWORD) + 1:]
                self.assertEqual(records[0], {"authenticated": True})
                self.assertEqual([record["command"] for record in records[1:]], commands)
                replies = dict((record["command"], record["reply"]) for record in records[1:])
                self.assertEqual(replies["display_all_clients"], "Client List :\n%d Player\n" % FIRST)
                if "setsvar ServerName Mine" in replies:
                    self.assertEqual(replies["setsvar ServerName Mine"], "Ok.")
                    self.assertEqual((await self.query())["ServerName"], "Mine")
        await self.stop_server()


def readme_console_examples():
    """The command lines of the README that run the console client."""
    return [line.strip() for line in (ROOT / "README.md").read_text().splitlines()
            if line.startswith("node tests/peers/rcon_command.js ")]


if __name__ == "__main__":
    harness.main()
