"""Ends that take their time, through the real launcher in a real window: an installer
that closes its output and runs on, a helper left holding the pipe (in the installer's
group, or out of it), an installer stopped by SIGSTOP, a launcher started with SIGCHLD
ignored, a close during a status query that never answers, held keys, and a game whose
wrapper reports a crash as 128 + the signal. The window keeps repainting and answering
throughout; Cancel and close always end what the build started. Bounds only say "it did
not hang": the limits are shortened through BKF_LIMITS, and each bound is generous."""

import os
import time
import unittest

from util import (CHECKING, CRASHED, FAILED, STEP, TITLE, BUTTONS, WORKING, Case,
                  alive, harness, render, wait_for)

GRACE = 1.0  # the grace a stopped build gets before SIGKILL, through BKF_LIMITS
LIMITS = {"BKF_LIMITS": "grace=%g" % GRACE}

# Counts its runs, says where it is, closes its output (the shell's `exec >log 2>&1`)
# and runs on until released or ended.
CLOSES_OUTPUT = r'''
group()
with open(os.path.join(DIR, "runs"), "a") as f:
    f.write("x")
out("@step 1 2 Working\n")
go("close")
quiet = os.open(os.devnull, os.O_WRONLY)
os.dup2(quiet, 1)
os.dup2(quiet, 2)
note("closed", 1)
go("end")
sys.exit(0)
'''

# Makes no group of its own (it ignores BKF_PGROUP) and leaves a helper holding the
# pipe; with HOSTILE_ESCAPE=1 the helper leaves the group first.
HOLDER = r'''
out("@step 1 2 Working\n")
if os.fork() == 0:
    if os.environ.get("HOSTILE_ESCAPE") == "1":
        os.setsid()
    note("holder", os.getpid())
    for _ in range(1200):
        time.sleep(0.1)
    os._exit(0)
note("installer-exited", 1)
sys.exit(0)
'''

STOPS = r'''
group()
out("@step 1 1 Stopping\n")
note("stopping", 1)
os.kill(os.getpid(), signal.SIGSTOP)
while True:
    time.sleep(0.1)
'''

SILENT = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
while True:
    time.sleep(1)
'''

NEEDS_DISC = 'print(\'{"ready": false, "needs_disc": true}\', flush=True)\n'
READY_ANSWER = 'print(\'{"ready": true}\', flush=True)\n'

# Starts the launcher with SIGCHLD ignored, as a parent that ignores it leaves it.
NO_SIGCHLD = ["/usr/bin/python3", "-c",
              "import os, signal, sys\nsignal.signal(signal.SIGCHLD, signal.SIG_IGN)\n"
              "os.execv(sys.argv[1], sys.argv[1:])"]


class Lifecycle(Case):
    def working(self, label, steps=2, setup=False):
        want = render(WORKING, self.home, step=1, steps=steps, step_label=label,
                      needs_disc=int(setup))
        return self.shows(want, [TITLE, STEP, BUTTONS], name="working screen")

    def update(self, timeout=20):
        return self.shows(harness.render("update"), name="update screen", timeout=timeout)

    def test_closed_output_keeps_a_live_screen_then_ready(self):
        """The installer closes its output and runs on: the clock keeps moving, and its
        exit 0 afterwards leads to the ready screen."""
        self.launch(download=CLOSES_OUTPUT)
        self.update_then_build()
        self.working("Working")
        self.go("close")
        self.noted("closed")
        self.repaints()
        self.working("Working")
        self.go("end")
        self.shows(harness.render("ready"), name="ready screen")
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_closed_output_then_escape_returns(self):
        """The same installer cancelled after it closed its output: Escape returns to
        the update screen, the installer is gone, and Escape then quits."""
        self.launch(download=CLOSES_OUTPUT)
        self.update_then_build()
        inst = int(self.noted("pid--download"))
        self.go("close")
        self.noted("closed")
        self.repaints()
        self.la.key("Escape")
        self.update()
        self.assertFalse(alive(inst))
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def holder(self, escape):
        self.launch(download=HOLDER, env=dict(LIMITS, HOSTILE_ESCAPE="1" if escape else "0"))
        self.update_then_build()
        self.noted("installer-exited")
        holder = int(self.noted("holder"))
        self.working("Working")
        self.repaints()
        self.assertTrue(alive(holder))
        t0 = time.monotonic()
        self.la.key("Escape")
        self.update(timeout=GRACE + 10)
        return holder, time.monotonic() - t0

    def test_holder_in_the_group_is_ended_by_cancel(self):
        """A helper that holds the pipe after the installer (which made no group) has
        exited: the build goes on, live, until Escape, which ends the helper too."""
        holder, _ = self.holder(escape=False)
        wait_for(lambda: not alive(holder), 5, what="the helper to end")
        self.no_children()

    def test_holder_out_of_the_group_is_let_go(self):
        """A helper that left the group: Cancel cannot reach it, so after the grace and
        the SIGKILL to the group the launcher lets go of the pipe and returns."""
        holder, took = self.holder(escape=True)
        self.assertGreaterEqual(took, GRACE, "the pipe was let go before the grace")
        self.assertTrue(alive(holder), "the helper was out of reach")
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_stopped_installer_is_cancelled(self):
        """An installer stopped by SIGSTOP: Escape continues it with its SIGTERM, and
        the update screen comes back well within the grace."""
        self.launch(download=STOPS, env={"BKF_LIMITS": "grace=30"})
        self.update_then_build()
        inst = int(self.noted("pid--download"))
        self.noted("stopping")
        self.working("Stopping", steps=1)
        self.la.key("Escape")
        self.update(timeout=20)
        self.assertFalse(alive(inst))
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_stopped_installer_and_a_close(self):
        """Closing the window while the installer is stopped ends the launcher, and the
        installer with it."""
        self.launch(download=STOPS, env=LIMITS)
        self.update_then_build()
        inst = int(self.noted("pid--download"))
        self.noted("stopping")
        self.working("Stopping", steps=1)
        self.la.terminate()
        self.assertEqual(self.ends(GRACE + 20), 0)
        self.assertFalse(alive(inst))

    def test_sigchld_ignored_by_the_parent(self):
        """Started with SIGCHLD ignored, the launcher still reads how the build ended:
        a build that fails shows its failure, not the ready screen."""
        self.launch(download="group()\nout('@step 1 1 Failing\\n')\nsys.exit(1)\n",
                    prefix=NO_SIGCHLD)
        self.update_then_build()
        msg = "The build stopped (exit 1). Its log has the details."
        self.shows(render(FAILED, self.home, msg=msg), name="failure screen")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_close_during_a_status_query(self):
        """The status query that never answers: the checking screen is drawn and a
        close is answered meanwhile; the launcher ends at once, the query's child gone."""
        self.launch(status=SILENT)
        pid = int(self.noted("pid--status"))
        self.la.window()
        self.shows(render(CHECKING, self.home), name="checking screen")
        t0 = time.monotonic()
        self.la.terminate()
        self.assertEqual(self.ends(10), 0)
        self.assertLess(time.monotonic() - t0, 5, "the close waited for the query")
        self.assertFalse(alive(pid))

    def hold_key(self, name, seconds=1.5):
        self.la.focus()
        self.la.xdo("keydown", name)
        time.sleep(seconds)
        self.la.xdo("keyup", name)

    def test_held_return_starts_one_build_and_held_escape_only_cancels(self):
        """Return held on "Download and Build" starts one build and does not cancel it;
        Escape held on the working screen cancels it and does not quit; Alt+Return on
        the setup screen starts nothing."""
        self.launch(status=NEEDS_DISC, download=CLOSES_OUTPUT)
        self.la.window()
        self.shows(harness.render("setup"), name="setup screen")
        self.la.key("alt+Return")  # the window's fullscreen chord, and back
        self.la.key("alt+Return")
        time.sleep(0.5)
        self.assertFalse(os.path.exists(self.path("runs")), "Alt+Return started a build")
        self.shows(harness.render("setup"), name="setup screen after Alt+Return twice")
        self.hold_key("Return")
        self.working("Working", setup=True)
        time.sleep(0.5)
        self.assertEqual(harness.wait_for(lambda: open(self.path("runs")).read(), 5), "x")
        self.hold_key("Escape")
        self.shows(harness.render("setup"), name="setup screen after Escape")
        time.sleep(0.5)
        self.assertIsNone(self.la.proc.poll(), "held Escape ended the launcher")
        self.assertEqual(open(self.path("runs")).read(), "x")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_wrapper_reports_a_crash(self):
        """A game run by a shell wrapper that reports its SIGSEGV as status 139: the
        crashed screen, not a normal end."""
        game = os.path.join(self.home, "build", "host", "bkf")
        os.makedirs(os.path.dirname(game))
        harness.write_program(game, "#!/bin/sh\nexit 139\n")
        self.launch(status=READY_ANSWER)
        self.la.window()
        self.shows(harness.render("ready"), name="ready screen")
        self.la.key("Return")
        want = render(CRASHED, self.home, msg="The game stopped unexpectedly.")
        self.shows(want, name="crashed screen")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)


if __name__ == "__main__":
    unittest.main()
