"""A status query that never answers: the launcher gives it its limit (shortened here
through BKF_LIMITS), drawing the checking screen meanwhile, then kills and reaps it and
shows the failure screen."""

import time
import unittest

from case import Case
from harness import alive

LIMIT = 3.0

SILENT = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
hold("never")
'''


class StatusLimit(Case):

    def test_status_query_that_never_answers(self):
        la = self.launch(status=SILENT, env={"BKF_LIMITS": "status=%g" % LIMIT})
        pid = self.fake.wait_record("status")["pid"]
        t0 = time.monotonic()
        self.screen("checking")
        msg = "The installer could not run (/usr/bin/python3). Reinstalling the app may help."
        self.screen("failed", msg=msg, timeout=LIMIT + 20)
        self.assertGreaterEqual(time.monotonic() - t0, LIMIT - 0.5, "the query had its time")
        self.assertFalse(alive(pid), "the status query outlived its limit")
        self.no_children()
        la.key("Escape")
        self.assertEqual(self.ends(), 0)


if __name__ == "__main__":
    unittest.main()
