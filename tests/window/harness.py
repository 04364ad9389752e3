"""Drives the real launcher in a real window under Xvfb, for the tests.

Display() starts a private X server on a free display number (-displayfd), Launcher()
runs the launcher on it with an environment and a data directory of its own, finds its
window by title, sends keys, clicks and SIGTERM, and reads the window's pixels. render()
gets the expected pixels of a screen from the launcher's screenshot mode. Every process
that a test started (the launcher, its installer and game, their children) carries a
tag in its environment, and is killed by the tag when the test ends, also on failure.
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
PYTHON = "/usr/bin/python3"


def _die_with_parent():
    """In a forked child before exec: SIGKILL when the test process dies, even by
    SIGKILL, so that an Xvfb or launcher never outlives a test runner that was killed."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


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
    with open(path, "w") as f:
        f.write(body)
    os.chmod(path, mode)
    return path


def kill_tagged(tag):
    """SIGKILLs every process whose environment holds BKF_TEST_TAG=tag; reaps ours."""
    mark = ("BKF_TEST_TAG=" + tag).encode()
    for _ in range(50):
        found = False
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or int(pid) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    env = f.read().split(b"\0")
            except OSError:
                continue
            if mark in env:
                found = True
                try:
                    os.kill(int(pid), signal.SIGKILL)
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


class Image:
    """An RGB picture: w, h and 3 bytes a pixel, top row first."""

    def __init__(self, w, h, data):
        self.w, self.h, self.data = w, h, data

    def px(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.data[i:i + 3])

    def region(self, x, y, w, h):
        rows = []
        for yy in range(y, y + h):
            i = (yy * self.w + x) * 3
            rows.append(self.data[i:i + w * 3])
        return b"".join(rows)

    def differing(self, other, rect=None, skip=()):
        """The number of pixels that differ from other within rect (x, y, w, h; the
        whole picture when None), leaving out the rectangles in skip."""
        x0, y0, w, h = rect or (0, 0, self.w, self.h)
        n = 0
        for y in range(y0, y0 + h):
            cut = [(sx, sx + sw) for sx, sy, sw, sh in skip if sy <= y < sy + sh]
            i = (y * self.w + x0) * 3
            a = self.data[i:i + w * 3]
            b = other.data[i:i + w * 3]
            if a == b:
                continue
            for x in range(w):
                if a[x * 3:x * 3 + 3] != b[x * 3:x * 3 + 3] and \
                        not any(c0 <= x0 + x < c1 for c0, c1 in cut):
                    n += 1
        return n

    def same(self, other, rect=None):
        """True when both pictures have the same pixels in rect (x, y, w, h), or all."""
        if (self.w, self.h) != (other.w, other.h):
            return False
        if rect is None:
            return self.data == other.data
        return self.region(*rect) == other.region(*rect)

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
    """Reads the launcher's 32-bit BMP (bottom-up or top-down) into an Image."""
    with open(path, "rb") as f:
        b = f.read()
    off = struct.unpack_from("<I", b, 10)[0]
    w, h = struct.unpack_from("<ii", b, 18)
    bpp = struct.unpack_from("<H", b, 28)[0]
    assert bpp == 32, "expected a 32-bit BMP"
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


def render(state, env=None):
    """The screen that screenshot mode draws for the state word, as an Image."""
    d = tempfile.mkdtemp(prefix="bkf-shot-")
    try:
        path = os.path.join(d, "shot.bmp")
        e = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": d}
        e.update(env or {})
        e["BKF_LAUNCHER_SHOT"] = path
        e["BKF_LAUNCHER_STATE"] = state
        e.pop("DISPLAY", None)
        e.pop("SDL_VIDEODRIVER", None)
        r = subprocess.run([LAUNCHER], env=e, capture_output=True, timeout=30)
        assert r.returncode == 0, r.stderr.decode(errors="replace")
        return read_bmp(path)
    finally:
        shutil.rmtree(d, ignore_errors=True)


class Display:
    """A private Xvfb (or $BKF_XVFB) on the first free display; name is ":N"."""

    def __enter__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            [os.environ.get("BKF_XVFB") or "Xvfb", "-displayfd", str(w), "-noreset",
             "-nolisten", "tcp", "-screen", "0", "1280x800x24"],
            pass_fds=[w], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True, preexec_fn=_die_with_parent)
        os.close(w)
        num = b""
        end = time.monotonic() + 20
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
            self.__exit__(None, None, None)
            raise
        finally:
            os.close(r)
        self.name = ":" + num.decode().strip()
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        return False


class Launcher:
    """The real launcher in a real window on display, with env on top of a clean
    environment (PATH, HOME, DISPLAY, the software renderer, its own BKF_HOME)."""

    def __init__(self, display, env=None, args=(), home=None):
        self.tmp = tempfile.mkdtemp(prefix="bkf-win-")
        self.home = home or os.path.join(self.tmp, "data")
        self.tag = uuid.uuid4().hex
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.tmp,
            "DISPLAY": display.name,
            "SDL_RENDER_DRIVER": "software",
            "SDL_AUDIODRIVER": "dummy",
            "BKF_HOME": self.home,
            "BKF_PYTHON": PYTHON,
            "BKF_TEST_TAG": self.tag,
        }
        self.env.update(env or {})
        self.args = list(args)
        self.display = display
        self.proc = None
        self.win = None

    def __enter__(self):
        self.out = open(os.path.join(self.tmp, "launcher.out"), "wb")
        self.proc = subprocess.Popen([LAUNCHER] + self.args, env=self.env,
                                     stdout=self.out, stderr=subprocess.STDOUT,
                                     preexec_fn=_die_with_parent)
        return self

    def __exit__(self, *exc):
        kill_tagged(self.tag)
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.out.close()
        if exc[0] is None:
            shutil.rmtree(self.tmp, ignore_errors=True)
        return False

    def output(self):
        with open(os.path.join(self.tmp, "launcher.out"), "rb") as f:
            return f.read().decode(errors="replace")

    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True,
                           env={"DISPLAY": self.display.name, "PATH": self.env["PATH"]},
                           timeout=20)
        if check and r.returncode != 0:
            raise AssertionError("xdotool %s: %s" % (args, r.stderr.decode()))
        return r.stdout.decode()

    def find_window(self):
        """The id of this launcher's visible window, or None: of its own process, as
        two launchers may share a display."""
        if self.proc is None:
            return None
        r = self.xdo("search", "--all", "--onlyvisible", "--pid", self.proc.pid, "--name",
                     "^Brackenfold$", check=False)
        ids = r.split()
        return ids[0] if ids else None

    def window(self, timeout=20):
        self.win = wait_for(self.find_window, timeout, what="the launcher's window")
        return self.win

    def grab(self):
        """The window's pixels as an Image, or None. SDL may replace its first window
        while it sets up the renderer: a window id that cannot be read is forgotten,
        and the next grab looks the window up again."""
        win = self.win or self.window()
        try:
            r = subprocess.run(["import", "-window", win, "-depth", "8", "rgb:-"],
                               capture_output=True, env={"DISPLAY": self.display.name,
                                                         "PATH": self.env["PATH"]},
                               timeout=5)
        except subprocess.TimeoutExpired:
            r = None
        if r is None or r.returncode != 0:
            self.win = None
            return None
        n = len(r.stdout) // 3
        if n != 960 * 600:
            return None
        return Image(960, 600, r.stdout)

    def wait_screen(self, expected, rect=None, timeout=20, name="screen", skip=()):
        """Waits until the window shows expected (in rect, leaving out the rectangles
        in skip); returns the Image. On a time-out both pictures are saved beside the
        launcher's output for a look."""
        last = [None]

        def ok():
            img = self.grab()
            last[0] = img
            if img is None:
                return None
            if skip:
                return img if img.differing(expected, rect, skip) == 0 else None
            return img if img.same(expected, rect) else None
        try:
            return wait_for(ok, timeout, 0.05, "the %s" % name)
        except AssertionError:
            if last[0] is not None:
                got = last[0].save(os.path.join(self.tmp, "got-%s.png" % name))
                want = expected.save(os.path.join(self.tmp, "want-%s.png" % name))
                raise AssertionError("the window never showed the %s; got %s, wanted %s"
                                     % (name, got, want))
            raise

    def focus(self):
        self.xdo("windowfocus", "--sync", self.win or self.window())

    def key(self, *names):
        self.focus()
        for n in names:
            self.xdo("key", n)

    def move(self, x, y):
        self.xdo("mousemove", "--window", self.win or self.window(), x, y)

    def click(self, x, y, button=1):
        self.move(x, y)
        self.xdo("click", button)

    def terminate(self):
        self.proc.send_signal(signal.SIGTERM)

    def wait(self, timeout=30):
        """The launcher's exit status, once it has ended."""
        return self.proc.wait(timeout)
