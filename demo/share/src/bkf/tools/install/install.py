#!/usr/bin/env python3
"""install.py: the stand-in for Brackenfold's installer, for trying the launcher
without the game's own one. Nothing is downloaded: a small test disc image and patch
are made on the spot, the game files are "extracted" from them, and a small stand-in
game is compiled from the sources under --korvex with the machine's C compiler and
SDL2 (or written as a script when there is neither).

    python3 -I install.py --dest DIR --korvex DIR (--status | --download)

--status prints one JSON object: {"ready": true} when the game under --dest is built
and current, {"ready": false, "needs_disc": true} when no disc image was obtained yet,
{"ready": false, "needs_disc": false} otherwise.

--download builds the game in seven steps, reported as lines for the launcher:
"@step i 7 Label", "@progress x" (0 to 1 within a step), "[i/n] ..." while compiling,
plain lines, "@error message" before a failure; exit status 0 for a built game.

Environment: BKF_PGROUP=1 makes it lead a process group of its own (so that the
launcher's cancel reaches its compiler too); BKF_DEMO_SECONDS is the whole run's
duration (default 20, 0 as fast as possible); BKF_DEMO_FAIL makes one step fail (its
number 1-7 or a word such as download, patch, verify, extract, generate, compile,
link); CC names the C compiler (default: cc, gcc or clang on PATH).

Its state under --dest: disc/ (the disc image and the patch), game/ (the extracted
game files), build/host/bkf (the game), build/stamp.json (what the build was made
from). Start reading at main().
"""

import argparse
import hashlib
import json
import math
import os
import shlex
import shutil
import signal
import subprocess
import sys
import time

VERSION = "1.0"
DISC = "brackenfold-disc.iso"
PATCH = "brackenfold-2.0.patch"
DEFAULT_SECONDS = 20.0

# Each step: its label, the words BKF_DEMO_FAIL knows it by, its share of the run's
# time on a first build, and the message it fails with.
STEPS = [
    ("Downloading the disc image", ("download", "disc", "image"), 0.30,
     "The disc image could not be downloaded: the server did not answer. "
     "Check your internet connection and try again."),
    ("Downloading the 2.0 patch", ("patch",), 0.10,
     "The 2.0 patch could not be downloaded: the server did not answer. "
     "Check your internet connection and try again."),
    ("Verifying the downloads", ("verify", "check"), 0.10,
     "The downloaded disc image is damaged. It has been removed; "
     "try again to download it anew."),
    ("Extracting the game files", ("extract", "files"), 0.14,
     "The game files could not be extracted: the disk is full. "
     "Free some space and try again."),
    ("Generating the game's code", ("generate", "code", "translate"), 0.10,
     "The game's code could not be generated from the disc image."),
    ("Compiling the game", ("compile", "build"), 0.20,
     "The game could not be compiled. The log has the compiler's messages."),
    ("Linking the game", ("link",), 0.06,
     "The game could not be linked. The log has the linker's messages."),
]

# The files on the test disc: name, size in bytes, and the size a real disc's file
# would have, in MB, for the lines the player reads.
DISC_FILES = [
    ("data/world.pak", 3072, 356.2),
    ("data/sounds.pak", 2048, 162.5),
    ("data/music.pak", 1024, 40.3),
    ("data/strings.txt", 512, 2.4),
]
DISC_MB = 561.4
PATCH_MB = 68.6

# [SECTION] Output ----------------------------------------------------------------


def say(text):
    """Writes one line at once, so that the launcher shows it as it comes."""
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def progress(x):
    say("@progress %.3f" % x)


# [SECTION] Stopping ----------------------------------------------------------------

LEADER = False   # this process leads its own process group (BKF_PGROUP=1)
CHILD = None     # the compiler (or helper) running now
TEMPS = []       # files and directories half made, removed when stopping


def remove(path):
    try:
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.unlink(path)
    except OSError:
        pass


def cleanup():
    for path in TEMPS:
        remove(path)
    del TEMPS[:]


STOPS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)


def end_child(sig):
    """Ends the running child and everything it started, and reaps it."""
    child = CHILD
    if child is None or child.returncode is not None:
        return
    try:
        # As group leader the whole group is signalled by the caller; otherwise the
        # child leads a group of its own.
        if not LEADER:
            os.killpg(child.pid, sig)
    except OSError:
        pass
    try:
        child.wait(timeout=2)
    except subprocess.TimeoutExpired:
        try:
            if LEADER:
                child.kill()
            else:
                os.killpg(child.pid, signal.SIGKILL)
        except OSError:
            pass
        child.wait()


def stop(signum, frame):
    """SIGTERM (the launcher's cancel), SIGINT, SIGHUP: stop at once."""
    for s in STOPS:
        signal.signal(s, signal.SIG_IGN)
    if LEADER:
        try:
            os.killpg(0, signum)
        except OSError:
            pass
    end_child(signum)
    cleanup()
    try:
        say("Stopped.")
    except (OSError, RuntimeError):
        pass  # nobody reads any more, or the signal came in the middle of a line
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)
    sys.exit(128 + signum)


def fail(msg, *lines):
    for line in lines:
        say(line)
    say("@error " + msg)
    cleanup()
    sys.exit(1)


# [SECTION] Pace and failure from the environment ------------------------------------


def demo_seconds():
    text = os.environ.get("BKF_DEMO_SECONDS", "").strip()
    if not text:
        return DEFAULT_SECONDS
    try:
        v = float(text)
    except ValueError:
        v = float("nan")
    if not math.isfinite(v) or v < 0:
        say("BKF_DEMO_SECONDS=%s is not a number of seconds: taking %g."
            % (text[:40], DEFAULT_SECONDS))
        return DEFAULT_SECONDS
    return min(v, 3600.0)


def demo_fail():
    """The step number that BKF_DEMO_FAIL names, or 0."""
    text = os.environ.get("BKF_DEMO_FAIL", "").strip().lower()
    if not text:
        return 0
    if text.isdigit() and 1 <= int(text) <= len(STEPS):
        return int(text)
    for i, (label, words, _, _) in enumerate(STEPS, 1):
        names = set(words)
        names.update(w.strip("'s").lower() for w in label.split() if len(w) > 3)
        if text in names:
            return i
    say("BKF_DEMO_FAIL=%s names no step (1-7, or download, patch, verify, extract, "
        "generate, compile, link): nothing is made to fail." % text[:40])
    return 0


def ticks(t0, dur, count):
    """Yields 1..count, each at its share of dur after t0."""
    for k in range(1, count + 1):
        left = t0 + dur * k / count - time.monotonic()
        if left > 0:
            time.sleep(left)
        yield k


def tick_count(dur):
    return max(3, min(60, int(dur * 8)))


# [SECTION] The test disc and patch -------------------------------------------------


def blob(name, size):
    out = b""
    seed = hashlib.sha256(name.encode()).digest()
    while len(out) < size:
        seed = hashlib.sha256(seed).digest()
        out += seed
    return out[:size]


def disc_bytes():
    head = "BKFDISC 1\ntitle Brackenfold\n"
    for name, size, _ in DISC_FILES:
        head += "file %s %d\n" % (name, size)
    head += "end\n"
    return head.encode() + b"".join(blob(n, s) for n, s, _ in DISC_FILES)


def patch_bytes():
    note = b"Brackenfold 2.0: mended saves, wider screens, a quieter fox.\n"
    return b"BKFPATCH 2.0\nfile data/patch-2.0.txt %d\nend\n" % len(note) + note


def read_image(data, magic):
    """The title and (name, bytes) list of a disc image or patch, or None."""
    lines = data.split(b"\n")
    if not lines or lines[0] != magic:
        return None
    title, files, pos, i = "", [], len(lines[0]) + 1, 1
    while i < len(lines) and lines[i] != b"end":
        pos += len(lines[i]) + 1
        words = lines[i].decode("ascii", "replace").split(" ")
        if words[0] == "title":
            title = " ".join(words[1:])
        elif words[0] == "file" and len(words) == 3 and words[2].isdigit():
            files.append((words[1], int(words[2])))
        i += 1
    if i == len(lines):
        return None
    pos += 4
    out = []
    for name, size in files:
        if pos + size > len(data) or name.startswith("/") or ".." in name.split("/"):
            return None
        out.append((name, data[pos:pos + size]))
        pos += size
    return title, out


def valid(path, want):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).digest() == hashlib.sha256(want).digest()
    except OSError:
        return False


# [SECTION] State under --dest ------------------------------------------------------


def paths(dest):
    return {
        "disc": os.path.join(dest, "disc", DISC),
        "patch": os.path.join(dest, "disc", PATCH),
        "game": os.path.join(dest, "game"),
        "host": os.path.join(dest, "build", "host"),
        "bkf": os.path.join(dest, "build", "host", "bkf"),
        "stamp": os.path.join(dest, "build", "stamp.json"),
    }


def sources(korvex):
    """The C sources of the stand-in game, or an empty list."""
    try:
        return sorted(n for n in os.listdir(korvex)
                      if n.endswith(".c") and os.path.isfile(os.path.join(korvex, n)))
    except OSError:
        return []


def source_digest(korvex):
    """A digest of every file under korvex and of this installer's version."""
    h = hashlib.sha256(("installer %s\n" % VERSION).encode())
    try:
        for root, dirs, files in os.walk(korvex):
            dirs[:] = sorted(d for d in dirs if d != "__pycache__")
            for name in sorted(files):
                path = os.path.join(root, name)
                h.update(os.path.relpath(path, korvex).encode() + b"\0")
                with open(path, "rb") as f:
                    h.update(f.read())
    except OSError:
        return None
    return h.hexdigest()


def ready(p, korvex):
    try:
        with open(p["stamp"]) as f:
            stamp = json.load(f)
    except (OSError, ValueError):
        return False
    digest = source_digest(korvex)
    return (isinstance(stamp, dict) and stamp.get("installer") == VERSION and
            digest is not None and stamp.get("sources") == digest and
            os.path.isfile(p["bkf"]) and os.access(p["bkf"], os.X_OK) and
            os.path.isdir(p["game"]))


def status(dest, korvex):
    p = paths(dest)
    if ready(p, korvex):
        answer = {"ready": True}
    else:
        answer = {"ready": False, "needs_disc": not valid(p["disc"], disc_bytes())}
    say(json.dumps(answer))
    return 0


# [SECTION] Steps 1-5: download, verify, extract, generate --------------------------


def download(path, data, name, mb, t0, dur, failing, msg):
    if valid(path, data):
        say("%s is already here: not downloading it again." % name)
        return
    say("Downloading %s (%.1f MB)" % (name, mb))
    part = path + ".part"
    TEMPS.append(part)
    count = tick_count(dur)
    rate = mb / dur if dur > 0 else 0
    with open(part, "wb") as f:
        for k in ticks(t0, dur, count):
            f.write(data[len(data) * (k - 1) // count:len(data) * k // count])
            f.flush()
            done = mb * k / count
            if rate:
                say("%s: %.1f of %.1f MB (%.1f MB/s)" % (name, done, mb, rate))
            else:
                say("%s: %.1f of %.1f MB" % (name, done, mb))
            progress(k / count)
            if failing and k * 2 >= count:
                fail(msg, "%s: the connection was closed by the server" % name)
    os.replace(part, path)
    TEMPS.remove(part)


def verify(p, t0, dur, failing, msg):
    count = tick_count(dur)
    for k in ticks(t0, dur, count):
        progress(k / count)
        if k == count // 2:
            if failing:
                remove(p["disc"])
                fail(msg, "%s: checksum mismatch" % DISC)
            if not valid(p["disc"], disc_bytes()):
                remove(p["disc"])
                fail(msg, "%s: checksum mismatch" % DISC)
            say("%s: checksum OK" % DISC)
    if not valid(p["patch"], patch_bytes()):
        remove(p["patch"])
        fail("The downloaded 2.0 patch is damaged. It has been removed; "
             "try again to download it anew.", "%s: checksum mismatch" % PATCH)
    say("%s: checksum OK" % PATCH)


def extract(p, t0, dur, failing, msg):
    with open(p["disc"], "rb") as f:
        disc = read_image(f.read(), b"BKFDISC 1")
    with open(p["patch"], "rb") as f:
        patch = read_image(f.read(), b"BKFPATCH 2.0")
    if disc is None or patch is None:
        fail(STEPS[2][3], "the disc image cannot be read")
    tmp = p["game"] + ".tmp"
    remove(tmp)
    TEMPS.append(tmp)
    files = disc[1] + patch[1]
    shown = [mb for _, _, mb in DISC_FILES] + [0.1]
    count = max(len(files), tick_count(dur))
    written = 0
    for k in ticks(t0, dur, count):
        j = (k - 1) * len(files) // count
        if j == written:
            name, data = files[j]
            say("Extracting %s (%.1f MB)" % (name, shown[j]))
            out = os.path.join(tmp, name)
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with open(out, "wb") as f:
                f.write(data)
            written += 1
        progress(k / count)
        if failing and k * 2 >= count:
            fail(msg, "Extracting %s: No space left on device" % files[j][0])
    with open(os.path.join(tmp, "VERSION"), "w") as f:
        f.write("2.0\n")
    remove(p["game"])
    os.replace(tmp, p["game"])
    TEMPS.remove(tmp)
    return disc[0] or "Brackenfold"


def c_text(s):
    return "".join(c if c.isascii() and c.isprintable() and c not in '"\\?' else "_"
                   for c in s)


def generate(p, title, t0, dur, failing, msg):
    gen = os.path.join(p["host"], "gen")
    os.makedirs(gen, exist_ok=True)
    total = 4816
    count = tick_count(dur)
    for k in ticks(t0, dur, count):
        say("korvex: translated %d of %d functions" % (total * k // count, total))
        progress(k / count)
        if failing and k * 2 >= count:
            fail(msg, "korvex: unknown instruction at 0x0041f3c0")
    digest = hashlib.sha256(disc_bytes()).hexdigest()
    path = os.path.join(gen, "gamedata.c")
    with open(path, "w") as f:
        f.write("/* Written by the installer from the disc image and the patch. */\n"
                '#include "game.h"\n\n'
                'const char bkf_disc_title[] = "%s";\n'
                'const char bkf_patch_version[] = "2.0";\n'
                'const char bkf_disc_digest[] = "%s";\n' % (c_text(title), digest))
    say("korvex: wrote gen/gamedata.c")
    return path


# [SECTION] Steps 6-7: compile and link ---------------------------------------------


def run(cmd, relay):
    """Runs cmd with its output joined; relays each line or returns them all, with the
    exit status. The child leads its own group unless this process leads one."""
    global CHILD
    # A stop that comes while the child is being started waits until CHILD names it,
    # so that it ends the child too (the child leaves the group only just now); the
    # child itself starts with nothing blocked.
    signal.pthread_sigmask(signal.SIG_BLOCK, STOPS)
    try:
        CHILD = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, start_new_session=not LEADER,
                                 preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_UNBLOCK,
                                                                           STOPS))
    except OSError as e:
        return 127, [str(e)]
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, STOPS)
    lines = []
    for raw in CHILD.stdout:
        line = raw.decode("utf-8", "replace").rstrip("\r\n")
        if relay:
            say(line)
        else:
            lines.append(line)
    CHILD.stdout.close()
    rc = CHILD.wait()
    CHILD = None
    return rc, lines


def toolchain():
    """(compiler command, cflags, libs) or (None, why not)."""
    cc = shlex.split(os.environ.get("CC", ""))
    if cc:
        if not shutil.which(cc[0]):
            return None, "the C compiler %s (from CC) was not found" % cc[0]
    else:
        for name in ("cc", "gcc", "clang"):
            if shutil.which(name):
                cc = [name]
                break
        else:
            return None, "no C compiler (cc) was found"
    if shutil.which("sdl2-config"):
        rc1, cflags = run(["sdl2-config", "--cflags"], False)
        rc2, libs = run(["sdl2-config", "--libs"], False)
        if rc1 == 0 and rc2 == 0:
            return cc, shlex.split(" ".join(cflags)), shlex.split(" ".join(libs))
    if shutil.which("pkg-config"):
        rc1, cflags = run(["pkg-config", "--cflags", "sdl2"], False)
        rc2, libs = run(["pkg-config", "--libs", "sdl2"], False)
        if rc1 == 0 and rc2 == 0:
            return cc, shlex.split(" ".join(cflags)), shlex.split(" ".join(libs))
    return None, "the SDL2 development files were not found"


SCRIPT = r"""#!/bin/sh
# The stand-in game, written as a script because this machine could not compile the
# window version. It takes the same options, but has no window.
echo "Brackenfold stand-in game (script, no window)"
i=0
for a in "$0" "$@"; do
	echo "argv[$i]: $a"
	i=$((i + 1))
done
game= res= seconds= status=0 sig=
while [ $# -gt 0 ]; do
	case $1 in
	--run) shift; continue ;;
	--game|--resolution|--seconds|--status|--signal) ;;
	*) echo "ignoring the unknown option $1"; shift; continue ;;
	esac
	if [ $# -lt 2 ]; then
		echo "ignoring $1: it needs a value"
		shift
		continue
	fi
	ok=1
	case $1 in
	--game) game=$2 ;;
	--resolution) res=$2 ;;
	--seconds)
		case $2 in
		''|.|*[!0-9.]*|*.*.*) ok= ;;
		*) seconds=$2 ;;
		esac ;;
	--status)
		case $2 in
		''|*[!0-9]*) ok= ;;
		*) if [ ${#2} -le 3 ] && [ "$2" -le 255 ]; then status=$2; else ok=; fi ;;
		esac ;;
	--signal)
		case $2 in
		''|*[!0-9]*) ok= ;;
		*) if [ ${#2} -le 2 ] && [ "$2" -ge 1 ] && [ "$2" -le 64 ]; then
			case $2 in
			17|18|19|20|21|22|23|28) ok= ;;
			*) sig=$2 ;;
			esac
		else ok=; fi ;;
		esac ;;
	esac
	[ -n "$ok" ] || echo "ignoring $1 $2: not a value it takes"
	shift 2
done
if [ -z "$game" ]; then
	echo "game directory: none given"
elif [ -d "$game" ]; then
	echo "game directory: $game (found)"
else
	echo "game directory: $game (missing)"
fi
echo "resolution: ${res:-default} (no window in the script)"
if [ -z "$seconds" ]; then
	seconds=10
	echo "no window to close: ending after $seconds seconds (--seconds N to change)"
else
	echo "ends after $seconds seconds"
fi
sleep "$seconds"
if [ -n "$sig" ]; then
	echo "ending by signal $sig"
	kill -"$sig" $$
	echo "signal $sig did not end the game: exit status 3 instead"
	exit 3
fi
echo "ending with exit status $status"
exit "$status"
"""


def install_game(p, tmp):
    os.chmod(tmp, 0o755)
    os.replace(tmp, p["bkf"])
    TEMPS.remove(tmp)


def compile_and_link(p, korvex, gen, t0, dur, failing, link_dur, link_failing):
    units = [(os.path.join(korvex, n), "korvex/" + n) for n in sources(korvex)]
    units.append((gen, "gen/gamedata.c"))
    obj = os.path.join(p["host"], "obj")
    os.makedirs(obj, exist_ok=True)
    tmp = p["bkf"] + ".tmp"
    TEMPS.append(tmp)
    tools = toolchain()
    if tools[0] is None:
        say("Building the stand-in game as a script instead: %s." % tools[1])
        for _ in ticks(t0, dur, 1):
            if failing:
                fail(STEPS[5][3], "bkf: simulated failure (BKF_DEMO_FAIL)")
            with open(tmp, "w") as f:
                f.write(SCRIPT)
        say("@step 7 7 " + STEPS[6][0])
        for _ in ticks(time.monotonic(), link_dur, 1):
            if link_failing:
                fail(STEPS[6][3], "bkf: simulated failure (BKF_DEMO_FAIL)")
            say("Nothing to link for the script: installing it as build/host/bkf")
        install_game(p, tmp)
        return "script"

    cc, cflags, libs = tools
    n = len(units) + 1
    objects = []
    for i, (src, name) in enumerate(units, 1):
        o = os.path.join(obj, os.path.basename(name) + ".o")
        objects.append(o)
        say("[%d/%d] Building C object %s.o" % (i, n, name))
        if failing and i * 2 > len(units):
            fail(STEPS[5][3],
                 "%s:1:1: error: simulated failure (BKF_DEMO_FAIL)" % os.path.basename(name))
        rc, _ = run(cc + ["-std=c11", "-O2", "-Wall", "-I", korvex] + cflags +
                    ["-c", src, "-o", o], True)
        if rc != 0:
            fail(STEPS[5][3], "the compiler stopped with status %d on %s" % (rc, name))
        for _ in ticks(t0 + dur * (i - 1) / len(units), dur / len(units), 1):
            pass

    say("@step 7 7 " + STEPS[6][0])
    t1 = time.monotonic()
    say("[%d/%d] Linking C executable bkf" % (n, n))
    if link_failing:
        fail(STEPS[6][3], "ld: simulated failure (BKF_DEMO_FAIL)")
    rc, _ = run(cc + ["-o", tmp] + objects + libs + ["-lm"], True)
    if rc != 0:
        fail(STEPS[6][3], "the linker stopped with status %d" % rc)
    for _ in ticks(t1, link_dur, 1):
        pass
    install_game(p, tmp)
    return "sdl2"


# [SECTION] The build run -----------------------------------------------------------


def build(dest, korvex):
    p = paths(dest)
    total = demo_seconds()
    failing = demo_fail()
    say("Stand-in installer %s: nothing is downloaded; a small test disc image is made "
        "instead." % VERSION)
    if not sources(korvex):
        fail("The game's sources are missing (%s). Reinstalling the app may help."
             % korvex[:300])
    try:
        os.makedirs(os.path.join(dest, "disc"), exist_ok=True)
        os.makedirs(p["host"], exist_ok=True)
    except OSError as e:
        fail("The game's folder cannot be made (%s)." % e.strerror, str(e))

    def step(i):
        say("@step %d 7 %s" % (i, STEPS[i - 1][0]))
        return time.monotonic(), total * STEPS[i - 1][2], failing == i, STEPS[i - 1][3]

    t0, dur, f, msg = step(1)
    if valid(p["disc"], disc_bytes()):
        dur = 0
    download(p["disc"], disc_bytes(), DISC, DISC_MB, t0, dur, f, msg)
    if f:
        fail(msg)
    t0, dur, f, msg = step(2)
    if valid(p["patch"], patch_bytes()):
        dur = 0
    download(p["patch"], patch_bytes(), PATCH, PATCH_MB, t0, dur, f, msg)
    if f:
        fail(msg)
    verify(p, *step(3))
    remove(p["stamp"])
    title = extract(p, *step(4))
    gen = generate(p, title, *step(5))
    t0, dur, f, msg = step(6)
    kind = compile_and_link(p, korvex, gen, t0, dur, f, total * STEPS[6][2], failing == 7)
    with open(p["stamp"], "w") as out:
        json.dump({"installer": VERSION, "sources": source_digest(korvex), "kind": kind},
                  out)
    say("Brackenfold is built and ready to play.")
    say("@done")
    return 0


def main():
    ap = argparse.ArgumentParser(description="The stand-in installer of Brackenfold.")
    ap.add_argument("--dest", required=True, help="the player's data directory")
    ap.add_argument("--korvex", required=True, help="the game's source directory")
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument("--status", action="store_true", help="tell whether it is built")
    mode.add_argument("--download", action="store_true", help="download and build it")
    args = ap.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    if args.status:
        return status(args.dest, args.korvex)

    global LEADER
    if os.environ.get("BKF_PGROUP") == "1":
        try:
            os.setpgid(0, 0)
        except OSError:
            pass
        LEADER = os.getpgid(0) == os.getpid()
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, stop)
    try:
        return build(args.dest, args.korvex)
    except OSError as e:
        if isinstance(e, BrokenPipeError):
            raise
        fail("The game could not be built: %s." % (e.strerror or e), str(e))


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:
        # Nobody reads the output any more: end quietly.
        cleanup()
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        sys.exit(1)
