"""A window test that goes wrong on purpose, for test_harness: it gets the launcher
and its children running (a build with a grandchild, or the game), writes their process
ids to $BKF_LEFTOVER, and then fails ($BKF_LEFTOVER_END=fail) or kills its own test
runner with SIGKILL (=kill), so that nothing of its own cleanup can run."""

import json
import os
import signal
import unittest

from case import Case
from fakes import READY

BUILD = """
grandchild()
out(b"@step 1 1 Holding\\n")
hold("never")
"""


class Leftover(Case):

    def test_goes_wrong(self):
        if os.environ["BKF_LEFTOVER_ROAD"] == "build":
            la = self.launch(build=BUILD)
            self.update_then_build()
            pids = [self.fake.wait_record("build")["pid"],
                    self.fake.wait_record("grandchild")["pid"]]
            self.working(step=1, steps=1, step_label="Holding")
        else:
            la = self.launch(READY, game={"holds": [1]})
            self.screen("ready")
            la.key("Return")
            pids = [self.fake.wait_record("game")["pid"]]
        with open(os.environ["BKF_LEFTOVER"], "w") as f:
            json.dump({"tag": la.tag, "dir": self.dir, "xvfb": self.display.proc.pid,
                       "launcher": la.proc.pid, "children": pids}, f)
        if os.environ["BKF_LEFTOVER_END"] == "kill":
            os.kill(os.getpid(), signal.SIGKILL)
        self.fail("a deliberate failure")


if __name__ == "__main__":
    unittest.main()
