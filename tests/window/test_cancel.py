"""Cancelling a build from the working screen, by Escape and by a click on "Cancel":
SIGTERM reaches the installer, and the launcher goes back to the screen the build was
started from, the first-time setup or the update, with its primary button focused.
(Controller B does the same; no virtual controller can be attached here, so the unit
tests of the event handling cover it.)"""

import unittest

from case import Case
from fakes import NEEDS_DISC, UPDATE
from harness import RIGHT

# Runs until cancelled; notes the SIGTERM and ends at once.
ENDLESS = """
on_term(0)
out(b"@step 1 3 Downloading\\n")
out(b"fetching the disc image\\n")
hold("never")
"""


class Cancel(Case):

    def by_escape(self):
        self.la.key("Escape")

    def by_click(self):
        x, y, w, h = RIGHT  # "Cancel" is the only button, at the right margin
        self.la.click(x + w // 2, y + h // 2)

    def build_then_cancel(self, run, setup, how):
        self.la.key("Return")
        build = self.fake.wait_record("build", run)
        self.working(needs_disc=int(setup), step=1, steps=3, step_label="Downloading",
                     last_line="fetching the disc image")
        how()
        self.assertEqual(self.fake.wait_record("term", run)["pid"], build["pid"])

    def cancel_twice(self, answer, start):
        """Escape, then a click on "Cancel": each time back on the start screen, with
        its primary button focused again (the same picture)."""
        self.launch(answer, ENDLESS)
        self.screen(start)
        self.build_then_cancel(1, start == "setup", self.by_escape)
        self.screen(start, name=start + " screen after Escape")
        self.assertIsNone(self.la.proc.poll(), "Escape during a build ended the launcher")
        self.build_then_cancel(2, start == "setup", self.by_click)
        self.screen(start, name=start + " screen after a click on Cancel")
        self.assertEqual(self.log(), b"@step 1 3 Downloading\nfetching the disc image\n")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
        self.assertEqual(len(self.fake.records("build")), 2)

    def test_setup_cancel_by_escape_then_by_click(self):
        self.cancel_twice(NEEDS_DISC, "setup")

    def test_update_cancel_by_escape_then_by_click(self):
        self.cancel_twice(UPDATE, "update")


if __name__ == "__main__":
    unittest.main()
