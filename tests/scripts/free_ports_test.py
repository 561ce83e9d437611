"""scripts/free_ports.py, which gives scripts/run-local.sh its five ports: the ports of one pick are
all different, also when many picks run at once and the system hands the same free ports to all of
them; each is free when given (for UDP too where asked); a wrong kind is refused."""

import socket
import subprocess
import sys
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "free_ports.py"
sys.path.insert(0, str(ROOT / "scripts"))

import free_ports  # noqa: E402

RUN_LOCAL_KINDS = ["tcp", "tcp+udp", "tcp", "tcp", "tcp"]


def run(*kinds):
    return subprocess.run([sys.executable, str(SCRIPT), *kinds], capture_output=True, text=True, timeout=30)


class FreePortsTest(unittest.TestCase):
    def test_many_picks_at_once_never_give_one_port_twice(self):
        # As make run picks them, sixty-four times side by side.
        with ThreadPoolExecutor(16) as pool:
            results = list(pool.map(lambda _: run(*RUN_LOCAL_KINDS), range(64)))
        for result in results:
            self.assertEqual(result.returncode, 0, result.stderr)
            ports = [int(line) for line in result.stdout.split()]
            self.assertEqual(len(ports), len(RUN_LOCAL_KINDS))
            self.assertEqual(len(set(ports)), len(ports), ports)
        # One large pick in this process: a thousand different ports.
        ports = free_ports.pick_ports(["tcp", "tcp+udp"] * 500)
        self.assertEqual(len(set(ports)), 1000)

    def test_ports_are_free_when_given(self):
        ports = free_ports.pick_ports(RUN_LOCAL_KINDS)
        for kind, port in zip(RUN_LOCAL_KINDS, ports):
            kinds = [socket.SOCK_STREAM] + ([socket.SOCK_DGRAM] if kind == "tcp+udp" else [])
            for kind_of_socket in kinds:
                with socket.socket(socket.AF_INET, kind_of_socket) as sock:
                    sock.bind(("0.0.0.0", port))

    def test_a_wrong_kind_is_refused(self):
        result = run("tcp", "sctp")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertIn("free_ports: a port is tcp or tcp+udp, not 'sctp'", result.stderr)


if __name__ == "__main__":
    unittest.main()
