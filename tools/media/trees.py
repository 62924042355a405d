#!/usr/bin/env python3
"""Makes the two sample disc trees, OUT/disc1 and OUT/disc2.

    trees.py OUT FILLER_MIB

Every path the install reads is there (INSTALL.CR and TARNOK.ICO come from
the LHA and icon steps), plus what the copy code must cope with: filler of
FILLER_MIB MiB per disc so copies span many blocks, a file of 100,000 bytes
(two copy steps, the second not a whole number of sectors), an empty file,
a tree 18 levels deep with a file at each level and a folder of 100 entries.
Names stay upper-case 8.3 so an ISO 9660 authoring tool keeps them as they
are. The bytes are pseudo-random but the same on every run.
"""
import os
import random
import sys

SPRITE_SETS = ["TARNOK", "ARME", "DIVERS", "ORBU", "GRISTAL", "FIRST", "DOLVEN", "ZAVR", "SOLDAT"]
DEEP_LEVELS = 18
MANY_ENTRIES = 100
FILLER_GROUP = 50
MIB = 1 << 20


def put(root, rel, data):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def text(s):
    return s.replace("\n", "\r\n").encode("ascii")


def wav(rng, seconds):
    """A small valid PCM WAV: 11,025 Hz mono 8-bit noise."""
    rate = 11025
    body = rng.randbytes(rate * seconds)
    fmt_chunk = b"fmt " + (16).to_bytes(4, "little") + (1).to_bytes(2, "little") + (1).to_bytes(2, "little") \
        + rate.to_bytes(4, "little") + rate.to_bytes(4, "little") + (1).to_bytes(2, "little") + (8).to_bytes(2, "little")
    data_chunk = b"data" + len(body).to_bytes(4, "little") + body
    riff = b"WAVE" + fmt_chunk + data_chunk
    return b"RIFF" + len(riff).to_bytes(4, "little") + riff


def filler_sizes(rng, total):
    """Sizes adding up to total: two files over 1 MiB first, then a spread."""
    sizes = []
    for first in (MIB + MIB // 2, MIB + 1234):
        if total >= first:
            sizes.append(first)
            total -= first
    while total > 0:
        n = min(total, rng.randrange(1, 512 * 1024))
        sizes.append(n)
        total -= n
    return sizes


def add_filler(root, folder, rng, mib):
    """Filler in folders of FILLER_GROUP files, as a game disc spreads its data."""
    for i, n in enumerate(filler_sizes(rng, mib * MIB)):
        put(root, "%s/G%03d/FILL%04d.DAT" % (folder, i // FILLER_GROUP, i), rng.randbytes(n))


def add_deep_tree(root):
    """D1 in the root, D2 in it and so on: folder Dk lies k levels deep."""
    rel = ""
    for level in range(1, DEEP_LEVELS + 1):
        rel += "D%d" % level
        put(root, "%s/F%d.TXT" % (rel, level), text("level %d\n" % level))
        rel += "/"


def add_many(root):
    for i in range(MANY_ENTRIES):
        put(root, "MANY/F%03d.TXT" % i, text("entry %d\n" % i))


def make_disc1(root, mib):
    rng = random.Random(1)
    put(root, "TARNOK/DISK1/DISK1", text("Tarnok disc 1\n"))
    put(root, "TARNOK/INSTALL/README.TXT", text("Tarnok: Vorblen - Pellurin\nInstall notes.\n"))
    put(root, "TARNOK/INSTALL/SETUP.DAT", rng.randbytes(3000))
    put(root, "TARNOK/INSTALL/TARNOK.PIF", rng.randbytes(545))
    put(root, "TARNOK/INSTALL/EXTRA/NOTE.TXT", text("not copied by the install\n"))
    for s in SPRITE_SETS:
        for i in range(3):
            put(root, "TARNOK/DISK1/COMBAT/SPRITES/%s/%s%d.SPR" % (s, s[:4], i), rng.randbytes(rng.randrange(500, 9000)))
    put(root, "TARNOK/DISK1/MUSIC/MUSIK1.WAV", wav(rng, 2))
    put(root, "TARNOK/DISK1/DATA/BLOCK100.DAT", rng.randbytes(100000))
    put(root, "TARNOK/DISK1/DATA/EMPTY.DAT", b"")
    put(root, "TARNOK/DISK1/DATA/NOEXT", text("a file without extension\n"))
    add_filler(root, "TARNOK/DISK1/FILLER", rng, mib)
    add_deep_tree(root)
    add_many(root)


def make_disc2(root, mib):
    rng = random.Random(2)
    put(root, "TARNOK/DISK2/DISK2", text("Tarnok disc 2\n"))
    put(root, "TARNOK/DISK2/DATA/LEVELS.DAT", rng.randbytes(20000))
    put(root, "TARNOK/DISK2/DATA/TEXTS.DAT", rng.randbytes(7000))
    put(root, "TARNOK/DISK2/VIDEO/INTRO.VID", rng.randbytes(150000))
    add_filler(root, "TARNOK/DISK2/FILLER", rng, mib)


def main():
    out, mib = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 4
    make_disc1(os.path.join(out, "disc1"), mib)
    make_disc2(os.path.join(out, "disc2"), mib)


if __name__ == "__main__":
    main()
