"""The typical road, end to end in a real window: checking, the update screen, Return
on "Build", the working screen as the installer reports, the ready screen with "Play"
focused, Return, the game in place of the hidden window, and the launcher's end."""

import os
import unittest

from base import CLOCK, TITLE, TRACK_RGB, WindowTest, alive, shot
from fakes import log_bytes
from harness import PYTHON, wait_for

COUNTER = b"[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o"
# The build's whole output, as the installer writes it: a line on standard error with
# a carriage return, the protocol lines, and a last line without a newline.
OUTPUT = [b"fetching\r\n", b"@step 7 7 Compiling\n", COUNTER + b"\n", b"@progress 0.5\n",
          b"@progress 0.42\n", b"@done\n", b"tail without newline"]

BUILD = """
err(%r)
out(%r)
out(%r)
out(%r)
hold("half")
out(%r)
hold("sample")
out(%r)
out(%r)
""" % tuple(OUTPUT)


class TypicalRoad(WindowTest):

    def test_update_build_play_end(self):
        args = ["--seconds", "3", "two words", ""]
        lnc, fk = self.launch("{}", BUILD, args=args, game={"holds": [1]})
        home = lnc.home

        img = self.screen(lnc, "update")
        self.assertFocused(img, "right")
        lnc.key("Return")

        # The working screen: step line, last line, a fill to half of the track.
        build = fk.wait_record("build")
        img = wait_for(lambda: (lambda i: i if i and self.fill_end(i) == 48 + 432 else None)(
            lnc.grab()), what="the fill at a half")
        self.assertEqual(img.px(48 + 432, 167), TRACK_RGB)
        self.assertEqual(img.px(911, 167), TRACK_RGB)
        # 0.42, then everything but the clock and the title is the sample working screen.
        fk.release("half")
        img = self.screen(lnc, "working", skip=[CLOCK, TITLE])
        self.assertEqual(self.fill_end(img), 48 + 362)
        self.assertTrue(img.same(shot("update", lnc.home), TITLE),
                        "the title of an update is not \"Updating Brackenfold\"")
        fk.release("sample")

        img = self.screen(lnc, "ready")
        self.assertFocused(img, "right")
        lnc.key("Return")

        game = fk.wait_record("game")
        wait_for(lambda: self.no_visible_window(lnc), 10, what="the window to hide")
        self.assertTrue(alive(lnc.proc.pid))
        fk.release("game-1")
        self.assertEqual(lnc.wait(), 0)

        # What the installer was given, twice.
        status = fk.records("status")
        self.assertEqual(len(status), 1)
        base = [PYTHON, "-I", fk.script, "--dest", home, "--korvex",
                os.path.join(fk.share, "src", "korvex")]
        self.assertEqual(status[0]["cmdline"], base + ["--status"])
        self.assertEqual(status[0]["env"], {"BKF_PGROUP": None, "PYTHONUNBUFFERED": None})
        self.assertEqual(build["cmdline"], base + ["--download"])
        self.assertEqual(build["env"], {"BKF_PGROUP": "1", "PYTHONUNBUFFERED": "1"})
        self.assertEqual(build["pgid"], build["pid"])
        self.assertEqual(len(fk.records("build")), 1)
        self.assertEqual(log_bytes(home), b"".join(OUTPUT))

        # What the game was given: a first run, then the launcher's own arguments.
        self.assertEqual(game["argv"], [fk.exe, "--game", os.path.join(home, "game"), "--run",
                                        "--resolution", "native"] + args)
        self.assertEqual(game["env"], {"BKF_PGROUP": None, "PYTHONUNBUFFERED": None})
        self.assertEqual(len(fk.records("game")), 1)
        self.assertEqual(log_bytes(home, "bkf.log"), b"game run 1\n")
        with open(os.path.join(home, ".launched"), "rb") as f:
            self.assertEqual(f.read(), b"")


if __name__ == "__main__":
    unittest.main()
