"""Installers whose output is hostile: format directives, invalid UTF-8, NUL bytes,
carriage returns alone, numbers at and past the limits, a 1 MB line, stdout and stderr
interleaved, and 100 MB in all. The launcher draws each of them as plain characters,
keeps repainting, ends on the ready screen, and install.log holds every byte sent."""

import hashlib
import os
import unittest

from case import Case
from harness import BUTTONS, LAST, PROGRESS, STEP, TITLE, wait_for

LIMIT = 8191  # bytes of a line; the byte that arrives on a full line is lost


def last_piece(line):
    """The part of one long line that ends up on screen: it is cut into pieces of 8191
    bytes, each piece followed by one lost byte, and the last non-empty piece shows."""
    pieces = []
    while len(line) > LIMIT:
        pieces.append(line[:LIMIT])
        line = line[LIMIT + 1:]
    pieces.append(line)
    return [p for p in pieces if p][-1]


MB_LINE = (b"0123456789" * 104858)[:1 << 20]

# Each stage: what the installer sends (descriptor, bytes), then the fields that the
# working screen then shows, and the regions compared. progress=None: indeterminate, so
# the bar moves and is not compared (the stages that leave it out check that it moves).
STAGES = [
    ([(1, b"@step 1 3 %s%n%x label\n"), (1, b"%s%n%x %p %.9999s %1$s\n")],
     dict(step=1, steps=3, step_label=b"%s%n%x label", last_line=b"%s%n%x %p %.9999s %1$s"),
     [TITLE, STEP, LAST, BUTTONS]),
    ([(1, b"\xff\xfe bad \xc3\x28 half \xe2\x82\n")],
     dict(last_line=b"\xff\xfe bad \xc3\x28 half \xe2\x82"), [LAST]),
    ([(2, b"before\x00after\n")], dict(last_line=b"before"), [LAST]),
    ([(1, b"\r\r\r\n"), (2, b"\r\n"), (1, b"\r" * 5000 + b"\n"), (1, b"@progress -0\n")],
     dict(last_line=b"before", progress="-0"), [LAST, PROGRESS]),
    ([(1, b"@progress inf\n"), (2, b"err one\n"), (1, b"out two\r\n"), (2, b"err three\n")],
     dict(last_line=b"err three", progress="1"), [LAST, PROGRESS]),
    ([(1, b"@progress 0.5\n"), (1, b"[1/0] zero\n")],
     dict(last_line=b"[1/0] zero", progress="0.5"), [LAST, PROGRESS]),
    ([(1, b"[4294967295/1] big\n")],
     dict(last_line=b"[4294967295/1] big", progress="4294967295"), [LAST, PROGRESS]),
    ([(1, b"@progress 0.25\n"), (2, b"@progress 1e308\n")],
     dict(last_line=b"[4294967295/1] big", progress="1"), [LAST, PROGRESS]),
    ([(1, b"@progress nan\n"), (1, b"@progress\n")],
     dict(last_line=b"@progress", progress=None), [LAST]),
    ([(1, MB_LINE + b"\n")], dict(last_line=last_piece(MB_LINE)[:255], progress=None),
     [LAST, STEP]),
    ([(1, b"@step 2 3\n"), (2, b"@step x y\n"), (1, b"@error\n")],
     dict(step=2, steps=3, step_label=b"", last_line=b"@error", progress=None),
     [TITLE, STEP, LAST, BUTTONS]),
]

STAGED = r'''
STAGES = %r
for i, stage in enumerate(STAGES):
    for fd, b in stage:
        out(b, fd)
    hold("stage-%%d" %% i)
out("@done\n")
'''

# Too much to keep a copy of: the installer counts and hashes what it sends.
FLOOD = r'''
h = hashlib.sha256()
total = 0
def put(fd, b):
    global total
    h.update(b)
    total += len(b)
    send(fd, b)
put(1, MB + b"\n")
for i in range(200):
    put(1 + i % 2, b"%s line %d\n" % (b"err" if i % 2 else b"out", i))
# 64 KB that hold every byte value: NUL, newlines, carriage returns, invalid UTF-8.
block = bytes(range(256)) * 256
n = 0
while total < (100 << 20) or not os.path.exists(os.path.join(CTL, "flood")):
    put(1 + n % 2, block)
    n += 1
put(1, b"@done\n")
note("flood", total=total, sha256=h.hexdigest())
'''


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


class Output(Case):

    def test_lines_drawn_as_characters(self):
        """Each hostile line shows as its own characters, cut and lost where a line is
        full, and the bar follows the numbers as bounded; the log is what was sent."""
        self.launch(build=STAGED % ([s[0] for s in STAGES],))
        self.update_then_build()
        fields = dict(step=0, steps=0, step_label=b"Starting", last_line=b"", progress=None)
        for i, (_, change, rects) in enumerate(STAGES):
            fields.update(change)
            got = self.screen("working", rects, name="stage %d" % i,
                              **{k: v for k, v in fields.items() if v is not None})
            if fields["progress"] is None and PROGRESS not in rects:
                # Indeterminate: the bar sweeps across the track.
                wait_for(lambda: (lambda img: img and not got.same(img, [PROGRESS]))(
                    self.la.grab()), 5, 0.05, "the indeterminate bar to move")
            if i == 0:
                self.repaints()
            self.fake.release("stage-%d" % i)
        self.screen("ready")
        self.assertEqual(self.log(), self.fake.sent())
        self.no_zombies()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)

    def test_flood_of_100_mb(self):
        """A 1 MB line, stdout and stderr interleaved, then 100 MB of every byte value:
        the window keeps repainting while it pours in, and the log gets all of it."""
        self.launch(build="MB = %r\n" % MB_LINE + FLOOD)
        self.update_then_build()
        self.screen("working", [TITLE, BUTTONS])
        log = os.path.join(self.home, "logs", "install.log")
        size = lambda: os.path.getsize(log) if os.path.exists(log) else 0  # noqa: E731
        wait_for(lambda: size() > (4 << 20), 20, 0.05, "the flood to reach the log")
        before = size()
        self.repaints()
        self.assertGreater(size(), before, "the flood went on while the window repainted")
        self.fake.release("flood")
        self.screen("ready", timeout=60)
        flood = self.fake.wait_record("flood")
        self.assertGreaterEqual(flood["total"], 100 << 20)
        self.assertEqual(os.path.getsize(log), flood["total"])
        self.assertEqual(sha256(log), flood["sha256"])
        self.no_zombies()
        self.la.key("Escape")
        self.assertEqual(self.ends(), 0)


if __name__ == "__main__":
    unittest.main()
