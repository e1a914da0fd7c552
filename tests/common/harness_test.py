#!/usr/bin/env python3
"""The test harness itself: every CTest entry runs in a home of its own that goes after it,
and the end of a run names the skipped cases with their reasons.

harness_test.py CMAKE BUILD_DIR: the build folder whose CTest entries are checked."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
PRIVATE_HOME = os.path.join(HERE, "with-private-home")
SKIP_REASONS = os.path.join(HERE, "skip-reasons")
LIST_TESTS = os.path.join(HERE, "list-tests.cmake")
CMAKE = BUILD_DIR = None

# What a test process sees and leaves: its environment, and a file in each of its folders.
PROBE = """
for v in HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME XDG_RUNTIME_DIR TMPDIR; do
  eval "d=\\$$v"; touch "$d/left-behind" || exit 1; echo "$v=$d"
done
echo "DISPLAY=${DISPLAY-unset}"
echo "TMPDIR_MODE=$(stat -c %a "$TMPDIR")"
exit 3
"""


class PrivateHome(unittest.TestCase):
    def test_a_test_gets_folders_of_its_own_and_they_go_after_it(self):
        with tempfile.TemporaryDirectory() as temp:
            env = dict(os.environ, TMPDIR=temp, DISPLAY=":0", HOME="/nonexistent")
            run = subprocess.run([PRIVATE_HOME, "sh", "-c", PROBE], env=env,
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 3, run.stderr)
            seen = dict(line.split("=", 1) for line in run.stdout.split())
            self.assertEqual(seen.pop("DISPLAY"), "unset")
            # Open to every user, as the system's is.
            self.assertEqual(seen.pop("TMPDIR_MODE"), "1777")
            self.assertEqual(len(set(seen.values())), len(seen), seen)
            for name, folder in seen.items():
                self.assertTrue(folder.startswith(temp + "/"), f"{name}={folder}")
            self.assertEqual(os.listdir(temp), [])

    def test_the_folder_of_a_killed_runner_goes_with_the_next_test(self):
        with tempfile.TemporaryDirectory() as temp:
            ended = subprocess.Popen(["true"])
            ended.wait()
            for name, pid in (("killed", ended.pid), ("running", os.getpid())):
                os.makedirs(os.path.join(temp, f"fennick-test.{name}", "home", "kept"))
                with open(os.path.join(temp, f"fennick-test.{name}", "runner"), "w") as file:
                    file.write(f"{pid}\n")
            subprocess.run([PRIVATE_HOME, "true"], env=dict(os.environ, TMPDIR=temp),
                           check=True)
            self.assertEqual(os.listdir(temp), ["fennick-test.running"])

    def test_every_ctest_entry_runs_in_a_home_of_its_own(self):
        listing = subprocess.run([CMAKE, f"-DBUILD_DIR={BUILD_DIR}", "-P", LIST_TESTS],
                                 capture_output=True, text=True, check=True)
        tests = [line.split("\t") for line in listing.stderr.splitlines()]
        self.assertGreater(len(tests), 100)
        for name, program in tests:
            self.assertEqual(program, PRIVATE_HOME, name)


LOG = """\
1/3 Testing: Users.ActAsAnother
Output:
[ RUN      ] Users.ActAsAnother
/src/UsersTest.cpp:12: Skipped
needs root to act as another user

[  SKIPPED ] Users.ActAsAnother (0 ms)
[  SKIPPED ] 1 test, listed below:
[  SKIPPED ] Users.ActAsAnother
2/3 Testing: screen_xvfb
[ RUN      ] Screen.Shows
[       OK ] Screen.Shows (5 ms)
[ RUN      ] Screen.Silent
/src/ScreenTest.cpp:40: Skipped

[  SKIPPED ] Screen.Silent (1 ms)
3/3 Testing: Plain.Passes
[ RUN      ] Plain.Passes
[       OK ] Plain.Passes (0 ms)
"""


class SkipReasons(unittest.TestCase):
    def reasons(self, log, earlier_log=None):
        """What is said at the end of a run whose log is still being written (as CTest writes
        it: LastTest.log.tmp), beside the complete log of an earlier run when given."""
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "LastTest.log")
            with open(path + ".tmp", "w") as file:
                file.write(log)
            if earlier_log is not None:
                with open(path, "w") as file:
                    file.write(earlier_log)
            return subprocess.run([SKIP_REASONS, path], capture_output=True, text=True,
                                  check=True).stdout

    def test_each_skipped_case_is_named_once_with_its_reason(self):
        self.assertEqual(self.reasons(LOG).splitlines(), [
            "",
            "Skipped test cases, and why:",
            "\tUsers.ActAsAnother: needs root to act as another user",
            "\tScreen.Silent (in screen_xvfb): no reason given",
        ])

    def test_a_run_without_skips_or_without_a_log_adds_nothing(self):
        self.assertEqual(self.reasons("3/3" + LOG.split("3/3")[1], earlier_log=LOG), "")
        run = subprocess.run([SKIP_REASONS, "/nonexistent/LastTest.log"], capture_output=True)
        self.assertEqual((run.returncode, run.stdout), (0, b""))


if __name__ == "__main__":
    CMAKE, BUILD_DIR = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
