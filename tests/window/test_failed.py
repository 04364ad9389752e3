"""A failed first-time build: an "@error " line and exit status 1 give the failure
screen with the installer's message and the logs directory, "Try Again" focused;
"Try Again" runs the installer anew, with a fresh install.log."""

import unittest

from base import WindowTest
from fakes import gone, log_bytes
from harness import wait_for

NEEDS_DISC = '{"ready": false, "needs_disc": true}'
MESSAGE = b"The disc image did not download: the server could not be reached."

# The first run fails with the message of the screenshot mode's sample, the second works.
BUILD = """
if RUN == 1:
    out(b"@step 1 3 Downloading\\n")
    out(b"@error %s\\n")
    out(b"after the error\\n")
    sys.exit(1)
out(b"second run\\n")
out(b"@done\\n")
""" % MESSAGE.decode()


class Failed(WindowTest):

    def test_error_line_then_try_again(self):
        lnc, fk = self.launch(NEEDS_DISC, BUILD)
        self.screen(lnc, "setup")
        lnc.key("Return")

        # Title of a setup, the message, "The logs are in <home>/logs", "Try Again".
        img = self.screen(lnc, "failed", name="failure screen")
        self.assertFocused(img, "right")
        self.assertEqual(log_bytes(lnc.home), b"@step 1 3 Downloading\n@error " + MESSAGE +
                         b"\nafter the error\n")

        # "Try Again" starts nothing while the failed installer is still recorded: the
        # screen comes up at the error line, the launcher reaps it at the end of output.
        wait_for(lambda: gone(fk.records("build")[0]["pid"]), what="the installer reaped")
        lnc.key("Return")
        fk.wait_record("build", 2)
        img = self.screen(lnc, "ready")
        self.assertFocused(img, "right")
        self.assertEqual(log_bytes(lnc.home), b"second run\n@done\n")
        lnc.key("Escape")
        self.assertEqual(lnc.wait(), 0)
        self.assertEqual(fk.records("game"), [])


if __name__ == "__main__":
    unittest.main()
