"""Mouse and keyboard on the ready screen: motion focuses the button under the
pointer and motion off the buttons keeps the focus; a right click does nothing; a left
click acts; the arrow keys and Tab (Shift or not) move the focus without wrapping;
Escape quits."""

import unittest

from case import Case
from fakes import READY
from harness import LEFT, RIGHT


def centre(rect):
    x, y, w, h = rect
    return x + w // 2, y + h // 2


class Input(Case):

    def test_motion_focuses_and_right_click_does_nothing(self):
        la = self.launch(READY, game={"holds": [1]})
        self.screen("ready")
        la.move(*centre(LEFT))
        self.focused("left")
        la.move(300, 300)
        self.stays(lambda: self.is_focused(la.grab(), "left"),
                   what="the focus left \"Quit\" when the pointer left the buttons")
        # Right clicks on "Play" and on "Quit": neither plays nor quits. The game
        # would hold and hide the window, so the focus on "Quit" could not be seen.
        la.click(*centre(RIGHT), button=3)
        la.click(*centre(LEFT), button=3)
        self.focused("left")
        self.assertIsNone(la.proc.poll(), "a right click on \"Quit\" ended the launcher")
        self.assertEqual(self.fake.records("game"), [])
        # A left click on "Play" plays.
        la.click(*centre(RIGHT))
        self.fake.wait_record("game")
        self.fake.release("game-1")
        self.assertEqual(self.ends(), 0)
        self.assertEqual(len(self.fake.records("game")), 1)

    def test_click_on_quit(self):
        la = self.launch(READY, game={})
        self.screen("ready")
        la.click(*centre(LEFT))
        self.assertEqual(self.ends(), 0)
        self.assertEqual(self.fake.records("game"), [])

    def test_keys_move_the_focus_and_escape_quits(self):
        la = self.launch(READY, game={})
        self.screen("ready")
        # Each step ends on a key that moves, so that a key before it which should do
        # nothing (Left on "Quit", Right on "Play") shows if it did something.
        for keys, side in ((["Left"], "left"), (["Left", "Tab"], "right"),
                           (["Right", "Up"], "left"), (["Down"], "right"), (["Left"], "left"),
                           (["shift+Tab"], "right")):
            la.key(*keys)
            self.focused(side)
        la.key("Escape")
        self.assertEqual(self.ends(), 0)
        self.assertEqual(self.fake.records("game"), [])


if __name__ == "__main__":
    unittest.main()
