"""A console ban of the real server binary outlives a server stopped at once mid-game: the ban is in
"banned_clients.ini" as soon as it is given (not only when the session is next back in match making),
and the restarted server refuses the banned client with BannedFromDedicatedServer (24)."""

import asyncio
import signal

import harness
from console_client import TYPE_COMMAND, ConsoleClient
from game_client import STATE_COMMAND, STATE_DEPLOYMENT
from game_play import EXIT_NOW, EXIT_SOON, TICKET, GameCase, start_database

setUpModule = start_database

PASSWORD = "ban-console"
BANNED = 423
# A server told twice to exit stops at its next loop step: well within this.
STOP_SECONDS = 5.0


class BanAcrossRestartTest(GameCase):
    PLAYERS = [421, 422]

    def console_command(self, port, command):
        client = ConsoleClient(port)
        try:
            client.authenticate(PASSWORD)
            client.send_packet(7, TYPE_COMMAND, command)
            return client.read_packet().body
        finally:
            client.close()

    async def test_console_ban_survives_a_stop_at_once_mid_game(self):
        console_port = harness.free_port(udp_too=False)
        await self.game_server(self.PLAYERS, "+rcon_password", PASSWORD, "+rcon_port", console_port,
                               others=[BANNED])
        clients = await self.join(self.PLAYERS, command_ticks=100000)
        await self.wait_for_state(clients, STATE_DEPLOYMENT, STATE_COMMAND)

        reply = await asyncio.to_thread(self.console_command, console_port, "ban %d 0" % BANNED)
        self.assertEqual(reply, b"Ok.")
        # In the file at once, mid-game: a server killed now would keep it too.
        self.assertIn("%d=0" % BANNED, (self.server.cwd / "banned_clients.ini").read_text().split())
        self.server.signal(signal.SIGTERM)
        await self.server.wait_for_line_async(EXIT_SOON)
        self.server.signal(signal.SIGTERM)
        self.assertEqual(await asyncio.to_thread(self.server.wait, STOP_SECONDS), 0)
        self.assertIn(EXIT_NOW, self.server.output.lines)

        await self.restart_game_server(self.PLAYERS)
        mark = self.server.mark()
        banned = await self.start_game_client_in_process(self.server.port)
        await banned.send_connect(BANNED, TICKET)
        refusal = await banned.events.wait_for({"name": "last_packet"}, timeout=harness.DEFAULT_TIMEOUT)
        self.assertEqual(refusal["reason"], 24)
        await self.server.wait_for_line_async(lambda line: line.startswith("Rejecting pending client")
                                              and line.endswith("(reason : BannedFromDedicatedServer)"), start=mark)


if __name__ == "__main__":
    harness.main()
