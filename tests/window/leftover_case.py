"""A window test that goes wrong on purpose, for test_harness: it gets the launcher
and its children running (a build with a grandchild, or the game), writes their process
ids to $BKF_LEFTOVER, and then fails ($BKF_LEFTOVER_END=fail) or kills its own test
runner with SIGKILL (=kill), so that nothing of its own cleanup can run."""

import json
import os
import signal
import unittest

from base import WindowTest

BUILD = """
grandchild()
out(b"@step 1 1 Holding\\n")
hold("never")
"""


class Leftover(WindowTest):

    def test_goes_wrong(self):
        road = os.environ["BKF_LEFTOVER_ROAD"]
        if road == "build":
            lnc, fk = self.launch("{}", BUILD)
            self.screen(lnc, "update")
            lnc.key("Return")
            pids = [fk.wait_record("build")["pid"], fk.wait_record("grandchild")["pid"]]
            self.working(lnc, setup=False)
        else:
            lnc, fk = self.launch('{"ready": true}', game={"holds": [1]})
            self.screen(lnc, "ready")
            lnc.key("Return")
            pids = [fk.wait_record("game")["pid"]]
        with open(os.environ["BKF_LEFTOVER"], "w") as f:
            json.dump({"tag": lnc.tag, "tmp": lnc.tmp, "xvfb": self.display.proc.pid,
                       "launcher": lnc.proc.pid, "children": pids}, f)
        if os.environ["BKF_LEFTOVER_END"] == "kill":
            os.kill(os.getpid(), signal.SIGKILL)
        self.fail("a deliberate failure")


if __name__ == "__main__":
    unittest.main()
