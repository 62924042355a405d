#!/usr/bin/env python3
"""Prints the table of one edition of the two game discs, for setup.exe's
list of known editions (src/editions/editions.h describes the format).

    disc-table.py EDITION DISC1 DISC2 > edition.txt

DISC1 and DISC2 are the discs' folders: a drive's root or a copy of it.
Every file gets one line, EDITION, disc, size, CRC-32 and its path below
its disc's root with backslashes, tab-separated, sorted by disc and path,
so that the output is the same bytes on every run and on every machine.
The install copies folders down to 16 levels below a disc's root and no
deeper; files below that are left out here too. Tables of several editions
are put one after the other into the file that the build's
TARNOK_DISC_TABLE names.
"""
import os
import sys
import zlib

DEPTH_LIMIT = 16  # folder levels below the root that the install copies
BLOCK = 1 << 20


def crc32(path):
    crc = 0
    with open(path, "rb") as f:
        while True:
            block = f.read(BLOCK)
            if not block:
                return crc
            crc = zlib.crc32(block, crc)


def disc_files(root):
    """(path with backslashes, size, CRC-32) of every file the install
    copies from the disc at root, as bytes, in no particular order."""
    out = []
    root = os.fsencode(root)
    for top, dirs, files in os.walk(root):
        rel = os.path.relpath(top, root)
        steps = [] if rel == b"." else rel.split(os.sep.encode())
        if len(steps) >= DEPTH_LIMIT:
            dirs[:] = []
        for name in files:
            path = b"\\".join(steps + [name])
            if any(c < 0x20 or c == 0x7F for c in path) or b":" in path or b"\\" in name:
                sys.exit("disc-table.py: %r: a name that no disc holds" % path)
            if len(path) > 255:
                sys.exit("disc-table.py: %r: longer than the 255 bytes of a disc's path" % path)
            full = os.path.join(top, name)
            out.append((path, os.path.getsize(full), crc32(full)))
    return out


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: disc-table.py EDITION DISC1 DISC2")
    edition = sys.argv[1].encode("utf-8")
    if not edition or len(edition) > 63 or edition[:1] == b"#" or any(c < 0x20 or c == 0x7F for c in edition):
        sys.exit("disc-table.py: an edition's name has 1 to 63 bytes, no tab or control character "
                 "and does not begin with '#'")
    lines = [b"# Tarnok disc editions: edition, disc, size, CRC-32, path; tab-separated\n"]
    for disc, root in ((1, sys.argv[2]), (2, sys.argv[3])):
        if not os.path.isdir(root):
            sys.exit("disc-table.py: %s is no folder" % root)
        for path, size, crc in sorted(disc_files(root), key=lambda f: (f[0].upper(), f[0])):
            lines.append(b"%s\t%d\t%d\t%08X\t%s\n" % (edition, disc, size, crc, path))
    sys.stdout.buffer.write(b"".join(lines))


if __name__ == "__main__":
    main()
