"""The README's operator's reference against the server it describes: every "+" switch, console
command, server property and exit status that the source declares is there (read from the source's own
tables, so a new one cannot be left out), the command-line example uses switches the server knows, and
the example files and commands run: the server starts on them and applies them as the README says."""

import re
import signal
import subprocess
import unittest
from pathlib import Path

import harness

ROOT = Path(__file__).resolve().parents[2]
SOURCE = ROOT / "src"
REFERENCE_HEADING = "## Running a server: the operator's reference"


def read(relative):
    return (SOURCE / relative).read_text()


def table_of(source, start_marker):
    """The text of the C++ array that begins at `start_marker`, up to its closing brace."""
    start = source.index(start_marker)
    return source[start:source.index("};", start)]


def reference():
    """The reference section of the README, up to the next section of the same level."""
    text = (ROOT / "README.md").read_text()
    start = text.index(REFERENCE_HEADING)
    end = text.find("\n## ", start + len(REFERENCE_HEADING))
    return text[start:end if end != -1 else len(text)]


def subsection(title):
    text = reference()
    start = text.index("\n### " + title)
    end = text.find("\n### ", start + 1)
    return text[start:end if end != -1 else len(text)]


def code_blocks(title):
    """The fenced blocks of a subsection, as lists of lines."""
    return [block.strip("\n").splitlines() for block in re.findall(r"\n```\n(.*?)\n```", subsection(title), re.S)]


def table_rows(title):
    """The first cell of every table row of a subsection."""
    return [line.split("|")[1].strip() for line in subsection(title).splitlines()
            if line.startswith("| ") and not line.startswith("|---")]


class ReferenceTest(unittest.TestCase):
    def test_every_switch_is_described(self):
        switches = re.findall(r'\{"(\w+)", ESwitch::', table_of(read("dedicated/program/command_line.cpp"),
                                                              "constexpr TSwitchName kSwitches[]"))
        self.assertEqual(len(switches), 15)
        self.assertEqual(sorted(row for row in table_rows("Command line") if row != "switch"),
                         sorted("`+%s`" % name for name in switches))
        # The example's switches are ones the server knows, each with its value.
        example = code_blocks("Command line")[0][0].split()
        self.assertEqual(example[0], "./DedicatedServer")
        for word in example[1:]:
            if word.startswith("+"):
                self.assertIn(word[1:], switches)

    def test_every_console_command_is_described(self):
        commands = re.findall(r'"(\w+)"', table_of(read("dedicated/program/main_server_task.cpp"),
                                                   "constexpr const char* kConsoleCommands[]"))
        self.assertEqual(len(commands), 8)
        described = [row.strip("`").split()[0] for row in table_rows("Console and client admin commands")
                     if row.startswith("`")]
        self.assertEqual(sorted(described), sorted(commands))

    def test_every_server_property_is_described(self):
        properties = re.findall(r'\{"(\w+)", "', table_of(read("dedicated/session/strivex_dedicated_session.cpp"),
                                                          "constexpr TPropertyDeclaration kServerProperties[]"))
        self.assertEqual(len(properties), 30)
        described = set()
        for row in table_rows("variables.ini"):
            described.update(re.findall(r"`(\w+)`", row))
        self.assertEqual(described, set(properties))

    def test_every_exit_status_is_described(self):
        statuses = [int(value) for value in re.findall(r"= (\d+),", read("dedicated/program/exit_status.h"))]
        self.assertEqual(sorted(int(row) for row in table_rows("Exit statuses") if row.isdigit()), sorted(statuses))


class ExamplesTest(harness.IntegrationTestCase):
    def test_example_files_and_key_commands_run(self):
        """The example files as the README writes them, and the key and certificate made with its
        commands: the server starts on them, takes every value and says nothing of the certificate."""
        files = {name: "\n".join(code_blocks(name)[0]) + "\n"
                 for name in ("login.ini", "variables.ini", "admins.ini", "banned_clients.ini")}
        for command in code_blocks('The "Couldn\'t read \'pkey\' or \'cert\' file" line')[0]:
            result = subprocess.run(command.split(), cwd=self.workdir, capture_output=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
        mms = self.start_mms_peer("--on-init", "silent")
        server = self.start_server(mms_port=mms.port, login=None, key=None, files=files)
        init = mms.wait_event({"name": "init"})
        login = dict(line.split("=", 1) for line in code_blocks("login.ini")[0] if "=" in line)
        self.assertEqual((init["login"], init["key"]), (login["login"], login["dedicated_key"]))
        server.wait_for_line("Connected to match making server")

        log = server.serverlog()
        self.assertNotIn("Couldn't read 'pkey' or 'cert' file", log)
        self.assertNotIn("Unknown variable", log)
        self.assertNotIn(" not set to ", log)
        for line in code_blocks("variables.ini")[0]:
            if "=" in line:
                name, value = line.split("=", 1)
                self.assertIn('Variable %s set to "%s"' % (name, value), log)
        for line in code_blocks("admins.ini")[0]:
            if "=" in line:
                self.assertIn("Adding admin with user id : %s" % line.split("=")[0], log)
        # The bans were merged and written back, outside any section.
        banned = (self.workdir / "banned_clients.ini").read_text()
        for line in code_blocks("banned_clients.ini")[0]:
            self.assertIn(line, banned)

        server.signal(signal.SIGTERM)
        self.assertEqual(server.wait(), 0)


if __name__ == "__main__":
    harness.main()
