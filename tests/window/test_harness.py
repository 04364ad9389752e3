"""The harness itself: a display number that is taken never stops a test, and a test
that fails, or whose runner is killed outright, leaves no X server, launcher,
installer, grandchild or game behind."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from base import WindowTest, alive
from harness import Display, kill_tagged, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))


def tagged(tag):
    """The process ids whose environment holds the test tag."""
    mark = ("BKF_TEST_TAG=" + tag).encode()
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if mark in f.read().split(b"\0") and alive(int(pid)):
                    found.append(int(pid))
        except OSError:
            pass
    return found


def x_busy(n):
    return os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n)


class Harness(WindowTest):

    def test_a_taken_display_number_is_skipped(self):
        # Take the lowest free number the way a running X server does, with a lock
        # file that names a live process (this one), and a second one by a real Xvfb.
        n = next(i for i in range(1, 1000) if not x_busy(i))
        lock = "/tmp/.X%d-lock" % n
        try:
            fd = os.open(lock, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o444)
        except FileExistsError:
            self.skipTest("display :%d was taken meanwhile" % n)
        try:
            os.write(fd, b"%10d\n" % os.getpid())
            os.close(fd)
            with Display() as other:
                self.assertNotEqual(other.name, ":%d" % n)
                self.assertNotEqual(other.name, self.display.name)
                lnc, fk = self.launch("{}")
                self.screen(lnc, "update")
                lnc.key("Escape")
                self.assertEqual(lnc.wait(), 0)
        finally:
            os.unlink(lock)

    def leftover(self, road, end):
        d = tempfile.mkdtemp(prefix="bkf-leftover-")
        self.addCleanup(shutil.rmtree, d, True)
        out = os.path.join(d, "pids.json")
        env = dict(os.environ, BKF_LEFTOVER=out, BKF_LEFTOVER_ROAD=road, BKF_LEFTOVER_END=end)
        r = subprocess.run([sys.executable, "-m", "unittest", "leftover_case"], cwd=HERE,
                           env=env, capture_output=True, timeout=90)
        self.assertNotEqual(r.returncode, 0)
        self.assertTrue(os.path.exists(out), r.stderr.decode(errors="replace"))
        with open(out) as f:
            p = json.load(f)
        self.addCleanup(shutil.rmtree, p["tmp"], True)
        self.addCleanup(kill_tagged, p["tag"])
        everything = [p["xvfb"], p["launcher"]] + p["children"]
        self.assertEqual(len(everything), len(set(everything)))
        # After a failure the cleanups have run by the time the runner has ended;
        # after SIGKILL each process goes when its parent does, so give it a moment.
        wait_for(lambda: not any(alive(q) for q in everything) and not tagged(p["tag"]),
                 10 if end == "kill" else 0.5, what="every process of the test to end")
        if end == "fail":
            self.assertTrue(os.path.isdir(p["tmp"]), "a failed test's files were not kept")

    def test_a_failing_build_test_leaves_nothing(self):
        self.leftover("build", "fail")

    def test_a_failing_game_test_leaves_nothing(self):
        self.leftover("game", "fail")

    def test_a_killed_runner_leaves_nothing(self):
        self.leftover("build", "kill")


if __name__ == "__main__":
    unittest.main()
