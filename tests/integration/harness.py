"""Harness for the integration tests, Python unittest modules run by ctest: it starts `DedicatedServer`
in a temporary working directory on free loopback ports, the test peers (match-making peer, game clients,
HTTP endpoint) and pouchdb-server, waits for their log lines and events with deadlines, and stops every
process it started, by its process group, also when a test fails.

The server binary comes from the environment variable ORV_DEDICATED_SERVER (CMake sets it) or from
`--server PATH` given to `harness.main()`. A test module:

    import harness

    class LinkTest(harness.IntegrationTestCase):
        def test_init_message_reaches_the_peer(self):
            mms = self.start_mms_peer()
            server = self.start_server(mms_port=mms.port, login="ab", key="c")
            init = mms.wait_event({"name": "init"})
            server.wait_for_line("Connected to match making server")

    if __name__ == "__main__":
        harness.main()

`AsyncIntegrationTestCase` offers the same helpers to asyncio tests, which drive peers in process
(`await self.start_game_client_in_process(port)`) and await log lines with `await server.wait_for_line_async`.
"""

import asyncio
import fcntl
import json
import os
import random
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request
from pathlib import Path

PEERS_DIR = Path(__file__).resolve().parent.parent / "peers"
sys.path.insert(0, str(PEERS_DIR))

import game_client  # noqa: E402
import mms_peer  # noqa: E402

SERVER_ENV = "ORV_DEDICATED_SERVER"
LOOPBACK = "127.0.0.1"
# How long a process gets to end after SIGTERM before its group is killed.
STOP_GRACE_SECONDS = 5.0
# Default deadline of a wait for a log line or a peer event.
DEFAULT_TIMEOUT = 15.0
POUCHDB_BIN = PEERS_DIR / "node_modules" / ".bin" / "pouchdb-server"
# The server under test was built with the sanitizers, which slow it several times over.
SANITIZED = os.environ.get("ORV_SANITIZED") == "1"


def server_binary():
    path = os.environ.get(SERVER_ENV)
    if not path:
        raise unittest.SkipTest("%s is not set: no server binary to test" % SERVER_ENV)
    return path


# Ports handed to servers the tests start come from below the range the system draws ephemeral ports
# from, so no outgoing connection and no peer's bind to port 0 (of this suite or of one beside it) can
# take a port between its pick and the server's bind; a lock file per port, held until the process
# ends, keeps the suites that run side by side from picking one port twice.
PORT_LOCK_DIR = Path(tempfile.gettempdir()) / "orv-test-ports"
PICKED_PORTS_FIRST = 20000
_port_locks = []


def _ephemeral_ports_first():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
            return int(ports.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def _is_free(port, udp_too):
    kinds = [socket.SOCK_STREAM] + ([socket.SOCK_DGRAM] if udp_too else [])
    for kind in kinds:
        with socket.socket(socket.AF_INET, kind) as sock:
            try:
                sock.bind(("0.0.0.0", port))
            except OSError:
                return False
    return True


def free_port(udp_too=True):
    """A port free right now for TCP (and for UDP too, as the server's client port needs both); bound on
    every local address, as the server's listeners are, though nothing is ever sent beyond loopback.
    No other test process is given it while this one runs."""
    last = _ephemeral_ports_first() - 1
    PORT_LOCK_DIR.mkdir(parents=True, exist_ok=True)
    for _ in range(500):
        port = random.randint(PICKED_PORTS_FIRST, last)
        fd = os.open(PORT_LOCK_DIR / str(port), os.O_CREAT | os.O_RDWR, 0o666)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            os.close(fd)
            continue
        if _is_free(port, udp_too):
            _port_locks.append(fd)
            return port
        os.close(fd)
    raise RuntimeError("no free port pair found")


class LineLog:
    """Lines of a stream collected by a thread, with waits that have deadlines."""

    def __init__(self, stream, echo_path=None):
        self.lines = []
        self.times = []     # time.monotonic() at which each line arrived
        self.closed = False
        self._changed = threading.Condition()
        self._echo = open(echo_path, "a", encoding="utf-8", errors="replace") if echo_path else None
        self._thread = threading.Thread(target=self._collect, args=(stream,), daemon=True)
        self._thread.start()

    def _collect(self, stream):
        for raw in iter(stream.readline, b""):
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if self._echo:
                self._echo.write(line + "\n")
                self._echo.flush()
            with self._changed:
                self.lines.append(line)
                self.times.append(time.monotonic())
                self._changed.notify_all()
        with self._changed:
            self.closed = True
            self._changed.notify_all()
        if self._echo:
            self._echo.close()

    def wait_closed(self, timeout=DEFAULT_TIMEOUT):
        """Until every line of the stream is collected (its writer has ended)."""
        self._thread.join(timeout)

    def wait_for(self, match, timeout=DEFAULT_TIMEOUT, start=0):
        """(index, line) of the first line from index start on that matches: a text contained in the
        line, a compiled regular expression, or a predicate. AssertionError with the last lines when the
        deadline passes or the stream ends first."""
        test = _line_test(match)
        deadline = time.monotonic() + timeout
        with self._changed:
            index = start
            while True:
                while index < len(self.lines):
                    if test(self.lines[index]):
                        return index, self.lines[index]
                    index += 1
                left = deadline - time.monotonic()
                if self.closed or left <= 0:
                    raise AssertionError("%s %r; last lines:\n%s" % (
                        "stream ended without" if self.closed else "no line within %.1f s matching" % timeout,
                        match, "\n".join(self.lines[-30:])))
                self._changed.wait(left)

    def join(self, timeout=None):
        self._thread.join(timeout)


def _line_test(match):
    if callable(match):
        return match
    if isinstance(match, re.Pattern):
        return lambda line: match.search(line) is not None
    return lambda line: match in line


class ManagedProcess:
    """A child process in its own process group; its standard output and error each go to a LineLog
    (and to <name>.out and <name>.err in its working directory)."""

    def __init__(self, argv, cwd, name, env=None, stdin=False):
        self.name = name
        self.cwd = Path(cwd)
        self.process = subprocess.Popen(
            [str(a) for a in argv], cwd=str(cwd), env=env, start_new_session=True,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.pid = self.process.pid
        self.output = LineLog(self.process.stdout, self.cwd / ("%s.out" % name))
        self.errors = LineLog(self.process.stderr, self.cwd / ("%s.err" % name))

    def alive(self):
        return self.process.poll() is None

    def signal(self, number):
        """Sends a signal to the process itself (not its group)."""
        if self.alive():
            self.process.send_signal(number)

    def wait(self, timeout=DEFAULT_TIMEOUT):
        """The exit status; AssertionError when the process has not ended in time."""
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s (pid %d) still running after %.1f s" % (self.name, self.pid, timeout))
        # The process has ended, the thread reading its output may not have read its last lines yet.
        self.output.wait_closed(timeout)
        self.errors.wait_closed(timeout)
        return status

    def mark(self):
        """The number of output lines so far: a start for waits that must see only later lines."""
        return len(self.output.lines)

    def wait_for_line(self, match, timeout=DEFAULT_TIMEOUT, start=0):
        return self.output.wait_for(match, timeout, start)[1]

    def wait_for_line_at(self, match, timeout=DEFAULT_TIMEOUT, start=0):
        """(index, line, monotonic time at which the line arrived) of the first matching line."""
        index, line = self.output.wait_for(match, timeout, start)
        return index, line, self.output.times[index]

    async def wait_for_line_at_async(self, match, timeout=DEFAULT_TIMEOUT, start=0):
        return await asyncio.to_thread(self.wait_for_line_at, match, timeout, start)

    async def wait_for_line_async(self, match, timeout=DEFAULT_TIMEOUT, start=0):
        return await asyncio.to_thread(self.wait_for_line, match, timeout, start)

    def kill(self):
        """SIGKILL to the process group, as a crash or an operator's kill -9 would end it; then reaped."""
        _signal_group(self.pid, signal.SIGKILL)
        self.stop()

    def stop(self):
        """SIGTERM to the process group, SIGKILL to it after the grace time; reaps the process."""
        if self.process.stdin:
            try:
                self.process.stdin.close()
            except OSError:
                pass
        if self.alive():
            _signal_group(self.pid, signal.SIGTERM)
            try:
                self.process.wait(STOP_GRACE_SECONDS)
            except subprocess.TimeoutExpired:
                pass
        # Whatever the group still holds (children of the process) goes too.
        _signal_group(self.pid, signal.SIGKILL)
        self.process.wait()
        for log, stream in ((self.output, self.process.stdout), (self.errors, self.process.stderr)):
            log.join(STOP_GRACE_SECONDS)
            stream.close()


def _signal_group(pgid, number):
    try:
        os.killpg(pgid, number)
    except (ProcessLookupError, PermissionError):
        pass


class JsonPeerProcess(ManagedProcess):
    """A peer run as a program: JSON events on its standard output, JSON commands on its standard input."""

    def __init__(self, argv, cwd, name):
        super().__init__(argv, cwd, name, stdin=True)

    def events(self):
        result = []
        for line in list(self.output.lines):
            try:
                result.append(json.loads(line))
            except ValueError:
                pass
        return result

    def wait_event(self, match, timeout=DEFAULT_TIMEOUT, start=0):
        """The first event (line index start on) matching a dict of wanted values or a predicate."""
        want = match if callable(match) else (lambda event: all(event.get(k) == v for k, v in match.items()))

        def test(line):
            try:
                return want(json.loads(line))
            except ValueError:
                return False

        return json.loads(self.wait_for_line(test, timeout, start))

    def send(self, command, timeout=DEFAULT_TIMEOUT):
        """Sends one command and waits until the peer has carried it out (its "ack" event); the peer's
        "error" event for it fails the test."""
        self._commands = getattr(self, "_commands", 0) + 1
        command = dict(command, id=self._commands)
        start = self.mark()
        self.process.stdin.write((json.dumps(command) + "\n").encode("utf-8"))
        self.process.stdin.flush()
        answer = self.wait_event(lambda e: e.get("id") == command["id"] and e.get("event") in ("ack", "error"),
                                 timeout, start)
        if answer["event"] == "error":
            raise AssertionError("%s refused %r: %s" % (self.name, command, answer.get("reason")))
        return answer

    @property
    def port(self):
        return self.wait_event({"event": "listening"})["port"]


class DedicatedServerProcess(ManagedProcess):
    """The server binary, started in its working directory; its log is both its standard output and
    "serverlog.txt" there."""

    def __init__(self, argv, cwd, port, env=None):
        super().__init__(argv, cwd, "server", env=env)
        self.port = port

    @property
    def serverlog_path(self):
        return self.cwd / "serverlog.txt"

    def serverlog(self):
        try:
            return self.serverlog_path.read_text(encoding="utf-8", errors="replace")
        except FileNotFoundError:
            return None

    def wait_for_serverlog(self, match, timeout=DEFAULT_TIMEOUT):
        """The first line of "serverlog.txt" that matches. The file has no event to wait on, so it is
        read again every 20 ms until the deadline."""
        test = _line_test(match)
        deadline = time.monotonic() + timeout
        while True:
            for line in (self.serverlog() or "").splitlines():
                if test(line):
                    return line
            if time.monotonic() >= deadline:
                raise AssertionError("no serverlog.txt line within %.1f s matching %r; file:\n%s"
                                     % (timeout, match, "\n".join((self.serverlog() or "").splitlines()[-30:])))
            time.sleep(0.02)


class PouchDbProcess(ManagedProcess):
    """pouchdb-server in memory on a free loopback port; `url` ends with a slash."""

    def __init__(self, cwd, port=None):
        port = port or free_port(udp_too=False)
        config = Path(cwd) / "pouchdb-config.json"
        config.write_text("{}\n")
        super().__init__(["node", POUCHDB_BIN, "--in-memory", "--host", LOOPBACK, "--port", port,
                          "--config", config], cwd, "pouchdb")
        self.port = port
        self.url = "http://%s:%d/" % (LOOPBACK, port)
        self.wait_for_line("pouchdb-server has started", timeout=30.0)

    def request(self, method, path, document=None):
        """One JSON request; returns (status, parsed answer)."""
        data = None if document is None else json.dumps(document).encode("utf-8")
        request = urllib.request.Request(self.url + path.lstrip("/"), data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=10) as answer:
                return answer.status, json.loads(answer.read() or b"null")
        except urllib.error.HTTPError as error:
            return error.code, json.loads(error.read() or b"null")

    def create_database(self, name):
        status, answer = self.request("PUT", name)
        if status not in (201, 412):
            raise AssertionError("creating database %s: %d %r" % (name, status, answer))

    def put_document(self, database, doc_id, document):
        status, answer = self.request("PUT", "%s/%s" % (database, doc_id), document)
        if status != 201:
            raise AssertionError("writing %s/%s: %d %r" % (database, doc_id, status, answer))
        return answer["rev"]


def python_peer(script, *args):
    return [sys.executable, "-u", str(PEERS_DIR / script)] + [str(a) for a in args]


class HarnessMixin:
    """Helpers shared by the synchronous and the asyncio test cases. Everything started is stopped by
    a cleanup, in reverse order of start, whatever the test's outcome."""

    def setUp(self):
        super().setUp()
        self._open_workdir(self.addCleanup)

    def _open_workdir(self, add_cleanup):
        self._add_cleanup = add_cleanup
        self.workdir = Path(tempfile.mkdtemp(prefix="orv-it-"))
        if not os.environ.get("ORV_KEEP_TEST_DIRS"):
            add_cleanup(shutil.rmtree, self.workdir, True)

    def _managed(self, process):
        self._add_cleanup(process.stop)
        return process

    def raise_descriptor_limit(self, count):
        """Raises this process's descriptor limit, which the server inherits, to `count` (the test is
        skipped when the hard limit is below it); back to what it was after the test."""
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        if soft != resource.RLIM_INFINITY and soft < count:
            if hard != resource.RLIM_INFINITY and hard < count:
                self.skipTest("descriptor limit %d below %d" % (hard, count))
            resource.setrlimit(resource.RLIMIT_NOFILE, (count, hard))
            self._add_cleanup(resource.setrlimit, resource.RLIMIT_NOFILE, (soft, hard))

    def write_files(self, files):
        """Writes {relative name: text} into the working directory."""
        for name, text in files.items():
            path = self.workdir / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)

    def start_server(self, *extra, port=None, mms_port=None, login="login", key="key", files=None,
                     binary=None, directory=None, env=None):
        """Starts the server in the working directory with "+port" (free), "+ip_mms 127.0.0.1",
        "+port_mms", "+login" and "+key" (None leaves a switch out) and the extra arguments. A test
        running several servers gives each a `directory` of its own there, for its files and logs.
        `env` adds variables to the server's environment (such as the test clock's step)."""
        port = port or free_port()
        argv = [binary or server_binary(), "+port", port, "+ip_mms", LOOPBACK]
        if mms_port is not None:
            argv += ["+port_mms", mms_port]
        if login is not None:
            argv += ["+login", login]
        if key is not None:
            argv += ["+key", key]
        argv += list(extra)
        folder = self.workdir / directory if directory else self.workdir
        folder.mkdir(parents=True, exist_ok=True)
        self.write_files({str(folder.relative_to(self.workdir) / name): text for name, text in (files or {}).items()})
        environment = dict(os.environ, **{name: str(value) for name, value in env.items()}) if env else None
        return self._managed(DedicatedServerProcess(argv, folder, port, environment))

    def start_mms_peer(self, *args):
        peer = self._managed(JsonPeerProcess(python_peer("mms_peer.py", *args), self.workdir, "mms_peer"))
        peer.port  # waits until it listens
        return peer

    def start_http_endpoint(self, *args):
        endpoint = self._managed(JsonPeerProcess(python_peer("http_endpoint.py", *args), self.workdir,
                                                 "http_endpoint"))
        endpoint.port
        return endpoint

    def start_game_client(self, port, player_id, *args, name=None):
        return self._managed(JsonPeerProcess(
            python_peer("game_client.py", "--port", port, "--player-id", player_id, *args), self.workdir,
            name or "client_%d" % player_id))

    def start_pouchdb(self, port=None):
        """pouchdb-server on a free port, or on the given one (a restart where a server expects it)."""
        if not POUCHDB_BIN.exists():
            raise AssertionError("%s is missing: run scripts/setup.sh" % POUCHDB_BIN)
        return self._managed(PouchDbProcess(self.workdir, port))


class SharedFixture(HarnessMixin):
    """The same helpers for processes that a whole test class or module shares, with a working
    directory of their own, stopped by the class's or the module's cleanups:

        @classmethod
        def setUpClass(cls):
            cls.shared = harness.SharedFixture(cls.addClassCleanup)
            cls.server = cls.shared.start_server(...)

    or `harness.SharedFixture(unittest.addModuleCleanup)` in setUpModule."""

    def __init__(self, add_cleanup):
        self._open_workdir(add_cleanup)


class IntegrationTestCase(HarnessMixin, unittest.TestCase):
    pass


class AsyncIntegrationTestCase(HarnessMixin, unittest.IsolatedAsyncioTestCase):
    async def start_mms_peer_in_process(self, **kwargs):
        peer = mms_peer.MmsPeer(**kwargs)
        await peer.start()
        self.addAsyncCleanup(peer.stop)
        return peer

    async def start_game_client_in_process(self, port, **kwargs):
        client = game_client.GameClient(**kwargs)
        await client.connect(port)
        self.addAsyncCleanup(client.close)
        return client


def main():
    """unittest.main that also takes `--server PATH` for the binary."""
    argv = list(sys.argv)
    if "--server" in argv:
        index = argv.index("--server")
        os.environ[SERVER_ENV] = argv[index + 1]
        del argv[index:index + 2]
    unittest.main(argv=argv)
