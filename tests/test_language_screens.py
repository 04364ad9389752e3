"""Every screen in every language of po/LINGUAS fits: each is rendered by the real
launcher's screenshot mode (and the checking screen, and the launcher's own messages on
the failure and crashed screens, by bkf_render). The picture must show no button
reaching left of the 48-pixel margin (its focus ring at 44); nothing drawn at or past
x = 917 outside the bar (its ring ends at 916) and the installer's own last line, since
a text that runs there is cut at x = 920; the working screen's hint ending before the
Cancel button; and a message that stays above the logs line, below which the screen is
the same as with no message. The pictures are kept in $BKF_SHOTS/<lang>/ when that is
set, to be looked at.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "window"))

from harness import LAUNCHER, RENDER, read_bmp  # noqa: E402

SOURCE = os.path.dirname(HERE)
LOCALEDIR = os.environ.get("BKF_LOCALEDIR", "")
HOME = "/home/player/.local/share/brackenfold"
WORDS = ["setup", "update", "working", "failed", "crashed", "ready"]
LAST_LINE = range(186, 226)  # the installer's own text, which may run on


def languages():
    with open(os.path.join(SOURCE, "po", "LINGUAS")) as f:
        return [l.strip() for l in f if l.strip() and not l.startswith("#")]


def catalogue(lang):
    """msgid -> msgstr of po/<lang>.po, read as msgfmt reads it (continued strings)."""
    text = open(os.path.join(SOURCE, "po", lang + ".po"), encoding="utf-8").read()
    out, key, cur = {}, None, None
    for line in text.splitlines() + [""]:
        m = re.match(r'^(msgid|msgstr) "(.*)"$', line)
        if m:
            if m.group(1) == "msgid":
                key, cur = [m.group(2)], "id"
            else:
                val, cur = [m.group(2)], "str"
                out["".join(key)] = val
            continue
        m = re.match(r'^"(.*)"$', line)
        if m and cur == "id":
            key.append(m.group(1))
        elif m and cur == "str":
            out["".join(key)].append(m.group(1))
    unescape = lambda s: s.encode().decode("unicode_escape").encode("latin-1").decode()
    return {unescape(k): unescape("".join(v)) for k, v in out.items() if k}


# The launcher's own messages, with realistic arguments, on the screen that shows them.
MESSAGES = [
    (4, "The installer could not run (%.300s). Reinstalling the app may help.",
     ("/app/venv/bin/python3",)),
    (4, "The build could not start.", ()),
    (4, "The build stopped (exit %d). Its log has the details.", (2,)),
    (4, "The build stopped (signal %d). Its log has the details.", (9,)),
    (4, "The build ended, but its result could not be read. Its log has the details.", ()),
    (4, "The build's output could not be read (%s). The build was stopped.",
     ("Input/output error",)),
    (4, "Setting up needs about 3 GB of free space; %.300s has %llu.%llu GB free.",
     ("/home/player/.local/share", 1, 2)),
    (4, "Brackenfold is already open in another window. Use that one, or close it and "
        "press Try Again.", ()),
    (4, "No home folder was found: HOME is not set, and the system has none for this user. "
        "Set HOME or BKF_HOME.", ()),
    (4, "The path of the data folder is too long: %zu bytes, where the limit is %zu. Set "
        "BKF_HOME to a shorter one.", (1500, 1023)),
    (4, "The path of the app's files (BKF_SHARE) is too long: %zu bytes, where the limit is "
        "%zu.", (1500, 1023)),
    (4, "The path of the Python interpreter (BKF_PYTHON) is too long: %zu bytes, where the "
        "limit is %zu.", (1500, 1023)),
    (6, "The game could not start.", ()),
    (6, "The game stopped unexpectedly.", ()),
]


def cformat(fmt, args):
    """fmt % args for the launcher's C formats (%zu, %llu, %.300s are Python's %d, %s)."""
    return re.sub(r"%(\.\d+)?(zu|llu|d|s)", lambda m: "%s", fmt) % tuple(str(a) for a in args)


def env_for(lang):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": "/tmp",
           "BKF_HOME": HOME, "LANGUAGE": lang, "LANG": lang + ".UTF-8",
           "BKF_LOCALEDIR": LOCALEDIR}
    return env


class Screens(unittest.TestCase):
    def setUp(self):
        self.assertTrue(LAUNCHER and os.path.exists(LAUNCHER), "BKF_LAUNCHER is not set")
        self.assertTrue(os.path.isdir(LOCALEDIR), "BKF_LOCALEDIR names no folder")
        self.tmp = tempfile.mkdtemp(prefix="bkf-lang-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def fits(self, img, what):
        bar = [y for y in range(480, 560)]
        for y in bar:
            for x in range(0, 44):
                if img.px(x, y) != img.px(0, y):
                    self.fail("%s: a button reaches left of the margin (%d, %d)" % (what, x, y))
        for y in range(img.h):
            if y in LAST_LINE or 480 <= y < 560:
                continue
            row = [img.px(x, y) for x in range(917, 960)]
            if any(p != row[-1] for p in row):
                self.fail("%s: something runs past the content's right edge at y %d" % (what, y))

    def hint_clear_of_cancel(self, img, what):
        ring = next(x for x in range(960) if img.px(x, 486) == (255, 204, 51))
        for y in range(500, 540):
            for x in range(ring - 12, ring):
                if img.px(x, y) != img.px(20, y):
                    self.fail("%s: the hint runs into the Cancel button (%d, %d)" % (what, x, y))

    def above_the_logs_line(self, img, empty, what):
        for y in range(214, 470):
            if img.data[y * img.w * 3:(y + 1) * img.w * 3] != \
                    empty.data[y * img.w * 3:(y + 1) * img.w * 3]:
                self.fail("%s: the message reaches the logs line at y %d" % (what, y))

    def keep(self, img, lang, name):
        keep = os.environ.get("BKF_SHOTS")
        if keep:
            os.makedirs(os.path.join(keep, lang), exist_ok=True)
            img.save(os.path.join(keep, lang, name + ".png"))

    def shot(self, lang, word):
        out = os.path.join(self.tmp, "shot.bmp")
        env = env_for(lang)
        env.update(BKF_LAUNCHER_SHOT=out, BKF_LAUNCHER_STATE=word)
        r = subprocess.run([LAUNCHER], env=env, capture_output=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        self.assertEqual(r.stderr, b"", "the catalogue was refused in part")
        return read_bmp(out)

    def render(self, lang, state, msg="", **more):
        out = os.path.join(self.tmp, "render.bmp")
        env = env_for(lang)
        env.update(HR_STATE=str(state), HR_MSG=msg, HR_NEEDS_DISC="1")
        env.update({k: str(v) for k, v in more.items()})
        r = subprocess.run([RENDER, out], env=env, capture_output=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        return read_bmp(out)

    def test_every_screen_in_every_language_fits(self):
        english = self.shot("C", "setup")
        for lang in languages():
            with self.subTest(lang=lang):
                tr = catalogue(lang)
                for word in WORDS:
                    img = self.shot(lang, word)
                    self.keep(img, lang, word)
                    self.fits(img, "%s %s" % (lang, word))
                    if word == "working":
                        self.hint_clear_of_cancel(img, lang + " working")
                img = self.render(lang, 0)
                self.keep(img, lang, "checking")
                self.fits(img, lang + " checking")
                self.assertNotEqual(self.shot(lang, "setup").data, english.data,
                                    "%s: the setup screen is in English" % lang)
                for i, (state, fmt, args) in enumerate(MESSAGES):
                    msg = cformat(tr.get(fmt) or fmt, args)
                    blocked = int("already open" in fmt or "path of" in fmt or "home" in fmt)
                    img = self.render(lang, state, msg, HR_BLOCKED=blocked)
                    empty = self.render(lang, state, "", HR_BLOCKED=blocked)
                    what = "%s message %r" % (lang, fmt[:30])
                    self.keep(img, lang, "message-%02d" % i)
                    self.fits(img, what)
                    self.above_the_logs_line(img, empty, what)


if __name__ == "__main__":
    unittest.main()
