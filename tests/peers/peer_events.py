"""What the asyncio peers share: a log of events that a test can wait for, and the command-line loop that
prints those events as JSON lines and takes JSON commands on standard input.

An event is a dict with an "event" key. Tests that import a peer wait with `await log.wait_for(...)`;
tests that run it as a program read its standard output, one JSON object a line, and write commands, one
JSON object a line with a "cmd" key, to its standard input. Each command is answered, once it has run, by
{"event": "ack", "cmd": ..., "id": ...} or {"event": "error", ...} carrying the command's optional "id",
so a test knows when it is in force. End of input does not stop a peer (it may run with input from
/dev/null); SIGTERM, SIGINT or {"cmd": "quit"} do.
"""

import asyncio
import json
import signal
import sys
import threading


class EventLog:
    def __init__(self, emit=None):
        self.events = []
        self._emit = emit
        self._waiters = []  # (match, first index, future)

    def record(self, event):
        self.events.append(event)
        if self._emit is not None:
            self._emit(event)
        index = len(self.events) - 1
        for waiter in list(self._waiters):
            match, first, future = waiter
            if index >= first and not future.done() and matches(event, match):
                future.set_result(event)
                self._waiters.remove(waiter)

    def find(self, match, start=0):
        for index in range(start, len(self.events)):
            if matches(self.events[index], match):
                return index
        return -1

    async def wait_for(self, match, timeout=10.0, start=0):
        """The first event from index start on that matches (a dict of wanted values, or a predicate);
        raises TimeoutError with the last events seen when none comes before the deadline."""
        index = self.find(match, start)
        if index >= 0:
            return self.events[index]
        waiter = (match, start, asyncio.get_running_loop().create_future())
        self._waiters.append(waiter)
        try:
            return await asyncio.wait_for(waiter[2], timeout)
        except asyncio.TimeoutError:
            raise TimeoutError("no event matching %r within %.1f s; last events: %s"
                               % (match, timeout, json.dumps(self.events[start:][-20:], default=str)))
        finally:
            if waiter in self._waiters:
                self._waiters.remove(waiter)


def matches(event, match):
    if callable(match):
        return match(event)
    return all(event.get(key) == value for key, value in match.items())


_print_lock = threading.Lock()


def print_event(event):
    """One event as a JSON line; whole lines even when several threads print."""
    line = json.dumps(event, default=str) + "\n"
    with _print_lock:
        sys.stdout.write(line)
        sys.stdout.flush()


def run_command_loop(start, handle, finished=None):
    """Runs a peer as a program: `start()` (a coroutine) brings the peer up, then each line of standard
    input is a JSON command passed to `handle(command)` (a coroutine) until a quit command, a signal, or
    the end of `finished()` (a coroutine, when given: the peer has nothing left to do)."""

    async def main():
        loop = asyncio.get_running_loop()
        stop = asyncio.Event()
        for number in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(number, stop.set)
        await start()
        commands = asyncio.Queue()

        def read_input():
            for line in sys.stdin:
                loop.call_soon_threadsafe(commands.put_nowait, line)

        threading.Thread(target=read_input, daemon=True).start()

        async def serve_commands():
            while True:
                line = (await commands.get()).strip()
                if not line:
                    continue
                try:
                    command = json.loads(line)
                except ValueError as error:
                    print_event({"event": "error", "reason": "bad command: %s" % error})
                    continue
                if command.get("cmd") == "quit":
                    stop.set()
                    return
                try:
                    await handle(command)
                except Exception as error:  # a bad command must not end the peer
                    print_event({"event": "error", "cmd": command.get("cmd"), "id": command.get("id"),
                                 "reason": repr(error)})
                    continue
                print_event({"event": "ack", "cmd": command.get("cmd"), "id": command.get("id")})

        server = asyncio.ensure_future(serve_commands())
        waits = [asyncio.ensure_future(stop.wait())]
        if finished is not None:
            waits.append(asyncio.ensure_future(finished()))
        await asyncio.wait(waits, return_when=asyncio.FIRST_COMPLETED)
        for task in waits + [server]:
            task.cancel()

    asyncio.run(main())
