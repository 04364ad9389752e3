"""The test case of the window and hostile tests: a private X server, a directory and
fakes per test, launch() to start the launcher on them, and the looks at its window
and its children that the tests share.

Each test gets its own display, directory (the fake installer's share, its record
file, the data directory, the launcher's output), so that the tests run side by side
(ctest -j2). Whatever a test started is ended when it ends, also on failure. The
directory is removed after a pass and kept after a failure, with the launcher's output
and the pictures of a screen that never came; the failure report names it.
BKF_SHOTS=<dir> keeps a picture of every screen the tests wait for, for a person to
look at.
"""

import os
import shutil
import signal
import sys
import tempfile
import time
import unittest

import harness
from fakes import UPDATE, Fakes
from harness import (CLOCK, FACE, GOLD, TRACK, WORKING_STILL, Launcher, children,
                     picture, wait_for)


def _term_as_exit(sig, frame):
    raise SystemExit(128 + sig)


class Case(unittest.TestCase):
    """One display, directory and set of fakes per test; self.launch() starts the
    launcher on them and keeps it as self.la."""

    @classmethod
    def setUpClass(cls):
        for name, path in (("BKF_LAUNCHER", harness.LAUNCHER), ("BKF_RENDER", harness.RENDER)):
            if not os.access(path, os.X_OK):
                raise RuntimeError("%s must name the program (%r)" % (name, path))
        # A runner stopped with SIGTERM still runs the cleanups.
        signal.signal(signal.SIGTERM, _term_as_exit)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="bkf-win-")
        self.home = os.path.join(self.dir, "data")
        self.fake = Fakes(self.dir)
        self.launchers = []
        self.display = self.enterContext(harness.Display())

    def run(self, result=None):
        result = self.defaultTestResult() if result is None else result
        bad = len(result.failures) + len(result.errors)
        super().run(result)
        d = getattr(self, "dir", None)
        if d is None:
            return result
        if len(result.failures) + len(result.errors) == bad:
            shutil.rmtree(d, ignore_errors=True)
        else:
            for la in getattr(self, "launchers", []):
                if os.path.exists(la.log):
                    sys.stderr.write("%s's output:\n%s\n" % (la.name, la.output()))
            sys.stderr.write("kept %s\n" % d)
        return result

    def launch(self, answer=UPDATE, build="", status="", status_exit=0, game=None,
               env=None, args=(), home=None, prefix=(), name="launcher"):
        """Writes the fake installer (Fakes.installer's arguments) and, when game is a
        dict of Fakes.game's arguments, the fake game; starts the launcher on them with
        env on top of its environment (None takes a variable out). Returns it."""
        if home is not None:
            self.home = home
        self.fake.installer(answer, build, status, status_exit)
        if game is not None:
            self.fake.game(self.home, **game)
        e = {"BKF_SHARE": self.fake.share}
        e.update(env or {})
        self.la = self.enterContext(Launcher(self.display, self.dir, self.home, env=e,
                                             args=args, prefix=prefix, name=name))
        self.launchers.append(self.la)
        return self.la

    def ends(self, timeout=30):
        """The launcher's exit status, once it has ended."""
        return self.la.wait(timeout)

    def log(self, name="install.log", home=None):
        with open(os.path.join(home or self.home, "logs", name), "rb") as f:
            return f.read()

    # Screens -----------------------------------------------------------------------

    def screen(self, state, rects=None, skip=(), name=None, timeout=20, la=None, **fields):
        """Waits until the window shows the picture of state with fields (see
        harness.picture) and the logs line of self.home; returns what it showed."""
        la = la or self.la
        name = name or state + " screen"
        img = la.shows(picture(state, self.home, **fields), rects, skip, name, timeout)
        keep = os.environ.get("BKF_SHOTS")
        if keep:
            os.makedirs(keep, exist_ok=True)
            img.save(os.path.join(keep, "%s-%s.png" % (self.id().rsplit(".", 1)[-1],
                                                       name.replace(" ", "_"))))
        return img

    def working(self, needs_disc=0, **fields):
        """Waits for the working screen's still parts: the title of a setup or an
        update, the step line and the last line of fields, the hint and "Cancel"."""
        return self.screen("working", WORKING_STILL, needs_disc=needs_disc, **fields)

    def update_then_build(self):
        """Waits for the update screen and presses Return on its "Build"."""
        self.screen("update")
        self.la.key("Return")

    def repaints(self, timeout=10):
        """The working screen's clock moves on: the window is being repainted."""
        first = wait_for(self.la.grab, timeout, what="a picture of the window")
        wait_for(lambda: (lambda img: img is not None and not first.same(img, [CLOCK]))(
            self.la.grab()), timeout, 0.1, "the clock to move")

    def hidden(self):
        """True while the launcher shows no window (the game runs)."""
        return self.la.find_window() is None

    def fill_end(self, img):
        """The x just past the gold fill of the progress track (48 when empty)."""
        x, y = TRACK[0], TRACK[1] + TRACK[3] // 2
        while x < 960 and img.px(x, y) == GOLD:
            x += 1
        return x

    def ring(self, img):
        """The focus ring's runs of gold on a row through its top side, as (x0, x1)."""
        y = 488 - 2  # the faces start at y = 488, the ring 4 pixels above them
        runs, x = [], 0
        while x < 960:
            if img.px(x, y) == GOLD:
                x0 = x
                while x < 960 and img.px(x, y) == GOLD:
                    x += 1
                runs.append((x0, x))
            x += 1
        return runs

    def is_focused(self, img, side):
        """True when exactly one button carries the ring and a light face, and it is
        the one on side: "right" (at the right margin) or "left"."""
        runs = self.ring(img) if img is not None else []
        if len(runs) != 1:
            return False
        x0, x1 = runs[0]
        if img.px(x0 + 7, 491) != FACE or img.px(x1 - 7, 491) != FACE:
            return False
        return (x1 == 912 + 4) == (side == "right")

    def focused(self, side, timeout=10):
        """Waits until the button on side is the focused one; returns the picture."""
        def ok():
            img = self.la.grab()
            return img if self.is_focused(img, side) else None
        return wait_for(ok, timeout, 0.05, "the %s button to be focused" % side)

    def stays(self, cond, seconds=0.5, what="condition"):
        """Asserts that cond() holds on every look for the given time: for what must
        not happen after an input that has no visible effect of its own."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.assertTrue(cond(), what)
            time.sleep(0.05)

    # Children ----------------------------------------------------------------------

    def no_zombies(self, pid=None):
        pid = pid or self.la.proc.pid
        self.assertEqual([c for c in children(pid) if c[1] == "Z"], [],
                         "zombie children of the launcher")

    def no_children(self, pid=None, timeout=5):
        pid = pid or self.la.proc.pid
        wait_for(lambda: not children(pid), timeout, 0.05, "the launcher to have no child")
