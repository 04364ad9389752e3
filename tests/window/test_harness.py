"""The harness itself: display numbers that are taken never stop a test nor bring it
onto another test's display, an X server ends by SIGTERM, and a test that fails, or
whose runner is killed outright, leaves no X server, launcher, installer, grandchild or
game behind."""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

from case import Case
from harness import Display, alive, kill_tagged, tagged, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))


def take_displays(n):
    """Takes the n lowest display numbers that no X server holds, as a running server
    holds its own: by binding the abstract socket that an X server binds first (which
    a lock file or a stale socket file does not do here). Returns [(number, socket)]."""
    taken = []
    for number in range(1000):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.bind("\0/tmp/.X11-unix/X%d" % number)
        except OSError:
            s.close()
            continue
        taken.append((number, s))
        if len(taken) == n:
            break
    return taken


class Harness(Case):

    def test_taken_display_numbers_are_skipped(self):
        # The lowest free numbers are taken; the test's own display is running too.
        taken = take_displays(3)
        for _, s in taken:
            self.addCleanup(s.close)
        with Display() as other:
            self.assertNotIn(other.number, [n for n, _ in taken])
            self.assertNotEqual(other.number, self.display.number)
            self.display = other
            la = self.launch()
            self.screen("update")
            la.key("Escape")
            self.assertEqual(self.ends(), 0)
        # Ended by SIGTERM, so that it removed its socket: not by SIGKILL (-9).
        self.assertEqual(other.proc.returncode, 0)

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
        self.addCleanup(shutil.rmtree, p["dir"], True)
        self.addCleanup(kill_tagged, p["tag"])
        everything = [p["xvfb"], p["launcher"]] + p["children"]
        self.assertEqual(len(everything), len(set(everything)))
        # After a failure the cleanups have run by the time the runner has ended;
        # after SIGKILL each process goes when its parent does, so give it a moment.
        wait_for(lambda: not any(alive(q) for q in everything) and not tagged(p["tag"]),
                 10 if end == "kill" else 0.5, what="every process of the test to end")
        if end == "fail":
            self.assertTrue(os.path.isdir(p["dir"]), "a failed test's files were not kept")
            self.assertIn("kept " + p["dir"], r.stderr.decode(errors="replace"))

    def test_a_failing_build_test_leaves_nothing(self):
        self.leftover("build", "fail")

    def test_a_failing_game_test_leaves_nothing(self):
        self.leftover("game", "fail")

    def test_a_killed_runner_leaves_nothing(self):
        self.leftover("build", "kill")


if __name__ == "__main__":
    unittest.main()
