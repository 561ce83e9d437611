"""cmake/GTestSuites.cmake as ctest runs it: a stand-in test program prints a gtest listing, and
`ctest --show-only=json-v1` in a throwaway folder tells which tests the listing became, with their
commands and properties."""

import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent.parent
SCRIPT = SOURCE_DIR / "cmake" / "GTestSuites.cmake"

# What gtest prints for --gtest_list_tests: suites in the first column, cases indented, typed and
# value-parameterised suites with a comment naming the type or the value.
LISTING = """\
Plain.
  First
  Second
TypedPool/0.  # TypeParam = int
  Grows
TypedPool/1.  # TypeParam = std::pair<int, char [3]>; a comment with ; and [
  Grows
Sizes/ParamSuite.
  Holds/0  # GetParam() = [1, 2]
  Holds/1  # GetParam() = 3
PoolThreaded.
  TwoThreadsTogether
Pool_DeathTest.
  AbortsOnDoubleFree
"""

# The stand-in lists from the file beside it, failing when asked to; otherwise it records its
# arguments.
PROGRAM = """#!/bin/sh
here=$(dirname "$0")
if [ "$1" = --gtest_list_tests ]; then
  if [ -e "$here/list-fails" ]; then echo "listing broke" >&2; exit 3; fi
  cat "$here/listing"
  exit 0
fi
echo "$*" >>"$here/calls"
"""


class GTestSuitesTest(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="orv-gtest-suites-"))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.program = self.dir / "orv_pool_tests"
        self.list_file = self.dir / "orv_pool_tests_suites.cmake"
        (self.dir / "listing").write_text(LISTING)
        self.program.write_text(PROGRAM)
        self.program.chmod(0o755)
        (self.dir / "CTestTestfile.cmake").write_text(
            f'include([=[{SCRIPT}]=])\n'
            f'orv_gtest_suites([=[{self.program}]=] [=[{self.list_file}]=] 60 '
            f'TIMEOUT 300 RESOURCE_GROUPS cpus:1)\n')

    def ctest(self, *args):
        return subprocess.run(["ctest", *args], cwd=self.dir, capture_output=True, text=True, timeout=60)

    def listed(self):
        result = self.ctest("--show-only=json-v1")
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)["tests"]

    def test_one_test_per_suite_with_its_filter_and_properties(self):
        tests = self.listed()
        expected = ["Plain", "TypedPool/0", "TypedPool/1", "Sizes/ParamSuite", "PoolThreaded", "Pool_DeathTest"]
        self.assertEqual([t["name"] for t in tests], expected)
        for test in tests:
            with self.subTest(test["name"]):
                self.assertEqual(test["command"], [str(self.program), f"--gtest_filter={test['name']}.*"])
                properties = {p["name"]: p["value"] for p in test["properties"]}
                self.assertEqual(properties["TIMEOUT"], 300.0)
                self.assertEqual(properties["RESOURCE_GROUPS"],
                                 [{"requirements": [{".type": "cpus", "slots": 1}]}])

    def test_names_select_by_regular_expression_and_run_the_filter(self):
        result = self.ctest("-R", "Threaded")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual((self.dir / "calls").read_text(), "--gtest_filter=PoolThreaded.*\n")

    def test_a_newer_program_is_listed_again_and_an_older_list_kept(self):
        self.assertIn("Plain", [t["name"] for t in self.listed()])
        (self.dir / "listing").write_text("Renamed.\n  First\n")
        self.assertIn("Plain", [t["name"] for t in self.listed()], "the program did not change")
        later = time.time() + 5
        os.utime(self.program, (later, later))
        self.assertEqual([t["name"] for t in self.listed()], ["Renamed"])

    def test_a_missing_program_is_a_failing_test_and_a_failing_listing_stops_ctest(self):
        self.program.rename(self.dir / "elsewhere")
        tests = self.listed()
        self.assertEqual([t["name"] for t in tests], ["orv_pool_tests_NOT_BUILT"])
        self.assertNotEqual(self.ctest().returncode, 0)

        (self.dir / "elsewhere").rename(self.program)
        (self.dir / "list-fails").touch()
        result = self.ctest("-N")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("listing broke", result.stdout + result.stderr)

    def test_a_listing_without_suites_is_an_error(self):
        (self.dir / "listing").write_text("")
        result = self.ctest("-N")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("lists no test suite", result.stdout + result.stderr)


if __name__ == "__main__":
    unittest.main()
