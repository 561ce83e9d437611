"""The server binary from its command line to the match-making connection: refused arguments, the
start-up failures and their exit statuses, the account file, the start-up block of the log, the init message as the match-making peer decodes it,
and the exit on SIGTERM while the session is in match making."""

import os
import re
import signal
import socket
import subprocess
import unittest

import harness
from console_client import TYPE_COMMAND, ConsoleClient

USAGE = "Bad arguments (Usage : ./DedicatedServer +port XXXX [+ip XX.XX.XX.XX +force_game_version XXXX])"
BAD_PORT = "Bad arguments (value of port must me > 1024)"
SEPARATOR = "-" * 51


class CommandLineTest(harness.IntegrationTestCase):
    def test_bad_arguments_stop_before_the_log(self):
        cases = [
            ([], BAD_PORT),
            (["+port", "1024"], BAD_PORT),
            (["+port", "66560"], BAD_PORT),  # 1024 once cut to 16 bits
            (["+port", "2000", "+ip_mms", ""], USAGE),
            (["+port", "2000", "+game_id", "4294967295"], USAGE),
            (["+port", "2000", "+game_id", "4294967296"], USAGE),
        ]
        for arguments, line in cases:
            with self.subTest(arguments=arguments):
                result = subprocess.run([harness.server_binary()] + arguments, cwd=self.workdir,
                                        capture_output=True, timeout=30)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr.decode(), line + "\n")
                self.assertFalse((self.workdir / "serverlog.txt").exists())

    def test_start_up_failures_exit_non_zero_with_one_line(self):
        """Each way the server cannot start: its line in the log, and a status that is not a clean
        stop's. The start-up block that follows a successful start never comes."""
        holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(holder.close)
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        holder.bind(("0.0.0.0", 0))
        holder.listen(1)
        taken_port = holder.getsockname()[1]
        no_account = "No login or dedicated key specified, can't connect to match making server"
        no_keys = "Error : login.ini gives no login and no dedicated_key"
        cases = [
            # (name, switches, files, symbolic link loop, line, status)
            ("client port in use", {"port": taken_port}, {}, None,
             "Failed to bind client socket, you have probably another server running on the same port", 3),
            ("no login.ini", {"login": None, "key": None}, {}, None, "Error : login.ini file doesn't exist !!", 2),
            ("login.ini unreadable", {"login": None, "key": None}, {}, "login.ini",
             "Error : login.ini file can't be read (Too many levels of symbolic links)", 2),
            ("login.ini a folder", {"login": None, "key": None}, {"login.ini/x": ""}, None,
             "Error : login.ini is not a file", 2),
            ("login.ini empty", {"login": None, "key": None}, {"login.ini": ""}, None, no_keys, 2),
            ("login.ini garbage", {"login": None, "key": None}, {"login.ini": "\x7fELF\x02\x01\x01\n[\n=\n"},
             None, no_keys, 2),
            ("login.ini without dedicated_key", {"login": None, "key": None},
             {"login.ini": "[account]\nlogin=ab\n"}, None, "Error : login.ini gives no dedicated_key", 2),
            ("a login switch without a key", {"key": None}, {"login.ini": "login=a\ndedicated_key=b\n"}, None,
             no_account, 2),
        ]
        for name, account, files, loop, line, status in cases:
            with self.subTest(name):
                directory = name.replace(" ", "_")
                if loop:
                    (self.workdir / directory).mkdir()
                    os.symlink(loop, self.workdir / directory / loop)
                self.write_files({directory + "/serverlog.txt": "a line of an earlier run\n"})
                server = self.start_server(files=files, directory=directory, **account)
                self.assertEqual(server.wait(), status)
                log = server.serverlog()
                self.assertIn(line + "\n", log)
                self.assertNotIn("earlier run", log)
                self.assertNotIn("Initializing Server Properties", log)
                if "doesn't exist" not in line:
                    self.assertNotIn("doesn't exist", log)
class StartUpTest(harness.IntegrationTestCase):
    def test_start_up_block_init_message_and_exit_in_match_making(self):
        mms = self.start_mms_peer("--on-init", "silent")
        files = {
            "variables.ini": "[game]\nServerName=Loopback Server\nLoadingTimeMax=59\nBogus=1\n",
            "admins.ini": "5=lks\n",
            "login.ini": "login=ignored\ndedicated_key=ignored\n",
        }
        server = self.start_server("+ip", "1.2.3.4", "+game_id", "24", mms_port=mms.port, login="ab", key="c",
                                   files=files)
        init = mms.wait_event({"name": "init"})
        port = server.port
        # The port as the server holds it, in network order, packed big-endian: its low byte first.
        self.assertEqual(init["raw"], "e1%02x%02x" % (port & 0xFF, port >> 8) +
                         "00000018040302010000000002616200000001" + "63")
        self.assertEqual((init["port"], init["game_id"], init["address"], init["slave"], init["login"], init["key"]),
                         (port, 24, "1.2.3.4", False, "ab", "c"))
        server.wait_for_line("Connected to match making server")

        lines = server.serverlog().splitlines()
        start = lines.index("Initializing Server Properties : ")
        self.assertEqual(lines[start - 1], SEPARATOR)
        declarations = lines[start + 1:start + 31]
        self.assertEqual(declarations[0], "Variable NbMaxPlayer set to 20")
        self.assertEqual(declarations[10], "Variable Password set to ")
        self.assertEqual(declarations[29], "Variable DateConstraint set to -1")
        self.assertTrue(all(line.startswith("Variable ") for line in declarations))
        block = lines[start + 31:]
        expected = [
            SEPARATOR,
            "Overriding Server Properties from variables.ini file : ",
            'Variable ServerName set to "Loopback Server"',
            'Variable LoadingTimeMax not set to "59" (reason : invalid value)',
            "Unknown variable Bogus will be ingored",
            SEPARATOR,
            "Retrieving admin list from admins.ini file : ",
            "Adding admin with user id : 5",
            SEPARATOR,
            "Initializing Server Protocol Property : 1.0",
            'Variable ServerProtocol set to "1.0"',
            SEPARATOR,
            # The session enters match making (TimeLeft is still logged then) and reads its bans.
            'Variable TimeLeft set to "4294967295"',
            "Updating clients banned list",
            "Entering in matchmaking state",
            "Connecting to match making server",
            "Connected to match making server",
        ]
        self.assertEqual(block[:len(expected)], expected)

        mark = server.mark()
        server.signal(signal.SIGTERM)
        server.wait_for_line("Server will exit as soon as possible.", start=mark)
        self.assertEqual(server.wait(), 0)
        self.assertTrue(server.serverlog().rstrip("\n").endswith("Server will exit as soon as possible."))
        mms.wait_event({"event": "closed", "by": "server"})

    def test_peer_closing_before_the_answer(self):
        mms = self.start_mms_peer("--on-init", "close")
        server = self.start_server(mms_port=mms.port)
        mms.wait_event({"event": "closed", "by": "peer"})
        line = server.wait_for_line(re.compile("^Failed to connect to match making server -> "))
        self.assertEqual(line, "Failed to connect to match making server -> Error during reading. End of file received.")
        server.wait_for_line(re.compile("^Failed to connect to match making server$"))
        server.signal(signal.SIGINT)
        self.assertEqual(server.wait(), 0)

    def test_forced_version_is_kept_over_variables_ini(self):
        mms = self.start_mms_peer("--on-init", "silent")
        server = self.start_server("+force_game_version", "1.5", mms_port=mms.port,
                                   files={"variables.ini": "Version=2.0\n"})
        server.wait_for_line("Connected to match making server")
        log = server.serverlog()
        self.assertLess(log.index('Variable Version set to "2.0"'), log.index('Variable Version set to "1.5"'))

    def test_console_lines_reach_the_session(self):
        mms = self.start_mms_peer("--on-init", "silent")
        console_port = harness.free_port(udp_too=False)
        server = self.start_server("+rcon_password", "pw", "+rcon_port", console_port, mms_port=mms.port)
        server.wait_for_line("Connected to match making server")
        client = ConsoleClient(console_port)
        self.addCleanup(client.close)
        client.authenticate("pw")
        client.send_packet(5, TYPE_COMMAND, b"launch")
        answer = client.read_packet()
        self.assertEqual((answer.id, answer.body), (5, b"No player connected and ready to play"))
        server.wait_for_line("RCon request command : launch")


if __name__ == "__main__":
    harness.main()
