"""The typical road, end to end in a real window: checking, the update screen, Return
on "Build", the working screen as the installer reports, the ready screen with "Play"
focused, Return, the game in place of the hidden window, and the launcher's end."""

import os
import unittest

from case import Case
from harness import CLOCK, PYTHON, TRACK_RGB, alive, wait_for

COUNTER = b"[37/89] Building C object CMakeFiles/bkf_obj.dir/recomp_0036.c.o"
# The build's whole output, as the installer writes it: a line on standard error with
# a carriage return, the protocol lines, and a last line without a newline.
OUTPUT = [b"fetching\r\n", b"@step 7 7 Compiling\n", COUNTER + b"\n", b"@progress 0.5\n",
          b"@progress 0.42\n", b"@done\n", b"tail without newline"]

BUILD = """
out(%r, 2)
out(%r)
out(%r)
out(%r)
hold("half")
out(%r)
hold("whole")
out(%r)
out(%r)
""" % tuple(OUTPUT)


class TypicalRoad(Case):

    def test_update_build_play_end(self):
        args = ["--seconds", "3", "two words", ""]
        la = self.launch(build=BUILD, args=args, game={"holds": [1]})
        home, fake = self.home, self.fake

        self.screen("update")
        la.key("Return")

        # The working screen: step line, last line, a fill to half of the track.
        build = fake.wait_record("build")
        img = wait_for(lambda: (lambda i: i if i and self.fill_end(i) == 48 + 432 else None)(
            la.grab()), what="the fill at a half")
        self.assertEqual(img.px(48 + 432, 167), TRACK_RGB)
        self.assertEqual(img.px(911, 167), TRACK_RGB)
        # 0.42: everything but the clock is the working screen of these lines.
        fake.release("half")
        img = self.screen("working", skip=[CLOCK], step=7, steps=7, step_label="Compiling",
                          last_line=COUNTER, progress=0.42)
        self.assertEqual(self.fill_end(img), 48 + 362)
        fake.release("whole")

        self.assertTrue(self.is_focused(self.screen("ready"), "right"))
        la.key("Return")

        game = fake.wait_record("game")
        wait_for(self.hidden, 10, what="the window to hide")
        self.assertTrue(alive(la.proc.pid))
        fake.release("game-1")
        self.assertEqual(self.ends(), 0)

        # What the installer was given, twice: each time in a group of its own that
        # the launcher made.
        status = fake.records("status")
        self.assertEqual(len(status), 1)
        base = [PYTHON, "-I", fake.script, "--dest", home, "--korvex",
                os.path.join(fake.share, "src", "korvex")]
        self.assertEqual(status[0]["cmdline"], base + ["--status"])
        self.assertEqual(status[0]["env"], {"BKF_PGROUP": None, "PYTHONUNBUFFERED": None})
        self.assertEqual(status[0]["pgid"], status[0]["pid"])
        self.assertEqual(build["cmdline"], base + ["--download"])
        self.assertEqual(build["env"], {"BKF_PGROUP": "1", "PYTHONUNBUFFERED": "1"})
        self.assertEqual(build["pgid"], build["pid"])
        self.assertEqual(len(fake.records("build")), 1)
        self.assertEqual(self.log(), b"".join(OUTPUT))
        self.assertEqual(fake.sent(), b"".join(OUTPUT))

        # What the game was given: a first run, then the launcher's own arguments.
        exe = os.path.join(home, "build", "host", "bkf")
        self.assertEqual(game["argv"], [exe, "--game", os.path.join(home, "game"), "--run",
                                        "--resolution", "native"] + args)
        self.assertEqual(game["env"], {"BKF_PGROUP": None, "PYTHONUNBUFFERED": None})
        self.assertEqual(len(fake.records("game")), 1)
        self.assertEqual(self.log("bkf.log"), b"game run 1\n")
        with open(os.path.join(home, ".launched"), "rb") as f:
            self.assertEqual(f.read(), b"")


if __name__ == "__main__":
    unittest.main()
