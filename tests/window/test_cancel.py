"""Cancelling a build from the working screen, by Escape and by a click on "Cancel":
SIGTERM reaches the installer, and the launcher goes back to the screen the build was
started from, the first-time setup or the update, with its primary button focused.
(Controller B does the same; no virtual controller can be attached here, so the unit
tests of the event handling cover it.)"""

import unittest

from base import RIGHT, WindowTest
from fakes import log_bytes

NEEDS_DISC = '{"ready": false, "needs_disc": true}'

# Runs until cancelled; notes the SIGTERM and ends at once.
ENDLESS = """
on_term(0)
out(b"@step 1 3 Downloading\\n")
out(b"fetching the disc image\\n")
hold("never")
"""


class Cancel(WindowTest):

    def cancel_by_escape(self, lnc):
        lnc.key("Escape")

    def cancel_by_click(self, lnc):
        x, y, w, h = RIGHT  # "Cancel" is the only button, at the right margin
        lnc.click(x + w // 2, y + h // 2)

    def build_then_cancel(self, lnc, fk, run, setup, how):
        lnc.key("Return")
        fk.wait_record("build", run)
        self.working(lnc, setup)
        how(lnc)
        self.assertEqual(fk.wait_record("term", run)["pid"], fk.records("build")[run - 1]["pid"])

    def test_setup_cancel_by_escape_then_by_click(self):
        lnc, fk = self.launch(NEEDS_DISC, ENDLESS)
        self.screen(lnc, "setup")
        self.build_then_cancel(lnc, fk, 1, True, self.cancel_by_escape)
        # Back on the setup screen, "Download and Build" focused again: the same picture.
        self.screen(lnc, "setup", name="setup after Escape")
        self.assertIsNone(lnc.proc.poll(), "Escape during a build ended the launcher")
        self.build_then_cancel(lnc, fk, 2, True, self.cancel_by_click)
        self.screen(lnc, "setup", name="setup after a click on Cancel")
        self.assertEqual(log_bytes(lnc.home),
                         b"@step 1 3 Downloading\nfetching the disc image\n")
        lnc.key("Escape")
        self.assertEqual(lnc.wait(), 0)
        self.assertEqual(len(fk.records("build")), 2)

    def test_update_cancel_by_escape_then_by_click(self):
        lnc, fk = self.launch("{}", ENDLESS)
        self.screen(lnc, "update")
        self.build_then_cancel(lnc, fk, 1, False, self.cancel_by_escape)
        self.screen(lnc, "update", name="update after Escape")
        self.build_then_cancel(lnc, fk, 2, False, self.cancel_by_click)
        self.screen(lnc, "update", name="update after a click on Cancel")
        lnc.key("Escape")
        self.assertEqual(lnc.wait(), 0)


if __name__ == "__main__":
    unittest.main()
