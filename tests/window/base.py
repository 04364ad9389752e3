"""The test case that the real-window tests share: a private X server per test, the
launcher started against a fake installer (and, when asked, a fake game), screens that
the window is compared with, and the button rectangles of the bar.

Every test gets its own display, data directory, share directory and record file, so
that the test files can run side by side (ctest -j2). Whatever a test started is
killed when it ends, by the tag in the environment of every process of its launcher;
the temporary directory is removed after a pass and kept after a failure, with the
launcher's output and the compared pictures in it.
"""

import os
import shutil
import signal
import sys
import time
import unittest

import harness
from fakes import Fakes, alive  # noqa: F401  (alive is for the tests)
from harness import Display, Launcher, render

# Button faces on a two-button bar of minimum-width labels, and the working screen's
# one "Cancel" (x, y, w, h); see the layout in drawing.cpp.
LEFT = (532, 488, 180, 64)
RIGHT = (732, 488, 180, 64)
# The working screen's clock (it ends at x = 912 on the step line) and the bar's track.
CLOCK = (700, 100, 260, 50)
TRACK = (48, 160, 864, 14)
TITLE = (0, 0, 960, 100)
# The bottom of the screen: the working screen's hint and every screen's buttons.
BAR = (0, 470, 960, 100)

GOLD = (255, 204, 51)  # the progress fill and the focus ring
FACE = (250, 250, 250)
TRACK_RGB = (30, 24, 60)

_SHOTS = {}


def shot(state, home):
    """The screenshot-mode picture of a screen, with the logs line of home."""
    k = (state, home)
    if k not in _SHOTS:
        _SHOTS[k] = render(state, {"BKF_HOME": home})
    return _SHOTS[k]


def _term_as_exit(sig, frame):
    raise SystemExit(128 + sig)


class WindowTest(unittest.TestCase):
    """One display per test; self.launch() starts the launcher on it."""

    @classmethod
    def setUpClass(cls):
        if not harness.LAUNCHER or not os.access(harness.LAUNCHER, os.X_OK):
            raise RuntimeError("BKF_LAUNCHER must name the launcher binary")
        # A runner that stops us with SIGTERM still gets the cleanups run.
        signal.signal(signal.SIGTERM, _term_as_exit)

    def setUp(self):
        self._bad0 = self._bad()
        self.display = Display().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)

    def _bad(self):
        """Failures and errors so far in this run, or None when that is unknown."""
        result = getattr(getattr(self, "_outcome", None), "result", None)
        try:
            return len(result.failures) + len(result.errors)
        except AttributeError:
            return None

    def _passed(self):
        return self._bad0 is not None and self._bad() == self._bad0

    def launch(self, answer="{}", body="", args=(), env=None, game=None,
               status_exit=0, start=True):
        """Writes the fake installer (and the fake game when game is a dict of
        Fakes.game's arguments) and starts the launcher; returns (launcher, fakes)."""
        lnc = Launcher(self.display, env=env, args=args)
        fk = Fakes(lnc.tmp, lnc.home)
        lnc.env["BKF_SHARE"] = fk.share
        fk.installer(answer, body, status_exit)
        if game is not None:
            fk.game(**game)
        self.addCleanup(self._stop, lnc)
        if start:
            lnc.__enter__()
        return lnc, fk

    def _stop(self, lnc):
        harness.kill_tagged(lnc.tag)
        if lnc.proc and lnc.proc.poll() is None:
            lnc.proc.kill()
            lnc.proc.wait()
        if getattr(lnc, "out", None):
            lnc.out.close()
        if self._passed():
            shutil.rmtree(lnc.tmp, ignore_errors=True)
        else:
            sys.stderr.write("kept %s; launcher output:\n%s\n" % (lnc.tmp, lnc.output()
                             if os.path.exists(os.path.join(lnc.tmp, "launcher.out"))
                             else ""))

    # Screens -------------------------------------------------------------------

    def screen(self, lnc, state, name=None, skip=(), rect=None, timeout=20):
        """Waits until the window shows the screenshot-mode picture of state."""
        return lnc.wait_screen(shot(state, lnc.home), rect=rect, timeout=timeout,
                               name=name or state, skip=skip)

    def ring(self, img):
        """The focus ring's runs of gold on a row through its top side, as (x0, x1)."""
        y = 488 - 2
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
        the right one (at the right margin) or the left one."""
        runs = self.ring(img)
        if len(runs) != 1:
            return False
        x0, x1 = runs[0]
        if img.px(x0 + 7, 491) != FACE or img.px(x1 - 7, 491) != FACE:
            return False
        return (x1 == 912 + 4) == (side == "right")

    def assertFocused(self, img, side):
        self.assertTrue(self.is_focused(img, side), "the %s button is not the focused one"
                        % side)

    def focused(self, lnc, side, timeout=10):
        """Waits until the button on side ("left", "right") is focused; returns the picture."""
        def ok():
            img = lnc.grab()
            return img if img is not None and self.is_focused(img, side) else None
        return harness.wait_for(ok, timeout, 0.05, "the %s button to be focused" % side)

    def stays(self, cond, seconds=0.5, what="condition"):
        """Asserts that cond() holds on every look for the given time: for what must
        not happen after an input that has no visible effect of its own."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.assertTrue(cond(), what)
            time.sleep(0.05)

    def working(self, lnc, setup):
        """Waits for the working screen: the title of a setup or an update, the hint
        and the "Cancel" button, focused."""
        title = shot("working" if setup else "update", lnc.home)
        self.screen(lnc, "working", rect=BAR, name="working bar")
        return lnc.wait_screen(title, rect=TITLE, name="working title")

    def fill_end(self, img):
        """The x just past the gold fill of the progress track (48 when empty)."""
        y = TRACK[1] + TRACK[3] // 2
        x = TRACK[0]
        while x < 960 and img.px(x, y) == GOLD:
            x += 1
        return x

    def no_visible_window(self, lnc):
        return lnc.find_window() is None
