"""A hostile setting: environment values of 4000 bytes and with "%" in them, a data
directory that is a file, a logs directory that cannot be written, no fonts at all.
The launcher refuses paths that do not fit its buffers, draws every "%" as a
character, runs on without the log it cannot open, and ends each time on the screen
the tables give."""

import os
import subprocess
import time
import unittest

from util import CRASHED, FAILED, READY, UPDATE, Case, harness, read, render

CUT = 1023  # a directory string holds this many bytes, then its NUL


def long_path(base, total, name="d"):
    """A path of total bytes below base, in components of at most 200 bytes."""
    p = base
    while len(p) < total:
        p += "/" + name * min(200, total - len(p) - 1)
    return p[:total]


BUILDS = r'''
group()
out("@step 1 1 Building %s%n\n")
out("[3/3] done %x\n")
sys.exit(0)
'''

CANNOT_WRITE = r'''
group()
try:
    os.makedirs(os.path.join(DEST, "game"), exist_ok=True)
except OSError as e:
    note("error", str(e))
    out("@error %s\n" % e)
    sys.exit(1)
sys.exit(0)
'''

FAILS = r'''
group()
out("about to fail\n")
sys.exit(2)
'''

NAMESPACE_PROBE = ["unshare", "-m", "sh", "-c", "mount -t tmpfs none /mnt"]


def namespaces():
    try:
        return subprocess.run(NAMESPACE_PROBE, capture_output=True, timeout=10).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


class Env(Case):
    def build_to_ready(self, logdir=None):
        self.update_then_build()
        self.shows(harness.render("ready"), name="ready screen")
        if logdir is not None:
            self.assertEqual(read(os.path.join(logdir, "install.log")),
                             read(self.path("side")))
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def refused(self, var, value, what, home=None):
        """A path that does not fit its buffer: the plain failure screen names it, no
        installer is asked anything, and "Try Again" checks again and stays there."""
        env = {} if var == "BKF_HOME" else {var: value}
        self.launch(env=env, home=home)
        self.la.window()
        msg = "The path of %s is too long: %d bytes, and at most 1023 fit." % (what, len(value))
        if var == "BKF_HOME":
            msg = msg[:-1] + ". Set BKF_HOME to a shorter one."
        want = render(FAILED, "" if var == "BKF_HOME" else self.home, msg=msg, blocked=1)
        self.shows(want, name="failure screen")
        self.la.key("Return")
        time.sleep(0.5)
        self.shows(want, name="failure screen after Try Again")
        self.assertFalse(os.path.exists(self.path("pid--status")), "the installer was asked")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_home_too_long_whose_cut_names_its_parent(self):
        """BKF_HOME of 1027 bytes whose first 1023 end in "/": a cut would have named
        its parent, and made logs/ there. It is refused; nothing is made."""
        parent = long_path(self.dir, CUT - 1)
        value = parent + "/game"
        self.assertEqual(value[:CUT], parent + "/")
        self.refused("BKF_HOME", value, "the data folder", home=value)
        self.assertFalse(os.path.exists(parent), "a folder was made from the cut path")

    def test_share_and_python_of_4000_bytes(self):
        """BKF_SHARE and BKF_PYTHON of 4000 bytes are refused the same way."""
        self.refused("BKF_SHARE", long_path(self.dir, 4000, "s"), "the app's files (BKF_SHARE)")

    def test_python_of_4000_bytes(self):
        self.refused("BKF_PYTHON", long_path(self.dir, 4000, "p"),
                     "the Python interpreter (BKF_PYTHON)")

    def test_python_with_percent(self):
        """BKF_PYTHON with "%" in it, naming no program: the status query fails and its
        message names the first 300 bytes of the path; "Try Again" then fails with the
        child's own "cannot run" line, cut to the message's room."""
        py = long_path(self.dir + "/no %s%n%x%%d here", 900, "p")
        self.launch(env={"BKF_PYTHON": py})
        self.la.window()
        msg = "The installer could not run (%s). Reinstalling the app may help." % py[:300]
        self.shows(render(FAILED, self.home, msg=msg), name="status failure")
        self.la.key("Return")
        line = "cannot run %s: No such file or directory" % py
        self.shows(render(FAILED, self.home, msg=line[:511], needs_disc="1"),
                   name="build failure")
        self.assertEqual(read(os.path.join(self.home, "logs", "install.log")),
                         ("@error %s\n" % line).encode())
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_home_with_percent(self):
        """A data directory whose name holds format directives: the failure screen
        names it character for character, and its log is written there."""
        home = os.path.join(self.dir, "data %s%n%x%.9999d%%")
        self.launch(download=FAILS, home=home)
        self.update_then_build()
        self.shows(render(FAILED, home, msg="The build stopped (exit 2). Its log has the "
                          "details."), name="failure screen")
        self.assertEqual(read(os.path.join(home, "logs", "install.log")),
                         read(self.path("side")))
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_share_with_percent(self):
        self.share = os.path.join(self.dir, "share %n%s%x")
        self.launch(download=BUILDS)
        self.build_to_ready(os.path.join(self.home, "logs"))

    def test_data_directory_is_a_file(self):
        """The data directory is a file: no log can be made, the installer's own error
        shows, and "Try Again" fails the same way; the launcher stays usable."""
        home = os.path.join(self.dir, "data")
        with open(home, "w") as f:
            f.write("not a directory\n")
        self.launch(download=CANNOT_WRITE, home=home)
        self.update_then_build()
        err = self.noted("error")
        self.assertIn("Not a directory", err)
        want = render(FAILED, home, msg=err + " The log is incomplete: Not a directory.")
        self.shows(want, name="failure screen")
        os.unlink(self.path("error"))
        self.la.key("Return")  # "Try Again": the data "directory" exists, still an update
        self.noted("error")
        self.shows(want, name="failure screen again")
        self.no_children()
        self.assertEqual(read(home), b"not a directory\n")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_logs_directory_is_a_file(self):
        """The logs directory is a file: the build runs without its log and ends ready;
        the game's log cannot be made either, and a missing game still shows the
        crashed screen."""
        os.makedirs(self.home)
        logs = os.path.join(self.home, "logs")
        with open(logs, "w") as f:
            f.write("in the way\n")
        self.launch(download=BUILDS)
        self.update_then_build()
        self.shows(harness.render("ready"), name="ready screen")
        self.la.key("Return")  # "Play": there is no game
        self.shows(render(CRASHED, self.home, msg="The game could not start."),
                   name="crashed screen")
        self.assertEqual(read(logs), b"in the way\n")
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
        self.assertIn("cannot run", self.la.output())

    def test_read_only_data_directory(self):
        """The data directory on a read-only mount (root ignores permission bits): the
        old install.log can be neither truncated nor written, the build goes on and
        ends ready."""
        if not namespaces():
            self.skipTest("no private mount namespace here")
        logs = os.path.join(self.home, "logs")
        os.makedirs(logs)
        with open(os.path.join(logs, "install.log"), "w") as f:
            f.write("the log of an earlier run\n")
        ro = ["unshare", "-m", "sh", "-c",
              'mount --bind "$HOSTILE_RO" "$HOSTILE_RO" && '
              'mount -o remount,ro,bind "$HOSTILE_RO" && exec "$@"', "sh"]
        self.launch(download=BUILDS, env={"HOSTILE_RO": self.home}, prefix=ro)
        self.update_then_build()
        self.shows(harness.render("ready"), name="ready screen")
        self.assertEqual(read(os.path.join(logs, "install.log")),
                         b"the log of an earlier run\n")
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_no_fonts(self):
        """No font anywhere (an empty tmpfs over the font directories): one warning, the
        screens without their text, and the whole road still works."""
        if not namespaces():
            self.skipTest("no private mount namespace here")
        bare = ["unshare", "-m", "sh", "-c",
                'mount -t tmpfs none /usr/share/fonts && exec "$@"', "sh"]
        self.launch(download=BUILDS, prefix=bare)
        self.la.window()
        self.shows(render(UPDATE, self.home, wrap=bare), name="bare update screen")
        self.la.key("Return")
        self.shows(render(READY, self.home, wrap=bare), name="bare ready screen")
        self.assertEqual(read(os.path.join(self.home, "logs", "install.log")),
                         read(self.path("side")))
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
        self.assertIn("launcher: no DejaVu Sans font found; text will be missing",
                      self.la.output())


if __name__ == "__main__":
    unittest.main()
