"""Fake installers and games for the real-window tests.

A fake installer lives where the launcher looks for it (<share>/src/bkf/tools/install/
install.py) and records every run as one JSON line: its real command line (from
/proc/self/cmdline, interpreter and "-I" included), the two variables a build run gets,
its process id and process group. On "--status" it prints the answer it was given; on
"--download" it makes its own process group when BKF_PGROUP is "1" and then runs the
body the test wrote, which drives it step by step through small helpers:

    out(b"...")   write bytes to standard output, unbuffered
    err(b"...")   the same on standard error
    hold("name")  block until the test calls release("name") (a file in the control dir)
    grandchild()  start a child in the installer's group that sleeps until signalled
    on_term(s)    on SIGTERM: record it, reap the grandchild, linger s seconds, exit 143
    note(k, v)    add a record line of its own
    RUN           the number of this build run, 1 for the first

A fake game records its argument vector and run number, writes a line to its output
(which the launcher sends to bkf.log), optionally holds until released, and exits with
the status the test chose for that run. Nothing here ever waits forever: every hold
gives up after a minute, so a fake left behind by a broken launcher ends by itself.
"""

import json
import os

from harness import PYTHON, write_program, wait_for

HOLD_LIMIT = 60.0

_PREAMBLE = r'''#!%(python)s
import ctypes, json, os, signal, subprocess, sys, time
REC = %(rec)r
CTL = %(ctl)r

# Dies with the launcher: a fake never outlives a launcher that a test runner killed.
ctypes.CDLL(None).prctl(1, signal.SIGKILL)
if os.getppid() == 1:
    sys.exit(98)

def note(kind, **kw):
    kw["kind"] = kind
    kw["t"] = time.time()
    with open(REC, "a") as f:
        f.write(json.dumps(kw) + "\n")

def runs(kind):
    try:
        with open(REC) as f:
            return sum(1 for l in f if json.loads(l)["kind"] == kind)
    except OSError:
        return 0

def out(b):
    os.write(1, b)

def err(b):
    os.write(2, b)

def hold(name, limit=%(limit)r):
    end = time.monotonic() + limit
    while not os.path.exists(os.path.join(CTL, name)):
        if time.monotonic() > end:
            note("hold-timeout", name=name)
            sys.exit(99)
        time.sleep(0.01)
'''

_INSTALLER = _PREAMBLE + r'''
CHILD = None

def grandchild():
    global CHILD
    CHILD = subprocess.Popen([sys.executable, "-c",
        "import ctypes, signal, time\nctypes.CDLL(None).prctl(1, signal.SIGKILL)\n"
        "for _ in range(6000): time.sleep(0.01)"])
    note("grandchild", pid=CHILD.pid, pgid=os.getpgid(CHILD.pid))

def on_term(linger):
    def h(sig, frame):
        note("term", pid=os.getpid())
        st = None
        if CHILD is not None:
            st = CHILD.wait()
        note("grandchild-end", status=st)
        time.sleep(linger)
        note("exit", pid=os.getpid())
        os._exit(143)
    signal.signal(signal.SIGTERM, h)

cmdline = [a.decode() for a in open("/proc/self/cmdline", "rb").read().split(b"\0")[:-1]]
env = {k: os.environ.get(k) for k in ("BKF_PGROUP", "PYTHONUNBUFFERED")}
mode = sys.argv[-1]
if mode == "--status":
    note("status", cmdline=cmdline, env=env, pid=os.getpid())
    sys.stdout.write(%(answer)r)
    sys.exit(%(status_exit)d)
if os.environ.get("BKF_PGROUP") == "1":
    os.setpgid(0, 0)
RUN = runs("build") + 1
note("build", cmdline=cmdline, env=env, pid=os.getpid(), pgid=os.getpgid(0), run=RUN)
'''

_GAME = _PREAMBLE + r'''
RUN = runs("game") + 1
note("game", argv=sys.argv, run=RUN, pid=os.getpid(),
     env={k: os.environ.get(k) for k in ("BKF_PGROUP", "PYTHONUNBUFFERED")})
print("game run %%d" %% RUN, flush=True)
EXITS = %(exits)r
HOLDS = %(holds)r
if RUN in HOLDS:
    hold("game-%%d" %% RUN)
note("game-exit", run=RUN)
sys.exit(EXITS[min(RUN, len(EXITS)) - 1])
'''


class Fakes:
    """The fake installer under share and the fake game under home, recording into
    one file of the test's own tmp directory."""

    def __init__(self, tmp, home):
        self.share = os.path.join(tmp, "share")
        self.home = home
        self.ctl = os.path.join(tmp, "ctl")
        self.rec = os.path.join(tmp, "record.jsonl")
        os.makedirs(self.ctl, exist_ok=True)

    def _fill(self, text, **kw):
        kw.update(python=PYTHON, rec=self.rec, ctl=self.ctl, limit=HOLD_LIMIT)
        return text % kw

    def installer(self, answer, body="", status_exit=0):
        """Writes install.py: answer is the status query's output, body the Python
        code of a build run (indented as module-level code)."""
        d = os.path.join(self.share, "src", "bkf", "tools", "install")
        os.makedirs(d, exist_ok=True)
        os.makedirs(os.path.join(self.share, "src", "korvex"), exist_ok=True)
        code = self._fill(_INSTALLER, answer=answer, status_exit=status_exit)
        return write_program(os.path.join(d, "install.py"), code + body + "\n", 0o644)

    @property
    def script(self):
        return os.path.join(self.share, "src", "bkf", "tools", "install", "install.py")

    def game(self, exits=(0,), holds=()):
        """Writes the game at <home>/build/host/bkf; exits[i] is run i+1's status (the
        last one repeats); the runs in holds wait for release("game-N")."""
        d = os.path.join(self.home, "build", "host")
        os.makedirs(d, exist_ok=True)
        code = self._fill(_GAME, exits=list(exits), holds=list(holds))
        return write_program(os.path.join(d, "bkf"), code)

    @property
    def exe(self):
        return os.path.join(self.home, "build", "host", "bkf")

    def release(self, name):
        with open(os.path.join(self.ctl, name), "w"):
            pass

    def records(self, kind=None):
        try:
            with open(self.rec) as f:
                recs = [json.loads(l) for l in f]
        except OSError:
            return []
        return [r for r in recs if kind is None or r["kind"] == kind]

    def wait_record(self, kind, n=1, timeout=20):
        """Waits until n records of kind exist; returns the n-th."""
        return wait_for(lambda: len(self.records(kind)) >= n and self.records(kind)[n - 1],
                        timeout, what="%d %s record(s)" % (n, kind))


def alive(pid):
    """True while pid exists and is not a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def gone(pid):
    """True once pid has been reaped: not even a zombie is left."""
    return not os.path.exists("/proc/%d" % pid)


def log_bytes(home, name="install.log"):
    with open(os.path.join(home, "logs", name), "rb") as f:
        return f.read()
