#!/usr/bin/env python3
"""Runs every benchmark of the launcher beside its floor and prints one table.

    bench/run.py BUILD_DIR

BUILD_DIR is a release build configured with -DBKF_BENCH=ON (scripts/bench makes it).
Every figure is a ratio to a floor measured in the same run, product and floor taken
in turns, and the median over the repetitions is what the table shows: the machine may
be busy with other work, and a median of ratios taken side by side stands up to that
far better than any absolute time. BENCH_REPS scales the repetitions (default 1.0;
0.3 gives a quick look).
"""

import json
import os
import platform
import shutil
import signal
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
FLOOD_BYTES = 300 * 1000 * 1000
DRAIN_BYTES = 64 * 1024 * 1024
IDLE_SECONDS = 10.0
CLK_TCK = os.sysconf("SC_CLK_TCK")

ROWS = []  # (figure, product, floor, ratio text, goal text, met)


def reps(n):
    return max(1, int(round(n * SCALE)))


def say(*a):
    print("bench:", *a, file=sys.stderr, flush=True)


def median(xs):
    return statistics.median(xs) if xs else float("nan")


def base_env():
    env = dict(os.environ)
    for k in ("BKF_LAUNCHER_SHOT", "BKF_LAUNCHER_STATE", "BKF_FONTS", "SDL_VIDEODRIVER",
              "SDL_RENDER_DRIVER", "DISPLAY", "LD_PRELOAD", "WAYLAND_DISPLAY"):
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


# [SECTION] Frame cost -----------------------------------------------------------------

def frame_cost():
    names = ["checking", "setup", "update", "working", "failed", "ready", "crashed"]
    for scale in (1, 2):
        runs = reps(5)
        ratios = {n: [] for n in names}
        times = {n: ([], []) for n in names}
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
            for i, n in enumerate(names):
                d, f = median(per[("BM_draw", i)]), median(per[("BM_floor", i)])
                ratios[n].append(d / f)
                times[n][0].append(d)
                times[n][1].append(f)
        for n in names:
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
        pair = []
        order = [0, 1] if i % 2 == 0 else [1, 0]
        res = [None, None]
        for k in order:
            if k == 0:
                res[0] = timed_run([LAUNCHER], env)
            else:
                res[1] = timed_run([os.path.join(BIN, "floor_start"), "shot", fbmp], fenv)
        (lw, lr, ls), (fw, fr, fs) = res
        if ls != 0 or fs != 0:
            raise RuntimeError("a screenshot run failed (%d, %d)" % (ls, fs))
        walls.append((lw, fw))
        rss.append((lr, fr))
        wr.append(lw / fw)
        rr.append((lr - fr) / 1024.0)
        del pair
    if bmp_pixels(lbmp) != bmp_pixels(fbmp):
        say("warning: the floor's ready screen differs from the launcher's")
    q = median(wr)
    row("start-up, screenshot run (ms)", "%.1f" % (median([w[0] for w in walls]) * 1e3),
        "%.1f" % (median([w[1] for w in walls]) * 1e3), "%.3f×" % q, "≤ 1.1×", q <= 1.1)
    d = median(rr)
    row("start-up, peak RSS (MiB)", "%.1f" % (median([r[0] for r in rss]) / 1024.0),
        "%.1f" % (median([r[1] for r in rss]) / 1024.0), "%+.2f MiB" % d, "≤ +2 MiB", d <= 2.0)


# [SECTION] A real window ------------------------------------------------------------

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


def xdo(display, *args):
    env = dict(os.environ, DISPLAY=display)
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                          timeout=30).stdout.split()


def window_of(display, name):
    return wait_for(lambda: xdo(display, "search", "--onlyvisible", "--name", name),
                    30, "the window " + name)[0]


def presents(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return []
    return [v[0] for v in struct.iter_unpack("q", data[: len(data) // 8 * 8])]


def read_times(path):
    try:
        with open(path) as f:
            a, b = f.read().split()
        return int(a), int(b)
    except (FileNotFoundError, ValueError):
        return None


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime


class Launcher:
    """The real launcher in the Xvfb window, with the stand-in installer."""

    def __init__(self, display, tmp, status, nbytes=0, how="bulk"):
        self.home = tempfile.mkdtemp(prefix="home.", dir=tmp)
        self.presents = os.path.join(self.home, "presents")
        self.times = os.path.join(self.home, "times")
        env = base_env()
        env.update(DISPLAY=display, SDL_RENDER_DRIVER="software", LD_PRELOAD=SHIM,
                   BKF_HOME=self.home, BKF_SHARE=self.home, BKF_PYTHON=FLOOD,
                   BKF_BENCH_STATUS=status, BKF_BENCH_BYTES=str(nbytes), BKF_BENCH_WRITE=how,
                   BKF_BENCH_PRESENTS=self.presents, BKF_BENCH_TIMES=self.times)
        self.display = display
        self.p = subprocess.Popen([LAUNCHER], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)

    def in_loop(self):
        # main() presents the checking screen; the next present is the loop's first turn,
        # which shows the screen the status answer chose.
        wait_for(lambda: len(presents(self.presents)) >= 2, 60, "the launcher's loop")
        return window_of(self.display, "^Brackenfold$")

    def build(self):
        win = self.in_loop()
        xdo(self.display, "windowfocus", "--sync", win)
        xdo(self.display, "key", "Return")

    def stop(self):
        if self.p.poll() is None:
            self.p.send_signal(signal.SIGTERM)
            try:
                self.p.wait(30)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()
        shutil.rmtree(self.home, ignore_errors=True)


class FloorWindow:
    def __init__(self, display, screen):
        env = base_env()
        env.update(DISPLAY=display, SDL_RENDER_DRIVER="software")
        self.p = subprocess.Popen([os.path.join(BIN, "floor_start"), "idle", screen], env=env)
        window_of(display, "^Floor$")

    def stop(self):
        self.p.terminate()
        self.p.wait()


# [SECTION] Idle cost ------------------------------------------------------------------

def idle_cost(display, tmp):
    for screen in ("ready", "working"):
        ratios, lc, fc = [], [], []
        n = reps(3)
        for i in range(n):
            say("idle cost, %s screen, run %d of %d (%.0f s)" % (screen, i + 1, n, IDLE_SECONDS))
            launcher = Launcher(display, tmp, "ready" if screen == "ready" else "update")
            floor = None
            try:
                if screen == "ready":
                    launcher.in_loop()
                else:
                    launcher.build()
                    wait_for(lambda: read_times(launcher.times), 60, "the installer's start")
                floor = FloorWindow(display, screen)
                time.sleep(1.0)
                a0, b0 = cpu_seconds(launcher.p.pid), cpu_seconds(floor.p.pid)
                time.sleep(IDLE_SECONDS)
                a1, b1 = cpu_seconds(launcher.p.pid), cpu_seconds(floor.p.pid)
            finally:
                if floor:
                    floor.stop()
                launcher.stop()
            lc.append(a1 - a0)
            fc.append(b1 - b0)
            ratios.append((a1 - a0) / max(b1 - b0, 1.0 / CLK_TCK))
        q = median(ratios)
        row("idle CPU in %.0f s, %s screen (ms)" % (IDLE_SECONDS, screen),
            "%.0f" % (median(lc) * 1e3), "%.0f" % (median(fc) * 1e3), "%.2f×" % q, "", None)


# [SECTION] Build overhead -------------------------------------------------------------

def build_overhead(display, tmp, how, n):
    """how: "line" (one write a line, as the protocol asks of an installer) or "bulk"
    (64 KiB writes, the most a pipe takes at once: a writer faster than any reader)."""
    ratios, lw, fw, gaps = [], [], [], []
    for i in range(n):
        say("build overhead, %s writes, run %d of %d (%d MB)" %
            (how, i + 1, n, FLOOD_BYTES // 1000000))
        # The floor: the same installer with its output into a file beside install.log.
        out = os.path.join(tmp, "floor.out")
        ftimes = os.path.join(tmp, "floor.times")
        env = base_env()
        env.update(BKF_BENCH_BYTES=str(FLOOD_BYTES), BKF_BENCH_TIMES=ftimes,
                   BKF_BENCH_WRITE=how)
        with open(out, "wb") as f:
            subprocess.run([FLOOD, "--download"], env=env, stdout=f, check=True)
        t = read_times(ftimes)
        os.unlink(out)
        os.unlink(ftimes)
        floor_s = (t[1] - t[0]) / 1e9

        launcher = Launcher(display, tmp, "update", FLOOD_BYTES, how)
        try:
            launcher.build()
            t = wait_for(lambda: (lambda v: v if v and v[1] else None)(read_times(launcher.times)),
                         600, "the end of the flood")
            log = os.path.join(launcher.home, "logs", "install.log")
            wait_for(lambda: os.path.getsize(log) == FLOOD_BYTES, 120, "install.log to fill")
            time.sleep(0.3)
            frames = presents(launcher.presents)
        finally:
            launcher.stop()
        prod_s = (t[1] - t[0]) / 1e9
        # Every gap that overlaps the flood: from the last frame before its start to the
        # first one after its end.
        gap = max((b - a for a, b in zip(frames, frames[1:]) if b > t[0] and a < t[1]),
                  default=float("inf")) / 1e6
        ratios.append(prod_s / floor_s)
        lw.append(prod_s)
        fw.append(floor_s)
        gaps.append(gap)
    q = median(ratios)
    what = "line by line" if how == "line" else "in 64 KiB writes"
    row("build overhead, 300 MB %s (s)" % what, "%.2f" % median(lw), "%.2f" % median(fw),
        "%.2f×" % q, "≤ 1.5×", q <= 1.5)
    g = max(gaps)
    row("  largest frame gap meanwhile (ms)", "%.0f" % g, "", "median %.0f" % median(gaps),
        "≤ 100 ms", g <= 100)


# [SECTION] Drain throughput -----------------------------------------------------------

def drain(tmp):
    n = reps(9)
    ratios, pm, bm = [], [], []
    log = os.path.join(tmp, "drain.log")
    for i in range(n):
        say("drain throughput, pair %d of %d" % (i + 1, n))
        res = {}
        for mode in (("pump", "bare") if i % 2 == 0 else ("bare", "pump")):
            out = subprocess.run(
                [os.path.join(BIN, "bench_drain"), mode, str(DRAIN_BYTES), log, FLOOD],
                env=base_env(), check=True, capture_output=True, text=True).stdout
            res[mode] = DRAIN_BYTES / 1e6 / float(out)
        os.unlink(log)
        ratios.append(res["pump"] / res["bare"])
        pm.append(res["pump"])
        bm.append(res["bare"])
    q = median(ratios)
    row("drain throughput (MB/s)", "%.0f" % median(pm), "%.0f" % median(bm), "%.2f×" % q,
        "≥ 0.8×", q >= 0.8)


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
    only = set(os.environ.get("BENCH_ONLY", "frame,start,idle,build,drain").split(","))
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    tmp = tempfile.mkdtemp(prefix="bkf-bench.", dir=base)
    started = time.time()
    try:
        if "frame" in only:
            frame_cost()
        if "start" in only:
            start_up(tmp)
        if only & {"idle", "build"}:
            with Xvfb() as x:
                if "idle" in only:
                    idle_cost(x.display, tmp)
                if "build" in only:
                    build_overhead(x.display, tmp, "line", reps(3))
                    build_overhead(x.display, tmp, "bulk", reps(5))
        if "drain" in only:
            drain(tmp)
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
    print("%s, %d cores, %s, load average %.2f at the end" %
          (cpu, os.cpu_count(), platform.platform(), os.getloadavg()[0]))
    print()
    print(table())
    print()
    print("Medians over the repetitions; each ratio is the launcher's figure over its")
    print("floor's, both taken in the same run, in turns.")


if __name__ == "__main__":
    main()
