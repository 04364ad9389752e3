"""A game that stops unexpectedly (exit status 3) brings the window back on the
crashed screen with "Play Again" focused; "Play Again" runs the game again, without
the first-run options this time, and the first run's log becomes bkf.1.log."""

import os
import unittest

from base import WindowTest, alive
from fakes import log_bytes
from harness import wait_for


class Crash(WindowTest):

    def test_crash_then_play_again(self):
        lnc, fk = self.launch('{"ready": true}', args=["-x"],
                              game={"exits": [3, 0], "holds": [2]})
        home = lnc.home
        self.screen(lnc, "ready")
        lnc.key("Return")

        img = self.screen(lnc, "crashed", name="crashed screen")
        self.assertFocused(img, "right")
        self.assertEqual(log_bytes(home, "bkf.log"), b"game run 1\n")
        lnc.key("Return")

        second = fk.wait_record("game", 2)
        wait_for(lambda: self.no_visible_window(lnc), 10, what="the window to hide")
        self.assertEqual(log_bytes(home, "bkf.1.log"), b"game run 1\n")
        fk.release("game-2")
        self.assertEqual(lnc.wait(), 0)

        first = fk.records("game")[0]
        prefix = [fk.exe, "--game", os.path.join(home, "game"), "--run"]
        self.assertEqual(first["argv"], prefix + ["--resolution", "native", "-x"])
        self.assertEqual(second["argv"], prefix + ["-x"])
        self.assertEqual(log_bytes(home, "bkf.log"), b"game run 2\n")
        self.assertFalse(alive(second["pid"]))
        self.assertEqual(fk.records("build"), [])


if __name__ == "__main__":
    unittest.main()
