"""The player's data is never put at risk, through the real launcher in a real window:
two launchers on one data folder (the second runs nothing until the first has ended),
a first-time setup on a disk without room, a build whose log fills a small disk, a home
folder from the user database when HOME is unset (and none at all), and FIFOs where a
font and install.log should be. Cases that need a mount skip, saying so, where it is
refused."""

import os
import signal
import subprocess
import time
import unittest

from util import FAILED, Case, harness, read, render

NEEDS_DISC = 'print(\'{"ready": false, "needs_disc": true}\', flush=True)\n'

# Counts every status query, then answers "update".
COUNTED = r'''
with open(os.path.join(DIR, "status-runs"), "a") as f:
    f.write("%d %s\n" % (os.getpid(), DEST))
print('{"ready": false, "needs_disc": false}', flush=True)
'''

# Writes a megabyte of lines, then fails.
FLOODS_AND_FAILS = r'''
group()
for n in range(20000):
    out("line %05d of a build that writes more than the disk holds\n" % n)
sys.exit(1)
'''

ALREADY_OPEN = ("Brackenfold is already open in another window. Use that one, or close it "
                "and press Try Again.")
STOPPED = "The build stopped (exit 1). Its log has the details."


def mounted_tmpfs(case, path, size):
    """Mounts a tmpfs of size at path for the test, or skips it."""
    os.makedirs(path, exist_ok=True)
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", path],
                       capture_output=True)
    if r.returncode != 0:
        case.skipTest("mount refused (%s): a tmpfs is needed" % r.stderr.decode().strip())
    case.addCleanup(subprocess.run, ["umount", "-l", path], capture_output=True)


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
    def status_runs(self):
        try:
            return read(self.path("status-runs"), "r").splitlines()
        except OSError:
            return []

    def test_two_launchers_on_one_data_folder(self):
        """The second launcher on the same folder, spelled through a symlink, shows the
        plain failure screen and runs no installer; once the first is killed outright,
        its "Try Again" gets the claim and starts as a new launcher would."""
        first = self.launch(status=COUNTED)
        first.window()
        self.shows(harness.render("update"), name="first launcher's update screen")
        link = os.path.join(self.dir, "link")
        os.symlink(self.dir, link)
        second = self.enterContext(harness.Launcher(
            self.display, env={"BKF_SHARE": self.share, "HOSTILE_DIR": self.dir},
            home=os.path.join(link, "data")))
        second.window()
        self.la = second
        self.shows(render(FAILED, self.home, msg=ALREADY_OPEN, blocked=1),
                   name="second launcher's failure screen")
        self.assertEqual(len(self.status_runs()), 1, "the second launcher asked the installer")
        second.key("Return")  # "Try Again" while the first still runs
        time.sleep(0.5)
        self.shows(render(FAILED, self.home, msg=ALREADY_OPEN, blocked=1),
                   name="failure screen after Try Again")
        self.assertEqual(len(self.status_runs()), 1)

        first.proc.send_signal(signal.SIGKILL)
        first.proc.wait(10)
        second.key("Return")
        self.shows(harness.render("update"), name="second launcher's update screen")
        runs = self.status_runs()
        self.assertEqual(len(runs), 2)
        self.assertEqual(runs[1].split(" ", 1)[1], os.path.join(link, "data"))
        second.key("Escape")
        self.assertEqual(second.wait(30), 0)

    def test_setup_without_room(self):
        """A 64 MiB disk for the data folder: "Download and Build" shows how much the
        setup needs and how much is free where, and starts nothing; "Try Again" checks
        again."""
        disk = os.path.join(self.dir, "disk")
        mounted_tmpfs(self, disk, "64m")
        home = os.path.join(disk, "data")
        self.launch(status=NEEDS_DISC, home=home)
        self.la.window()
        self.shows(harness.render("setup"), name="setup screen")
        self.la.key("Return")
        msg = "Setting up needs about 3 GB of free space; %s has 0.0 GB free." % disk
        want = render(FAILED, home, msg=msg, needs_disc=1)
        self.shows(want, name="failure screen")
        self.la.key("Return")
        time.sleep(0.5)
        self.shows(want, name="failure screen after Try Again")
        self.assertFalse(os.path.exists(self.path("pid--download")), "a build was started")
        self.assertFalse(os.path.exists(home), "the data folder was made")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_log_that_fills_the_disk(self):
        """A 256 KiB disk and a build that writes a megabyte and fails: the failure
        screen says that the log is incomplete, and why."""
        disk = os.path.join(self.dir, "disk")
        mounted_tmpfs(self, disk, "256k")
        home = os.path.join(disk, "data")
        self.launch(download=FLOODS_AND_FAILS, home=home)
        self.update_then_build()
        msg = STOPPED + " The log is incomplete: No space left on device."
        self.shows(render(FAILED, home, msg=msg), name="failure screen")
        log = read(os.path.join(home, "logs", "install.log"))
        self.assertLess(len(log), len(read(self.path("side"))))
        self.assertEqual(log, read(self.path("side"))[:len(log)])
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def user_database(self, home):
        """A launcher with no HOME (nor BKF_HOME nor XDG_DATA_HOME) whose user database
        gives home for root."""
        if not namespaces():
            self.skipTest("no private mount namespace here")
        passwd = self.path("passwd")
        with open(passwd, "w") as f:
            f.write("root:x:0:0:root:%s:/bin/sh\n" % home)
        prefix = in_namespace('mount --bind "$HOSTILE_PASSWD" /etc/passwd')
        return self.launch(status=COUNTED, env={"HOSTILE_PASSWD": passwd}, prefix=prefix,
                           unset=("HOME", "BKF_HOME", "XDG_DATA_HOME"))

    def test_home_from_the_user_database(self):
        """No HOME: the data folder is below the home that the user database gives, as
        in any desktop program, never below the current directory."""
        home = os.path.join(self.dir, "root-home")
        la = self.user_database(home)
        la.window()
        self.shows(harness.render("update"), name="update screen")
        dest = self.status_runs()[0].split(" ", 1)[1]
        self.assertEqual(dest, os.path.join(home, ".local", "share", "brackenfold"))
        la.key("Escape")
        self.assertEqual(la.wait(30), 0)

    def test_no_home_at_all(self):
        """No HOME and no home in the user database (a user id that has no entry): the
        plain failure screen says so, and nothing is run or made."""
        if subprocess.run(["getent", "passwd", "54321"], capture_output=True).returncode == 0:
            self.skipTest("user id 54321 has an entry here")
        as_nobody = ["setpriv", "--reuid=54321", "--regid=54321", "--clear-groups"]
        la = self.launch(status=COUNTED, prefix=as_nobody,
                         unset=("HOME", "BKF_HOME", "XDG_DATA_HOME"))
        la.window()
        msg = ("No home folder is known: HOME is not set, and the system has none for this "
               "user. Set HOME or BKF_HOME.")
        self.shows(render(FAILED, "", msg=msg, blocked=1), name="failure screen")
        self.assertEqual(self.status_runs(), [])
        la.key("Escape")
        self.assertEqual(la.wait(30), 0)

    def test_fifos_for_a_font_and_the_log(self):
        """A FIFO where BKF_FONTS's faces are, and one where install.log goes: neither is
        waited on. The fonts come from the fixed folders, and the build's failure says
        that its log is incomplete."""
        fonts = self.path("fonts")
        os.makedirs(fonts)
        for face in ("DejaVuSans.ttf", "DejaVuSans-Bold.ttf"):
            os.mkfifo(os.path.join(fonts, face))
        logs = os.path.join(self.home, "logs")
        os.makedirs(logs)
        os.mkfifo(os.path.join(logs, "install.log"))
        self.launch(download="group()\nout('@step 1 1 Failing\\n')\nsys.exit(1)\n",
                    env={"BKF_FONTS": fonts})
        self.update_then_build()
        msg = STOPPED + " The log is incomplete: it is not a regular file."
        self.shows(render(FAILED, self.home, msg=msg), name="failure screen")
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)


if __name__ == "__main__":
    unittest.main()
