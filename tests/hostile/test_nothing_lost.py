"""Nothing lost, nothing leaked: install.log holds what was read even when the launcher
is killed by SIGKILL mid-build; the status query, the build and the game each start
with standard input, output and error alone; no zombie is left after a build or a
crash of the game."""

import os
import unittest

from util import CRASHED, Case, alive, harness, read, render, wait_for

# Bytes of every value in pieces that do not always end a line, then a marker; the
# test kills the launcher once the marker is in the log, while more keeps coming.
STREAM = r'''
group()
log = os.path.join(DEST, "logs", "install.log")
def chunk(n):
    return b"chunk %d " % n + bytes(range(256))[n % 256:] + (b"\n" if n % 3 else b"")
for n in range(300):
    out(chunk(n), 1 + n % 2)
mark = b"MARK 1 of the test\n"
out(mark)
while not os.path.exists(log) or mark not in read_log(log):
    time.sleep(0.01)
note("marked", 1)
end = time.monotonic() + 30
n = 300
try:
    while time.monotonic() < end:
        out(chunk(n), 1 + n % 2)
        n += 1
        time.sleep(0.001)
except BrokenPipeError:
    note("epipe", n)
sys.exit(0)
'''

READ_LOG = r'''
def read_log(p):
    with open(p, "rb") as f:
        return f.read()
'''

LIST_FDS = 'note("fds" + MODE, fds())\n'

GAME = r'''#!/usr/bin/python3
import os, sys
seen = []
for f in sorted(os.listdir("/proc/self/fd"), key=int):
    try:
        seen.append("%s %s" % (f, os.readlink("/proc/self/fd/" + f)))
    except OSError:
        pass
runs = os.path.join(os.environ["HOSTILE_DIR"], "game-runs")
n = len(os.listdir(runs)) if os.path.isdir(runs) else 0
os.makedirs(runs, exist_ok=True)
with open(os.path.join(runs, str(n)), "w") as f:
    f.write("\n".join(seen))
sys.exit(3 if n == 0 else 0)
'''


class NothingLost(Case):
    def test_log_survives_sigkill_of_launcher(self):
        """The launcher is killed while the build pours out: the installer goes with it,
        and install.log is exactly what the installer wrote up to some point, the
        marker and all before it included."""
        self.launch(download=READ_LOG + STREAM)
        self.update_then_build()
        inst = int(self.noted("pid--download"))
        self.noted("marked")
        self.la.proc.kill()
        self.la.proc.wait(10)
        wait_for(lambda: not alive(inst), 10, what="the installer to die with the launcher")
        log, side = read(self.log()), read(self.path("side"))
        mark = side.index(b"MARK 1 of the test\n") + len(b"MARK 1 of the test\n")
        self.assertGreaterEqual(len(log), mark)
        self.assertEqual(log, side[:len(log)])

    def descriptors(self, name):
        """The descriptor numbers that a child noted, with their targets."""
        lines = read(self.path(name), "r").split("\n") if "/" in name else \
            self.noted(name).split("\n")
        return {int(ln.split(" ", 1)[0]): ln.split(" ", 1)[1] for ln in lines if ln}

    def road(self, prefix=None):
        """Status query, build, ready screen, a game that crashes, "Play Again" and a
        normal end; returns the descriptors that each child found, by name."""
        game = os.path.join(self.home, "build", "host", "bkf")
        os.makedirs(os.path.dirname(game))
        harness.write_program(game, GAME)
        self.launch(status=LIST_FDS + "print('{\"ready\": false}', flush=True)\n",
                    download=LIST_FDS + "sys.exit(0)\n", prefix=prefix)
        self.update_then_build()
        self.shows(harness.render("ready"), name="ready screen")
        self.no_children()
        self.la.key("Return")  # "Play": the game's first run crashes
        self.shows(render(CRASHED, self.home, msg="The game stopped unexpectedly."),
                   name="crashed screen")
        self.no_children()
        own = {int(f): os.readlink("/proc/%d/fd/%s" % (self.la.proc.pid, f))
               for f in os.listdir("/proc/%d/fd" % self.la.proc.pid)}
        self.la.key("Return")  # "Play Again": a normal end ends the launcher too
        self.assertEqual(self.ends(), 0)
        seen = {"status": self.descriptors("fds--status"),
                "build": self.descriptors("fds--download"), "launcher": own}
        for run in ("0", "1"):
            seen["game " + run] = self.descriptors(os.path.join("game-runs", run))
        for name, fds in seen.items():
            if name != "launcher":
                self.assertEqual(sorted(fds), [0, 1, 2], "%s: %s" % (name, fds))
        self.assertEqual(seen["status"][2], "/dev/null")
        build = seen["build"]
        self.assertTrue(build[1].startswith("pipe:") and build[2] == build[1], build)
        for run in ("0", "1"):
            game = seen["game " + run]
            self.assertTrue(game[1].endswith("/logs/bkf.log") and game[2] == game[1], game)
        return seen

    def test_children_start_with_three_descriptors(self):
        """The status query, the build and the game each see 0, 1 and 2 alone; after the
        build and after the game's crash no zombie is left."""
        self.road()

    def test_launcher_started_without_0_1_2(self):
        """Started with standard input, output and error closed, the launcher puts
        /dev/null in their place before it opens anything, so that neither the display
        connection nor a font nor install.log takes their numbers: its own error lines
        reach no socket, and each child's standard input is /dev/null."""
        seen = self.road(["sh", "-c", 'exec "$@" <&- >&- 2>&-', "sh"])
        for n in (0, 1, 2):
            self.assertEqual(seen["launcher"][n], "/dev/null", seen["launcher"])
        for name in ("status", "build", "game 0", "game 1"):
            self.assertEqual(seen[name][0], "/dev/null", "%s: %s" % (name, seen[name]))

if __name__ == "__main__":
    unittest.main()
