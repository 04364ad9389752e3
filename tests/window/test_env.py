"""A hostile setting: environment values of 4000 bytes and with "%" in them, a data
directory that is a file, a logs directory that cannot be written, no fonts at all.
The launcher refuses paths that do not fit its buffers, draws every "%" as a
character, runs on without the log it cannot open, and ends each time on the screen
the tables give."""

import os
import subprocess
import time
import unittest

from case import Case

CUT = 1023  # a directory string holds this many bytes, then its NUL


def long_path(base, total, name="d"):
    """A path of total bytes below base, in components of at most 200 bytes."""
    p = base
    while len(p) < total:
        p += "/" + name * min(200, total - len(p) - 1)
    return p[:total]


BUILDS = r'''
out("@step 1 1 Building %s%n\n")
out("[3/3] done %x\n")
'''

CANNOT_WRITE = r'''
try:
    os.makedirs(os.path.join(DEST, "game"), exist_ok=True)
except OSError as e:
    note("error", text=str(e))
    out("@error %s\n" % e)
    sys.exit(1)
'''

FAILS = r'''
out("about to fail\n")
sys.exit(2)
'''

# An empty tmpfs over the font directories, in a mount namespace of its own.
NO_FONTS = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs none /usr/share/fonts && exec "$@"',
            "sh"]


def namespaces():
    try:
        return subprocess.run(["unshare", "-m", "sh", "-c", "mount -t tmpfs none /mnt"],
                              capture_output=True, timeout=10).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


class Env(Case):

    def build_to_ready(self):
        self.update_then_build()
        self.screen("ready")
        self.assertEqual(self.log(), self.fake.sent())
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def refused(self, var, value, what):
        """A path that does not fit its buffer: the plain failure screen names it, no
        installer is asked anything, and "Try Again" checks again and stays there."""
        if var == "BKF_HOME":
            self.launch(home=value)
        else:
            self.launch(env={var: value})
        msg = "The path of %s is too long: %d bytes, where the limit is 1023." % (what, len(value))
        if var == "BKF_HOME":
            msg = msg[:-1] + ". Set BKF_HOME to a shorter one."
            self.home = ""
        self.screen("failed", msg=msg, blocked=1)
        self.la.key("Return")
        time.sleep(0.5)
        self.screen("failed", msg=msg, blocked=1, name="failure screen after Try Again")
        self.assertEqual(self.fake.records(), [], "the installer was asked")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_home_too_long_whose_cut_names_its_parent(self):
        """BKF_HOME of 1027 bytes whose first 1023 end in "/": a cut would have named
        its parent, and made logs/ there. It is refused; nothing is made."""
        parent = long_path(self.dir, CUT - 1)
        value = parent + "/game"
        self.assertEqual(value[:CUT], parent + "/")
        self.refused("BKF_HOME", value, "the data folder")
        self.assertFalse(os.path.exists(parent), "a folder was made from the cut path")

    def test_share_of_4000_bytes(self):
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
        msg = "The installer could not run (%s). Reinstalling the app may help." % py[:300]
        self.screen("failed", msg=msg, name="status failure")
        self.la.key("Return")
        line = "cannot run %s: No such file or directory" % py
        self.screen("failed", msg=line[:511], needs_disc=1, name="build failure")
        self.assertEqual(self.log(), ("@error %s\n" % line).encode())
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_home_with_percent(self):
        """A data directory whose name holds format directives: the failure screen
        names it character for character, and its log is written there."""
        self.launch(build=FAILS, home=os.path.join(self.dir, "data %s%n%x%.9999d%%"))
        self.update_then_build()
        self.screen("failed", msg="The build stopped (exit 2). Its log has the details.")
        self.assertEqual(self.log(), self.fake.sent())
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_share_with_percent(self):
        self.fake.share = os.path.join(self.dir, "share %n%s%x")
        self.launch(build=BUILDS)
        self.build_to_ready()

    def test_data_directory_is_a_file(self):
        """The data directory is a file: no log can be made, the installer's own error
        shows, and "Try Again" fails the same way; the launcher stays usable."""
        with open(self.home, "w") as f:
            f.write("not a directory\n")
        self.launch(build=CANNOT_WRITE)
        self.update_then_build()
        err = self.fake.wait_record("error")["text"]
        self.assertIn("Not a directory", err)
        msg = err + " The log is incomplete: Not a directory."
        self.screen("failed", msg=msg)
        self.la.key("Return")  # "Try Again": the data "directory" exists, still an update
        self.fake.wait_record("error", 2)
        self.screen("failed", msg=msg, name="failure screen again")
        self.no_children()
        with open(self.home, "rb") as f:
            self.assertEqual(f.read(), b"not a directory\n")
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
        self.launch(build=BUILDS)
        self.update_then_build()
        self.screen("ready")
        self.la.key("Return")  # "Play": there is no game
        self.screen("crashed", msg="The game could not start.")
        with open(logs, "rb") as f:
            self.assertEqual(f.read(), b"in the way\n")
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
        os.makedirs(os.path.join(self.home, "logs"))
        with open(os.path.join(self.home, "logs", "install.log"), "w") as f:
            f.write("the log of an earlier run\n")
        ro = ["unshare", "-m", "sh", "-c",
              'mount --bind "$FAKE_RO" "$FAKE_RO" && '
              'mount -o remount,ro,bind "$FAKE_RO" && exec "$@"', "sh"]
        self.launch(build=BUILDS, env={"FAKE_RO": self.home}, prefix=ro)
        self.update_then_build()
        self.screen("ready")
        self.assertEqual(self.log(), b"the log of an earlier run\n")
        self.no_children()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_no_fonts(self):
        """No font anywhere (an empty tmpfs over the font directories): one warning, the
        screens without their text, and the whole road still works."""
        if not namespaces():
            self.skipTest("no private mount namespace here")
        self.launch(build=BUILDS, prefix=NO_FONTS)
        self.screen("update", wrap=NO_FONTS, name="bare update screen")
        self.la.key("Return")
        self.screen("ready", wrap=NO_FONTS, name="bare ready screen")
        self.assertEqual(self.log(), self.fake.sent())
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)
        self.assertEqual(self.la.output().count("launcher: no DejaVu Sans font found; "
                                                "text will be missing"), 1)


if __name__ == "__main__":
    unittest.main()
