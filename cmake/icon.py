#!/usr/bin/env python3
"""icon.py PNG HEADER: writes the pixels of an 8-bit RGBA, non-interlaced PNG (the icon
that scripts/shots renders from the SVG) as a C header: `static const unsigned char
ICON[]`, four bytes a pixel in R, G, B, A order, rows from the top. Only the standard
library: the build needs no image tool."""

import struct
import sys
import zlib


def pixels(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("icon.py: %s is no PNG" % path)
    pos, idat, head = 8, b"", None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    w, h, depth, colour, _, _, interlace = head
    if depth != 8 or colour != 6 or interlace:
        sys.exit("icon.py: %s is not 8-bit RGBA without interlacing" % path)
    raw, stride, out, prev = zlib.decompress(idat), w * 4, bytearray(), bytearray(w * 4)
    for y in range(h):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line
        prev = line
    return w, h, bytes(out)


def main():
    w, h, px = pixels(sys.argv[1])
    with open(sys.argv[2], "w") as f:
        f.write("// Made by cmake/icon.py from %s: %dx%d, RGBA.\n" % (sys.argv[1].rsplit("/", 1)[-1], w, h))
        f.write("static const unsigned char ICON[%d] = {\n" % len(px))
        for i in range(0, len(px), 16):
            f.write("\t" + ", ".join("0x%02x" % b for b in px[i:i + 16]) + ",\n")
        f.write("};\n")


if __name__ == "__main__":
    main()
