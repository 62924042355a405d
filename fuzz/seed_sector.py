#!/usr/bin/env python3
"""Seeds the sector and editions fuzz corpora from the sample media.

    seed_sector.py CORPUS_DIR MEDIA_DIR FIXTURES_DIR
        (writes CORPUS_DIR/sector and CORPUS_DIR/editions)

sector: a 6-byte head (layout, mode and the cut-short bit, the first
address) and a run of stored sectors: Mode 1 sectors with crcmod's EDCs
(MEDIA_DIR/disc1-edc.bin), the same without EDCs (disc1-m1.bin), with
sub-channel bytes, zeroed, cut short; the Mode 2 sectors of both forms
(FIXTURES_DIR/mode2-edc*.bin, tests/cdsrc/edc_sectors.py).
editions: a few lines of the sample table (tools/disc-table.py), then a NUL,
a byte that picks the disc and the edition, and the lines of a disc.
"""
import hashlib
import os
import struct
import subprocess
import sys

RAW = 2352


def save(folder, blob):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, hashlib.sha1(blob).hexdigest()), "wb") as f:
        f.write(blob)


def head(layout, mode, address, cut=False):
    return bytes([layout, mode | (4 if cut else 0)]) + struct.pack("<I", address)


def sector_seeds(folder, media, fixtures):
    edc = open(os.path.join(media, "disc1-edc.bin"), "rb").read()
    plain = open(os.path.join(media, "disc1-m1.bin"), "rb").read()
    mode2 = open(os.path.join(fixtures, "mode2-edc.bin"), "rb").read()
    bare = open(os.path.join(fixtures, "mode2-edc-2336.bin"), "rb").read()
    run = lambda image, first, k: image[first * RAW:(first + k) * RAW]
    save(folder, head(0, 1, 16 + 150) + run(edc, 16, 2))
    save(folder, head(0, 1, 20 + 150, cut=True) + run(edc, 20, 2))
    save(folder, head(0, 1, 20 + 150) + run(plain, 20, 2))
    save(folder, head(0, 1, 20 + 150) + bytes(RAW))
    damaged = bytearray(run(edc, 30, 1))
    damaged[700] ^= 1
    save(folder, head(0, 1, 30 + 150) + bytes(damaged))
    sub = b"".join(run(edc, 40 + i, 1) + bytes(range(0x20, 0x80)) for i in range(2))
    save(folder, head(1, 1, 40 + 150) + sub)
    save(folder, head(0, 2, 16 + 150) + mode2)
    save(folder, head(2, 2, 0) + bare)
    save(folder, head(3, 1, 0) + run(edc, 16, 1))


def editions_seeds(folder, media):
    tool = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "disc-table.py")
    table = subprocess.run([sys.executable, tool, "Sample", os.path.join(media, "disc1"),
                            os.path.join(media, "disc2")], check=True, capture_output=True).stdout
    lines = table.splitlines(keepends=True)
    disc1 = [l for l in lines if b"\t1\t" in l][:12]
    disc2 = [l for l in lines if b"\t2\t" in l]
    small = lines[:1] + disc1 + disc2
    other = [l.replace(b"Sample", b"Budget CD", 1) for l in disc1[:6]]
    save(folder, b"".join(small) + b"\0\x00" + b"".join(disc1))
    save(folder, b"".join(small + other) + b"\0\x01" + b"".join(disc2))
    crlf = b"".join(small).replace(b"\n", b"\r\n")
    save(folder, crlf + b"\0\x02" + b"".join(disc1[:5]) + b"X\t1\t1\t00000000\tNEW\n")
    save(folder, b"# only a comment\nbad line\nSample\t3\t1\tZZ\t..\\X\n")


def main():
    corpus, media, fixtures = sys.argv[1:4]
    sector_seeds(os.path.join(corpus, "sector"), media, fixtures)
    editions_seeds(os.path.join(corpus, "editions"), media)


if __name__ == "__main__":
    main()
