"""SIGTERM during a game of the real server binary: the server says it will exit, lets the game
end and stops once back in match making; a second SIGTERM stops it at once."""

import asyncio
import signal

import harness
from game_play import COMMAND_TICKS, EXIT_NOW, EXIT_SOON, GAME_TIMEOUT, PHASES, REPLAY, GameCase, frames, start_database
from game_client import STATE_COMMAND, STATE_DEPLOYMENT

setUpModule = start_database

# A server told twice to exit stops at its next loop step: well within this.
STOP_SECONDS = 5.0


class ExitDuringGameTest(GameCase):
    PLAYERS = [401, 402]

    async def start_battle(self, command_ticks):
        await self.game_server(self.PLAYERS)
        clients = await self.join(self.PLAYERS, command_ticks)
        await self.wait_for_state(clients, STATE_DEPLOYMENT, STATE_COMMAND)
        return clients

    async def test_sigterm_lets_the_game_end_in_match_making(self):
        clients = await self.start_battle(COMMAND_TICKS)
        self.server.signal(signal.SIGTERM)
        await self.server.wait_for_line_async(EXIT_SOON)
        status = await asyncio.to_thread(self.server.wait, GAME_TIMEOUT)
        self.assertEqual(status, 0)
        lines = self.server.output.lines
        self.assertEqual(lines.count(EXIT_SOON), 1)
        self.assertNotIn(EXIT_NOW, lines)
        # The game went on to its end and was saved; the server stopped back in match making.
        for client in clients:
            await client.events.wait_for({"event": "closed"})
            phases = [(e["previous"], e["state"]) for e in frames(client, "next_state")]
            self.assertEqual(phases, PHASES)
        self.assertIn("Entering in matchmaking state", lines[lines.index(EXIT_SOON):])
        self.assertTrue((self.server.cwd / REPLAY).exists())

    async def test_second_sigterm_stops_at_once(self):
        clients = await self.start_battle(command_ticks=100000)
        self.server.signal(signal.SIGTERM)
        await self.server.wait_for_line_async(EXIT_SOON)
        # The battle goes on.
        tick = (await clients[0].events.wait_for({"name": "relay", "letter": "d"}))["tick"]
        await clients[0].events.wait_for({"name": "relay", "letter": "d", "tick": tick + 2})
        self.server.signal(signal.SIGTERM)
        status = await asyncio.to_thread(self.server.wait, STOP_SECONDS)
        self.assertEqual(status, 0)
        lines = self.server.output.lines
        self.assertEqual((lines.count(EXIT_SOON), lines.count(EXIT_NOW)), (1, 1))
        self.assertLess(lines.index(EXIT_SOON), lines.index(EXIT_NOW))
        for client in clients:
            self.assertEqual(frames(client, "next_state")[-1]["state"], STATE_COMMAND)


if __name__ == "__main__":
    harness.main()
