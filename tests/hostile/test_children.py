"""Installers that misbehave as processes: one that leaves a grandchild holding the
pipe, one that ignores SIGTERM, one that dies by a signal, one that goes on writing (or
never ends) after its "@error " line when the player quits. The launcher stays on the
screen the tables give, answers, never hangs at its end, and leaves no child behind."""

import time
import unittest

from util import (FAILED, STEP, TITLE, BUTTONS, WORKING, Case, alive, harness, proc_stat,
                  read, render, wait_for)

GRANDCHILD = r'''
group()
out("@step 1 2 Working\n")
pid = os.fork()
if pid == 0:
    if os.environ.get("HOSTILE_ESCAPE") == "1":
        os.setsid()  # out of the installer's group: a cancel does not reach it
    note("grandchild", os.getpid())
    out("grandchild here\n")
    go("grandchild", 120)
    try:
        out("grandchild done\n")
    except BrokenPipeError:
        note("grandchild-epipe", 1)
    os._exit(0)
note("installer-exited", 1)
sys.exit(0)
'''

DEAF = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
if os.environ.get("HOSTILE_GROUP") == "1":
    group()
    if os.fork() == 0:
        note("grandchild", os.getpid())
        time.sleep(600)
        os._exit(0)
out("@step 1 1 Not listening\n")
note("deaf", 1)
while True:
    time.sleep(1)
'''

WORKING_MSG = r'''
group()
out("@step 1 1 Downloading\n")
out("@error The download broke.\n")
go("error")
n = 0
try:
    while True:
        b = b"still going %d\n" % n
        send(1, b)
        side(b)
        n += 1
        time.sleep(0.01)
except BrokenPipeError:
    note("epipe", n)
time.sleep(1)
note("end", time.monotonic())
sys.exit(1)
'''

STUCK_AFTER_ERROR = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
group()
out("@error The download broke.\n")
while True:
    time.sleep(1)
'''

GRACEFUL = r'''
def on_term(sig, frame):
    time.sleep(1)
    note("end", time.monotonic())
    os._exit(0)
signal.signal(signal.SIGTERM, on_term)
group()
out("@step 1 1 Listening\n")
note("listening", 1)
while True:
    time.sleep(1)
'''

# How a build can die, and the message that the failure screen then gives.
DEATHS = {
    "sigsegv": ("out('about to crash\\n')\ndie(signal.SIGSEGV)\n",
                "The build stopped (signal 11). Its log has the details."),
    "sigkill": ("out('about to be killed\\n')\ndie(signal.SIGKILL)\n",
                "The build stopped (signal 9). Its log has the details."),
    "error_then_sigsegv": ("out('@error The disk is full.\\n')\ndie(signal.SIGSEGV)\n",
                           "The disk is full."),
}


class Children(Case):
    def working(self, **fields):
        want = render(WORKING, self.home, **fields)
        return self.shows(want, [TITLE, STEP, BUTTONS], name="working screen")

    def test_grandchild_keeps_pipe_until_cancel(self):
        """The installer exits, its grandchild keeps the pipe: the launcher stays on the
        working screen and repaints until Escape cancels, which ends the grandchild with
        the installer's group and leads back to the update screen."""
        self.launch(download=GRANDCHILD)
        self.update_then_build()
        self.noted("installer-exited")
        gc = int(self.noted("grandchild"))
        inst = int(self.noted("pid--download"))
        self.working(step=1, steps=2, step_label="Working")
        self.repaints()
        self.assertTrue(alive(gc))
        self.la.key("Escape")
        self.shows(harness.render("update"), name="update screen")
        self.assertFalse(alive(gc))
        self.assertIsNone(proc_stat(inst), "the installer is reaped")
        self.no_children()
        self.assertEqual(read(self.log()), read(self.path("side")))
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_grandchild_ends_by_itself(self):
        """A grandchild out of reach of the cancel: the run ends when it closes the pipe,
        and the installer's exit status 0 then gives the ready screen."""
        self.launch(download=GRANDCHILD, env={"HOSTILE_ESCAPE": "1"})
        self.update_then_build()
        self.noted("installer-exited")
        self.working(step=1, steps=2, step_label="Working")
        self.repaints()
        self.go("grandchild")
        self.shows(harness.render("ready"), name="ready screen")
        self.no_children()
        self.assertEqual(read(self.log()), read(self.path("side")))
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_window_close_with_grandchild_holding_pipe(self):
        """Window close while a grandchild of its own session holds the pipe: the pipe
        is closed, the exited installer reaped, the launcher ends; the grandchild's
        next write fails instead of blocking."""
        self.launch(download=GRANDCHILD, env={"HOSTILE_ESCAPE": "1"})
        self.update_then_build()
        inst = int(self.noted("pid--download"))
        self.noted("installer-exited")
        self.working(step=1, steps=2, step_label="Working")
        self.la.terminate()
        self.assertEqual(self.ends(), 0)
        self.assertFalse(alive(inst))
        self.go("grandchild")
        self.noted("grandchild-epipe")

    def deaf(self, grouped):
        """Window close during a build whose installer ignores SIGTERM: SIGKILL after the
        grace, to its group and to itself, then the launcher ends with status 0."""
        self.launch(download=DEAF, env={"HOSTILE_GROUP": "1" if grouped else "0"})
        self.update_then_build()
        inst = int(self.noted("pid--download"))
        gc = int(self.noted("grandchild")) if grouped else None
        self.noted("deaf")
        self.working(step=1, steps=1, step_label="Not listening")
        t0 = time.monotonic()
        self.la.terminate()
        self.assertEqual(self.ends(60), 0)
        # The installer had its grace before the kill; how long past it does not matter.
        self.assertGreaterEqual(time.monotonic() - t0, 4.0)
        self.assertFalse(alive(inst), "the installer outlived the launcher")
        if gc:
            wait_for(lambda: not alive(gc), 5, what="the grandchild to be killed")

    def test_deaf_installer_in_its_group(self):
        self.deaf(True)

    def test_deaf_installer_without_group(self):
        self.deaf(False)

    def test_quit_after_error_while_installer_writes(self):
        """Escape on the failure screen of an "@error " line while the installer still
        writes: the pipe is closed, so its next write fails; the launcher waits for it
        to end and only then exits, with status 0."""
        self.launch(download=WORKING_MSG)
        self.update_then_build()
        self.shows(render(FAILED, self.home, msg="The download broke."), name="failure screen")
        inst = int(self.noted("pid--download"))
        self.go("error")
        wait_for(lambda: b"still going 5" in read(self.log()), 10, what="more output")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
        done = time.monotonic()
        self.noted("epipe")
        self.assertLessEqual(float(self.noted("end")), done,
                             "the launcher ended before its installer")
        self.assertFalse(alive(inst))
        log, side = read(self.log()), read(self.path("side"))
        self.assertEqual(log, side[:len(log)])

    def test_quit_after_error_installer_never_ends(self):
        """The same quit, with an installer that neither ends nor writes nor listens:
        the wait is bounded, the installer killed and reaped, the exit status 0."""
        self.launch(download=STUCK_AFTER_ERROR)
        self.update_then_build()
        self.shows(render(FAILED, self.home, msg="The download broke."), name="failure screen")
        inst = int(self.noted("pid--download"))
        self.la.key("Escape")
        self.assertEqual(self.ends(60), 0)
        self.assertFalse(alive(inst))

    def test_window_close_installer_ends_in_time(self):
        """Window close with an installer that takes a second to end after SIGTERM: the
        launcher waits for it and ends after it."""
        self.launch(download=GRACEFUL)
        self.update_then_build()
        self.noted("listening")
        self.working(step=1, steps=1, step_label="Listening")
        self.la.terminate()
        self.assertEqual(self.ends(), 0)
        done = time.monotonic()
        self.assertLessEqual(float(self.noted("end")), done,
                             "the launcher ended before its installer")


def dies(body, msg):
    def test(self):
        self.launch(download="group()\nout('@step 1 1 Compiling\\n')\n" + body)
        self.update_then_build()
        self.shows(render(FAILED, self.home, msg=msg), name="failure screen")
        self.no_children()
        self.assertEqual(read(self.log()), read(self.path("side")))
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
    test.__doc__ = "The build dies (%s): the failure screen says %r." % (body.split()[-1], msg)
    return test


for _name, (_body, _msg) in DEATHS.items():
    setattr(Children, "test_dies_" + _name, dies(_body, _msg))

if __name__ == "__main__":
    unittest.main()
