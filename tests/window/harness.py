"""Drives the real launcher in a real window: the one harness of the window and hostile
tests, scripts/valgrind and scripts/demo.

Display() starts a private Xvfb on a free display number and ends it with SIGTERM.
Launcher() runs $BKF_LAUNCHER on it (through a command prefix when asked: valgrind,
unshare, setpriv) with a clean environment and data directory of its own, finds its
window by process id, sends keys, clicks and signals, grabs the window's pixels, and
waits until they show an expected picture. picture() draws that picture with
$BKF_RENDER, exactly as the launcher draws the screen. The region table below names
the parts of the 960x600 canvas that the tests compare. Every process a Launcher
starts carries a tag in its environment and is killed by it when the Launcher ends.
To understand the rest, start reading Launcher.
"""

import ctypes
import os
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import uuid

LAUNCHER = os.environ.get("BKF_LAUNCHER", "")
# bkf_render of the same build: the test build puts it in tests/ beside the launcher.
RENDER = os.environ.get("BKF_RENDER") or os.path.join(os.path.dirname(LAUNCHER), "tests",
                                                       "bkf_render")
PYTHON = "/usr/bin/python3"
PATH = os.environ.get("PATH", "/usr/bin:/bin")

# Regions of the 960x600 canvas (x, y, w, h); see the layout in src/drawing.cpp.
TITLE = (0, 0, 960, 100)
STEP = (0, 100, 700, 50)        # the working screen's step line, left of the clock
CLOCK = (700, 100, 260, 50)     # the elapsed time, which ends at x = 912
PROGRESS = (0, 150, 960, 36)    # the progress track and a fill that may run past it
TRACK = (48, 160, 864, 14)      # the track itself
LAST = (0, 186, 960, 40)        # the working screen's last line
BUTTONS = (0, 470, 960, 130)    # every screen's buttons and the working screen's hint
WORKING_STILL = [TITLE, STEP, LAST, BUTTONS]  # what never moves on the working screen
# Button faces of a two-button bar with short labels ("Quit", "Play"); the working
# screen's one "Cancel" is RIGHT.
LEFT = (532, 488, 180, 64)
RIGHT = (732, 488, 180, 64)

GOLD = (255, 204, 51)       # the progress fill and the focus ring
FACE = (250, 250, 250)      # the focused button's face
TRACK_RGB = (30, 24, 60)

STATES = {"checking": 0, "setup": 1, "update": 2, "working": 3, "failed": 4, "ready": 5,
          "crashed": 6}


def wait_for(cond, timeout=15.0, step=0.02, what="condition"):
    """Polls cond() until it returns something true; returns that, or raises."""
    end = time.monotonic() + timeout
    while True:
        v = cond()
        if v:
            return v
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(step)


def write_program(path, body, mode=0o755):
    """Writes a fake program (a script with its #! line) and makes it executable."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(body)
    os.chmod(path, mode)
    return path


def _die_with_parent(sig):
    """A preexec_fn: sig to the child when the process that started it dies, even by
    SIGKILL, so that nothing outlives a test runner that was killed."""
    def arm():
        ctypes.CDLL(None, use_errno=True).prctl(1, sig)  # PR_SET_PDEATHSIG
    return arm


# Processes ----------------------------------------------------------------------------

def proc_stat(pid):
    """(state letter, parent pid) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            s = f.read()
    except OSError:
        return None
    rest = s[s.rindex(")") + 2:].split()
    return rest[0], int(rest[1])


def alive(pid):
    """True while pid exists and is not a zombie."""
    st = proc_stat(pid)
    return st is not None and st[0] != "Z"


def gone(pid):
    """True once pid has been reaped: not even a zombie is left."""
    return proc_stat(pid) is None


def children(pid):
    """[(pid, state letter)] of every child process of pid."""
    found = []
    for p in os.listdir("/proc"):
        if p.isdigit():
            st = proc_stat(int(p))
            if st and st[1] == pid:
                found.append((int(p), st[0]))
    return found


def tagged(tag):
    """The live processes whose environment holds BKF_TEST_TAG=tag."""
    mark = ("BKF_TEST_TAG=" + tag).encode()
    found = []
    for p in os.listdir("/proc"):
        if not p.isdigit() or int(p) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % p, "rb") as f:
                if mark in f.read().split(b"\0") and alive(int(p)):
                    found.append(int(p))
        except OSError:
            pass
    return found


def kill_tagged(tag):
    """SIGKILLs every process tagged with tag until none is left; reaps ours."""
    for _ in range(50):
        found = tagged(tag)
        for p in found:
            try:
                os.kill(p, signal.SIGKILL)
            except OSError:
                pass
        try:
            while os.waitpid(-1, os.WNOHANG)[0] > 0:
                pass
        except ChildProcessError:
            pass
        if not found:
            return
        time.sleep(0.02)


# Pictures -----------------------------------------------------------------------------

class Image:
    """An RGB picture: w, h and 3 bytes a pixel, top row first."""

    def __init__(self, w, h, data):
        self.w, self.h, self.data = w, h, data

    def px(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.data[i:i + 3])

    def region(self, x, y, w, h):
        return b"".join(self.data[(yy * self.w + x) * 3:(yy * self.w + x + w) * 3]
                        for yy in range(y, y + h))

    def _spans(self, rects, skip):
        """(offset, length) of the byte runs within rects that skip leaves."""
        for x0, y0, w, h in rects or [(0, 0, self.w, self.h)]:
            for y in range(y0, y0 + h):
                cuts = sorted((max(sx, x0), min(sx + sw, x0 + w)) for sx, sy, sw, sh in skip
                              if sy <= y < sy + sh and sx < x0 + w and sx + sw > x0)
                x = x0
                for c0, c1 in cuts + [(x0 + w, x0 + w)]:
                    if c0 > x:
                        yield (y * self.w + x) * 3, (c0 - x) * 3
                    x = max(x, c1)

    def same(self, other, rects=None, skip=()):
        """True when both pictures have the same pixels in every rect of rects (all of
        the picture when None), leaving out the rectangles in skip."""
        if (self.w, self.h) != (other.w, other.h):
            return False
        if rects is None and not skip:
            return self.data == other.data
        return all(self.data[o:o + n] == other.data[o:o + n]
                   for o, n in self._spans(rects, skip))

    def differing(self, other, rects=None, skip=()):
        """How many pixels differ where same() looks."""
        if (self.w, self.h) != (other.w, other.h):
            return self.w * self.h
        n = 0
        for o, length in self._spans(rects, skip):
            a, b = self.data[o:o + length], other.data[o:o + length]
            if a != b:
                n += sum(a[i:i + 3] != b[i:i + 3] for i in range(0, length, 3))
        return n

    def save(self, path):
        """Saves as PNG when ImageMagick is there, else as PPM; returns the path."""
        ppm = path.rsplit(".", 1)[0] + ".ppm"
        with open(ppm, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.w, self.h) + self.data)
        if path.endswith(".png") and shutil.which("convert"):
            subprocess.run(["convert", ppm, path], check=False)
            os.unlink(ppm)
            return path
        return ppm


def read_bmp(path):
    """Reads a 32-bit BMP (bottom-up or top-down) into an Image."""
    with open(path, "rb") as f:
        b = f.read()
    off = struct.unpack_from("<I", b, 10)[0]
    w, h = struct.unpack_from("<ii", b, 18)
    assert struct.unpack_from("<H", b, 28)[0] == 32, "expected a 32-bit BMP"
    top_down = h < 0
    h = abs(h)
    out = bytearray(w * h * 3)
    for row in range(h):
        src = off + (row if top_down else h - 1 - row) * w * 4
        line = b[src:src + w * 4]
        o = row * w * 3
        out[o:o + w * 3:3] = line[2::4]
        out[o + 1:o + w * 3:3] = line[1::4]
        out[o + 2:o + w * 3:3] = line[0::4]
    return Image(w, h, bytes(out))


def read_ppm(b):
    """Parses a binary PPM of 8-bit channels (ImageMagick's "ppm:-") into an Image."""
    fields, pos = [], 2
    while len(fields) < 3:
        while b[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not b[end:end + 1].isspace():
            end += 1
        fields.append(int(b[pos:end]))
        pos = end
    w, h, _ = fields
    return Image(w, h, b[pos + 1:pos + 1 + w * h * 3])


_PICTURES = {}


def picture(state, home, wrap=(), **fields):
    """The exact picture of a screen as the launcher draws it: state is a word of
    STATES; fields are msg, last_line, step_label, step, steps, progress, needs_disc and
    blocked (str, bytes or numbers; bytes go through raw, invalid UTF-8 included); home
    gives the logs line. "setup" implies needs_disc=1. wrap is a command prefix for the
    render (a mount namespace without fonts, say)."""
    if state == "setup":
        fields.setdefault("needs_disc", 1)
    key = (state, home, tuple(wrap), tuple(sorted(fields.items())))
    if key not in _PICTURES:
        d = tempfile.mkdtemp(prefix="bkf-picture-")
        try:
            env = {b"PATH": PATH.encode(), b"HOME": d.encode(), b"BKF_HOME": home.encode(),
                   b"HR_STATE": b"%d" % STATES[state]}
            for k, v in fields.items():
                env[b"HR_" + k.upper().encode()] = v if isinstance(v, bytes) else \
                    str(v).encode()
            out = os.path.join(d, "screen.bmp")
            r = subprocess.run(list(wrap) + [RENDER, out], env=env, capture_output=True,
                               timeout=30)
            assert r.returncode == 0, "bkf_render: " + r.stderr.decode(errors="replace")
            _PICTURES[key] = read_bmp(out)
        finally:
            shutil.rmtree(d, ignore_errors=True)
    return _PICTURES[key]


# The X server -------------------------------------------------------------------------

class Display:
    """A private Xvfb (or $BKF_XVFB) on a free display number; name is ":N".

    Xvfb picks the number itself (-displayfd): the lowest whose socket it can bind, so
    it never lands on a running server's display, and a stale socket file or lock file
    does not stop it. It ends with SIGTERM, also when the process that started it dies,
    so that it removes its socket; SIGKILL only when SIGTERM did not end it in time."""

    def __enter__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            [os.environ.get("BKF_XVFB") or "Xvfb", "-displayfd", str(w), "-noreset",
             "-nolisten", "tcp", "-screen", "0", "1280x800x24"],
            pass_fds=[w], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True, preexec_fn=_die_with_parent(signal.SIGTERM))
        os.close(w)
        num = b""
        end = time.monotonic() + 30
        try:
            while not num.endswith(b"\n"):
                left = end - time.monotonic()
                if left <= 0 or not select.select([r], [], [], left)[0]:
                    raise AssertionError("Xvfb did not start")
                chunk = os.read(r, 16)
                if not chunk:
                    raise AssertionError("Xvfb ended at start")
                num += chunk
        except BaseException:
            self.__exit__()
            raise
        finally:
            os.close(r)
        self.number = int(num)
        self.name = ":%d" % self.number
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.proc.wait()
        return False

    def run(self, args, timeout=20):
        """Runs an X client on this display; returns the finished process, or None when
        it did not end in time."""
        try:
            return subprocess.run(args, capture_output=True, timeout=timeout,
                                  env={"DISPLAY": self.name, "PATH": PATH})
        except subprocess.TimeoutExpired:
            return None

    def xdo(self, *args, check=True):
        r = self.run(["xdotool"] + [str(a) for a in args])
        if check and (r is None or r.returncode != 0):
            raise AssertionError("xdotool %s: %s" % (
                args, "no answer" if r is None else r.stderr.decode(errors="replace")))
        return r.stdout.decode() if r is not None else ""

    def grab(self, win):
        """The pixels of window win ("root" for the whole screen) as an Image, or None
        when it cannot be read (a window that went away meanwhile)."""
        r = self.run(["import", "-window", str(win), "-depth", "8", "ppm:-"], timeout=5)
        if r is None or r.returncode != 0 or not r.stdout.startswith(b"P6"):
            return None
        return read_ppm(r.stdout)


# The launcher -------------------------------------------------------------------------

class Launcher:
    """The real launcher in a real window on display. Its environment is PATH, HOME
    (dir), DISPLAY, the software renderer, BKF_HOME=home, BKF_PYTHON and the tag, then
    env on top (a value of None takes a variable out). Its output goes to
    <dir>/<name>.log, the pictures of a screen it never showed beside it. prefix is a
    command that ends by exec'ing its arguments, so that the process stays the
    launcher's (valgrind, unshare, setpriv)."""

    def __init__(self, display, dir, home, env=None, args=(), prefix=(), name="launcher"):
        self.display, self.dir, self.home, self.name = display, dir, home, name
        self.tag = uuid.uuid4().hex
        self.env = {
            "PATH": PATH,
            "HOME": dir,
            "DISPLAY": display.name,
            "SDL_RENDER_DRIVER": "software",
            "SDL_AUDIODRIVER": "dummy",
            "BKF_HOME": home,
            "BKF_PYTHON": PYTHON,
            "BKF_TEST_TAG": self.tag,
        }
        self.env.update(env or {})
        self.env = {k: v for k, v in self.env.items() if v is not None}
        self.command = list(prefix) + [LAUNCHER] + list(args)
        self.log = os.path.join(dir, name + ".log")
        self.proc = None
        self.win = None

    def __enter__(self):
        with open(self.log, "wb") as out:
            self.proc = subprocess.Popen(self.command, env=self.env, stdout=out,
                                         stderr=subprocess.STDOUT,
                                         preexec_fn=_die_with_parent(signal.SIGKILL))
        return self

    def __exit__(self, *exc):
        kill_tagged(self.tag)
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
        if self.proc is not None:
            self.proc.wait()
        return False

    def output(self):
        """What the launcher wrote on its standard output and error so far."""
        with open(self.log, "rb") as f:
            return f.read().decode(errors="replace")

    def find_window(self):
        """The id of this launcher's visible window, or None: of its own process, as
        two launchers may share a display."""
        r = self.display.xdo("search", "--all", "--onlyvisible", "--pid", self.proc.pid,
                             "--name", "^Brackenfold$", check=False).split()
        self.win = r[0] if r else None
        return self.win

    def window(self, timeout=20):
        """Waits until the window is up; returns its id."""
        return wait_for(self.find_window, timeout, what="the launcher's window")

    def grab(self):
        """The window's pixels, or None. The window is looked up for every picture: SDL
        may replace its first window while it sets up the renderer (slowly under
        valgrind), and the window is hidden while the game runs."""
        win = self.find_window()
        img = self.display.grab(win) if win else None
        return img if img is not None and (img.w, img.h) == (960, 600) else None

    def shows(self, expected, rects=None, skip=(), name="screen", timeout=20):
        """Waits until the window shows expected in every rect of rects (all of it when
        None), leaving out the rectangles in skip; returns the picture. When it never
        does, the last picture and the expected one are saved beside the log."""
        last = [None]

        def ok():
            img = self.grab()
            if img is not None:
                last[0] = img
            return img if img is not None and img.same(expected, rects, skip) else None
        try:
            return wait_for(ok, timeout, 0.05, "the " + name)
        except AssertionError:
            stem = os.path.join(self.dir, "%s-%s" % (self.name, name.replace(" ", "_")))
            want = expected.save(stem + "-want.png")
            if last[0] is None:
                raise AssertionError("the window never showed the %s (no picture of it "
                                     "could be taken); wanted %s" % (name, want))
            got = last[0].save(stem + "-got.png")
            raise AssertionError("the window never showed the %s: %d pixels differ; got "
                                 "%s, wanted %s" % (name, last[0].differing(expected, rects,
                                                                            skip), got, want))

    def focus(self):
        self.display.xdo("windowfocus", "--sync", self.window())

    def key(self, *names):
        """Focuses the window and types each key (xdotool names: Return, shift+Tab)."""
        self.focus()
        for n in names:
            self.display.xdo("key", n)

    def hold_key(self, name, seconds=1.5):
        """Holds a key down for a while, so that it repeats."""
        self.focus()
        self.display.xdo("keydown", name)
        time.sleep(seconds)
        self.display.xdo("keyup", name)

    def move(self, x, y):
        self.display.xdo("mousemove", "--window", self.window(), x, y)

    def click(self, x, y, button=1):
        self.move(x, y)
        self.display.xdo("click", button)

    def terminate(self):
        """SIGTERM, which SDL turns into a quit: what closing the window does."""
        self.proc.send_signal(signal.SIGTERM)

    def kill(self):
        self.proc.kill()

    def wait(self, timeout=30):
        """The launcher's exit status, once it has ended."""
        return self.proc.wait(timeout)
