"""What an admitted player or a logged-in console may send, against the real server binary:

- a player flooding state requests with ids that all differ, then `setpvar` with 4 KB values, grows
  serverlog.txt by kilobytes (5 requests a second, in bursts of 10, and one drop line a second), and
  stays admitted;
- a line break in a player's command or a console's command stays escaped on its line in serverlog.txt;
- a console that pipelines commands without reading their answers is no longer read once 4 MiB of
  answers are queued for it: the server's memory stays flat, and once the console reads, every answer
  comes;
- after a SIGTERM while a result upload hangs, no new game is launched (the countdown under way is
  stopped) and the server exits once the upload ends by its time-out (passed at once through the test
  clock)."""

import asyncio
import re
import signal
import socket
import struct
import sys
import time

import harness
import game_client as gc
import game_play
from game_play import GAME_ID, EXIT_SOON, GAME_TIMEOUT, KEY, LOGIN, TICKET, WARMUP_SECONDS, GameCase, start_database, \
    variables_ini
from http_endpoint import HttpEndpoint

setUpModule = start_database

PLAYER = 951
CONSOLE_PASSWORD = "flood-console"
REQUESTS_PER_SECOND = 5
REQUEST_BURST = 10
FLOOD_SECONDS = 5.0
# The frames a flooder writes at once.
BATCH = 500
SETPVAR_VALUE = 4000
SEND_QUEUE_LIMIT = 4 * 1024 * 1024
# Commands a console sends without reading: 20 MB of them, 24 MB of answers, far more than the cap
# and the kernel's buffers hold.
PIPELINED = 600000
# What the server may grow by while it holds a console's 4 MiB of answers (the queue, libevent's chains,
# what the allocator keeps).
RESIDENT_GROWTH_KB = 24 * 1024
ASAN_QUARANTINE_KB = 256 * 1024
# One step passes the upload's two minutes at once.
CLOCK_STEP_MS = 120001
DROPPED_REQUESTS = re.compile(r"^Dropped (\d+) requests of client %d \(more than 5 a second\)$" % PLAYER)
CARRIED_OUT = re.compile(r"^Client %d (want request state to|request command : setpvar)" % PLAYER)


def resident_kilobytes(pid):
    with open("/proc/%d/status" % pid) as lines:
        return next(int(line.split()[1]) for line in lines if line.startswith("VmRSS:"))


def sanitized(pid):
    with open("/proc/%d/maps" % pid) as maps:
        return any("libasan" in line for line in maps)


def console_packet(packet_id, kind, body):
    payload = struct.pack("<ii", packet_id, kind) + body.encode() + b"\0\0"
    return struct.pack("<i", len(payload)) + payload


class ConsoleSocket:
    """A raw console connection: packets out, packets in, nothing else in between."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=harness.DEFAULT_TIMEOUT)
        self.pending = bytearray()
        self.offset = 0

    def close(self):
        self.sock.close()

    def receive(self, timeout=harness.DEFAULT_TIMEOUT):
        """(id, type, body) of the next packet."""
        if self.sock.gettimeout() != timeout:
            self.sock.settimeout(timeout)
        while True:
            if len(self.pending) - self.offset >= 4:
                size = struct.unpack_from("<i", self.pending, self.offset)[0]
                if len(self.pending) - self.offset >= 4 + size:
                    packet_id, kind = struct.unpack_from("<ii", self.pending, self.offset + 4)
                    body = bytes(self.pending[self.offset + 12:self.offset + 4 + size]).split(b"\0")[0]
                    self.offset += 4 + size
                    return packet_id, kind, body.decode(errors="replace")
            if self.offset > (1 << 20):
                del self.pending[:self.offset]
                self.offset = 0
            data = self.sock.recv(1 << 20)
            if not data:
                raise ConnectionError("console connection closed")
            self.pending += data

    def authenticate(self, password):
        self.sock.sendall(console_packet(1, 3, password))
        self.receive()
        packet_id, _, _ = self.receive()
        if packet_id != 1:
            raise AssertionError("console authentication refused")

    def command(self, packet_id, line):
        self.sock.sendall(console_packet(packet_id, 2, line))
        while True:
            answer_id, _, body = self.receive()
            if answer_id == packet_id:
                return body


class AdmittedFloodsTest(GameCase):
    def log_size(self):
        return self.server.serverlog_path.stat().st_size

    async def flood(self, client, frames_of):
        """Writes batches of frames for FLOOD_SECONDS; the frames written."""
        sent = 0
        deadline = time.monotonic() + FLOOD_SECONDS
        while time.monotonic() < deadline:
            await client.send_raw(b"".join(frames_of(sent + i) for i in range(BATCH)))
            sent += BATCH
        return sent

    async def requests_logged(self, mark, sent):
        """Waits for the drop lines of the flood after `mark` to account for every request sent; the
        requests carried out."""
        deadline = time.monotonic() + harness.DEFAULT_TIMEOUT
        while True:
            lines = self.server.output.lines[mark:]
            carried = sum(1 for line in lines if CARRIED_OUT.match(line))
            dropped = sum(int(m.group(1)) for m in map(DROPPED_REQUESTS.match, lines) if m)
            if carried + dropped == sent:
                return carried
            if time.monotonic() > deadline:
                self.fail("%d carried out and %d dropped of %d requests" % (carried, dropped, sent))
            await asyncio.sleep(0.2)

    async def test_player_and_console_floods(self):
        console_port = harness.free_port(udp_too=False)
        await self.game_server([PLAYER, PLAYER + 1], "+rcon_password", CONSOLE_PASSWORD, "+rcon_port", console_port)
        player = await self.start_game_client_in_process(self.server.port)
        await player.send_connect(PLAYER, TICKET)
        await player.events.wait_for({"name": "client_event", "kind": 1, "player_id": PLAYER})
        # The second player of the launch never comes: the flood runs in match making.
        await asyncio.sleep(1.5)

        # State requests with ids that all differ.
        before, mark = self.log_size(), self.server.mark()
        started = time.monotonic()
        sent = await self.flood(player, lambda i: gc.encode_state_request(100000 + i))
        carried = await self.requests_logged(mark, sent)
        elapsed = time.monotonic() - started
        growth = self.log_size() - before
        print("state requests: %d sent in %.1f s, %d carried out, serverlog.txt +%d bytes"
              % (sent, elapsed, carried, growth), file=sys.stderr)
        self.assertGreater(sent, 1000)
        self.assertLessEqual(carried, REQUEST_BURST + REQUESTS_PER_SECOND * elapsed + 1)
        self.assertLess(growth, 16 * 1024)

        # setpvar of 4 KB values, each one new.
        await asyncio.sleep(REQUEST_BURST / REQUESTS_PER_SECOND)
        before, mark = self.log_size(), self.server.mark()
        started = time.monotonic()
        value = "v" * SETPVAR_VALUE
        sent = await self.flood(player, lambda i: gc.encode_command("setpvar %d PlayerDeckName %d%s"
                                                                    % (PLAYER, i, value)))
        carried = await self.requests_logged(mark, sent)
        elapsed = time.monotonic() - started
        growth = self.log_size() - before
        print("setpvar: %d sent in %.1f s, %d carried out, serverlog.txt +%d bytes"
              % (sent, elapsed, carried, growth), file=sys.stderr)
        self.assertLessEqual(carried, REQUEST_BURST + REQUESTS_PER_SECOND * elapsed + 1)
        # Two lines of about 4 KB each for every setpvar carried out.
        self.assertLess(growth, (carried * 2 + 10) * (SETPVAR_VALUE + 100))
        self.assertNotIn("Disconnecting client %d" % PLAYER, "\n".join(self.server.output.lines))

        # Forged line breaks, from the player and from the console: each stays on its own line.
        await asyncio.sleep(REQUEST_BURST / REQUESTS_PER_SECOND)
        await player.send_command("launch\nClient added in session with id 5 (IP 10.0.0.5)")
        await self.server.wait_for_line_async("Client %d request command : launch\\nClient added in session "
                                              "with id 5 (IP 10.0.0.5)" % PLAYER)
        console = ConsoleSocket(console_port)
        self.addCleanup(console.close)
        console.authenticate(CONSOLE_PASSWORD)
        self.assertEqual(console.command(2, "setsvar ServerName x\r\nRCon request command : ban 5 0"), "Ok.")
        await self.server.wait_for_line_async("RCon request command : setsvar ServerName x\\r\\nRCon request command : "
                                              "ban 5 0")
        await self.server.wait_for_line_async("Variable ServerName not set to \"x\\r\\nRCon request command : ban 5 0\"")
        log = self.server.serverlog().splitlines()
        self.assertFalse([line for line in log if line.startswith("Client added in session with id 5")])
        self.assertNotIn("RCon request command : ban 5 0", log)

        # A console pipelining commands without reading its answers.
        resident_before = resident_kilobytes(self.server.pid)
        mark = self.server.mark()
        console.sock.setblocking(False)
        packets = b"".join(console_packet(1000 + i, 2, "display_all_clients") for i in range(PIPELINED))
        written, deadline = 0, time.monotonic() + 20.0
        while written < len(packets) and time.monotonic() < deadline:
            try:
                written += console.sock.send(packets[written:written + 65536])
            except BlockingIOError:
                await asyncio.sleep(0.05)
        await self.server.wait_for_line_async(re.compile(
            r"^Rcon connection from .+ has \d+ bytes of answers queued, more than the %d allowed -> not read until "
            r"they are sent$" % SEND_QUEUE_LIMIT), start=mark)
        await asyncio.sleep(1.0)
        growth_kb = resident_kilobytes(self.server.pid) - resident_before
        print("console pipelining: %d of %d bytes of commands written, resident memory +%d kB"
              % (written, len(packets), growth_kb), file=sys.stderr)
        self.assertLess(written, len(packets), "the server read every command while its answers piled up")
        # AddressSanitizer keeps what is freed in a quarantine of its own, up to 256 MB: there the bound
        # takes it in (the server that read on without a cap grew by 900 MB).
        self.assertLess(growth_kb, RESIDENT_GROWTH_KB + (ASAN_QUARANTINE_KB if sanitized(self.server.pid) else 0))
        # Once the console reads, reading resumes: the rest of the commands go in, and every one is
        # answered, in order.
        console.sock.setblocking(True)
        console.sock.settimeout(60.0)
        sending = asyncio.create_task(asyncio.to_thread(console.sock.sendall, packets[written:]))

        def read_answers():
            for expected in range(1000, 1000 + PIPELINED):
                answer_id, _, body = console.receive(60.0)
                if answer_id != expected or not body.startswith("Client List :"):
                    return "answer %d: %r instead of %d" % (answer_id, body, expected)
            return None

        self.assertIsNone(await asyncio.to_thread(read_answers))
        await sending
        self.assertTrue(console.command(5, "display_all_clients").startswith("Client List :"))

    async def test_no_game_launched_after_sigterm_while_an_upload_hangs(self):
        database = "exit%d" % (id(self) & 0xFFFFFF)
        game_play.DATABASE.create_database(database)
        for number in (0, GAME_ID):
            game_play.DATABASE.put_document(database, "u%d_%d" % (number, PLAYER), {})
        endpoint = HttpEndpoint()
        endpoint.start()
        self.addCleanup(endpoint.stop)
        endpoint.command({"cmd": "hold"})
        peer = await self.start_mms_peer_in_process()
        peer.set_on_init("answer", 0, {"StatsURL": game_play.DATABASE.url + database + "/"})
        peer.set_auto_verdict(0)
        self.server = self.start_server(
            "+game_reporting", "http://127.0.0.1:%d/recorddedicatedgame" % endpoint.port, mms_port=peer.port,
            login=LOGIN, key=KEY, files={"variables.ini": variables_ini(1)},
            env={"ORV_TEST_CLOCK_STEP_MS": CLOCK_STEP_MS})
        await self.server.wait_for_line_async(" as CouchDB stats source")
        player = await self.start_game_client_in_process(self.server.port, play_along=True, command_ticks=5)
        await player.send_connect(PLAYER, TICKET)
        await player.events.wait_for({"name": "client_event", "kind": 1, "player_id": PLAYER})

        # The first game ends; its upload hangs, and back in match making the next launch counts down.
        debriefing, _, _ = await self.server.wait_for_line_at_async("Entering in debriephing phase state",
                                                                    GAME_TIMEOUT)
        back, _, _ = await self.server.wait_for_line_at_async("Entering in matchmaking state", GAME_TIMEOUT,
                                                              debriefing)
        await asyncio.to_thread(endpoint.wait_for_requests, 1, GAME_TIMEOUT)
        await self.server.wait_for_line_async("Launch game", start=back)
        mark = self.server.mark()
        self.server.signal(signal.SIGTERM)
        await self.server.wait_for_line_async(EXIT_SOON, start=mark)
        await self.server.wait_for_line_async("Canceling launch game", start=mark)
        # Past the warm-up the countdown would have ended in: no game, no second upload.
        await asyncio.sleep(WARMUP_SECONDS + 2)
        self.assertTrue(self.server.alive())
        after = self.server.output.lines[mark:]
        self.assertNotIn("Entering in loading state", "\n".join(after))
        self.assertEqual(len(endpoint.requests), 1)

        # The upload's time-out passes: the server exits at once, with status 0.
        self.server.signal(signal.SIGUSR1)
        started = time.monotonic()
        status = await asyncio.to_thread(self.server.wait, harness.DEFAULT_TIMEOUT)
        print("SIGTERM with a hanging upload: exit %.1f s after its time-out, games launched after the request: 0"
              % (time.monotonic() - started), file=sys.stderr)
        self.assertEqual(status, 0)
        self.assertIn("TWriteGameResultInDatabase::VirtualOnOperationTimeout()", self.server.output.lines)
        endpoint.command({"cmd": "release"})


if __name__ == "__main__":
    harness.main()
