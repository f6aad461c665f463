"""The README's test command on a machine where things go wrong that are
not the project's fault: the package installer fails (a mirror in the
middle of a sync), and Wine cannot start. build.sh runs in a copy of
itself beside a tiny CMake project (one test), with apt-get, dpkg-query,
id, sleep and wine replaced by stand-ins on PATH, so the run takes seconds
and touches nothing of the machine.

Usage: setup_test.py BUILD_SH
"""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

BUILD_SH = None

PROJECT = """cmake_minimum_required(VERSION 3.20)
project(fake NONE)
enable_testing()
add_test(NAME fake_test COMMAND sh -c "test -z \\"$FAKE_TEST_FAILS\\"")
"""

# Each stand-in logs its arguments, then answers as a broken machine does.
STANDINS = {
    "apt-get": 'echo "E: Failed to fetch http://deb.debian.org/.../Packages.xz  '
               'File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2; exit 100',
    "dpkg-query": "exit 1",          # nothing is installed
    "dpkg": "exit 0",
    "id": "echo 0",                  # root, so it tries to install
    "sleep": "exit 0",
    "wine": "echo 'wine: could not load kernel32.dll, status c0000135' >&2; exit 1",
    "wineboot": "exit 1",
}


class SetUp(unittest.TestCase):
    def run_setup(self, tests_fail):
        tmp = tempfile.mkdtemp(prefix="kelv-setup-")
        self.addCleanup(shutil.rmtree, tmp)
        tree, fakebin = os.path.join(tmp, "tree"), os.path.join(tmp, "bin")
        os.makedirs(os.path.join(tree, "cmake"))
        os.makedirs(fakebin)
        shutil.copy(BUILD_SH, os.path.join(tree, "build.sh"))
        with open(os.path.join(tree, "CMakeLists.txt"), "w") as f:
            f.write(PROJECT)
        open(os.path.join(tree, "cmake", "mingw-i686.cmake"), "w").close()
        log = os.path.join(tmp, "calls.log")
        for name, body in STANDINS.items():
            path = os.path.join(fakebin, name)
            with open(path, "w") as f:
                f.write('#!/bin/sh\necho "%s $*" >>"%s"\n%s\n' % (name, log, body))
            os.chmod(path, stat.S_IRWXU)
        env = dict(os.environ, PATH=fakebin + os.pathsep + os.environ["PATH"])
        env.pop("FAKE_TEST_FAILS", None)
        if tests_fail:
            env["FAKE_TEST_FAILS"] = "yes"
        run = subprocess.run(["sh", os.path.join(tree, "build.sh"), "test"], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
        with open(log) as f:
            calls = f.read().splitlines()
        return run.returncode, run.stdout.decode(), calls, tree

    def test_broken_installer_and_wine(self):
        for tests_fail, code, summary in (
                (False, 0, "build.sh: every Linux test passed, Win32 built, Windows tests skipped"),
                (True, 1, "build.sh: FAILED: Linux tests")):
            with self.subTest(tests_fail=tests_fail):
                rc, out, calls, tree = self.run_setup(tests_fail)
                lines = out.rstrip("\n").split("\n")
                self.assertEqual(rc, code, out)
                self.assertEqual(lines[-1], summary, out)
                # The index update is retried, then the install goes on.
                self.assertEqual(sum(c == "apt-get update -q" for c in calls), 3, calls)
                self.assertIn("build.sh: some package indexes could not be updated; "
                              "installing from those there are", lines)
                self.assertTrue(any(c.startswith("apt-get install") and "wine32:i386" in c
                                    for c in calls), calls)
                # The Linux tests ran; the Win32 build ran; Wine's absence is one line.
                self.assertIn("Start 1: fake_test", out)
                self.assertTrue(os.path.isfile(os.path.join(tree, "build", "win32", "CMakeCache.txt")))
                skip = [l for l in lines if l.startswith("build.sh: Windows tests skipped")]
                self.assertEqual(skip, ["build.sh: Windows tests skipped: Wine cannot start "
                                        "32-bit programs here (is wine32:i386 installed?)"], out)


if __name__ == "__main__":
    BUILD_SH = sys.argv.pop(1)
    unittest.main()
