#!/usr/bin/env python3
"""Runs every benchmark of the launcher beside its floor and prints one table.

    bench/run.py BUILD_DIR

BUILD_DIR is a release build configured with -DBKF_BENCH=ON (scripts/bench makes it).
Every figure is a ratio to a floor measured in the same run, product and floor taken
in turns, and the median over the repetitions is what the table shows: the machine may
be busy with other work, and a median of ratios taken side by side stands up to that
far better than any absolute time. BENCH_REPS scales the repetitions (default 1.0;
0.3 gives a quick look); BENCH_ONLY picks sections (frame,start,live,wayland,drain,
cancel,pump).
"""

import json
import os
import platform
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
BIN = os.path.join(BUILD, "bench")
LAUNCHER = os.path.join(BUILD, "brackenfold-launcher")
FLOOD = os.path.join(BIN, "flood")
SHIM = os.path.join(BIN, "libpresent_shim.so")
SCALE = float(os.environ.get("BENCH_REPS", "1"))
SECTIONS = "frame,start,live,wayland,drain,cancel,pump"
PUMP_BYTES = 64 * 1024 * 1024
LIVE_SECONDS = 10.0
CLK_TCK = os.sysconf("SC_CLK_TCK")
SCREENS = ["checking", "setup", "update", "working", "failed", "ready", "crashed"]
# The three writers of the drain figures: how the stand-in writes, how much, the row.
WRITERS = (
    ("line", 60 * 1000 * 1000, "one line a write, 60 MB"),
    ("8192", 300 * 1000 * 1000, "8 KiB writes, 300 MB"),
    ("65536", 300 * 1000 * 1000, "64 KiB writes, 300 MB"),
)

ROWS = []   # (figure, product, floor, ratio text, goal text, met)
NOTES = []  # lines printed under the table


def reps(n):
    return max(1, int(round(n * SCALE)))


def say(*a):
    print("bench:", *a, file=sys.stderr, flush=True)


def median(xs):
    return statistics.median(xs) if xs else float("nan")


def base_env():
    env = dict(os.environ)
    for k in ("BKF_LAUNCHER_SHOT", "BKF_LAUNCHER_STATE", "BKF_LAUNCHER_SCALE", "BKF_FONTS",
              "SDL_VIDEODRIVER", "SDL_RENDER_DRIVER", "SDL_FRAMEBUFFER_ACCELERATION",
              "DISPLAY", "LD_PRELOAD", "WAYLAND_DISPLAY"):
        env.pop(k, None)
    env["SDL_AUDIODRIVER"] = "dummy"
    return env


def wait_for(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        v = cond()
        if v:
            return v
        time.sleep(0.02)
    raise RuntimeError("timed out waiting for " + what)


def row(figure, product, floor, ratio, goal, met):
    ROWS.append((figure, product, floor, ratio, goal, met))


def in_turns(i, runs):
    """The i-th repetition's order of the runs: each goes first as often as the others."""
    k = i % len(runs)
    return runs[k:] + runs[:k]


# [SECTION] Frame cost -----------------------------------------------------------------

def frame_cost():
    for scale in (1, 2):
        runs = reps(5)
        ratios = {n: [] for n in SCREENS}
        times = {n: ([], []) for n in SCREENS}
        for r in range(runs):
            say("frame cost at %d×, run %d of %d" % (scale, r + 1, runs))
            env = base_env()
            env["SDL_VIDEODRIVER"] = "dummy"
            out = subprocess.run(
                [os.path.join(BIN, "bench_frame"), "--scale=%d" % scale,
                 "--benchmark_format=json", "--benchmark_repetitions=%d" % reps(10),
                 "--benchmark_min_time=0.05", "--benchmark_enable_random_interleaving=true"],
                env=env, check=True, capture_output=True, text=True).stdout
            per = {}
            for b in json.loads(out)["benchmarks"]:
                if b.get("run_type") != "iteration":
                    continue
                kind, arg = b["run_name"].split("/")
                per.setdefault((kind, int(arg)), []).append(b["cpu_time"])
            for i, n in enumerate(SCREENS):
                d, f = median(per[("BM_draw", i)]), median(per[("BM_floor", i)])
                ratios[n].append(d / f)
                times[n][0].append(d)
                times[n][1].append(f)
        for n in SCREENS:
            q = median(ratios[n])
            if scale == 1:
                row("frame cost, %s (µs)" % n, "%.0f" % median(times[n][0]),
                    "%.0f" % median(times[n][1]), "%.3f×" % q, "≤ 1.1×", q <= 1.1)
            else:
                row("frame cost at 2× (1920×1200), %s (µs)" % n, "%.0f" % median(times[n][0]),
                    "%.0f" % median(times[n][1]), "%.3f×" % q, "", None)


# [SECTION] Start-up -------------------------------------------------------------------

def timed_run(argv, env):
    """Runs argv to its end; returns (wall seconds, peak RSS in KiB, exit status)."""
    t0 = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env)
    _, status, ru = os.wait4(pid, 0)
    return time.perf_counter() - t0, ru.ru_maxrss, os.waitstatus_to_exitcode(status)


def bmp_pixels(path):
    """The pixel rows of a BMP file, after its header (whose size the file gives)."""
    with open(path, "rb") as f:
        data = f.read()
    return data[struct.unpack_from("<I", data, 10)[0]:]


def start_up(tmp):
    n = reps(21)
    say("start-up, %d pairs" % n)
    walls, rss, wr, rr = [], [], [], []
    lbmp, fbmp = os.path.join(tmp, "launcher.bmp"), os.path.join(tmp, "floor.bmp")
    env = base_env()
    env["BKF_LAUNCHER_SHOT"] = lbmp
    fenv = base_env()
    for i in range(n):
        res = {}
        for k in in_turns(i, ["launcher", "floor"]):
            if k == "launcher":
                res[k] = timed_run([LAUNCHER], env)
            else:
                res[k] = timed_run([os.path.join(BIN, "floor_start"), "shot", fbmp], fenv)
        (lw, lr, ls), (fw, fr, fs) = res["launcher"], res["floor"]
        if ls != 0 or fs != 0:
            raise RuntimeError("a screenshot run failed (%d, %d)" % (ls, fs))
        walls.append((lw, fw))
        rss.append((lr, fr))
        wr.append(lw / fw)
        rr.append((lr - fr) / 1024.0)
    if bmp_pixels(lbmp) != bmp_pixels(fbmp):
        say("warning: the floor's ready screen differs from the launcher's")
        NOTES.append("The floor's screenshot of the ready screen differs from the launcher's.")
    q = median(wr)
    row("start-up, screenshot run (ms)", "%.1f" % (median([w[0] for w in walls]) * 1e3),
        "%.1f" % (median([w[1] for w in walls]) * 1e3), "%.3f×" % q, "≤ 1.1×", q <= 1.1)
    d = median(rr)
    row("start-up, peak RSS (MiB)", "%.1f" % (median([r[0] for r in rss]) / 1024.0),
        "%.1f" % (median([r[1] for r in rss]) / 1024.0), "%+.2f MiB" % d, "≤ +2 MiB", d <= 2.0)


# [SECTION] Displays -------------------------------------------------------------------

class Xvfb:
    def __enter__(self):
        r, w = os.pipe()
        self.p = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-noreset", "-nolisten", "tcp",
             "-screen", "0", "1280x800x24"], pass_fds=(w,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        num = b""
        while not num.endswith(b"\n"):
            c = os.read(r, 16)
            if not c:
                raise RuntimeError("Xvfb did not start")
            num += c
        os.close(r)
        self.display = ":" + num.decode().strip()
        return self

    def __exit__(self, *exc):
        self.p.terminate()
        self.p.wait()


class Weston:
    """A nested compositor in an X11 window of the Xvfb server, software-composited.
    Its clients need XDG_RUNTIME_DIR and WAYLAND_DISPLAY from wayland_env()."""

    SOCKET = "wayland-bench"

    def __init__(self, display, tmp):
        self.display = display
        self.dir = tempfile.mkdtemp(prefix="weston.", dir=tmp)
        self.run = os.path.join(self.dir, "run")
        os.mkdir(self.run, 0o700)

    def __enter__(self):
        ini = os.path.join(self.dir, "weston.ini")
        with open(ini, "w") as f:
            f.write("[core]\nidle-time=0\n[shell]\npanel-position=none\nlocking=false\n"
                    "animation=none\n")
        notify = os.path.join(self.dir, "notify")
        s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        s.bind(notify)
        s.settimeout(30)
        env = base_env()
        env.update(DISPLAY=self.display, XDG_RUNTIME_DIR=self.run, NOTIFY_SOCKET=notify)
        self.log = open(os.path.join(self.dir, "weston.log"), "w")
        self.p = subprocess.Popen(
            ["weston", "--backend=x11-backend.so", "--socket=" + self.SOCKET,
             "--config=" + ini, "--width=1200", "--height=750", "--use-pixman",
             "--modules=systemd-notify.so"], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        try:
            while b"READY=1" not in s.recv(4096):
                pass
        except (socket.timeout, OSError):
            self.__exit__()
            raise RuntimeError("weston did not become ready")
        finally:
            s.close()
        return self

    def wayland_env(self):
        return {"XDG_RUNTIME_DIR": self.run, "WAYLAND_DISPLAY": self.SOCKET,
                "SDL_VIDEODRIVER": "wayland"}

    def __exit__(self, *exc):
        self.p.terminate()
        self.p.wait()
        self.log.close()


def xdo(display, *args):
    env = dict(os.environ, DISPLAY=display)
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                          timeout=30).stdout.split()


def window_of(display, pid):
    return wait_for(lambda: xdo(display, "search", "--all", "--onlyvisible", "--pid", str(pid),
                                "--name", "^Brackenfold$"), 30, "the launcher's window")[0]


def presents(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return []
    return [v[0] for v in struct.iter_unpack("q", data[: len(data) // 8 * 8])]


def read_numbers(path):
    try:
        with open(path) as f:
            return [int(v) for v in f.read().split()]
    except (FileNotFoundError, ValueError):
        return None


def cpu_ticks(pid):
    """CPU seconds of the process and every thread it had, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime


def cpu_threads(pid):
    """(thread ids, CPU seconds of those threads to the nanosecond)."""
    tids, total = [], 0
    for t in sorted(os.listdir("/proc/%d/task" % pid)):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, t)) as f:
                total += int(f.read().split()[0])
            tids.append(t)
        except (FileNotFoundError, ProcessLookupError):
            pass
    return tids, total / 1e9


def memory(pid):
    """(VmRSS in KiB, threads) of the live process."""
    rss = threads = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    return rss, threads


def stop(p):
    if p.poll() is None:
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(30)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


class Launcher:
    """The real launcher in a real window, with the stand-in installer: on the X display,
    or with none and extra naming a Wayland one."""

    def __init__(self, tmp, display, status, nbytes=0, how="65536", extra=None):
        self.home = tempfile.mkdtemp(prefix="home.", dir=tmp)
        self.presents = os.path.join(self.home, "presents")
        self.times = os.path.join(self.home, "times")
        self.term = os.path.join(self.home, "term")
        self.log = os.path.join(self.home, "logs", "install.log")
        env = base_env()
        env.update(LD_PRELOAD=SHIM, BKF_HOME=self.home, BKF_SHARE=self.home, BKF_PYTHON=FLOOD,
                   BKF_BENCH_STATUS=status, BKF_BENCH_BYTES=str(nbytes), BKF_BENCH_WRITE=how,
                   BKF_BENCH_PRESENTS=self.presents, BKF_BENCH_TIMES=self.times,
                   BKF_BENCH_LOG=self.log, BKF_BENCH_TERM=self.term)
        if display:
            env["DISPLAY"] = display
        env.update(extra or {})
        self.display = display
        self.p = subprocess.Popen([LAUNCHER], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)

    def in_loop(self):
        # main() presents the checking screen; the next present is the loop's first turn,
        # which shows the screen the status answer chose.
        wait_for(lambda: len(presents(self.presents)) >= 2, 60, "the launcher's loop")

    def build(self):
        """Presses Return on the update screen; returns the window."""
        self.in_loop()
        win = window_of(self.display, self.p.pid)
        xdo(self.display, "windowfocus", "--sync", win)
        xdo(self.display, "key", "Return")
        return win

    def stop(self):
        stop(self.p)
        shutil.rmtree(self.home, ignore_errors=True)


class FloorWindow:
    """floor_start idle, the literal launcher: SDL's default renderer, a frame every wake."""

    def __init__(self, tmp, display, screen, extra=None):
        self.presents = os.path.join(tempfile.mkdtemp(prefix="floor.", dir=tmp), "presents")
        env = base_env()
        env.update(LD_PRELOAD=SHIM, BKF_BENCH_PRESENTS=self.presents)
        if display:
            env["DISPLAY"] = display
        env.update(extra or {})
        self.p = subprocess.Popen([os.path.join(BIN, "floor_start"), "idle", screen], env=env)
        wait_for(lambda: len(presents(self.presents)) >= 2, 60, "the floor's window")

    def stop(self):
        stop(self.p)
        shutil.rmtree(os.path.dirname(self.presents), ignore_errors=True)


# [SECTION] The live window ------------------------------------------------------------

# The two ways the launcher presents on X11: as it is (the software renderer onto the
# window's surface), and with GL presentation forced, as a player who sets it gets.
PATHS = (("live window", {}), ("GL presentation forced", {"SDL_FRAMEBUFFER_ACCELERATION": "1"}))
GOALS = {"ready": {"rss": 0.2, "cpu": 0.15}, "working": {"rss": 0.2, "cpu": 0.4}}


def watch(procs, seconds):
    """CPU seconds each process used over the interval, and its memory at the end. The
    threads' own run times count to the nanosecond when the same threads lived through
    the interval; else the process's clock ticks, which also hold those of threads gone."""
    time.sleep(1.0)
    c0 = [(cpu_threads(p.pid), cpu_ticks(p.pid)) for p in procs]
    time.sleep(seconds)
    c1 = [(cpu_threads(p.pid), cpu_ticks(p.pid)) for p in procs]
    out = []
    for p, ((ta, a), ka), ((tb, b), kb) in zip(procs, c0, c1):
        out.append((b - a if ta == tb else kb - ka, memory(p.pid)))
    return out


def live_rows(label, screen, got, floor, goals):
    """Three rows, resident memory, threads and CPU time, beside the floor's; got and
    floor hold (CPU seconds, (VmRSS KiB, threads)) of each repetition."""
    what = "ready" if screen == "ready" else "working, moving bar"

    def mib(xs):
        return "%.1f" % (median([x[1][0] for x in xs]) / 1024)

    def ms(xs):
        s = median([x[0] for x in xs])
        return "%.1f" % (s * 1e3) if s < 0.1 else "%.0f" % (s * 1e3)

    def at_most(q, goal):
        return ("≤ %g×" % goal, q <= goal) if goal else ("", None)

    rss = median([a[1][0] / b[1][0] for a, b in zip(got, floor)])
    cpu = median([a[0] / b[0] for a, b in zip(got, floor)])
    row("%s, %s: resident (MiB)" % (label, what), mib(got), mib(floor), "%.2f×" % rss,
        *at_most(rss, goals.get("rss")))
    row("%s, %s: threads" % (label, what), "%d" % median([x[1][1] for x in got]),
        "%d" % median([x[1][1] for x in floor]), "", "", None)
    row("%s, %s: CPU in %.0f s (ms)" % (label, what, LIVE_SECONDS), ms(got), ms(floor),
        "%.3f×" % cpu, *at_most(cpu, goals.get("cpu")))


def live_window(display, tmp):
    for screen in ("ready", "working"):
        got = {label: [] for label, _ in PATHS}
        floor = []
        n = reps(3)
        for i in range(n):
            say("live window, %s screen, run %d of %d (%.0f s)" % (screen, i + 1, n, LIVE_SECONDS))
            procs = []
            try:
                # All three in the same server over the same seconds; who starts first
                # changes from run to run.
                for k in in_turns(i, [0, 1, 2]):
                    if k == 2:
                        procs.append((k, FloorWindow(tmp, display, screen)))
                        continue
                    la = Launcher(tmp, display, "ready" if screen == "ready" else "update",
                                  extra=PATHS[k][1])
                    procs.append((k, la))
                    if screen == "ready":
                        la.in_loop()
                    else:
                        la.build()
                        wait_for(lambda: read_numbers(la.times), 60, "the installer's start")
                procs.sort(key=lambda kp: kp[0])
                res = watch([p.p for _, p in procs], LIVE_SECONDS)
            finally:
                for _, p in procs:
                    p.stop()
            for k, (label, _) in enumerate(PATHS):
                got[label].append(res[k])
            floor.append(res[2])
        for label, _ in PATHS:
            live_rows(label, screen, got[label], floor,
                      GOALS[screen] if label == "live window" else {})


def wayland(tmp):
    if not shutil.which("weston"):
        NOTES.append("Wayland: weston is not installed; its rows are left out.")
        return
    got, floor = [], []
    n = reps(3)
    with Xvfb() as x, Weston(x.display, tmp) as w:
        for i in range(n):
            say("Wayland, ready screen, run %d of %d (%.0f s)" % (i + 1, n, LIVE_SECONDS))
            procs = []
            try:
                for k in in_turns(i, [0, 1]):
                    if k == 0:
                        la = Launcher(tmp, None, "ready", extra=w.wayland_env())
                        la.in_loop()
                        procs.append((0, la))
                    else:
                        procs.append((1, FloorWindow(tmp, None, "ready", w.wayland_env())))
                procs.sort(key=lambda kp: kp[0])
                res = watch([p.p for _, p in procs], LIVE_SECONDS)
            finally:
                for _, p in procs:
                    p.stop()
            got.append(res[0])
            floor.append(res[1])
    live_rows("Wayland (informational)", "ready", got, floor, {})


# [SECTION] Drain ----------------------------------------------------------------------

def flood_env(tmp, how, nbytes):
    times = os.path.join(tmp, "floor.times")
    env = base_env()
    env.update(BKF_BENCH_BYTES=str(nbytes), BKF_BENCH_TIMES=times, BKF_BENCH_WRITE=how)
    return env, times


def into_file(tmp, how, nbytes):
    """The installer writing the file itself: seconds from its first write to its last."""
    out = os.path.join(tmp, "floor.out")
    env, times = flood_env(tmp, how, nbytes)
    with open(out, "wb") as f:
        subprocess.run([FLOOD, "--download"], env=env, stdout=f, check=True)
    t = read_numbers(times)
    os.unlink(out)
    os.unlink(times)
    return (t[1] - t[0]) / 1e9


def through_cat(tmp, how, nbytes):
    """The installer piped through cat into the file: from its first write until the file
    holds every byte."""
    out = os.path.join(tmp, "floor.out")
    env, times = flood_env(tmp, how, nbytes)
    env["BKF_BENCH_LOG"] = out
    with open(out, "wb") as f:
        cat = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=f)
        w = subprocess.Popen([FLOOD, "--download"], env=env, stdout=cat.stdin)
        cat.stdin.close()
        ws, cs = w.wait(), cat.wait()
    t = read_numbers(times)
    os.unlink(out)
    os.unlink(times)
    if ws != 0 or cs != 0 or not t[2]:
        raise RuntimeError("the flood through cat failed")
    return (t[2] - t[0]) / 1e9


def through_launcher(display, tmp, how, nbytes):
    """The installer run by the launcher in the window: from its first write until
    install.log holds every byte; and the largest gap between two frames meanwhile."""
    launcher = Launcher(tmp, display, "update", nbytes, how)
    try:
        launcher.build()
        t = wait_for(lambda: (lambda v: v if v and v[1] else None)(read_numbers(launcher.times)),
                     600, "the end of the flood")
        if not t[2] or os.path.getsize(launcher.log) != nbytes:
            raise RuntimeError("install.log did not get every byte of the flood")
        time.sleep(0.3)  # the frame that shows the end
        frames = presents(launcher.presents)
    finally:
        launcher.stop()
    # The longest the picture stood still while the flood ran: the gaps between frames
    # cut to the flood's own time, from its first write to install.log whole.
    gap = max((min(b, t[2]) - max(a, t[0]) for a, b in zip(frames, frames[1:])
               if b > t[0] and a < t[2]), default=float("inf")) / 1e6
    return (t[2] - t[0]) / 1e9, gap


def drain(display, tmp):
    for how, nbytes, what in WRITERS:
        n = reps(5)
        got = {"launcher": [], "file": [], "cat": []}
        ratios, gaps = [], []
        for i in range(n):
            say("drain, %s, run %d of %d" % (what, i + 1, n))
            res = {}
            for k in in_turns(i, ["file", "cat", "launcher"]):
                if k == "file":
                    res[k] = into_file(tmp, how, nbytes)
                elif k == "cat":
                    res[k] = through_cat(tmp, how, nbytes)
                else:
                    res[k], gap = through_launcher(display, tmp, how, nbytes)
                    gaps.append(gap)
                got[k].append(res[k])
            ratios.append(res["launcher"] / min(res["file"], res["cat"]))
        q = median(ratios)
        floor = median([min(f, c) for f, c in zip(got["file"], got["cat"])])
        row("drain, %s (s)" % what, "%.3f" % median(got["launcher"]), "%.3f" % floor,
            "%.2f×" % q, "≤ 1.25×", q <= 1.25)
        g = max(gaps)
        row("  largest frame gap meanwhile (ms)", "%.0f" % g, "", "median %.0f" % median(gaps),
            "≤ 100 ms", g <= 100)
        NOTES.append("drain, %s: into the file %.3f s, through cat %.3f s (medians)" %
                     (what, median(got["file"]), median(got["cat"])))


# [SECTION] Cancel latency -------------------------------------------------------------

def cancel(display, tmp):
    """From Escape sent during a flood of 64 KiB writes to SIGTERM at the installer."""
    n = reps(7)
    lat = []
    for i in range(n):
        say("cancel latency, run %d of %d" % (i + 1, n))
        launcher = Launcher(tmp, display, "update", 10 ** 12, "65536")
        try:
            launcher.build()
            wait_for(lambda: read_numbers(launcher.times), 60, "the flood's start")
            time.sleep(0.5)
            sent = time.monotonic_ns()
            xdo(display, "key", "Escape")
            got = wait_for(lambda: read_numbers(launcher.term), 30, "SIGTERM at the installer")
        finally:
            launcher.stop()
        lat.append((got[0] - sent) / 1e9)
    worst = max(lat)
    row("cancel during a flood, Escape to SIGTERM (s)", "%.3f" % worst, "",
        "median %.3f" % median(lat), "≤ 0.25 s", worst <= 0.25)


# [SECTION] The drain in process -------------------------------------------------------

def pump(tmp):
    n = reps(9)
    ratios, pm, bm = [], [], []
    log = os.path.join(tmp, "drain.log")
    for i in range(n):
        say("drain in process, pair %d of %d" % (i + 1, n))
        res = {}
        for mode in in_turns(i, ["pump", "bare"]):
            out = subprocess.run(
                [os.path.join(BIN, "bench_drain"), mode, str(PUMP_BYTES), log, FLOOD],
                env=base_env(), check=True, capture_output=True, text=True).stdout
            res[mode] = PUMP_BYTES / 1e6 / float(out)
        os.unlink(log)
        ratios.append(res["pump"] / res["bare"])
        pm.append(res["pump"])
        bm.append(res["bare"])
    q = median(ratios)
    row("drain in process, pump_build (MB/s)", "%.0f" % median(pm), "%.0f" % median(bm),
        "%.2f×" % q, "≥ 0.8×", q >= 0.8)


# [SECTION] The table ------------------------------------------------------------------

def table():
    head = ("figure", "launcher", "floor", "ratio", "goal", "met")
    lines = [head] + [(f, p, fl, r, g, "" if m is None else ("yes" if m else "NO"))
                      for f, p, fl, r, g, m in ROWS]
    w = [max(len(l[i]) for l in lines) for i in range(len(head))]
    out = []
    for j, l in enumerate(lines):
        out.append("| " + " | ".join(c.ljust(w[i]) for i, c in enumerate(l)) + " |")
        if j == 0:
            out.append("|" + "|".join("-" * (x + 2) for x in w) + "|")
    return "\n".join(out)


def main():
    for p in (LAUNCHER, FLOOD, SHIM):
        if not os.path.exists(p):
            sys.exit("bench: %s is missing; build with -DBKF_BENCH=ON" % p)
    only = set(os.environ.get("BENCH_ONLY", SECTIONS).split(","))
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    tmp = tempfile.mkdtemp(prefix="bkf-bench.", dir=base)
    started, load0 = time.time(), os.getloadavg()[0]
    try:
        if "frame" in only:
            frame_cost()
        if "start" in only:
            start_up(tmp)
        if only & {"live", "drain", "cancel"}:
            with Xvfb() as x:
                if "live" in only:
                    live_window(x.display, tmp)
                if "drain" in only:
                    drain(x.display, tmp)
                if "cancel" in only:
                    cancel(x.display, tmp)
        if "wayland" in only:
            wayland(tmp)
        if "pump" in only:
            pump(tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for l in f:
            if l.startswith("model name"):
                cpu = l.split(":", 1)[1].strip()
                break
    print("Brackenfold launcher benchmarks, %s UTC, %.0f s" %
          (time.strftime("%Y-%m-%d %H:%M", time.gmtime(started)), time.time() - started))
    print("%s, %d cores, %s, load average %.2f at the start, %.2f at the end" %
          (cpu, os.cpu_count(), platform.platform(), load0, os.getloadavg()[0]))
    print()
    print(table())
    print()
    print("Medians over the repetitions; each ratio is the launcher's figure over its")
    print("floor's, both taken in the same run, in turns.")
    for n in NOTES:
        print("- " + n)


if __name__ == "__main__":
    main()
