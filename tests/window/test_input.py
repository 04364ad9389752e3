"""Mouse and keyboard on the ready screen: motion focuses the button under the
pointer and motion off the buttons keeps the focus; a right click does nothing; a left
click acts; the arrow keys and Tab (Shift or not) move the focus without wrapping; Escape quits."""

import unittest

from base import LEFT, RIGHT, WindowTest

READY = '{"ready": true}'


def centre(rect):
    x, y, w, h = rect
    return x + w // 2, y + h // 2


class Input(WindowTest):

    def test_motion_focuses_and_right_click_does_nothing(self):
        lnc, fk = self.launch(READY, game={"holds": [1]})
        self.screen(lnc, "ready")
        lnc.move(*centre(LEFT))
        self.focused(lnc, "left")
        lnc.move(300, 300)
        self.stays(lambda: self.is_focused(lnc.grab(), "left"),
                   what="the focus left \"Quit\" when the pointer left the buttons")
        # Right clicks on "Play" and on "Quit": neither plays nor quits. The game
        # would hold and hide the window, so the focus on "Quit" could not be seen.
        lnc.click(*centre(RIGHT), button=3)
        lnc.click(*centre(LEFT), button=3)
        self.focused(lnc, "left")
        self.assertIsNone(lnc.proc.poll(), "a right click on \"Quit\" ended the launcher")
        self.assertEqual(fk.records("game"), [])
        # A left click on "Play" plays.
        lnc.click(*centre(RIGHT))
        fk.wait_record("game")
        fk.release("game-1")
        self.assertEqual(lnc.wait(), 0)
        self.assertEqual(len(fk.records("game")), 1)

    def test_click_on_quit(self):
        lnc, fk = self.launch(READY, game={})
        self.screen(lnc, "ready")
        lnc.click(*centre(LEFT))
        self.assertEqual(lnc.wait(), 0)
        self.assertEqual(fk.records("game"), [])

    def test_keys_move_the_focus_and_escape_quits(self):
        lnc, fk = self.launch(READY, game={})
        self.screen(lnc, "ready")
        # Each step ends on a key that moves, so that a key before it which should do
        # nothing (Left on "Quit", Right on "Play") shows if it did something.
        for keys, side in ((["Left"], "left"), (["Left", "Tab"], "right"),
                           (["Right", "Up"], "left"), (["Down"], "right"), (["Left"], "left"),
                           (["shift+Tab"], "right")):
            lnc.key(*keys)
            self.focused(lnc, side)
        lnc.key("Escape")
        self.assertEqual(lnc.wait(), 0)
        self.assertEqual(fk.records("game"), [])


if __name__ == "__main__":
    unittest.main()
