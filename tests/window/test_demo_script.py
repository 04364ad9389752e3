"""scripts/demo without a display: the whole road by itself under Xvfb, told screen by
screen and saved as pictures; and, when there is no Xvfb either, one line that says so
and a failing exit status."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

import harness

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DEMO = os.path.join(ROOT, "scripts", "demo")


class DemoScript(unittest.TestCase):

    def run_demo(self, *args, **env):
        d = tempfile.mkdtemp(prefix="bkf-demo-script-")
        self.addCleanup(shutil.rmtree, d, True)
        e = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        e.update(BKF_LAUNCHER=harness.LAUNCHER, BKF_BUILD_DIR=d, BKF_DEMO_SECONDS="0")
        e.update(env)
        r = subprocess.run([DEMO] + list(args), env=e, capture_output=True, timeout=240,
                           stdin=subprocess.DEVNULL)
        return r, d

    def test_no_display_and_no_xvfb_is_one_line(self):
        r, d = self.run_demo(BKF_XVFB="/nonexistent/Xvfb")
        text = (r.stdout + r.stderr).decode()
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(len(text.splitlines()), 1, text)
        self.assertIn("no display", text)

    def test_the_whole_road_by_itself(self):
        r, d = self.run_demo("--", "--status", "0")
        text = r.stdout.decode()
        self.assertEqual(r.returncode, 0, text + r.stderr.decode())
        said = re.findall(r"^ +\d+\.\d s  (\w+)", text, re.M)
        # The checking screen can pass between two looks on a loaded machine.
        self.assertEqual([s for s in said if s != "checking"][:1], ["setup"])
        self.assertEqual([s for s in said if s not in ("checking", "setup", "working")],
                         ["ready", "game", "end"], text)
        self.assertIn("working", said)
        self.assertRegex(text, r"end: the launcher's exit status is 0\n")
        pngs = sorted(os.listdir(os.path.join(d, "demo")))
        for name in ("setup", "working", "ready", "game"):
            self.assertTrue(any(p.endswith("-%s.png" % name) for p in pngs), pngs)
        # The game got --seconds 3 and the arguments given after "--".
        with open(os.path.join(d, "demo-home", "logs", "bkf.log")) as f:
            log = f.read()
        self.assertIn("argv[6]: --seconds\nargv[7]: 3\nargv[8]: --status\nargv[9]: 0\n", log)


if __name__ == "__main__":
    unittest.main()
