"""scripts/setup.sh on stand-in machines: a copy of the script runs in a throwaway tree with a PATH
that holds the machine's commands except Node.js, npm, apt-get, dpkg-query, sudo and id. Stubs take
their place and record every call, so each case tells what the script would install and how, and
nothing on the real machine changes."""

import hashlib
import os
import shutil
import stat
import subprocess
import tempfile
import unittest
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent.parent
# The commands the stand-ins replace or hide; every other command of the real PATH stays reachable.
REPLACED = {"node", "nodejs", "npm", "npx", "apt", "apt-get", "dpkg-query", "sudo", "id"}

# Each stub logs its name and arguments, one call a line, to $STATE/calls.
STUBS = {
    # Installed are the packages listed in $STATE/installed; "*" stands for every package, "!name"
    # takes one out.
    # Plain bash, as the script asks once per package.
    "dpkg-query": r"""
pkg="${@: -1}"
installed=1
while IFS= read -r line; do
  case "$line" in "!$pkg") exit 1 ;; "*"|"$pkg") installed=0 ;; esac
done <"$STATE/installed"
[ "$installed" = 0 ] && printf 'install ok installed'
exit "$installed"
""",
    # "install" marks its packages installed; Debian's npm lands in $STATE/apt-bin, which is on PATH.
    "apt-get": r"""
printf '%s\n' "apt-get $*" >>"$STATE/calls"
if [ -e "$STATE/apt-fails" ]; then cat "$STATE/apt-fails"; echo "E: Could not get lock /var/lib/dpkg/lock-frontend" >&2; exit 100; fi
installing=0
for word in "$@"; do
  if [ "$word" = install ]; then installing=1; continue; fi
  case "$word" in -*|*=*) continue ;; esac
  if [ "$installing" = 1 ]; then
    sed -i "/^!$word\$/d" "$STATE/installed"
    echo "$word" >>"$STATE/installed"
    if [ "$word" = npm ]; then cp "$STATE/npm-stub" "$STATE/apt-bin/npm"; fi
  fi
done
""",
    "sudo": r"""
printf '%s\n' "sudo" >>"$STATE/calls"
exec "$@"
""",
    "id": r"""
if [ "$1" = -u ]; then echo "${FAKE_UID:-0}"; else exec /usr/bin/id "$@"; fi
""",
}
NPM_STUB = r"""
printf '%s\n' "npm $* in ${PWD##*/}" >>"$STATE/calls"
mkdir -p node_modules
"""


def write_executable(path, body):
    path.write_text("#!/bin/bash\n" + body)
    path.chmod(path.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)


def machine_commands(target):
    """Links in `target` to the first command of each name on the real PATH, the replaced ones left out."""
    for folder in os.environ.get("PATH", "/usr/bin:/bin").split(os.pathsep):
        if not os.path.isdir(folder):
            continue
        for name in os.listdir(folder):
            link = target / name
            source = Path(folder) / name
            if name in REPLACED or os.path.lexists(link) or not os.access(source, os.X_OK) or source.is_dir():
                continue
            link.symlink_to(source)


class StandInMachine:
    """A throwaway tree with the script and the peers' lock file, and the stand-ins' state."""

    def __init__(self, root, installed, npm=False, sudo=True, uid=0):
        self.root = Path(root)
        self.tree = self.root / "tree"
        (self.tree / "scripts").mkdir(parents=True)
        (self.tree / "tests" / "peers").mkdir(parents=True)
        shutil.copy(SOURCE_DIR / "scripts" / "setup.sh", self.tree / "scripts" / "setup.sh")
        shutil.copy(SOURCE_DIR / "tests" / "peers" / "package-lock.json", self.tree / "tests" / "peers")
        self.state = self.root / "state"
        for folder in ("stubs", "apt-bin", "other-node", "machine"):
            (self.state / folder).mkdir(parents=True)
        (self.state / "installed").write_text("".join(line + "\n" for line in installed))
        (self.state / "calls").write_text("")
        write_executable(self.state / "npm-stub", NPM_STUB)
        for name, body in STUBS.items():
            if name != "sudo" or sudo:
                write_executable(self.state / "stubs" / name, body)
        if npm:
            # A Node.js with its npm installed some other way than Debian's packages.
            write_executable(self.state / "other-node" / "npm", NPM_STUB)
        machine_commands(self.state / "machine")
        self.environment = {
            "PATH": os.pathsep.join(str(self.state / folder) for folder in ("stubs", "other-node", "apt-bin", "machine")),
            "STATE": str(self.state),
            "FAKE_UID": str(uid),
            "HOME": str(self.root),
        }

    def run(self, *arguments):
        result = subprocess.run(["bash", str(self.tree / "scripts" / "setup.sh"), *arguments], env=self.environment,
                                capture_output=True, text=True, timeout=60)
        calls = (self.state / "calls").read_text().splitlines()
        (self.state / "calls").write_text("")
        return result, calls

    def stamp_peers(self):
        """The npm peers as a finished install leaves them."""
        peers = self.tree / "tests" / "peers"
        (peers / "node_modules").mkdir()
        digest = hashlib.sha256((peers / "package-lock.json").read_bytes()).hexdigest()
        (peers / "node_modules" / ".orv-lock-sha256").write_text(digest + "\n")


def apt_calls(calls):
    return [call for call in calls if call.startswith("apt-get")]


class SetupScriptTest(unittest.TestCase):
    def machine(self, **options):
        folder = tempfile.TemporaryDirectory(prefix="orv-setup-")
        self.addCleanup(folder.cleanup)
        return StandInMachine(folder.name, **options)

    def test_quiet_and_idempotent_when_everything_is_there(self):
        cases = [
            ("Debian's Node.js", ["*"]),
            ("a Node.js from elsewhere", ["*", "!nodejs", "!npm"]),
        ]
        for name, installed in cases:
            with self.subTest(name):
                machine = self.machine(installed=installed, npm=True)
                machine.stamp_peers()
                for _ in range(2):
                    result, calls = machine.run()
                    self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
                    self.assertEqual(calls, [])

    def test_a_fresh_machine_gets_nodejs_and_npm_with_the_packages(self):
        machine = self.machine(installed=["python3"])
        result, calls = machine.run()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 2, lines)
        self.assertTrue(lines[0].startswith("setup: installing g++ cmake "), lines[0])
        self.assertTrue(lines[0].endswith(" nodejs npm"), lines[0])
        self.assertNotIn("python3", lines[0].split())
        self.assertEqual(lines[1], "setup: installing the npm test peers")
        # Both apt runs wait minutes for a lock another apt run holds rather than failing at once.
        apt = apt_calls(calls)
        self.assertEqual(len(apt), 2, calls)
        self.assertIn(" update", apt[0])
        self.assertIn(" install -y --no-install-recommends g++ ", apt[1])
        for call in apt:
            timeout = [word for word in call.split() if word.startswith("DPkg::Lock::Timeout=")]
            self.assertEqual(len(timeout), 1, call)
            self.assertGreaterEqual(int(timeout[0].split("=")[1]), 300, call)
        # Debian's npm, found on PATH right after its install, installs the peers.
        self.assertEqual(calls[-1], "npm ci --ignore-scripts --no-audit --no-fund --loglevel=error in peers")
        self.assertTrue((machine.tree / "tests" / "peers" / "node_modules" / ".orv-lock-sha256").is_file())

        result, calls = machine.run()
        self.assertEqual((result.returncode, result.stdout, result.stderr, calls), (0, "", "", []))

    def test_an_npm_from_elsewhere_is_kept(self):
        machine = self.machine(installed=["*", "!nodejs", "!npm", "!cmake"], npm=True)
        result, calls = machine.run()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(),
                         ["setup: installing cmake", "setup: installing the npm test peers"])
        self.assertTrue(apt_calls(calls)[-1].endswith(" install -y --no-install-recommends cmake"), calls)
        self.assertFalse((machine.state / "apt-bin" / "npm").exists())

    def test_a_user_installs_through_sudo_or_is_told_to_get_it(self):
        with self.subTest("with sudo"):
            machine = self.machine(installed=["*", "!ninja-build"], npm=True, uid=1000)
            machine.stamp_peers()
            self.assertEqual(machine.run()[1][:2], ["sudo", "apt-get -qq -o DPkg::Lock::Timeout=600 update"])
        with self.subTest("without sudo"):
            machine = self.machine(installed=["*", "!ninja-build"], npm=True, sudo=False, uid=1000)
            result, calls = machine.run()
            self.assertNotEqual(result.returncode, 0)
            self.assertEqual(result.stderr, "setup: ninja-build must be installed: run as root, or install sudo\n")
            self.assertEqual(calls, [])

    def test_a_failed_install_fails_the_set_up_with_all_apt_said(self):
        """apt explains on its standard output (the conflicting packages) and ends on its error
        output: a failure shows both."""
        explanation = ("The following packages have unmet dependencies:\n"
                       " nodejs : Conflicts: npm\n")
        machine = self.machine(installed=["python3"])
        (machine.state / "apt-fails").write_text(explanation)
        result, calls = machine.run()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(explanation, result.stderr)
        self.assertIn("Could not get lock", result.stderr)
        self.assertTrue(result.stderr.endswith("setup: apt-get update failed\n"), result.stderr)
        self.assertEqual(len(apt_calls(calls)), 1)
        self.assertFalse((machine.tree / "tests" / "peers" / "node_modules").exists())


if __name__ == "__main__":
    unittest.main()
