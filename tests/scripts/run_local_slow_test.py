"""scripts/run-local.sh, the script `make run` runs, twice from one clone: the second run on the
working folder the first one uses is refused at once and says how to run a second one; the first goes
on unharmed, plays its game to the end and checks its sealed replay, never reading the recording in
progress as a broken one; a second run in a folder of its own starts beside it. Every run is stopped
as an operator stops it (SIGTERM, passed on to the server), and ends with the server's status."""

import os
import signal
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "run-local.sh"
POUCHDB = ROOT / "tests" / "peers" / "node_modules" / ".bin" / "pouchdb-server"
# A game of the local configuration lasts about 20 s (a 10 s warm-up and 50 ticks of battle); the
# sanitizer build is slower.
GAME_SECONDS = 120.0
START_SECONDS = 60.0
REFUSED = "is in use by another run; give this one a working folder of its own: ORV_RUN_DIR=build/run2 make run"


class LocalRun:
    """One run of the script with its working folder; its output (both streams) read line by line."""

    def __init__(self, server, folder):
        self.folder = folder
        self.process = subprocess.Popen(
            ["bash", str(SCRIPT), server], cwd=ROOT, env=dict(os.environ, ORV_RUN_DIR=str(folder)),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            start_new_session=True)
        self.lines = []
        self._changed = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self._changed:
                self.lines.append(line.rstrip("\n"))
                self._changed.notify_all()
        with self._changed:
            self._changed.notify_all()

    def wait_for(self, test, timeout):
        """The first output line for which `test` holds, within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while True:
                for line in self.lines:
                    if test(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0 or (self.process.poll() is not None and not self._reader.is_alive()):
                    raise AssertionError("no line of the run within %.0f s; output:\n%s"
                                         % (timeout, "\n".join(self.lines[-40:])))
                self._changed.wait(min(left, 1.0))

    def stop(self, timeout=30.0):
        """SIGTERM to the script, which passes it to the server and then stops every process it
        started; a second one if the server is in a game. The script's status."""
        for attempt in range(2):
            if self.process.poll() is not None:
                break
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=timeout / 2)
            except subprocess.TimeoutExpired:
                continue
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self._reader.join(timeout=5)
        self.process.stdout.close()
        return self.process.returncode


class RunLocalTest(unittest.TestCase):
    def setUp(self):
        self.server = os.environ.get("ORV_DEDICATED_SERVER")
        if not self.server:
            self.skipTest("ORV_DEDICATED_SERVER is not set: no server binary to run")
        if not POUCHDB.exists():
            self.fail("%s is missing: run scripts/setup.sh" % POUCHDB)
        folder = tempfile.TemporaryDirectory(prefix="orv-run-")
        self.addCleanup(folder.cleanup)
        self.root = Path(folder.name)

    def start(self, name):
        run = LocalRun(self.server, self.root / name)
        self.addCleanup(run.stop)
        return run

    def test_a_second_run_on_the_same_folder_is_refused_and_the_first_goes_on(self):
        first = self.start("run")
        first.wait_for(lambda line: line.startswith("run: property query: "), START_SECONDS)
        log_size = (self.root / "run" / "serverlog.txt").stat().st_size

        second = LocalRun(self.server, self.root / "run")
        self.addCleanup(second.stop)
        self.assertEqual(second.process.wait(timeout=30), 1)
        second._reader.join(timeout=5)
        self.assertEqual(second.lines, ["run: %s %s" % (self.root / "run", REFUSED)])

        # A run of its own folder, as the refusal says, starts beside the first.
        beside = self.start("run2")
        beside.wait_for(lambda line: line.startswith("run: property query: "), START_SECONDS)
        self.assertEqual(beside.stop(), 0)
        beside.wait_for(lambda line: line == "run: server ended with status 0", 5)

        # The first was not touched: its log grew on, its game ended, its sealed replay checks out.
        replay = first.wait_for(lambda line: line.startswith("run: replay "), GAME_SECONDS)
        self.assertRegex(replay, r"^run: replay Replays/lastreplay001\.orvgamerpl2: digest ok, \d+ ticks$")
        self.assertGreater((self.root / "run" / "serverlog.txt").stat().st_size, log_size)
        self.assertEqual(first.stop(), 0)
        first.wait_for(lambda line: line == "run: server ended with status 0", 5)
        self.assertFalse([line for line in first.lines if "BROKEN" in line], first.lines)


if __name__ == "__main__":
    unittest.main()
