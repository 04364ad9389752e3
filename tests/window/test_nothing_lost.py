"""Nothing lost, nothing leaked: install.log holds what was read even when the launcher
is killed by SIGKILL mid-build; the status query, the build and the game each start
with standard input, output and error alone; no zombie is left after a build or a
crash of the game."""

import os
import unittest

from case import Case
from fakes import descriptors
from harness import alive, wait_for

MARK = b"MARK 1 of the test\n"

# Bytes of every value in pieces that do not always end a line, on standard output
# and error, then a marker; the test kills the launcher once the marker is in the log,
# while more keeps coming.
STREAM = r'''
MARK = %r
log = os.path.join(DEST, "logs", "install.log")
def chunk(n):
    return b"chunk %%d " %% n + bytes(range(256))[n %% 256:] + (b"\n" if n %% 3 else b"")
def logged():
    with open(log, "rb") as f:
        return f.read()
for n in range(300):
    out(chunk(n), 1 + n %% 2)
out(MARK)
while not os.path.exists(log) or MARK not in logged():
    time.sleep(0.01)
note("marked")
end = time.monotonic() + 30
n = 300
try:
    while time.monotonic() < end:
        out(chunk(n), 1 + n %% 2)
        n += 1
        time.sleep(0.001)
except BrokenPipeError:
    note("epipe", n=n)
''' % MARK


class NothingLost(Case):

    def test_log_survives_sigkill_of_launcher(self):
        """The launcher is killed while the build pours out: the installer goes with it,
        and install.log is exactly what the installer wrote up to some point, the
        marker and all before it included."""
        self.launch(build=STREAM)
        self.update_then_build()
        inst = self.fake.wait_record("build")["pid"]
        self.fake.wait_record("marked")
        self.la.kill()
        self.la.wait(10)
        wait_for(lambda: not alive(inst), 10, what="the installer to die with the launcher")
        log, sent = self.log(), self.fake.sent()
        self.assertGreaterEqual(len(log), sent.index(MARK) + len(MARK))
        self.assertEqual(log, sent[:len(log)])

    def road(self, prefix=()):
        """Status query, build, ready screen, a game that crashes, "Play Again" and a
        normal end; returns the descriptors that each child and the launcher had."""
        la = self.launch(answer='{"ready": false}', game={"exits": [3, 0]}, prefix=prefix)
        self.update_then_build()
        self.screen("ready")
        self.no_children()
        la.key("Return")  # "Play": the game's first run crashes
        self.screen("crashed", msg="The game stopped unexpectedly.")
        self.no_children()
        own = {int(f): os.readlink("/proc/%d/fd/%s" % (la.proc.pid, f))
               for f in os.listdir("/proc/%d/fd" % la.proc.pid)}
        la.key("Return")  # "Play Again": a normal end ends the launcher too
        self.assertEqual(self.ends(), 0)
        seen = {"launcher": own}
        for kind in ("status", "build", "game"):
            for i, r in enumerate(self.fake.records(kind)):
                seen["%s %d" % (kind, i + 1)] = descriptors(r)
        self.assertEqual(sorted(seen), ["build 1", "game 1", "game 2", "launcher", "status 1"])
        for name, fds in seen.items():
            if name != "launcher":
                self.assertEqual(sorted(fds), [0, 1, 2], "%s: %s" % (name, fds))
        self.assertEqual(seen["status 1"][2], "/dev/null")
        build = seen["build 1"]
        self.assertTrue(build[1].startswith("pipe:") and build[2] == build[1], build)
        for name in ("game 1", "game 2"):
            game = seen[name]
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
        for name in ("status 1", "build 1", "game 1", "game 2"):
            self.assertEqual(seen[name][0], "/dev/null", "%s: %s" % (name, seen[name]))


if __name__ == "__main__":
    unittest.main()
