"""A status query that never answers: the launcher gives it its limit (shortened here
through BKF_LIMITS), drawing the checking screen meanwhile, then kills and reaps it and
shows the failure screen."""

import time
import unittest

from util import CHECKING, FAILED, Case, alive, render

LIMIT = 3.0

SILENT = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
while True:
    time.sleep(1)
'''


class StatusLimit(Case):
    def test_status_query_that_never_answers(self):
        la = self.launch(status=SILENT, env={"BKF_LIMITS": "status=%g" % LIMIT})
        pid = int(self.noted("pid--status"))
        t0 = time.monotonic()
        la.window()
        self.shows(render(CHECKING, self.home), name="checking screen")
        msg = "The installer could not run (/usr/bin/python3). Reinstalling the app may help."
        self.shows(render(FAILED, self.home, msg=msg), name="failure screen", timeout=LIMIT + 20)
        self.assertGreaterEqual(time.monotonic() - t0, LIMIT - 0.5, "the query had its time")
        self.assertFalse(alive(pid), "the status query outlived its limit")
        self.no_children()
        la.key("Escape")
        self.assertEqual(self.ends(), 0)


if __name__ == "__main__":
    unittest.main()
