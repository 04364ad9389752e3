"""A status query that never answers: the launcher gives it its limit of a minute,
then kills and reaps it and shows the failure screen. The one slow case of the suite;
it runs beside the others."""

import time
import unittest

from util import FAILED, Case, alive, render

SILENT = r'''
signal.signal(signal.SIGTERM, signal.SIG_IGN)
while True:
    time.sleep(1)
'''


class StatusLimit(Case):
    def test_status_query_that_never_answers(self):
        la = self.launch(status=SILENT)
        # While the query runs the launcher draws nothing (it waits for the answer),
        # so the window may not show the checking screen yet: only the query is noted.
        pid = int(self.noted("pid--status"))
        t0 = time.monotonic()
        msg = "The installer could not run (/usr/bin/python3). Reinstalling the app may help."
        la.window(90)
        self.shows(render(FAILED, self.home, msg=msg), name="failure screen", timeout=120)
        self.assertGreater(time.monotonic() - t0, 30, "the query had its time")
        self.assertFalse(alive(pid), "the status query outlived its limit")
        self.no_children()
        la.key("Escape")
        self.assertEqual(self.ends(), 0)


if __name__ == "__main__":
    unittest.main()
