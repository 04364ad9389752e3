"""A game that stops unexpectedly (exit status 3) brings the window back on the
crashed screen with "Play Again" focused; "Play Again" runs the game again, without
the first-run options this time, and the first run's log becomes bkf.1.log."""

import os
import unittest

from case import Case
from fakes import READY
from harness import alive, wait_for


class Crash(Case):

    def test_crash_then_play_again(self):
        la = self.launch(READY, args=["-x"], game={"exits": [3, 0], "holds": [2]})
        home = self.home
        self.screen("ready")
        la.key("Return")

        self.screen("crashed", msg="The game stopped unexpectedly.")
        self.assertEqual(self.log("bkf.log"), b"game run 1\n")
        la.key("Return")

        second = self.fake.wait_record("game", 2)
        wait_for(self.hidden, 10, what="the window to hide")
        self.assertEqual(self.log("bkf.1.log"), b"game run 1\n")
        self.fake.release("game-2")
        self.assertEqual(self.ends(), 0)

        first = self.fake.records("game")[0]
        prefix = [os.path.join(home, "build", "host", "bkf"), "--game",
                  os.path.join(home, "game"), "--run"]
        self.assertEqual(first["argv"], prefix + ["--resolution", "native", "-x"])
        self.assertEqual(second["argv"], prefix + ["-x"])
        self.assertEqual(self.log("bkf.log"), b"game run 2\n")
        self.assertFalse(alive(second["pid"]))
        self.assertEqual(self.fake.records("build"), [])


if __name__ == "__main__":
    unittest.main()
