"""Closing the window while the installer still runs. A close (SIGTERM to the
launcher, which SDL turns into a quit request) during a build sends SIGTERM to the
installer's process group, its own children included, and the launcher ends only once
the installer has exited. After an "@error " line the installer may still be running
on the failure screen: quitting then closes the pipe and waits for it as well."""

import time
import unittest

from base import WindowTest, alive

# Makes a grandchild in its group, and lingers a while after SIGTERM before it exits.
LINGER = """
on_term(0.8)
grandchild()
out(b"@step 2 5 Building\\n")
hold("never")
"""

# Reports an error, then keeps writing until its reader has gone, and lingers.
AFTER_ERROR = """
out(b"@error The patch did not apply.\\n")
try:
    while True:
        out(b".")
        time.sleep(0.01)
except BrokenPipeError:
    note("pipe-closed")
time.sleep(0.8)
note("exit", pid=os.getpid())
sys.exit(1)
"""

# Takes no notice of SIGTERM at all.
DEAF = """
signal.signal(signal.SIGTERM, signal.SIG_IGN)
out(b"@step 1 1 Deaf\\n")
hold("never")
"""


class Close(WindowTest):

    def test_sigterm_during_a_build_reaches_the_group_and_is_waited_for(self):
        lnc, fk = self.launch("{}", LINGER)
        self.screen(lnc, "update")
        lnc.key("Return")
        build = fk.wait_record("build")
        child = fk.wait_record("grandchild")
        self.assertEqual(child["pgid"], build["pid"])
        self.working(lnc, setup=False)

        lnc.terminate()
        self.assertEqual(lnc.wait(), 0)
        ended = time.time()
        # The installer got the signal, so did its child (-15: ended by SIGTERM), and
        # the launcher was still there when the installer exited 0.8 s later.
        self.assertEqual(len(fk.records("term")), 1)
        self.assertEqual(fk.records("grandchild-end")[0]["status"], -15)
        exits = fk.records("exit")
        self.assertEqual(len(exits), 1, "the launcher ended before the installer did")
        self.assertLessEqual(exits[0]["t"], ended)
        self.assertGreaterEqual(exits[0]["t"] - fk.records("term")[0]["t"], 0.8)
        self.assertFalse(alive(build["pid"]))
        self.assertFalse(alive(child["pid"]))

    def test_quit_after_an_error_line_waits_for_the_installer(self):
        lnc, fk = self.launch("{}", AFTER_ERROR)
        self.screen(lnc, "update")
        lnc.key("Return")
        build = fk.wait_record("build")
        # The failure screen is up while the installer still runs; Escape quits.
        self.screen(lnc, "failed", name="failure screen", rect=(0, 470, 960, 100))
        self.assertTrue(alive(build["pid"]))
        lnc.key("Escape")
        self.assertEqual(lnc.wait(), 0)
        self.assertEqual(len(fk.records("pipe-closed")), 1)
        self.assertEqual(len(fk.records("exit")), 1, "the launcher ended before the installer")
        self.assertFalse(alive(build["pid"]))

    def test_an_installer_deaf_to_sigterm_does_not_keep_the_launcher(self):
        lnc, fk = self.launch("{}", DEAF)
        self.screen(lnc, "update")
        lnc.key("Return")
        build = fk.wait_record("build")
        self.working(lnc, setup=False)
        lnc.terminate()
        self.assertEqual(lnc.wait(timeout=30), 0)
        self.assertFalse(alive(build["pid"]))


if __name__ == "__main__":
    unittest.main()
