#!/usr/bin/env python3
"""Seeds the cueimage fuzz corpus: cue sheets as rippers write them, alone,
and each followed by a NUL and the head of a small volume (genisoimage) up
to its root directory, stored in one of the six sector layouts.
    seed_cueimage.py CORPUS_DIR   (writes CORPUS_DIR/cueimage)"""
import hashlib
import os
import subprocess
import sys
import tempfile

SECTOR = 2048
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"
SUBHEADER = bytes([0, 0, 0x08, 0]) * 2

SHEETS = [
    b'FILE "disc.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n',
    b'TITLE "MY PROFILE"\nCDTEXTFILE "x.cdt"\nFILE disc.bin BINARY\n  TRACK 01 MODE1/2352\n',
    b'\xef\xbb\xbfREM x\rFILE "a (Track 1).bin" BINARY\r  TRACK 01 AUDIO\r    INDEX 01 00:00:00\r'
    b'FILE "a (Track 2).bin" BINARY\r  TRACK 02 MODE2/2352\r    INDEX 00 00:00:00\r    INDEX 01 00:00:02\r',
    b'file "m.bin" binary\n track 01 cdg\n  index 01 00:00:01\n track 02 mode1/2048\n  index 01 00:00:03\n',
    b'FILE "t1.bin" BINARY\n  TRACK 01 AUDIO\n  TRACK 02 MODE1/2352\n    INDEX 00 00:10:00\n'
    b'FILE "t2.bin" BINARY\n    INDEX 01 00:00:00\n',
]

# (sector size, data offset, cue track type, INDEX 01 frames before the volume)
LAYOUTS = [
    (2048, 0, "MODE1/2048", 0),
    (2352, 16, "MODE1/2352", 2),
    (2352, 24, "MODE2/2352", 0),
    (2448, 16, "MODE1/2352", 0),
    (2448, 24, "MODE2/2352", 0),
    (2336, 8, "MODE2/2336", 2),
]


def save(folder, blob):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, hashlib.sha1(blob).hexdigest()), "wb") as f:
        f.write(blob)


def small_volume():
    """A volume with two files and a folder, cut after its root directory."""
    with tempfile.TemporaryDirectory() as tmp:
        tree = os.path.join(tmp, "tree")
        os.makedirs(os.path.join(tree, "TARNOK", "DISK1"))
        with open(os.path.join(tree, "TARNOK", "DISK1", "DISK1"), "w") as f:
            f.write("disc 1\r\n")
        with open(os.path.join(tree, "README.TXT"), "w") as f:
            f.write("x" * 3000)
        iso = os.path.join(tmp, "v.iso")
        subprocess.run(["genisoimage", "-quiet", "-o", iso, tree], check=True)
        with open(iso, "rb") as f:
            data = f.read()
    root = int.from_bytes(data[16 * SECTOR + 158:16 * SECTOR + 162], "little")
    return data[:(root + 1) * SECTOR]


def store(volume, size, offset, pregap):
    out = [bytes(size) * pregap]
    for i in range(0, len(volume), SECTOR):
        data = volume[i:i + SECTOR]
        if size == SECTOR:
            out.append(data)
            continue
        head = SYNC + bytes([0, 2, i // SECTOR % 75, 1 if offset == 16 else 2])
        if offset == 24:
            head += SUBHEADER
        if size == 2336:
            head = SUBHEADER
        sector = head + data
        out.append(sector + bytes(size - len(sector)))
    return b"".join(out)


def main():
    folder = os.path.join(sys.argv[1], "cueimage")
    for sheet in SHEETS:
        save(folder, sheet)
    volume = small_volume()
    for size, offset, mode, pregap in LAYOUTS:
        sheet = ('FILE "disc.bin" BINARY\n  TRACK 01 %s\n    INDEX 00 00:00:00\n    INDEX 01 00:00:%02d\n'
                 % (mode, pregap)).encode()
        save(folder, sheet + b"\x00" + store(volume, size, offset, pregap))


main()
