"""The player's data is never put at risk, through the real launcher in a real window:
two launchers on one data folder (the second runs nothing until the first has ended),
a first-time setup on a disk without room, a build whose log fills a small disk, a home
folder from the user database when HOME is unset (and none at all), and FIFOs where a
font and install.log should be. Cases that need a mount skip, saying so, where it is
refused."""

import os
import subprocess
import time
import unittest

from case import Case
from fakes import NEEDS_DISC

# Writes a megabyte of lines, then fails.
FLOODS_AND_FAILS = r'''
for n in range(20000):
    out("line %05d of a build that writes more than the disk holds\n" % n)
sys.exit(1)
'''

ALREADY_OPEN = ("Brackenfold is already open in another window. Use that one, or close it "
                "and press Try Again.")
STOPPED = "The build stopped (exit 1). Its log has the details."
NO_HOME = {"HOME": None, "BKF_HOME": None, "XDG_DATA_HOME": None}


def in_namespace(script):
    """A prefix that runs the launcher in a private mount namespace after script."""
    return ["unshare", "-m", "sh", "-c", script + ' && exec "$@"', "sh"]


def namespaces():
    try:
        return subprocess.run(["unshare", "-m", "true"], capture_output=True,
                              timeout=10).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


class Data(Case):

    def mounted_tmpfs(self, path, size):
        """Mounts a tmpfs of size at path for the test, or skips it."""
        os.makedirs(path, exist_ok=True)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", path],
                           capture_output=True)
        if r.returncode != 0:
            self.skipTest("mount refused (%s): a tmpfs is needed" % r.stderr.decode().strip())
        self.addCleanup(subprocess.run, ["umount", "-l", path], capture_output=True)

    def dests(self):
        """The data directory that each status query was given, in order."""
        return [r["dest"] for r in self.fake.records("status")]

    def test_two_launchers_on_one_data_folder(self):
        """The second launcher on the same folder, spelled through a symlink, shows the
        plain failure screen and runs no installer; once the first is killed outright,
        its "Try Again" gets the claim and starts as a new launcher would."""
        first = self.launch()
        self.screen("update", name="first launcher's update screen")
        link = os.path.join(self.dir, "link")
        os.symlink(self.dir, link)
        second = self.launch(home=os.path.join(link, "data"), name="second")
        self.screen("failed", msg=ALREADY_OPEN, blocked=1,
                    name="second launcher's failure screen")
        self.assertEqual(len(self.dests()), 1, "the second launcher asked the installer")
        second.key("Return")  # "Try Again" while the first still runs
        time.sleep(0.5)
        self.screen("failed", msg=ALREADY_OPEN, blocked=1, name="failure screen after Try Again")
        self.assertEqual(len(self.dests()), 1)

        first.kill()
        first.wait(10)
        second.key("Return")
        self.screen("update", name="second launcher's update screen")
        self.assertEqual(self.dests(), [os.path.join(self.dir, "data"),
                                        os.path.join(link, "data")])
        second.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_setup_without_room(self):
        """A 64 MiB disk for the data folder: "Download and Build" shows how much the
        setup needs and how much is free where, and starts nothing; "Try Again" checks
        again."""
        disk = os.path.join(self.dir, "disk")
        self.mounted_tmpfs(disk, "64m")
        self.launch(NEEDS_DISC, home=os.path.join(disk, "data"))
        self.screen("setup")
        self.la.key("Return")
        msg = "Setting up needs about 3 GB of free space; %s has 0.0 GB free." % disk
        self.screen("failed", msg=msg, needs_disc=1)
        self.la.key("Return")
        time.sleep(0.5)
        self.screen("failed", msg=msg, needs_disc=1, name="failure screen after Try Again")
        self.assertEqual(self.fake.records("build"), [], "a build was started")
        self.assertFalse(os.path.exists(self.home), "the data folder was made")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_log_that_fills_the_disk(self):
        """A 256 KiB disk and a build that writes a megabyte and fails: the failure
        screen says that the log is incomplete, and why."""
        disk = os.path.join(self.dir, "disk")
        self.mounted_tmpfs(disk, "256k")
        self.launch(build=FLOODS_AND_FAILS, home=os.path.join(disk, "data"))
        self.update_then_build()
        self.screen("failed", msg=STOPPED + " The log is incomplete: No space left on device.")
        log = self.log()
        self.assertLess(len(log), len(self.fake.sent()))
        self.assertEqual(log, self.fake.sent()[:len(log)])
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_home_from_the_user_database(self):
        """No HOME: the data folder is below the home that the user database gives, as
        in any desktop program, never below the current directory."""
        if not namespaces():
            self.skipTest("no private mount namespace here")
        home = os.path.join(self.dir, "root-home")
        passwd = os.path.join(self.dir, "passwd")
        with open(passwd, "w") as f:
            f.write("root:x:0:0:root:%s:/bin/sh\n" % home)
        la = self.launch(env=dict(NO_HOME, FAKE_PASSWD=passwd),
                         prefix=in_namespace('mount --bind "$FAKE_PASSWD" /etc/passwd'))
        self.screen("update")
        self.assertEqual(self.dests(), [os.path.join(home, ".local", "share", "brackenfold")])
        la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_no_home_at_all(self):
        """No HOME and no home in the user database (a user id that has no entry): the
        plain failure screen says so, and nothing is run or made."""
        if subprocess.run(["getent", "passwd", "54321"], capture_output=True).returncode == 0:
            self.skipTest("user id 54321 has an entry here")
        # Open to that user, so that an installer it ran would leave its record.
        os.chmod(self.dir, 0o777)
        la = self.launch(env=NO_HOME,
                         prefix=["setpriv", "--reuid=54321", "--regid=54321", "--clear-groups"])
        self.home = ""
        msg = ("No home folder was found: HOME is not set, and the system has none for this "
               "user. Set HOME or BKF_HOME.")
        self.screen("failed", msg=msg, blocked=1)
        self.assertEqual(self.fake.records(), [])
        la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_fifos_for_a_font_and_the_log(self):
        """A FIFO where BKF_FONTS's faces are, and one where install.log goes: neither is
        waited on. The fonts come from the fixed folders, and the build's failure says
        that its log is incomplete."""
        fonts = os.path.join(self.dir, "fonts")
        os.makedirs(fonts)
        for face in ("DejaVuSans.ttf", "DejaVuSans-Bold.ttf"):
            os.mkfifo(os.path.join(fonts, face))
        logs = os.path.join(self.home, "logs")
        os.makedirs(logs)
        os.mkfifo(os.path.join(logs, "install.log"))
        self.launch(build="out('@step 1 1 Failing\\n')\nsys.exit(1)\n",
                    env={"BKF_FONTS": fonts})
        self.update_then_build()
        self.screen("failed", msg=STOPPED + " The log is incomplete: it is not a regular file.")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)


if __name__ == "__main__":
    unittest.main()
