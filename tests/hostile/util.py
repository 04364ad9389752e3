"""What the hostile-children tests share: a fake installer built from a common prelude
and a body per mode, a launcher on a private X server, exact pictures of any screen
from bkf_render, and looks into /proc (the launcher's children, their states).

Each fake installer is install.py under a share directory of the test's own; the
launcher runs it with /usr/bin/python3 -I. Whatever it sends into the launcher's pipe it
first appends to the side file "side" in the test's directory, so that a test can
compare install.log with exactly what was written. It waits on "go" files that the
test creates, so that a test checks each screen before the next output arrives.
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "window"))

import harness  # noqa: E402
from harness import Display, Launcher, wait_for  # noqa: E402,F401

RENDER = os.environ.get("BKF_RENDER", "")
CHECKING, SETUP, UPDATE, WORKING, FAILED, READY, CRASHED = range(7)

# Regions of the 960x600 canvas (x, y, w, h).
TITLE = (0, 0, 960, 100)
STEP = (0, 100, 700, 50)        # the working screen's step line, left of the clock
CLOCK = (700, 100, 260, 50)
BAR = (0, 156, 960, 22)         # the progress track and a fill that may run past it
LAST = (0, 186, 960, 40)        # the working screen's last line
MESSAGE = (0, 100, 960, 370)    # the failure screens' message and logs line
BUTTONS = (0, 476, 960, 92)
WORKING_STILL = [TITLE, STEP, LAST, BUTTONS]   # what does not move on the working screen

# The installer's common part. MODE is "--status" or "--download"; DIR is the test's
# directory (HOSTILE_DIR reaches the installer through the launcher's environment).
PRELUDE = r'''
import errno, hashlib, os, resource, signal, sys, time
MODE = sys.argv[-1]
DIR = os.environ["HOSTILE_DIR"]
DEST = sys.argv[sys.argv.index("--dest") + 1] if "--dest" in sys.argv else ""

def note(name, text):
    p = os.path.join(DIR, name)
    with open(p + ".tmp", "w") as f:
        f.write(str(text))
    os.rename(p + ".tmp", p)

def side(b):
    with open(os.path.join(DIR, "side"), "ab") as f:
        f.write(b)

def send(fd, b):
    while b:
        n = os.write(fd, b)
        b = b[n:]

def out(b, fd=1):
    """Sends b into the pipe, recorded in the side file first."""
    if isinstance(b, str):
        b = b.encode()
    side(b)
    send(fd, b)

def go(n, limit=60):
    """Waits until the test creates go.<n>."""
    p = os.path.join(DIR, "go.%s" % n)
    end = time.monotonic() + limit
    while not os.path.exists(p):
        if time.monotonic() > end:
            sys.exit(99)
        time.sleep(0.01)

def fds():
    """This process's open descriptors with their targets, the listing's own left out."""
    seen = []
    for f in sorted(os.listdir("/proc/self/fd"), key=int):
        try:
            seen.append("%s %s" % (f, os.readlink("/proc/self/fd/" + f)))
        except OSError:
            pass  # the descriptor of the listing itself, closed by now
    return "\n".join(seen)

def group():
    if os.environ.get("BKF_PGROUP") == "1":
        os.setpgid(0, 0)

def die(sig):
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    if sig != signal.SIGKILL:
        signal.signal(sig, signal.SIG_DFL)
    os.kill(os.getpid(), sig)
    time.sleep(10)

note("pid" + MODE, os.getpid())
'''

UPDATE_ANSWER = 'print(\'{"ready": false, "needs_disc": false}\', flush=True)\n'
READY_ANSWER = 'print(\'{"ready": true}\', flush=True)\n'


def installer(share, status=UPDATE_ANSWER, download="sys.exit(0)\n"):
    """Writes the fake install.py under share: status and download are the bodies of
    the two modes (Python source, run after the prelude)."""
    d = os.path.join(share, "src", "bkf", "tools", "install")
    os.makedirs(d, exist_ok=True)
    body = PRELUDE + "if MODE == '--status':\n" + indent(status) + \
        "else:\n" + indent(download)
    harness.write_program(os.path.join(d, "install.py"), body, 0o644)
    return os.path.join(d, "install.py")


def indent(src):
    return "".join("    " + ln + "\n" for ln in src.strip("\n").split("\n"))


def render(state, home, wrap=(), **fields):
    """The exact picture of a screen: state with the fields (msg, last_line, step_label,
    step, steps, progress, needs_disc; str or bytes) and the logs line of home."""
    assert RENDER, "BKF_RENDER is not set"
    d = tempfile.mkdtemp(prefix="bkf-hr-")
    try:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": d,
               "BKF_HOME": home, "HR_STATE": str(state)}
        envb = {k.encode(): v.encode() for k, v in env.items()}
        # The fields go through as raw bytes, so that invalid UTF-8 reaches the tool.
        for k, v in fields.items():
            envb[b"HR_" + k.upper().encode()] = v if isinstance(v, bytes) else \
                str(v).encode()
        out = os.path.join(d, "shot.bmp")
        r = subprocess.run(list(wrap) + [RENDER, out], env=envb, capture_output=True,
                           timeout=30)
        assert r.returncode == 0, r.stderr.decode(errors="replace")
        return harness.read_bmp(out)
    finally:
        shutil.rmtree(d, ignore_errors=True)


def proc_stat(pid):
    """(state letter, parent pid) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            s = f.read()
    except OSError:
        return None
    rest = s[s.rindex(")") + 2:].split()
    return rest[0], int(rest[1])


def children(pid):
    """[(pid, state letter)] of every child process of pid."""
    found = []
    for p in os.listdir("/proc"):
        if p.isdigit():
            st = proc_stat(int(p))
            if st and st[1] == pid:
                found.append((int(p), st[0]))
    return found


def alive(pid):
    st = proc_stat(pid)
    return st is not None and st[0] != "Z"


def sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


class Wrapped(Launcher):
    """The launcher started through a command prefix (unshare and a mount, say): the
    prefix must end by exec'ing its arguments, so that the pid stays the launcher's."""

    def __init__(self, display, prefix, **kw):
        super().__init__(display, **kw)
        self.prefix = list(prefix)

    def __enter__(self):
        self.out = open(os.path.join(self.tmp, "launcher.out"), "wb")
        self.proc = subprocess.Popen(self.prefix + [harness.LAUNCHER] + self.args,
                                     env=self.env, stdout=self.out,
                                     stderr=subprocess.STDOUT)
        return self


class Case(unittest.TestCase):
    """A private display and directory per test; launch() starts the launcher on a fake
    installer, and everything it started is killed when the test ends."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="bkf-hostile-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.share = os.path.join(self.dir, "share")
        self.home = os.path.join(self.dir, "data")
        self.display = self.enterContext(Display())

    def launch(self, status=UPDATE_ANSWER, download="sys.exit(0)\n", env=None,
               home=None, prefix=None, args=(), unset=()):
        """Starts the launcher on the fake installer; env is added to its environment,
        and the variables named in unset (HOME, BKF_HOME, ...) are taken out of it."""
        installer(self.share, status, download)
        e = {"BKF_SHARE": self.share, "HOSTILE_DIR": self.dir}
        e.update(env or {})
        self.home = home or self.home
        if prefix:
            la = Wrapped(self.display, prefix, env=e, home=self.home, args=args)
        else:
            la = Launcher(self.display, env=e, home=self.home, args=args)
        for k in unset:
            la.env.pop(k, None)
        self.la = self.enterContext(la)
        return la

    # -- the test's side of the fake's protocol

    def go(self, n):
        with open(os.path.join(self.dir, "go.%s" % n), "w"):
            pass

    def path(self, name):
        return os.path.join(self.dir, name)

    def noted(self, name, timeout=20):
        """The text that the fake noted under name, once it is there."""
        p = self.path(name)
        wait_for(lambda: os.path.exists(p), timeout, what="the note " + name)
        return read(p, "r")

    def log(self):
        return os.path.join(self.home, "logs", "install.log")

    # -- screens

    def shows(self, expected, rects=None, name="screen", timeout=20):
        """Waits until the window shows expected in every rect of rects (all of it when
        None); returns the picture."""
        la = self.la
        last = [None]

        def ok():
            img = la.grab()
            last[0] = img
            if img is None:
                return None
            if rects is None:
                return img if img.same(expected) else None
            return img if all(img.same(expected, r) for r in rects) else None
        try:
            img = wait_for(ok, timeout, 0.05, "the " + name)
            keep = os.environ.get("HOSTILE_SHOTS")
            if keep:
                os.makedirs(keep, exist_ok=True)
                tag = self.id().rsplit(".", 1)[-1] + "-" + name.replace(" ", "_")
                img.save(os.path.join(keep, tag + ".png"))
            return img
        except AssertionError:
            keep = os.environ.get("HOSTILE_KEEP")
            if keep and last[0] is not None:
                os.makedirs(keep, exist_ok=True)
                tag = self.id().rsplit(".", 1)[-1] + "-" + name.replace(" ", "_")
                last[0].save(os.path.join(keep, tag + "-got.png"))
                expected.save(os.path.join(keep, tag + "-want.png"))
            raise AssertionError("the window never showed the %s" % name)

    def update_then_build(self):
        """Waits for the update screen and presses Return on its "Build"."""
        self.la.window()
        self.shows(harness.render("update"), name="update screen")
        self.la.key("Return")

    def repaints(self, timeout=10):
        """The working screen's clock moves on: the window is being repainted."""
        first = self.la.grab()
        wait_for(lambda: not first.same(self.la.grab(), CLOCK), timeout, 0.1,
                 "the clock to move")

    def no_zombies(self, pid=None):
        pid = pid or self.la.proc.pid
        z = [c for c in children(pid) if c[1] == "Z"]
        self.assertEqual(z, [], "zombie children of the launcher")

    def no_children(self, pid=None, timeout=5):
        pid = pid or self.la.proc.pid
        wait_for(lambda: not children(pid), timeout, 0.05, "the launcher to have no child")

    def ends(self, timeout=30):
        """The launcher's exit status, once it has ended."""
        return self.la.wait(timeout)


def stamp():
    return time.monotonic()
