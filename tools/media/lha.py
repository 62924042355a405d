#!/usr/bin/env python3
"""LHA parts of the sample media, made with jlha and checked with lhasa:
  OUT/disc1/TARNOK/INSTALL/INSTALL.CR   graphics-like files, -lh5- and -lh0-
  OUT/TARNO103.EXE                      DOS stub + -lh5- archive (the update)
  OUT/update-badcrc/TARNO103.EXE        TARNOKP2.EXE of the right size, other CRC-32
  OUT/update-badsize/TARNO103.EXE       TARNOKP2.EXE one byte short
    lha.py OUT MIB          (MIB is not used here)
    lha.py --stub FILE      writes the DOS stub alone (for the test fixtures)

The real TARNOKP2.EXE cannot be shipped: the stand-in is exactly 916,367 bytes
with the CRC-32 0xB83E34F1, reached by choosing its last four bytes."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

MAIN_SIZE = 916367
MAIN_CRC = 0xB83E34F1


def stub():
    """A DOS MZ program of a few KiB whose data holds "-lh5-" look-alikes
    with wrong header checksums, as self-extractors carry in their code."""
    rng = random.Random(103)
    size = 6 * 1024
    head = bytearray(64)
    pages = (size + 511) // 512
    struct.pack_into("<2sHHHHHHHHHHHHH", head, 0, b"MZ", size % 512, pages, 0, 4, 0, 0xFFFF,
                     0, 0x400, 0, 0, 0, 0x40, 0)
    body = bytearray(rng.getrandbits(8) for _ in range(size - len(head)))
    message = b"This is a self-extracting archive. Run it under DOS.\r\n$"
    body[16:16 + len(message)] = message
    for at in (300, 1100, 2500, 4000):
        # A level-0 header shape: plausible size, the pattern, but a checksum
        # that does not add up.
        fake = bytearray(rng.getrandbits(8) for _ in range(40))
        fake[0] = 30
        fake[2:7] = b"-lh5-"
        fake[20] = at % 2
        fake[1] = (sum(fake[2:32]) + 1) & 0xFF
        body[at:at + len(fake)] = fake
    return bytes(head + body)


def fix_crc32(data, target):
    """Chooses the last four bytes so that the CRC-32 of data is target.
    CRC-32 is affine in the data, so each of the 32 bits of those bytes flips
    a fixed set of CRC bits; solve for the wanted flips over GF(2)."""
    data = bytearray(data)
    data[-4:] = b"\0\0\0\0"
    base = zlib.crc32(data)
    columns = []
    for bit in range(32):
        trial = bytearray(data)
        trial[-4 + bit // 8] ^= 1 << (bit % 8)
        columns.append(zlib.crc32(trial) ^ base)
    # Gaussian elimination: rows are (effect, choice of bits).
    rows = [(columns[b], 1 << b) for b in range(32)]
    want, chosen = base ^ target, 0
    for pivot in range(31, -1, -1):
        index = next((i for i, r in enumerate(rows) if r[0] >> pivot & 1), None)
        if index is None:
            continue
        effect, bits = rows.pop(index)
        rows = [(e ^ effect, b ^ bits) if e >> pivot & 1 else (e, b) for e, b in rows]
        if want >> pivot & 1:
            want ^= effect
            chosen ^= bits
    assert want == 0
    data[-4:] = struct.pack("<I", chosen)
    assert zlib.crc32(data) == target
    return bytes(data)


def main_exe(size, crc):
    """A DOS-executable-like file: MZ header, code-like bytes, text tables."""
    rng = random.Random(916367)
    out = bytearray(b"MZ" + bytes(62))
    words = [b"PELLURIN", b"VORBLEN", b"TARNOK", b"SCORE", b"LEVEL", b"SOUND", b"ERROR"]
    while len(out) < size:
        if rng.random() < 0.5:
            out += bytes(rng.choice((0x8B, 0x89, 0xE8, 0x50, 0x5D, 0xC3, 0x00, 0xFF, rng.getrandbits(8)))
                         for _ in range(64))
        else:
            out += b" ".join(rng.choice(words) for _ in range(12)) + b"\0"
    out = out[:size]
    return fix_crc32(out, crc) if crc is not None else bytes(out)


def graphics(rng, width, height):
    """A small image-like file: a header, a palette and run-heavy pixels."""
    out = bytearray(struct.pack("<4sHH", b"TPIC", width, height))
    out += bytes(rng.getrandbits(6) for _ in range(768))
    for y in range(height):
        colour = rng.getrandbits(8)
        row = bytearray()
        while len(row) < width:
            row += bytes([colour]) * rng.randint(1, 24)
            colour = (colour + rng.randint(-3, 3)) & 0xFF
        out += row[:width]
    return bytes(out)


def jlha(args, cwd):
    subprocess.run(["jlha"] + args, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def lhasa_check(archive, offset=0):
    """lhasa must test the archive clean (after the stub, if any)."""
    with open(archive, "rb") as f:
        data = f.read()[offset:]
    with tempfile.NamedTemporaryFile(suffix=".lzh") as t:
        t.write(data)
        t.flush()
        run = subprocess.run(["lhasa", "t", t.name], capture_output=True, text=True)
    if run.returncode != 0 or "CRC error" in run.stdout + run.stderr:
        sys.exit("lhasa rejects %s: %s%s" % (archive, run.stdout, run.stderr))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_install_cr(out, work):
    rng = random.Random(14)
    folder = os.path.join(work, "cr")
    os.makedirs(folder)
    files = {"TITLE.PIC": graphics(rng, 320, 200), "MENU.PIC": graphics(rng, 320, 64),
             "ICONS.PIC": graphics(rng, 64, 64), "PALETTE.PAL": bytes(rng.getrandbits(8) for _ in range(768))}
    for name, data in files.items():
        write(os.path.join(folder, name), data)
    archive = os.path.join(work, "INSTALL.CR")
    jlha(["a1o5", archive] + sorted(files), folder)
    lhasa_check(archive)
    target = os.path.join(out, "disc1", "TARNOK", "INSTALL")
    os.makedirs(target, exist_ok=True)
    shutil.copy(archive, os.path.join(target, "INSTALL.CR"))


def make_update(path, main, work):
    """Level 0 keeps a member's folder in its name (SOUND\\INTRO.VOC)."""
    rng = random.Random(103)
    folder = tempfile.mkdtemp(dir=work)
    files = {"TARNOKP2.EXE": main,
             "README.TXT": b"Tarnok 1.03 update.\r\nCopy over the installed game.\r\n" * 20,
             "TARNOK.OVL": bytes(rng.getrandbits(8) for _ in range(3000)) + bytes(4000),
             os.path.join("SOUND", "INTRO.VOC"): b"Creative Voice File\x1a" + graphics(rng, 200, 40)}
    for name, data in files.items():
        write(os.path.join(folder, name), data)
    archive = os.path.join(folder, "TARNO103.LZH")
    jlha(["a0o5", archive] + sorted(files), folder)
    lhasa_check(archive)
    with open(archive, "rb") as f:
        image = stub() + f.read()
    write(path, image)
    lhasa_check(path, len(stub()))


def main():
    if sys.argv[1] == "--stub":
        write(sys.argv[2], stub())
        return
    out = sys.argv[1]
    work = tempfile.mkdtemp()
    try:
        make_install_cr(out, work)
        main = main_exe(MAIN_SIZE, MAIN_CRC)
        make_update(os.path.join(out, "TARNO103.EXE"), main, work)
        bad = bytearray(main)
        bad[5000] ^= 0x55
        make_update(os.path.join(out, "update-badcrc", "TARNO103.EXE"), bytes(bad), work)
        make_update(os.path.join(out, "update-badsize", "TARNO103.EXE"), main[:-1], work)
    finally:
        shutil.rmtree(work)


main()
