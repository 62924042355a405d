#!/usr/bin/env python3
"""Fixture archives for the LHA tests, made with jlha and checked with lhasa.
    fixtures.py OUT
OUT/src holds the original files; every archive lists what it holds below.
  L0.LZH L1.LZH L2.LZH  header levels 0/1/2, -lh5- (jlha stores RAND.BIN and
                        the empty member with -lh0-): TEXT.TXT RAND.BIN EMPTY.DAT
                        and at level 0 DATA\\FILE.DAT (levels 1/2 keep DATA in a
                        directory extended header)
  STORED.LZH            -lh0- only (jlha z): TEXT.TXT
  BIG.LZH               BIG.BIN, large enough for several -lh5- blocks
  ZEROS.LZH             4,000,000 zero bytes: jlha packs them nearly 3,000 to 1
  SMALL.LZH SMALL2.LZH  two small members at levels 0 and 2, for the cut tests
  DIRL2.LZH             DATA/FILE.DAT at level 2 (the folder in a directory header)
  LH6.LZH LH7.LZH       TEXT.TXT with -lh6- / -lh7-
  DIR.LZH               the folder DATA (-lhd-) then DATA/FILE.DAT
  CRC3.LZH              four stored members, the third with one byte changed
  SFX.EXE               a DOS stub with "-lh5-" look-alikes, then L1.LZH"""
import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MEDIA_LHA = os.path.join(HERE, "..", "..", "tools", "media", "lha.py")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def text(rng, size):
    words = [b"tarnok", b"pellurin", b"vorblen", b"the", b"of", b"and", b"disc", b"sector"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
    return bytes(out[:size])


def originals(rng):
    big = bytearray()
    while len(big) < 700 * 1024:  # text, random and runs, in turns
        big += text(rng, 40000) + bytes(rng.getrandbits(8) for _ in range(20000)) + bytes([rng.getrandbits(8)]) * 9000
    return {
        "TEXT.TXT": text(rng, 30000),
        "RAND.BIN": bytes(rng.getrandbits(8) for _ in range(3000)),
        "EMPTY.DAT": b"",
        "DATA/FILE.DAT": b"a file in a subfolder\n",
        "BIG.BIN": bytes(big),
        "ZEROS.BIN": bytes(4000000),
        "ONE.TXT": text(rng, 300),
        "TWO.TXT": b"second member\n",
        "A.TXT": b"first stored member\n",
        "B.TXT": b"second stored member\n",
        "C.TXT": b"third stored member, its CRC breaks\n",
        "D.TXT": b"fourth stored member\n",
    }


def jlha(src, command, archive, names):
    subprocess.run(["jlha", command, archive] + names, cwd=src, check=True, stdout=subprocess.DEVNULL)


def lhasa_says(archive):
    run = subprocess.run(["lhasa", "t", archive], capture_output=True, text=True)
    return run.returncode, run.stdout + run.stderr


def corrupt_third(path):
    """Changes the last data byte of the third member of a level-0 archive."""
    with open(path, "rb") as f:
        image = bytearray(f.read())
    pos = 0
    for _ in range(2):
        pos += image[pos] + 2 + int.from_bytes(image[pos + 7:pos + 11], "little")
    end = pos + image[pos] + 2 + int.from_bytes(image[pos + 7:pos + 11], "little")
    image[end - 1] ^= 0x20
    write(path, bytes(image))


def main():
    out = os.path.abspath(sys.argv[1])
    if os.path.isdir(out):
        shutil.rmtree(out)
    src = os.path.join(out, "src")
    for name, data in originals(random.Random(3)).items():
        write(os.path.join(src, name), data)
    arc = lambda name: os.path.join(out, name)
    jlha(src, "a0o5", arc("L0.LZH"), ["TEXT.TXT", "RAND.BIN", "EMPTY.DAT", "DATA/FILE.DAT"])
    jlha(src, "a1o5", arc("L1.LZH"), ["TEXT.TXT", "RAND.BIN", "EMPTY.DAT"])
    jlha(src, "a2o5", arc("L2.LZH"), ["TEXT.TXT", "RAND.BIN", "EMPTY.DAT"])
    jlha(src, "az1", arc("STORED.LZH"), ["TEXT.TXT"])
    jlha(src, "a1o5", arc("BIG.LZH"), ["BIG.BIN"])
    jlha(src, "a1o5", arc("ZEROS.LZH"), ["ZEROS.BIN"])
    jlha(src, "a0o5", arc("SMALL.LZH"), ["ONE.TXT", "TWO.TXT"])
    jlha(src, "a2o5", arc("SMALL2.LZH"), ["ONE.TXT", "TWO.TXT"])
    jlha(src, "a2o5", arc("DIRL2.LZH"), ["DATA/FILE.DAT"])
    jlha(src, "a1o6", arc("LH6.LZH"), ["TEXT.TXT"])
    jlha(src, "a1o7", arc("LH7.LZH"), ["TEXT.TXT"])
    jlha(src, "a1o5", arc("DIR.LZH"), ["DATA", "DATA/FILE.DAT"])
    jlha(src, "az0", arc("CRC3.LZH"), ["A.TXT", "B.TXT", "C.TXT", "D.TXT"])
    for name in ("L0", "L1", "L2", "STORED", "BIG", "ZEROS", "SMALL", "SMALL2", "DIRL2", "LH6", "LH7", "DIR", "CRC3"):
        rc, said = lhasa_says(arc(name + ".LZH"))
        if rc != 0:
            sys.exit("lhasa rejects %s.LZH: %s" % (name, said))
    corrupt_third(arc("CRC3.LZH"))
    rc, said = lhasa_says(arc("CRC3.LZH"))
    if rc == 0 and "CRC error" not in said:
        sys.exit("lhasa misses the CRC error of CRC3.LZH: " + said)
    subprocess.run([sys.executable, MEDIA_LHA, "--stub", arc("STUB.BIN")], check=True)
    with open(arc("STUB.BIN"), "rb") as s, open(arc("L1.LZH"), "rb") as a:
        write(arc("SFX.EXE"), s.read() + a.read())
    os.remove(arc("STUB.BIN"))


main()
