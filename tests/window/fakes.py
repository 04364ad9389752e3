"""Fake installers and games that the real-window tests and roads write.

A fake installer is install.py where the launcher looks for it (<share>/src/bkf/tools/
install/install.py). Every run first records itself as one JSON line in the record
file: "status" or "build", its process id and the group it was started in, its real
command line (from /proc/self/cmdline, interpreter and "-I" included), the --dest it
was given, the two variables a build gets, and its open descriptors. A status query
then runs the test's status code and prints the answer; a build makes its own process
group when BKF_PGROUP is "1" and runs the test's build code, and exits 0 when that code
falls off its end. The code runs as module-level Python with these helpers:

    out(b, fd=1)    write all of b (str is encoded) into the pipe, after appending it
                    to the run's sent file: install.log must equal sent() byte for byte
    send(fd, b)     the same, unrecorded, for floods too big to keep
    hold(name)      block until the test calls release(name); gives up after a minute
    note(kind, ...) a record line of its own, with the time (time.monotonic())
    grandchild()    start a child in the installer's group that sleeps until signalled
    on_term(linger) on SIGTERM: note "term", reap the grandchild, linger, note "exit",
                    and end with status 143
    die(sig)        end by the signal, without a core
    MODE, DEST, RUN "--status" or "--download", the data directory, the build's number
    DIR             the directory of the record file

A fake game records its argument vector, run number, environment and descriptors,
prints "game run N" (which the launcher sends to bkf.log), holds when asked, and exits
with the status chosen for that run. Nothing here waits forever: a fake left behind by
a broken launcher ends by itself within a minute or two.
"""

import json
import os

from harness import PYTHON, wait_for, write_program

# Status answers.
UPDATE = "{}"
NEEDS_DISC = '{"ready": false, "needs_disc": true}'
READY = '{"ready": true}'

_PRELUDE = r'''#!%(python)s
import errno, hashlib, json, os, resource, signal, subprocess, sys, time
DIR = %(dir)r
CTL = os.path.join(DIR, "ctl")

def fds():
    """This process's open descriptors and their targets, the listing's own left out."""
    seen = {}
    for f in sorted(os.listdir("/proc/self/fd"), key=int):
        try:
            seen[f] = os.readlink("/proc/self/fd/" + f)
        except OSError:
            pass
    return seen

ME = dict(pid=os.getpid(), pgid=os.getpgid(0), fds=fds(), argv=sys.argv,
          env={k: os.environ.get(k) for k in ("BKF_PGROUP", "PYTHONUNBUFFERED")})

def note(kind, **fields):
    fields.update(kind=kind, t=time.monotonic())
    with open(os.path.join(DIR, "record.jsonl"), "a") as f:
        f.write(json.dumps(fields) + "\n")

def runs(kind):
    try:
        with open(os.path.join(DIR, "record.jsonl")) as f:
            return sum(1 for l in f if json.loads(l)["kind"] == kind)
    except OSError:
        return 0

def send(fd, b):
    while b:
        b = b[os.write(fd, b):]

def out(b, fd=1):
    if isinstance(b, str):
        b = b.encode()
    with open(os.path.join(DIR, "sent.%%s" %% RUN), "ab") as f:
        f.write(b)
    send(fd, b)

def hold(name, limit=60):
    end = time.monotonic() + limit
    while not os.path.exists(os.path.join(CTL, name)):
        if time.monotonic() > end:
            note("hold-timeout", name=name)
            sys.exit(99)
        time.sleep(0.01)

def die(sig):
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    if sig != signal.SIGKILL:
        signal.signal(sig, signal.SIG_DFL)
    os.kill(os.getpid(), sig)
    time.sleep(10)
'''

_INSTALLER = _PRELUDE + r'''
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
        note("grandchild-end", status=CHILD.wait() if CHILD is not None else None)
        time.sleep(linger)
        note("exit", pid=os.getpid())
        os._exit(143)
    signal.signal(signal.SIGTERM, h)

with open("/proc/self/cmdline", "rb") as f:
    ME["cmdline"] = [a.decode(errors="replace") for a in f.read().split(b"\0")[:-1]]
MODE = sys.argv[-1]
DEST = sys.argv[sys.argv.index("--dest") + 1] if "--dest" in sys.argv else ""
ME["dest"] = DEST
if MODE == "--status":
    RUN = "status"
    note("status", **ME)
%(status)s
    sys.stdout.write(%(answer)r)
    sys.exit(%(status_exit)d)
if os.environ.get("BKF_PGROUP") == "1":
    os.setpgid(0, 0)
RUN = runs("build") + 1
note("build", run=RUN, **ME)
'''

# The launcher does not tie the game to its own life; the fake ties itself, so that it
# never outlives a test that was killed.
_GAME = _PRELUDE + r'''
import ctypes
ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
RUN = runs("game") + 1
note("game", run=RUN, **ME)
print("game run %%d" %% RUN, flush=True)
if RUN in %(holds)r:
    hold("game-%%d" %% RUN)
note("game-exit", run=RUN)
EXITS = %(exits)r
sys.exit(EXITS[min(RUN, len(EXITS)) - 1])
'''


def _indent(code):
    return "".join("    " + ln + "\n" for ln in code.strip("\n").split("\n"))


class Fakes:
    """The fake installer under <dir>/share and the fake game in a data directory,
    recording into <dir>/record.jsonl; the test's control files are in <dir>/ctl."""

    def __init__(self, dir):
        self.dir = dir
        self.share = os.path.join(dir, "share")
        self.ctl = os.path.join(dir, "ctl")
        self.rec = os.path.join(dir, "record.jsonl")
        os.makedirs(self.ctl, exist_ok=True)

    @property
    def script(self):
        return os.path.join(self.share, "src", "bkf", "tools", "install", "install.py")

    def installer(self, answer=UPDATE, build="", status="", status_exit=0):
        """Writes install.py: a status query runs the code status, prints answer and
        exits with status_exit; a build runs the code build."""
        os.makedirs(os.path.join(self.share, "src", "korvex"), exist_ok=True)
        code = _INSTALLER % dict(python=PYTHON, dir=self.dir, answer=answer,
                                 status_exit=status_exit, status=_indent(status or "pass"))
        return write_program(self.script, code + build + "\n", 0o644)

    def game(self, home, exits=(0,), holds=()):
        """Writes the game at <home>/build/host/bkf: exits[i] is the status of run i+1
        (the last one repeats); the runs in holds wait for release("game-N")."""
        code = _GAME % dict(python=PYTHON, dir=self.dir, exits=list(exits),
                            holds=list(holds))
        return write_program(os.path.join(home, "build", "host", "bkf"), code)

    def release(self, name):
        """Lets the fake's hold(name) go on."""
        with open(os.path.join(self.ctl, name), "w"):
            pass

    def records(self, kind=None):
        try:
            with open(self.rec) as f:
                recs = [json.loads(ln) for ln in f]
        except OSError:
            return []
        return [r for r in recs if kind is None or r["kind"] == kind]

    def wait_record(self, kind, n=1, timeout=20):
        """Waits until there are n records of kind; returns the n-th."""
        def nth():
            recs = self.records(kind)
            return recs[n - 1] if len(recs) >= n else None
        return wait_for(nth, timeout, what="%d %s record(s)" % (n, kind))

    def sent(self, run=None):
        """The bytes that build run (by default the latest) sent into the pipe."""
        if run is None:
            run = len(self.records("build"))
        try:
            with open(os.path.join(self.dir, "sent.%d" % run), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""


def descriptors(record):
    """A record's open descriptors, {number: target}."""
    return {int(k): v for k, v in record["fds"].items()}
