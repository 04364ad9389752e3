"""Closing the window while the installer still runs. A close (SIGTERM to the
launcher, which SDL turns into a quit request) during a build sends SIGTERM to the
installer's process group, its own children included, and the launcher ends only once
the installer has exited. (Installers that ignore SIGTERM, or write on after an
"@error " line when the player quits, are in test_children.)"""

import time
import unittest

from case import Case
from harness import alive

# Makes a grandchild in its group, and lingers a while after SIGTERM before it exits.
LINGER = """
on_term(0.8)
grandchild()
out(b"@step 2 5 Building\\n")
hold("never")
"""


class Close(Case):

    def test_sigterm_during_a_build_reaches_the_group_and_is_waited_for(self):
        la = self.launch(build=LINGER)
        self.update_then_build()
        build = self.fake.wait_record("build")
        child = self.fake.wait_record("grandchild")
        self.assertEqual(child["pgid"], build["pid"])
        self.working(step=2, steps=5, step_label="Building")

        la.terminate()
        self.assertEqual(self.ends(), 0)
        ended = time.monotonic()
        # The installer got the signal, so did its child (-15: ended by SIGTERM), and
        # the launcher was still there when the installer exited 0.8 s later.
        term = self.fake.records("term")
        self.assertEqual(len(term), 1)
        self.assertEqual(self.fake.records("grandchild-end")[0]["status"], -15)
        exits = self.fake.records("exit")
        self.assertEqual(len(exits), 1, "the launcher ended before the installer did")
        self.assertLessEqual(exits[0]["t"], ended)
        self.assertGreaterEqual(exits[0]["t"] - term[0]["t"], 0.8)
        self.assertFalse(alive(build["pid"]))
        self.assertFalse(alive(child["pid"]))


if __name__ == "__main__":
    unittest.main()
