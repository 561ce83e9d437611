"""The integration harness itself: processes started and stopped by their group, also when a test fails,
log waits with deadlines, pouchdb-server, and the peers run as programs and in process."""

import os
import stat
import sys
import time
import unittest

import harness

# Stands in for the server binary: it logs to its standard output and "serverlog.txt", keeps a child
# process in its group, connects to the match-making port it is given and sends the init message.
STAND_IN = r'''
import os, signal, socket, subprocess, sys
args = sys.argv[1:]
def value(name):
    return args[args.index(name) + 1] if name in args else None
log = open("serverlog.txt", "w")
def say(line):
    print(line, flush=True)
    log.write(line + "\n")
    log.flush()
child = subprocess.Popen(["sleep", "600"])
say("child %d" % child.pid)
signal.signal(signal.SIGTERM, lambda *_: (say("Server will exit as soon as possible."), sys.exit(0)))
if value("+port_mms"):
    link = socket.create_connection(("127.0.0.1", int(value("+port_mms"))))
    link.sendall(bytes.fromhex("0017e1102700000018040302010000000002616200000001 63".replace(" ", "")))
    say("Connected to match making server")
say("port %s login %s" % (value("+port"), value("+login")))
signal.pause()
'''


def write_stand_in(folder):
    path = folder / "stand_in_server.py"
    path.write_text("#!%s\n%s" % (sys.executable, STAND_IN))
    path.chmod(path.stat().st_mode | stat.S_IXUSR)
    return path


def gone(pid, timeout=10.0):
    """True once the process has ended (absent, or a zombie waiting for its new parent to reap it)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open("/proc/%d/stat" % pid) as handle:
                if handle.read().rsplit(")", 1)[1].split()[0] == "Z":
                    return True
        except FileNotFoundError:
            return True
        time.sleep(0.02)
    return False


class ProcessesTest(harness.IntegrationTestCase):
    def test_stand_in_server_and_peer_meet_through_the_harness(self):
        mms = self.start_mms_peer()
        self.assertEqual(mms.send({"cmd": "on_init", "mode": "silent"})["event"], "ack")
        with self.assertRaises(AssertionError):
            mms.send({"cmd": "on_init", "mode": "sometimes"})
        server = self.start_server(mms_port=mms.port, login="ab", key="c", binary=write_stand_in(self.workdir))
        init = mms.wait_event({"name": "init"})
        self.assertEqual((init["login"], init["port"], init["address"]), ("ab", 10000, "1.2.3.4"))
        self.assertEqual(server.wait_for_line("port "), "port %d login ab" % server.port)
        self.assertEqual(server.wait_for_serverlog("Connected to"), "Connected to match making server")
        with self.assertRaises(AssertionError) as caught:
            server.wait_for_line("never printed", timeout=0.2)
        self.assertIn("port %d" % server.port, str(caught.exception))

        other = self.start_server(mms_port=mms.port, binary=write_stand_in(self.workdir), directory="other",
                                  files={"variables.ini": "NbMaxPlayer=2\n"})
        other.wait_for_serverlog("Connected to")
        self.assertEqual((self.workdir / "other" / "variables.ini").read_text(), "NbMaxPlayer=2\n")
        self.assertEqual(server.serverlog().count("Connected to"), 1)

        mark = server.mark()
        server.signal(15)
        server.wait_for_line("Server will exit as soon as possible.", start=mark)
        self.assertEqual(server.wait(), 0)

    def test_everything_stops_when_a_test_fails(self):
        started = {}
        binary = write_stand_in(self.workdir)

        class Failing(harness.IntegrationTestCase):
            def test_fails(inner):
                peer = inner.start_mms_peer()
                server = inner.start_server(binary=binary)
                started["pids"] = [peer.pid, server.pid, int(server.wait_for_line("child ").split()[1])]
                inner.fail("on purpose")

        result = unittest.TestResult()
        Failing("test_fails").run(result)
        self.assertEqual(len(result.failures), 1, result.errors)
        self.assertEqual(len(started["pids"]), 3)
        for pid in started["pids"]:
            self.assertTrue(gone(pid), "process %d still runs" % pid)

    def test_shared_processes_serve_the_whole_class_and_stop_with_it(self):
        seen = []
        binary = write_stand_in(self.workdir)

        class Shared(harness.IntegrationTestCase):
            @classmethod
            def setUpClass(cls):
                cls.shared = harness.SharedFixture(cls.addClassCleanup)
                cls.server = cls.shared.start_server(binary=binary)

            def test_one(inner):
                seen.append((inner.server.pid, inner.shared.workdir))

            test_two = test_one

        result = unittest.TestResult()
        unittest.TestSuite([Shared("test_one"), Shared("test_two")]).run(result)
        self.assertTrue(result.wasSuccessful(), result.errors)
        self.assertEqual(len(seen), 2)
        self.assertEqual(seen[0], seen[1])
        pid, workdir = seen[0]
        self.assertTrue(gone(pid), "process %d still runs" % pid)
        if not os.environ.get("ORV_KEEP_TEST_DIRS"):
            self.assertFalse(workdir.exists())

    def test_pouchdb_server_in_memory(self):
        database = self.start_pouchdb()
        database.create_database("stats")
        database.put_document("stats", "u0_5", {"@name": "bob", "ELO": "1600"})
        status, document = database.request("GET", "stats/u0_5")
        self.assertEqual((status, document["@name"], document["ELO"]), (200, "bob", "1600"))
        self.assertEqual(database.request("GET", "stats/u0_6")[0], 404)
        database.stop()
        self.assertTrue(gone(database.pid))


class InProcessTest(harness.AsyncIntegrationTestCase):
    async def test_peers_in_process_with_a_program_server(self):
        mms = await self.start_mms_peer_in_process()
        mms.set_on_init("answer", 0, {"StatsURL": "http://127.0.0.1:1/"})
        server = self.start_server(mms_port=mms.port, binary=write_stand_in(self.workdir))
        init = await mms.events.wait_for({"name": "init"})
        await mms.events.wait_for({"event": "sent", "messages": ["init_answer"]})
        self.assertEqual(init["key"], "c")
        await server.wait_for_line_async("Connected to match making server")


if __name__ == "__main__":
    harness.main()
