"""Tests of the stand-ins under demo/share: the stand-in installer (its status answers,
its build run with the line protocol, process group, SIGTERM, injected failures, the
script fallback) and the stand-in game it builds (its options and exit statuses).
The real launcher driven against them in a window is the window tests' road
(tests/window/test_demo_script.py, through scripts/demo).

Run by CTest (tests/demo.cmake), one test method per entry; BKF_SOURCE_DIR names the
source tree (by default the one this file lies in)."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.environ.get("BKF_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SHARE = os.path.join(SOURCE, "demo", "share")
INSTALL = os.path.join(SHARE, "src", "bkf", "tools", "install", "install.py")
KORVEX = os.path.join(SHARE, "src", "korvex")
PYTHON = "/usr/bin/python3" if os.access("/usr/bin/python3", os.X_OK) else sys.executable
HANG = 60  # seconds after which a child counts as hung; never reached when all is well

STEP_RE = re.compile(r"^@step (\d+) (\d+) (.+)$")
COUNTER_RE = re.compile(r"^\[(\d+)/(\d+)\] ")


def tmpdir(test):
    d = tempfile.mkdtemp(prefix="bkf-demo-")
    test.addCleanup(shutil.rmtree, d, True)
    return d


def env(**extra):
    e = dict(os.environ)
    for k in ("BKF_PGROUP", "BKF_DEMO_FAIL", "BKF_DEMO_SECONDS", "CC"):
        e.pop(k, None)
    e["BKF_DEMO_SECONDS"] = "0"
    for k, v in extra.items():
        if v is None:
            e.pop(k, None)
        else:
            e[k] = v
    return e


def installer(dest, mode, korvex=KORVEX, **extra):
    """Runs the installer to its end: (exit status, stdout lines, stderr)."""
    p = subprocess.run([PYTHON, "-I", INSTALL, "--dest", dest, "--korvex", korvex, mode],
                       env=env(**extra), stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=HANG)
    return p.returncode, p.stdout.decode().splitlines(), p.stderr.decode()


def start(dest, korvex=KORVEX, **extra):
    """Starts a build run with its output joined, as the launcher does."""
    p = subprocess.Popen([PYTHON, "-I", INSTALL, "--dest", dest, "--korvex", korvex,
                          "--download"], env=env(**extra), stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def reap():
        if p.poll() is None:
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except OSError:
                p.kill()
        p.wait()
        p.stdout.close()
    return p, reap


def read_until(p, prefix):
    """Reads lines from a running child until one starts with prefix."""
    lines = []
    while True:
        raw = p.stdout.readline()
        if not raw:
            raise AssertionError("output ended before %r: %r" % (prefix, lines[-5:]))
        line = raw.decode().rstrip("\n")
        lines.append(line)
        if line.startswith(prefix):
            return lines


def status(dest, korvex=KORVEX):
    rc, lines, err = installer(dest, "--status", korvex)
    assert rc == 0 and len(lines) == 1, (rc, lines, err)
    return lines[0]


READY = '{"ready": true}'
NEEDS_DISC = '{"ready": false, "needs_disc": true}'
UPDATE = '{"ready": false, "needs_disc": false}'


def build(test, dest, korvex=KORVEX, **extra):
    rc, lines, err = installer(dest, "--download", korvex, **extra)
    test.assertEqual(rc, 0, "\n".join(lines[-10:]) + err)
    return lines


def gone(pid):
    """True when pid has ended (a zombie that nobody reaps counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except OSError:
        return True


def wait_for(cond, what, limit=HANG):
    t0 = time.monotonic()
    while not cond():
        if time.monotonic() - t0 > limit:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.05)


def have_sdl_tools():
    return shutil.which("cc") and (shutil.which("sdl2-config") or shutil.which("pkg-config"))


# [SECTION] Status answers ----------------------------------------------------------


class Status(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base = tempfile.mkdtemp(prefix="bkf-demo-")
        cls.korvex = os.path.join(cls.base, "korvex")
        shutil.copytree(KORVEX, cls.korvex)
        cls.built = os.path.join(cls.base, "built")
        rc, lines, err = installer(cls.built, "--download", cls.korvex)
        assert rc == 0, lines[-5:]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.base, True)

    def copy(self):
        d = os.path.join(tmpdir(self), "home")
        shutil.copytree(self.built, d, symlinks=True)
        return d

    def test_answers(self):
        def damage_disc(d):
            shutil.rmtree(os.path.join(d, "build"))
            with open(os.path.join(d, "disc", "brackenfold-disc.iso"), "r+b") as f:
                f.truncate(100)

        def other_version(d):
            path = os.path.join(d, "build", "stamp.json")
            with open(path) as f:
                stamp = json.load(f)
            stamp["installer"] = "0.9"
            with open(path, "w") as f:
                json.dump(stamp, f)

        def broken_stamp(d):
            with open(os.path.join(d, "build", "stamp.json"), "w") as f:
                f.write("{not json")

        cases = [
            ("built and current", lambda d: None, READY),
            ("no data directory at all", lambda d: shutil.rmtree(d), NEEDS_DISC),
            ("empty data directory", lambda d: [shutil.rmtree(d), os.mkdir(d)], NEEDS_DISC),
            ("disc image, no build", lambda d: shutil.rmtree(os.path.join(d, "build")),
             UPDATE),
            ("build without its stamp",
             lambda d: os.unlink(os.path.join(d, "build", "stamp.json")), UPDATE),
            ("stamp of another installer version", other_version, UPDATE),
            ("stamp that is no JSON", broken_stamp, UPDATE),
            ("game not executable",
             lambda d: os.chmod(os.path.join(d, "build", "host", "bkf"), 0o644), UPDATE),
            ("game missing", lambda d: os.unlink(os.path.join(d, "build", "host", "bkf")),
             UPDATE),
            ("extracted game files missing",
             lambda d: shutil.rmtree(os.path.join(d, "game")), UPDATE),
            ("damaged disc image, no build", damage_disc, NEEDS_DISC),
            ("build there, disc image removed",
             lambda d: shutil.rmtree(os.path.join(d, "disc")), READY),
        ]
        for name, change, answer in cases:
            with self.subTest(name):
                d = self.copy()
                change(d)
                before = sorted(os.walk(d)) if os.path.isdir(d) else None
                self.assertEqual(status(d, self.korvex), answer)
                after = sorted(os.walk(d)) if os.path.isdir(d) else None
                self.assertEqual(before, after, "--status changed the data directory")

    def test_sources_changed_since_the_build(self):
        d = self.copy()
        korvex = os.path.join(tmpdir(self), "korvex")
        shutil.copytree(self.korvex, korvex)
        self.assertEqual(status(d, korvex), READY)
        with open(os.path.join(korvex, "main.c"), "a") as f:
            f.write("/* a newer release */\n")
        self.assertEqual(status(d, korvex), UPDATE)
        shutil.rmtree(korvex)
        self.assertEqual(status(d, korvex), UPDATE)

    def test_answer_is_all_it_prints(self):
        rc, lines, err = installer(self.built, "--status", self.korvex)
        self.assertEqual((rc, lines, err), (0, [READY], ""))


# [SECTION] Build runs --------------------------------------------------------------


def check_protocol(test, lines):
    """The run's lines as the launcher reads them: returns the steps announced."""
    steps = []
    for line in lines:
        test.assertNotIn("\r", line)
        m = STEP_RE.match(line)
        if line.startswith("@step "):
            test.assertTrue(m, line)
            steps.append((int(m.group(1)), int(m.group(2)), m.group(3)))
        elif line.startswith("@progress "):
            v = float(line[10:])
            test.assertTrue(0 <= v <= 1, line)
    return steps


class Download(unittest.TestCase):
    def test_first_build(self):
        d = os.path.join(tmpdir(self), "home")
        self.assertEqual(status(d), NEEDS_DISC)
        lines = build(self, d)
        steps = check_protocol(self, lines)
        self.assertEqual([(s[0], s[1]) for s in steps], [(i, 7) for i in range(1, 8)])
        self.assertTrue(all(s[2].strip() for s in steps))
        self.assertEqual(lines[-1], "@done")
        self.assertNotIn("@error", "\n".join(lines))

        # Progress in every simulated step; the counter lines of a real build, one per
        # compile in step 6, then the link in step 7.
        step, counters, progressed = 0, [], set()
        for line in lines:
            m = STEP_RE.match(line)
            if m:
                step = int(m.group(1))
            elif line.startswith("@progress "):
                progressed.add(step)
            elif COUNTER_RE.match(line):
                c = COUNTER_RE.match(line)
                counters.append((step, int(c.group(1)), int(c.group(2)), line))
        self.assertEqual(progressed, {1, 2, 3, 4, 5})
        units = len([n for n in os.listdir(KORVEX) if n.endswith(".c")]) + 1
        n = units + 1
        self.assertEqual([(s, i, t) for s, i, t, _ in counters],
                         [(6, i, n) for i in range(1, n)] + [(7, n, n)])
        self.assertTrue(all("Building C object" in c[3] for c in counters[:-1]))
        self.assertIn("Linking C executable bkf", counters[-1][3])

        game = os.path.join(d, "build", "host", "bkf")
        self.assertTrue(os.access(game, os.X_OK))
        with open(game, "rb") as f:
            self.assertEqual(f.read(4), b"\x7fELF")
        self.assertTrue(os.path.isdir(os.path.join(d, "game")))
        self.assertEqual(status(d), READY)

        # An update build: the disc image and patch are used as they are.
        disc = os.path.join(d, "disc", "brackenfold-disc.iso")
        before = os.stat(disc)
        shutil.rmtree(os.path.join(d, "build"))
        self.assertEqual(status(d), UPDATE)
        lines = build(self, d)
        self.assertEqual([s[0] for s in check_protocol(self, lines)], list(range(1, 8)))
        downloading = lines[lines.index("@step 1 7 Downloading the disc image"):
                            [i for i, l in enumerate(lines) if l.startswith("@step 3 ")][0]]
        self.assertFalse([l for l in downloading if l.startswith("@progress")], downloading)
        self.assertEqual(len([l for l in downloading if "already here" in l]), 2)
        after = os.stat(disc)
        self.assertEqual((before.st_ino, before.st_mtime_ns),
                         (after.st_ino, after.st_mtime_ns))
        self.assertEqual(status(d), READY)

    def test_lines_arrive_as_written(self):
        d = os.path.join(tmpdir(self), "home")
        p, reap = start(d, BKF_DEMO_SECONDS="30")
        self.addCleanup(reap)
        read_until(p, "@step 1 7 ")
        read_until(p, "@progress ")
        self.assertIsNone(p.poll(), "the run should still be going")

    def test_pace(self):
        d = os.path.join(tmpdir(self), "home")
        t0 = time.monotonic()
        build(self, d, BKF_DEMO_SECONDS="2")
        self.assertGreaterEqual(time.monotonic() - t0, 1.8)

    def test_process_group(self):
        for value, leader in (("1", True), ("0", False), (None, False)):
            with self.subTest(BKF_PGROUP=value):
                d = os.path.join(tmpdir(self), "home")
                p, reap = start(d, BKF_DEMO_SECONDS="30", BKF_PGROUP=value)
                self.addCleanup(reap)
                read_until(p, "@step 1 7 ")
                if leader:
                    self.assertEqual(os.getpgid(p.pid), p.pid)
                else:
                    self.assertEqual(os.getpgid(p.pid), os.getpgrp())
                p.terminate()
                reap()

    def test_injected_failures(self):
        d0 = os.path.join(tmpdir(self), "home")
        build(self, d0)
        cases = [("1", 1), ("download", 1), ("2", 2), ("patch", 2), ("3", 3),
                 ("verify", 3), ("4", 4), ("Extracting", 4), ("5", 5), ("generate", 5),
                 ("6", 6), ("compile", 6), ("7", 7), ("link", 7)]
        messages = {}
        for value, step in cases:
            for fresh in (True, False):
                with self.subTest(BKF_DEMO_FAIL=value, fresh=fresh):
                    d = os.path.join(tmpdir(self), "home")
                    if not fresh:
                        shutil.copytree(d0, d)
                        shutil.rmtree(os.path.join(d, "build"))
                    rc, lines, _ = installer(d, "--download", BKF_DEMO_FAIL=value)
                    self.assertEqual(rc, 1)
                    steps = check_protocol(self, lines)
                    self.assertEqual(steps[-1][0], step)
                    self.assertTrue(lines[-1].startswith("@error "), lines[-3:])
                    msg = lines[-1][7:]
                    self.assertGreater(len(msg), 20)
                    self.assertEqual(len([l for l in lines if l.startswith("@error")]), 1)
                    messages.setdefault(step, set()).add(msg)
                    self.assertFalse(os.path.exists(os.path.join(d, "build", "host", "bkf")))
                    # A damaged download is removed, so that "Try Again" fetches it anew.
                    need = NEEDS_DISC if fresh and step == 1 or step == 3 else UPDATE
                    self.assertEqual(status(d), need)
                    self.assertFalse([n for n in os.listdir(os.path.join(d, "disc"))
                                      if n.endswith(".part")])
        self.assertEqual(len(set.union(*messages.values())), 7, messages)

    def test_bad_environment_and_places(self):
        d = tmpdir(self)
        # A BKF_DEMO_FAIL that names no step fails nothing and says so.
        rc, lines, _ = installer(os.path.join(d, "a"), "--download", BKF_DEMO_FAIL="lunch")
        self.assertEqual(rc, 0)
        self.assertTrue([l for l in lines if "BKF_DEMO_FAIL=lunch" in l])

        blocker = os.path.join(d, "file")
        with open(blocker, "w") as f:
            f.write("x")
        cases = [
            ("data directory under a file", os.path.join(blocker, "home"), KORVEX),
            ("sources missing", os.path.join(d, "b"), os.path.join(d, "nowhere")),
        ]
        for name, dest, korvex in cases:
            with self.subTest(name):
                rc, lines, err = installer(dest, "--download", korvex)
                self.assertEqual(rc, 1, err)
                self.assertTrue(lines[-1].startswith("@error "), lines[-3:])
                self.assertNotIn("Traceback", "\n".join(lines) + err)

    def test_usage(self):
        for args in ([], ["--dest", "x"], ["--dest", "x", "--korvex", "y"],
                     ["--dest", "x", "--korvex", "y", "--status", "--download"]):
            with self.subTest(args=args):
                p = subprocess.run([PYTHON, "-I", INSTALL] + args, capture_output=True,
                                   timeout=HANG)
                self.assertEqual(p.returncode, 2)


# [SECTION] Stopping ----------------------------------------------------------------

FAKE_CC = """#!/bin/sh
# A compiler that takes its time: records itself and a child of its own, then waits.
echo $$ >> "$FAKE_CC_PIDS"
sleep 300 &
echo $! >> "$FAKE_CC_PIDS"
wait
"""


@unittest.skipUnless(have_sdl_tools(), "no C compiler or SDL2 configuration tool")
class Stop(unittest.TestCase):
    def leftovers(self, d):
        found = []
        for root, _, files in os.walk(d):
            found += [os.path.join(root, n) for n in files
                      if n.endswith((".part", ".tmp"))]
        return found + [p for p in (os.path.join(d, "game.tmp"),) if os.path.exists(p)]

    def test_sigterm_while_compiling(self):
        # As the launcher cancels (SIGTERM to the group it asked for), and as a person
        # or a system would (SIGTERM to the installer alone).
        for pgroup, to_group in (("1", True), ("1", False), (None, False)):
            with self.subTest(BKF_PGROUP=pgroup, to_group=to_group):
                d = tmpdir(self)
                cc = os.path.join(d, "slow-cc")
                with open(cc, "w") as f:
                    f.write(FAKE_CC)
                os.chmod(cc, 0o755)
                pids = os.path.join(d, "pids")
                home = os.path.join(d, "home")
                p, reap = start(home, BKF_PGROUP=pgroup, CC=cc, FAKE_CC_PIDS=pids)
                self.addCleanup(reap)
                read_until(p, "@step 6 7 ")
                wait_for(lambda: os.path.exists(pids) and
                         len(open(pids).read().split()) >= 2, "the compiler")
                children = [int(x) for x in open(pids).read().split()]
                if to_group:
                    os.killpg(p.pid, signal.SIGTERM)
                else:
                    p.send_signal(signal.SIGTERM)
                p.stdout.read()
                rc = p.wait(timeout=HANG)
                self.assertIn(rc, (-signal.SIGTERM, 143, 1))
                for pid in children:
                    wait_for(lambda: gone(pid), "the compiler's process %d to end" % pid)
                self.assertEqual(self.leftovers(home), [])
                self.assertEqual(status(home), UPDATE)

    def test_sigterm_while_downloading(self):
        home = os.path.join(tmpdir(self), "home")
        p, reap = start(home, BKF_DEMO_SECONDS="60", BKF_PGROUP="1")
        self.addCleanup(reap)
        read_until(p, "@progress ")
        os.killpg(p.pid, signal.SIGTERM)
        p.stdout.read()
        self.assertIn(p.wait(timeout=HANG), (-signal.SIGTERM, 143, 1))
        self.assertEqual(self.leftovers(home), [])
        self.assertEqual(status(home), NEEDS_DISC)


# [SECTION] The script fallback -----------------------------------------------------


class Fallback(unittest.TestCase):
    def test_no_compiler_or_no_sdl(self):
        d = tmpdir(self)
        empty = os.path.join(d, "empty")
        os.mkdir(empty)
        only_cc = os.path.join(d, "only-cc")
        os.mkdir(only_cc)
        cc = shutil.which("cc")
        if cc:
            os.symlink(cc, os.path.join(only_cc, "cc"))
        cases = [
            ("PATH without a compiler", {"PATH": empty}, "no C compiler"),
            ("CC that does not exist", {"CC": os.path.join(d, "nowhere", "cc")},
             "was not found"),
            ("a compiler but no SDL2 files", {"PATH": only_cc}, "SDL2"),
        ]
        for name, extra, why in cases:
            with self.subTest(name):
                home = os.path.join(d, name.replace(" ", "-"))
                lines = build(self, home, **extra)
                self.assertEqual([s[0] for s in check_protocol(self, lines)],
                                 list(range(1, 8)))
                said = [l for l in lines if "as a script instead" in l]
                self.assertEqual(len(said), 1, lines)
                self.assertIn(why, said[0])
                game = os.path.join(home, "build", "host", "bkf")
                with open(game, "rb") as f:
                    self.assertEqual(f.read(9), b"#!/bin/sh")
                self.assertEqual(status(home), READY)
        self.script = os.path.join(d, "PATH-without-a-compiler", "build", "host", "bkf")
        check_game(self, self.script, script=True)


# [SECTION] The stand-in game -------------------------------------------------------


def run_game(game, args, **kw):
    e = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    return subprocess.run([game] + args, env=e, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=HANG, **kw)


def check_game(test, game, script=False):
    gamedir = os.path.dirname(os.path.dirname(os.path.dirname(game))) + "/game"
    cases = [
        (["--seconds", "0"], 0),
        (["--seconds", "0", "--status", "3"], 3),
        (["--seconds", "0", "--status", "1"], 1),
        (["--seconds", "0", "--status", "255"], 255),
        (["--seconds", "0", "--signal", "9"], -9),
        (["--seconds", "0", "--signal", "11"], -11),
        (["--seconds", "0.3"], 0),
        # The launcher's own vector on a first run, then options passed through.
        (["--game", gamedir, "--run", "--resolution", "native", "--seconds", "0",
          "--status", "2"], 2),
        # Values it does not take are reported and left out, never a failure.
        (["--seconds", "0", "--status", "256", "--status", "x", "--signal", "19",
          "--signal", "0", "--bogus", "--seconds"], 0),
        (["--seconds", "-1", "--seconds", "0"], 0),
    ]
    for args, want in cases:
        with test.subTest(script=script, args=args):
            p = run_game(game, args)
            out = p.stdout.decode().splitlines()
            test.assertEqual(p.returncode, want, out)
            argv = [l for l in out if l.startswith("argv[")]
            test.assertEqual(argv, ["argv[%d]: %s" % (i, a)
                                    for i, a in enumerate([game] + args)])
            if "--game" in args:
                test.assertIn("game directory: %s (found)" % gamedir, out)
                test.assertTrue([l for l in out if l.startswith("resolution: native")], out)
            if "--bogus" in args:
                test.assertEqual(len([l for l in out if l.startswith("ignoring")]), 6, out)


@unittest.skipUnless(have_sdl_tools(), "no C compiler or SDL2 configuration tool")
class Game(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base = tempfile.mkdtemp(prefix="bkf-demo-")
        home = os.path.join(cls.base, "home")
        rc, lines, err = installer(home, "--download")
        assert rc == 0, lines[-5:]
        cls.game = os.path.join(home, "build", "host", "bkf")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.base, True)

    def test_options(self):
        check_game(self, self.game)

    def test_runs_until_its_window_is_closed(self):
        # Without --seconds it runs until Escape or a close of its window; SIGTERM
        # reaches it as that close. Then the exit of --status or the signal follows.
        for extra, want in (([], 0), (["--status", "3"], 3), (["--signal", "6"], -6)):
            with self.subTest(extra=extra):
                e = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
                p = subprocess.Popen([self.game] + extra, env=e, stdout=subprocess.PIPE,
                                     stdin=subprocess.DEVNULL)
                try:
                    read_until(p, "runs until Escape")
                    self.assertIsNone(p.poll())
                    p.terminate()
                    p.stdout.read()
                    self.assertEqual(p.wait(timeout=HANG), want)
                finally:
                    if p.poll() is None:
                        p.kill()
                        p.wait()
                    p.stdout.close()


if __name__ == "__main__":
    unittest.main()
