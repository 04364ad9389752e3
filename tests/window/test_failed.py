"""A failed first-time build: an "@error " line and exit status 1 give the failure
screen with the installer's message and the logs directory, "Try Again" focused;
"Try Again" runs the installer anew, with a fresh install.log."""

import unittest

from case import Case
from fakes import NEEDS_DISC
from harness import gone, wait_for

MESSAGE = b"The disc image did not download: the server could not be reached."

# The first run fails, the second works.
BUILD = """
if RUN == 1:
    out(b"@step 1 3 Downloading\\n")
    out(b"@error %s\\n")
    out(b"after the error\\n")
    sys.exit(1)
out(b"second run\\n")
out(b"@done\\n")
""" % MESSAGE.decode()


class Failed(Case):

    def test_error_line_then_try_again(self):
        la = self.launch(NEEDS_DISC, BUILD)
        self.screen("setup")
        la.key("Return")

        # Title of a setup, the message, "The logs are in <home>/logs", "Try Again".
        self.screen("failed", msg=MESSAGE, needs_disc=1)
        self.assertEqual(self.log(), b"@step 1 3 Downloading\n@error " + MESSAGE +
                         b"\nafter the error\n")

        # "Try Again" starts nothing while the failed installer is still recorded: the
        # screen comes up at the error line, the launcher reaps it at the end of output.
        wait_for(lambda: gone(self.fake.records("build")[0]["pid"]),
                 what="the installer reaped")
        la.key("Return")
        self.fake.wait_record("build", 2)
        self.screen("ready")
        self.assertEqual(self.log(), b"second run\n@done\n")
        la.key("Escape")
        self.assertEqual(self.ends(), 0)
        self.assertEqual(self.fake.records("game"), [])


if __name__ == "__main__":
    unittest.main()
