"""Peers that hang or flood, against the real server binary, whose clock the test moves ahead
(ORV_TEST_CLOCK_STEP_MS, one step per SIGUSR1) to pass the long time-outs at once. One server run,
one player playing game after game, with a statistics database and a result endpoint (over TLS, its
certificate signed by a test CA that SSL_CERT_FILE names) that the test makes misbehave in turn:

- the database takes a joining client's statistics request and never answers: the batch ends by its
  time-out of an hour and the client is refused, and nothing is left running;
- the result endpoint never answers the first game's report: the upload ends by its two minutes;
- it streams an endless body for the second game's report: the answer is capped and logged;
- a self-signed certificate nobody trusts answers the third: the upload fails and the key is never sent;
- the fourth report is answered after 5 s, and the server, told to exit as it arrives, sends it, gets
  the answer and only then exits with status 0."""

import asyncio
import re
import signal
import subprocess

import harness
from game_play import EXIT_SOON, GAME_TIMEOUT, KEY, LOGIN, RESULT_LINE, TICKET, variables_ini
from http_endpoint import HttpEndpoint

# One step passes every time-out of the server at once: the statistics batch's hour is the longest.
CLOCK_STEP_MS = 3600001
PLAYER = 902
JOINING = 901
# What the clock step line shows once every operation has ended and every handle is back.
NOTHING_RUNS = ("0 operations running, database transfers 0 busy 0 queued 20 free, "
                "HTTP transfers 0 active 0 queued 15 free")
TIMED_OUT = "TWriteGameResultInDatabase::VirtualOnOperationTimeout()"
# The chunked body of the flooding endpoint: twice the cap, written until the server hangs up.
FLOOD_BYTES = 32 * 1024 * 1024
ANSWER_DELAY_SECONDS = 5


def openssl(folder, *args):
    subprocess.run(["openssl"] + list(args), cwd=folder, check=True, capture_output=True)


def make_certificates(folder):
    """A test CA ("ca.cert"), a certificate it signs for 127.0.0.1 ("signed.*") and a self-signed one
    for 127.0.0.1 ("self.*")."""
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl(folder, "req", "-x509", *key, "-days", "2", "-subj", "/CN=Orvan Test CA", "-keyout", "ca.key",
            "-out", "ca.cert")
    openssl(folder, "req", *key, "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
            "-keyout", "signed.key", "-out", "signed.csr")
    openssl(folder, "x509", "-req", "-in", "signed.csr", "-CA", "ca.cert", "-CAkey", "ca.key", "-CAcreateserial",
            "-days", "2", "-copy_extensions", "copy", "-out", "signed.cert")
    openssl(folder, "req", "-x509", *key, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
            "subjectAltName=IP:127.0.0.1", "-keyout", "self.key", "-out", "self.cert")


class HangingPeersTest(harness.AsyncIntegrationTestCase):
    def start_endpoint(self, certificate, port=0, **answer):
        """The result endpoint over TLS with "signed" or "self" as its certificate, answering `answer`."""
        endpoint = HttpEndpoint(port=port, certfile=str(self.workdir / (certificate + ".cert")),
                                keyfile=str(self.workdir / (certificate + ".key")))
        endpoint.start()
        self.addCleanup(endpoint.stop)
        if answer:
            endpoint.command(dict(answer, cmd="answer"))
        return endpoint

    async def step_clock(self):
        """Moves the server's clock one step ahead; the line that says so, with what runs then."""
        mark = self.server.mark()
        self.server.signal(signal.SIGUSR1)
        return await self.server.wait_for_line_async("Test clock moved %d ms ahead: " % CLOCK_STEP_MS, start=mark)

    async def wait_until_nothing_runs(self):
        # A kill ends at its client's close, which the server sees a pass or two after the client.
        for _ in range(10):
            if (await self.step_clock()).endswith(NOTHING_RUNS):
                return
            await asyncio.sleep(0.1)
        self.fail("operations or transfers still running: %s" % self.server.output.lines[-1])

    async def next_debriefing(self):
        """Waits until the player's next game reaches its debriefing; the index of that log line."""
        index, _, _ = await self.server.wait_for_line_at_async("Entering in debriephing phase state", GAME_TIMEOUT,
                                                               self.server.mark())
        return index

    async def test_hanging_and_flooding_peers(self):
        make_certificates(self.workdir)
        database = HttpEndpoint()
        database.start()
        self.addCleanup(database.stop)
        database.command({"cmd": "answer", "status": 200, "body": "{}"})
        database.command({"cmd": "hold"})
        endpoint = self.start_endpoint("signed")
        endpoint.command({"cmd": "hold"})
        url = "https://127.0.0.1:%d/recorddedicatedgame" % endpoint.port
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, {"StatsURL": "http://127.0.0.1:%d/stats/" % database.port})
        peer.set_auto_verdict(0)
        self.server = self.start_server(
            "+game_reporting", url, mms_port=peer.port, login=LOGIN, key=KEY, files={"variables.ini": variables_ini(1)},
            env={"ORV_TEST_CLOCK_STEP_MS": CLOCK_STEP_MS, "SSL_CERT_FILE": self.workdir / "ca.cert"})
        await self.server.wait_for_line_async(" as CouchDB stats source")

        # The database never answers a joining client's statistics: the batch's hour passes, the
        # client is refused with TimeOut, and nothing is left running or holding a handle.
        joining = await self.start_game_client_in_process(self.server.port)
        await joining.send_connect(JOINING, TICKET)
        await asyncio.to_thread(database.wait_for_requests, 1)
        mark = self.server.mark()
        line = await self.step_clock()
        self.assertTrue(line.endswith("1 operations running, database transfers 1 busy 0 queued 19 free, "
                                      "HTTP transfers 0 active 0 queued 15 free"), line)
        await self.server.wait_for_line_async("TOperationOnDatabase::OnOperationTimeout() -> no answer within "
                                              "3600000 ms", start=mark)
        await self.server.wait_for_line_async(re.compile(r"Rejecting pending client with IP \S+ \(reason : TimeOut\)"),
                                              start=mark)
        last = await joining.events.wait_for({"name": "last_packet"})
        self.assertEqual(last["reason_name"], "TimeOut")
        await self.wait_until_nothing_runs()
        database.command({"cmd": "release"})

        # The player is admitted and plays; its first game's report is never answered: the upload
        # ends by its own time-out, once the game is over.
        player = await self.start_game_client_in_process(self.server.port, play_along=True, command_ticks=5)
        await player.send_connect(PLAYER, TICKET)
        await player.events.wait_for({"name": "client_event", "kind": 1, "player_id": PLAYER})
        debriefing = await self.next_debriefing()
        await self.server.wait_for_line_async("Entering in matchmaking state", GAME_TIMEOUT, debriefing)
        await asyncio.to_thread(endpoint.wait_for_requests, 1, GAME_TIMEOUT)
        mark = self.server.mark()
        line = await self.step_clock()
        self.assertIn("HTTP transfers 1 active", line)
        await self.server.wait_for_line_async(TIMED_OUT, start=mark)
        await self.wait_until_nothing_runs()

        # The second game's report is answered with an endless body: capped, logged, and the games go on.
        endpoint.command({"cmd": "release"})
        endpoint.command({"cmd": "answer", "status": 200, "fill": FLOOD_BYTES})
        mark = await self.next_debriefing()
        await self.server.wait_for_line_async(
            "THttpRequest::AppendToAnswer() -> answer from %s exceeds 16777216 bytes: transfer failed" % url,
            GAME_TIMEOUT, mark)
        await self.server.wait_for_line_async(
            "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> upload to %s failed: " % url,
            GAME_TIMEOUT, mark)
        self.assertEqual(len(endpoint.requests), 2)

        # A self-signed certificate that nobody trusts: the upload fails and the key never leaves.
        endpoint.stop()
        endpoint = self.start_endpoint("self", endpoint.port)
        mark = await self.next_debriefing()
        refused = await self.server.wait_for_line_async(
            "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> upload to %s failed: " % url,
            GAME_TIMEOUT, mark)
        self.assertIn("certificate", refused)
        self.assertEqual(endpoint.requests, [])

        # The fourth report is answered after 5 s; an exit asked for as it leaves waits for that answer.
        endpoint.stop()
        answered = asyncio.Event()
        loop = asyncio.get_running_loop()
        endpoint = HttpEndpoint(port=endpoint.port, certfile=str(self.workdir / "signed.cert"),
                                keyfile=str(self.workdir / "signed.key"),
                                emit=lambda e: e["event"] == "answered" and loop.call_soon_threadsafe(answered.set))
        endpoint.start()
        self.addCleanup(endpoint.stop)
        endpoint.command({"cmd": "answer", "status": 200, "body": "recorded", "delay": ANSWER_DELAY_SECONDS})
        (report,) = await asyncio.to_thread(endpoint.wait_for_requests, 1, GAME_TIMEOUT)
        self.server.signal(signal.SIGTERM)
        await self.server.wait_for_line_async(EXIT_SOON)
        status = await asyncio.to_thread(self.server.wait, GAME_TIMEOUT)
        self.assertEqual(status, 0)
        self.assertTrue(answered.is_set())
        self.assertEqual({part["name"]: part["content"] for part in report["parts"]}["password"], KEY)
        lines = self.server.output.lines
        self.assertIn(RESULT_LINE + "200", lines[lines.index(EXIT_SOON):])
        self.assertNotIn("TWriteGameResultInDatabase::VirtualOnOperationKilled()", lines)


if __name__ == "__main__":
    harness.main()
