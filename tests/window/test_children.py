"""Installers that misbehave as processes: one that leaves a grandchild holding the
pipe, one that ignores SIGTERM, one that dies by a signal, one that goes on writing (or
never ends) after its "@error " line when the player quits. The launcher stays on the
screen the tables give, answers, never hangs at its end, and leaves no child behind.
The grace before SIGKILL is shortened through BKF_LIMITS where a test waits it out."""

import time
import unittest

from case import Case
from harness import alive, gone, wait_for

GRACE = 1.0
LIMITS = {"BKF_LIMITS": "grace=%g" % GRACE}

# Forks a grandchild that writes into the pipe and holds it until released (out of the
# installer's group when ESCAPE is true, so that a cancel does not reach it); the
# installer itself exits at once.
GRANDCHILD = r'''
out("@step 1 2 Working\n")
if os.fork() == 0:
    if ESCAPE:
        os.setsid()
    note("grandchild", pid=os.getpid())
    out("grandchild here\n")
    hold("grandchild", 120)
    try:
        out("grandchild done\n")
    except BrokenPipeError:
        note("grandchild-epipe")
    os._exit(0)
note("installer-exited")
'''

# Ignores SIGTERM; with CHILD true it has a child in its group that does not.
DEAF = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
if CHILD and os.fork() == 0:
    note("grandchild", pid=os.getpid())
    hold("never")
    os._exit(0)
out("@step 1 1 Not listening\n")
note("deaf")
hold("never")
'''

# After its error line it goes on writing until the pipe is closed, then takes a
# second to end.
WRITES_ON = r'''
out("@step 1 1 Downloading\n")
out("@error The download broke.\n")
hold("error")
n = 0
try:
    while True:
        out(b"still going %d\n" % n)
        n += 1
        time.sleep(0.01)
except BrokenPipeError:
    note("epipe", n=n)
time.sleep(1)
note("end")
sys.exit(1)
'''

STUCK_AFTER_ERROR = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
out("@error The download broke.\n")
hold("never")
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

    def test_grandchild_keeps_pipe_until_cancel(self):
        """The installer exits, its grandchild keeps the pipe: the launcher stays on the
        working screen and repaints until Escape cancels, which ends the grandchild with
        the installer's group and leads back to the update screen."""
        self.launch(build="ESCAPE = False\n" + GRANDCHILD)
        self.update_then_build()
        self.fake.wait_record("installer-exited")
        gc = self.fake.wait_record("grandchild")["pid"]
        inst = self.fake.wait_record("build")["pid"]
        self.working(step=1, steps=2, step_label="Working", last_line="grandchild here")
        self.repaints()
        self.assertTrue(alive(gc))
        self.la.key("Escape")
        self.screen("update")
        self.assertFalse(alive(gc))
        self.assertTrue(gone(inst), "the installer is not reaped")
        self.no_children()
        self.assertEqual(self.log(), self.fake.sent())
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_grandchild_ends_by_itself(self):
        """A grandchild out of reach of the cancel: the run ends when it closes the pipe,
        and the installer's exit status 0 then gives the ready screen."""
        self.launch(build="ESCAPE = True\n" + GRANDCHILD)
        self.update_then_build()
        self.fake.wait_record("installer-exited")
        self.working(step=1, steps=2, step_label="Working", last_line="grandchild here")
        self.repaints()
        self.fake.release("grandchild")
        self.screen("ready")
        self.no_children()
        self.assertEqual(self.log(), self.fake.sent())
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_window_close_with_grandchild_holding_pipe(self):
        """Window close while a grandchild of its own session holds the pipe: the pipe
        is closed, the exited installer reaped, the launcher ends; the grandchild's
        next write fails instead of blocking."""
        self.launch(build="ESCAPE = True\n" + GRANDCHILD)
        self.update_then_build()
        inst = self.fake.wait_record("build")["pid"]
        self.fake.wait_record("installer-exited")
        self.working(step=1, steps=2, step_label="Working", last_line="grandchild here")
        self.la.terminate()
        self.assertEqual(self.ends(), 0)
        self.assertFalse(alive(inst))
        self.fake.release("grandchild")
        self.fake.wait_record("grandchild-epipe")

    def deaf(self, child):
        """Window close during a build whose installer ignores SIGTERM: SIGKILL after the
        grace, to its group and to itself, then the launcher ends with status 0."""
        self.launch(build="CHILD = %r\n" % child + DEAF, env=LIMITS)
        self.update_then_build()
        inst = self.fake.wait_record("build")["pid"]
        gc = self.fake.wait_record("grandchild")["pid"] if child else None
        self.fake.wait_record("deaf")
        self.working(step=1, steps=1, step_label="Not listening")
        t0 = time.monotonic()
        self.la.terminate()
        self.assertEqual(self.ends(), 0)
        # The installer had its grace before the kill; how long past it does not matter.
        self.assertGreaterEqual(time.monotonic() - t0, GRACE)
        self.assertFalse(alive(inst), "the installer outlived the launcher")
        if gc:
            wait_for(lambda: not alive(gc), 5, what="the grandchild to be killed")

    def test_deaf_installer_alone(self):
        self.deaf(False)

    def test_deaf_installer_with_a_child_in_its_group(self):
        self.deaf(True)

    def test_quit_after_error_while_installer_writes(self):
        """Escape on the failure screen of an "@error " line while the installer still
        writes: the pipe is closed, so its next write fails; the launcher waits for it
        to end and only then exits, with status 0."""
        self.launch(build=WRITES_ON)
        self.update_then_build()
        self.screen("failed", msg="The download broke.")
        inst = self.fake.wait_record("build")["pid"]
        self.fake.release("error")
        wait_for(lambda: b"still going 5" in self.log(), 10, what="more output")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
        done = time.monotonic()
        self.fake.wait_record("epipe")
        self.assertLessEqual(self.fake.wait_record("end")["t"], done,
                             "the launcher ended before its installer")
        self.assertFalse(alive(inst))
        log = self.log()
        self.assertEqual(log, self.fake.sent()[:len(log)])

    def test_quit_after_error_installer_never_ends(self):
        """The same quit, with an installer that neither ends nor writes nor listens:
        the wait is bounded by the grace, the installer killed and reaped, the exit
        status 0."""
        self.launch(build=STUCK_AFTER_ERROR, env=LIMITS)
        self.update_then_build()
        self.screen("failed", msg="The download broke.")
        inst = self.fake.wait_record("build")["pid"]
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
        self.assertFalse(alive(inst))


def dies(body, msg):
    def test(self):
        self.launch(build="out('@step 1 1 Compiling\\n')\n" + body)
        self.update_then_build()
        self.screen("failed", msg=msg)
        self.no_children()
        self.assertEqual(self.log(), self.fake.sent())
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
    test.__doc__ = "The build dies (%s): the failure screen says %r." % (body.split()[-1], msg)
    return test


for _name, (_body, _msg) in DEATHS.items():
    setattr(Children, "test_dies_" + _name, dies(_body, _msg))

if __name__ == "__main__":
    unittest.main()
