"""The demo's road by itself, which scripts/demo runs when there is no display: the
launcher in a real window on a private Xvfb against the stand-in installer and game,
on the tests' harness (tests/window/harness.py). Each screen it passes is told with
the time since the start and saved as OUT/<nn>-<screen>.png; Return is pressed on the
screens that lead on and Escape on a failure, as a player would.

    python3 scripts/demo_road.py OUT [ARG...]

The launcher gets "--seconds 3" and the ARGs, which it passes on to the stand-in game;
its output goes to OUT/launcher.log. The environment names BKF_LAUNCHER (and
BKF_RENDER), BKF_SHARE, BKF_PYTHON and BKF_HOME; the stand-in's own variables pass on.
The exit status is the launcher's, or 1 when a screen never came.
"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests", "window"))
from harness import BUTTONS, STEP, Display, Launcher, picture, wait_for  # noqa: E402

STUCK = 600.0  # seconds on one screen before the road gives up
PASS_ON = ("BKF_DEMO_SECONDS", "BKF_DEMO_FAIL", "CC", "LANG", "LC_ALL")
SCREENS = ("checking", "setup", "update", "working", "failed", "ready", "crashed")


def log_lines(home):
    try:
        with open(os.path.join(home, "logs", "install.log"), "rb") as f:
            return f.read().decode(errors="replace").splitlines()
    except OSError:
        return []


def last_error(home):
    """The message of the latest "@error " line in install.log, if any."""
    for line in reversed(log_lines(home)):
        if line.startswith("@error "):
            return line[7:]
    return None


def last_step(home):
    """The step line of the latest "@step " line in install.log."""
    for line in reversed(log_lines(home)):
        m = re.match(r"@step (-?\d+) (-?\d+) ?(.*)", line)
        if m:
            i, n, label = m.groups()
            return "Step %s of %s: %s" % (i, n, label) if n != "0" else label
    return "Starting"


def road(out, args):
    home = os.environ["BKF_HOME"]
    for old in os.listdir(out):
        if old.endswith(".png"):
            os.unlink(os.path.join(out, old))
    # Each screen is told by its buttons, which no content changes.
    bars = {s: picture(s, home) for s in SCREENS}

    def screen_of(img):
        return next((s for s in SCREENS if img is not None and img.same(bars[s], [BUTTONS])),
                    None)

    n = [0]

    def save(img, name):
        n[0] += 1
        img.save(os.path.join(out, "%02d-%s.png" % (n[0], name)))

    env = {k: os.environ[k] for k in PASS_ON if k in os.environ}
    env.update(BKF_SHARE=os.environ["BKF_SHARE"], BKF_PYTHON=os.environ["BKF_PYTHON"])
    print("demo: the launcher by itself on a private Xvfb; its data is in %s" % home)
    with Display() as display, Launcher(display, out, home, env=env,
                                        args=["--seconds", "3"] + args) as la:
        t0 = time.monotonic()

        def say(what):
            print("%6.1f s  %s" % (time.monotonic() - t0, what), flush=True)

        seen, since, step, pressed, game = None, time.monotonic(), None, None, False
        played = False  # "Play" was pressed: a hidden window means the game runs
        while la.proc.poll() is None:
            img = la.grab()
            if img is None and la.win is None:
                if played and not game:
                    game, played = True, False
                    say("game: the launcher's window is hidden while the stand-in runs")
                    # The stand-in's own window, unless it ends or fails first.
                    try:
                        win = wait_for(lambda: la.proc.poll() is not None or la.find_window()
                                       or display.xdo("search", "--onlyvisible", "--name",
                                                      r"^Brackenfold \(stand-in\)$",
                                                      check=False).split(), 15, 0.1)
                    except AssertionError:
                        win = None
                    if isinstance(win, list):
                        time.sleep(1.0)  # let it draw a few frames before the picture
                        shot = display.grab("root")
                        if shot is not None:
                            save(shot, "game")
                time.sleep(0.05)
                continue
            now = screen_of(img)
            if now is None:
                time.sleep(0.05)
                continue
            if now != seen:
                seen, since, game = now, time.monotonic(), False
                if now == "working":
                    step = None
                elif now == "failed" and last_error(home):
                    say("failed: " + last_error(home))
                    save(img, now)
                else:
                    say(now)
                    save(img, now)
            if now == "working":
                line = img.region(*STEP)
                if line != step:
                    step = line
                    say("working: " + last_step(home))
                    save(img, "working")
                pressed = None
            elif now != pressed and now in ("setup", "update", "ready"):
                pressed = now
                played = now == "ready"
                la.key("Return")
            elif now != pressed and now in ("failed", "crashed"):
                # The road ends here: the launcher is quit as a player would.
                pressed = now
                la.key("Escape")
            if time.monotonic() - since > STUCK:
                say("stuck on the %s screen for %d s; giving up" % (now, STUCK))
                return 1
            time.sleep(0.05)
        status = la.wait()
        say("end: the launcher's exit status is %d" % status)
    print("demo: the pictures are in %s" % out)
    return status


if __name__ == "__main__":
    try:
        sys.exit(road(sys.argv[1], sys.argv[2:]))
    except AssertionError as e:
        print("demo: %s" % e, file=sys.stderr)
        sys.exit(1)
    except KeyboardInterrupt:
        sys.exit(130)
