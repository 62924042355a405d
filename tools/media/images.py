#!/usr/bin/env python3
"""Makes the disc images from the finished trees OUT/disc1 and OUT/disc2.

    images.py OUT FILLER_MIB

discN.iso comes from an independent authoring tool (genisoimage, or xorriso
where genisoimage is missing), checked to hold exactly the tree's names.
discN-m1.bin/.cue and discN-m2.bin/.cue are our own conversions of that ISO
into raw 2,352-byte sectors, Mode 1 and Mode 2 Form 1, as a CD drive reads
them: sync pattern, header with the sector's address and mode, and for
Mode 2 the subheader. The EDC/ECC area is left zero; readers of images
(ours, bchunk) take only the 2,048 user bytes.

disc1-edc.bin/.cue is the same Mode 1 conversion with each sector's EDC
filled in, computed by crcmod (python3-crcmod), so that the sector checks
have an image whose EDCs no code of ours wrote. Its ECC stays zero.
disc2-pressing.bin/.cue is disc 2 as a pressing that no table lists: its
TEXTS.DAT holds other bytes of the same size, and every sector its EDC.

The dumps that other tools write come from the same conversion, of a small
disc OUT/mini1 (disc 1's marker, a text and a file of 100,000 bytes) and of
the two sample discs:
  mini1-2336.bin     Mode 2 without sync and header (2,336-byte sectors)
  mini1-sub16.img    raw Mode 1 with 96 bytes of sub-channel, beside a .ccd
  mini1-sub24.mdf    raw Mode 2 Form 1 with sub-channel, beside an .mds
  mini1-pregap.bin   two seconds of pregap before the volume
  mini1-mixed.bin    three seconds of audio, then the data track
  mini1 (Track N).bin  one file per track, audio first, as Redump names them
  disc1-sub24.mdf/.mds and disc2-pregap.bin/.cue, whole discs to install from.
Their cue sheets come from cdrdao's toc2cue, given a toc file that
describes the tracks, except the one-file-per-track sheet, which toc2cue
cannot write. The sub-channel bytes are a pattern, not zeros, so that a
reader taking them for data shows. iat and bchunk check every one of them
(tests/cdsrc/dumps_check.sh).
"""
import os
import random
import shutil
import subprocess
import sys

SECTOR = 2048
RAW = 2352
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"
# A data sector's subheader: file 0, channel 0, submode "data", coding 0,
# written twice.
SUBHEADER_FORM1 = bytes([0, 0, 0x08, 0]) * 2
PREGAP_FRAMES = 150  # addresses count from 00:02:00 on a disc


def bcd(n):
    return ((n // 10) << 4) | (n % 10)


def header(lba, mode):
    a = lba + PREGAP_FRAMES
    return bytes([bcd(a // (75 * 60)), bcd(a // 75 % 60), bcd(a % 75), mode])


def make_iso(tree, iso):
    if shutil.which("genisoimage"):
        cmd = ["genisoimage", "-quiet", "-iso-level", "2", "-D", "-V", "TARNOK", "-o", iso, tree]
    else:
        cmd = ["xorriso", "-as", "mkisofs", "-quiet", "-iso-level", "2", "-D", "-V", "TARNOK", "-o", iso, tree]
    subprocess.run(cmd, check=True)


def tree_names(tree):
    names = set()
    for top, dirs, files in os.walk(tree):
        rel = os.path.relpath(top, tree)
        for n in dirs + files:
            names.add("/" + (n if rel == "." else rel + "/" + n))
    return names


def iso_names(iso):
    """The primary-volume names as a reader of ours would clean them."""
    out = subprocess.run(["isoinfo", "-f", "-i", iso], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        name = line.split(";")[0]
        if name.endswith("."):
            name = name[:-1]
        names.add(name)
    return names


def check_names(tree, iso):
    if not shutil.which("isoinfo"):
        return
    want, got = tree_names(tree), iso_names(iso)
    if want != got:
        sys.exit("images.py: %s does not hold the names of %s: missing %s, extra %s"
                 % (iso, tree, sorted(want - got)[:5], sorted(got - want)[:5]))


def convert(iso, raw, mode):
    """Writes the ISO's sectors as raw 2,352-byte sectors of the given mode."""
    pad_m1 = bytes(RAW - 16 - SECTOR)
    pad_m2 = bytes(RAW - 24 - SECTOR)
    with open(iso, "rb") as src, open(raw, "wb") as dst:
        lba = 0
        while True:
            chunk = src.read(SECTOR * 512)
            if not chunk:
                break
            out = []
            for i in range(0, len(chunk), SECTOR):
                data = chunk[i:i + SECTOR].ljust(SECTOR, b"\x00")
                if mode == 1:
                    out += [SYNC, header(lba, 1), data, pad_m1]
                else:
                    out += [SYNC, header(lba, 2), SUBHEADER_FORM1, data, pad_m2]
                lba += 1
            dst.write(b"".join(out))


def load_crcmod():
    """crcmod, from Debian's python3-crcmod. A python3 of another
    installation (pyenv, a virtual environment) does not look into the
    system's dist-packages, where the package puts it."""
    try:
        import crcmod
    except ImportError:
        sys.path.append("/usr/lib/python3/dist-packages")
        import crcmod
    return crcmod


def edc_function():
    """The CD-ROM EDC: CRC-32 of x^32+x^31+x^16+x^15+x^4+x^3+x+1, bits
    reflected, initial value 0, nothing XORed at the end."""
    return load_crcmod().mkCrcFun(0x18001801B, initCrc=0, rev=True, xorOut=0)


def convert_with_edc(iso, raw):
    """Writes the ISO's sectors as raw Mode 1 sectors with their EDC (over
    sync, header and data, stored little-endian); the ECC stays zero."""
    edc = edc_function()
    tail = bytes(RAW - 16 - SECTOR - 4)
    with open(iso, "rb") as src, open(raw, "wb") as dst:
        lba = 0
        while True:
            chunk = src.read(SECTOR * 512)
            if not chunk:
                break
            out = []
            for i in range(0, len(chunk), SECTOR):
                covered = SYNC + header(lba, 1) + chunk[i:i + SECTOR].ljust(SECTOR, b"\x00")
                out += [covered, edc(covered).to_bytes(4, "little"), tail]
                lba += 1
            dst.write(b"".join(out))


def write_cue(cue, bin_name, mode):
    with open(cue, "w", newline="\r\n") as f:
        f.write('FILE "%s" BINARY\n  TRACK 01 MODE%d/2352\n    INDEX 01 00:00:00\n' % (bin_name, mode))


SUB_CHANNEL = bytes(range(0x20, 0x80))[:96]  # a pattern, never user data
MODE2_TAIL = RAW - 24 - SECTOR  # EDC and ECC of a Mode 2 Form 1 sector


def raw_sector(data, lba, layout):
    """One stored sector of the given layout: "m1", "m2" (2,352 bytes),
    "m1-sub", "m2-sub" (the same and 96 bytes of sub-channel) or "m2-2336"
    (Mode 2 Form 1 without sync and header)."""
    if layout == "m2-2336":
        return SUBHEADER_FORM1 + data + bytes(MODE2_TAIL)
    if layout.startswith("m1"):
        sector = SYNC + header(lba, 1) + data + bytes(RAW - 16 - SECTOR)
    else:
        sector = SYNC + header(lba, 2) + SUBHEADER_FORM1 + data + bytes(MODE2_TAIL)
    return sector + SUB_CHANNEL if layout.endswith("-sub") else sector


def write_dump(iso, raw, layout, pregap=0, before=b""):
    """Writes the ISO's sectors in a layout, after `before` (audio) and
    `pregap` empty sectors of the data track."""
    with open(iso, "rb") as src, open(raw, "wb") as dst:
        dst.write(before)
        for i in range(pregap):
            dst.write(raw_sector(bytes(SECTOR), i - pregap, layout))
        lba = 0
        while True:
            chunk = src.read(SECTOR * 512)
            if not chunk:
                break
            out = []
            for i in range(0, len(chunk), SECTOR):
                out.append(raw_sector(chunk[i:i + SECTOR].ljust(SECTOR, b"\x00"), lba, layout))
                lba += 1
            dst.write(b"".join(out))


def toc2cue(out, name, toc):
    """A cue sheet for a toc file's tracks, written by cdrdao's toc2cue."""
    toc_path = os.path.join(out, name + ".toc")
    with open(toc_path, "w") as f:
        f.write(toc)
    subprocess.run(["toc2cue", toc_path, os.path.join(out, name + ".cue")], check=True, cwd=out,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.remove(toc_path)


def audio(seconds):
    return random.Random(seconds).randbytes(seconds * 75 * RAW)


def write_ccd(path):
    """A CloneCD control file for a one-track data disc; we read only its name."""
    with open(path, "w", newline="\r\n") as f:
        f.write("[CloneCD]\nVersion=3\n[Disc]\nTocEntries=4\nSessions=1\nDataTracksScrambled=0\n"
                "CDTextLength=0\n[Session 1]\nPreGapMode=1\nPreGapSubC=0\n"
                "[TRACK 1]\nMODE=1\nINDEX 1=0\n")


def write_mds(path):
    """The head of an Alcohol descriptor: its signature and version, then
    zeros; we read only its name."""
    with open(path, "wb") as f:
        f.write(b"MEDIA DESCRIPTOR" + bytes([1, 3]) + bytes(70))


def make_mini(out):
    tree = os.path.join(out, "mini1")
    for rel in ("TARNOK/DISK1/DISK1", "TARNOK/INSTALL/README.TXT"):
        dst = os.path.join(tree, *rel.split("/"))
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copyfile(os.path.join(out, "disc1", *rel.split("/")), dst)
    os.makedirs(os.path.join(tree, "BULK"), exist_ok=True)
    with open(os.path.join(tree, "BULK", "BULK.DAT"), "wb") as f:
        f.write(random.Random(100000).randbytes(100000))
    iso = os.path.join(out, "mini1.iso")
    make_iso(tree, iso)
    check_names(tree, iso)
    return iso


def make_dumps(out):
    iso = make_mini(out)
    p = lambda name: os.path.join(out, name)
    write_dump(iso, p("mini1-2336.bin"), "m2-2336")
    toc2cue(out, "mini1-2336", 'CD_ROM_XA\n\nTRACK MODE2\nDATAFILE "mini1-2336.bin"\n')
    write_dump(iso, p("mini1-sub16.img"), "m1-sub")
    write_ccd(p("mini1-sub16.ccd"))
    write_dump(iso, p("mini1-sub24.mdf"), "m2-sub")
    write_mds(p("mini1-sub24.mds"))
    write_dump(iso, p("mini1-pregap.bin"), "m1", pregap=150)
    toc2cue(out, "mini1-pregap", 'CD_ROM\n\nTRACK MODE1_RAW\nDATAFILE "mini1-pregap.bin"\nSTART 00:02:00\n')
    write_dump(iso, p("mini1-mixed.bin"), "m1", before=audio(3))
    toc2cue(out, "mini1-mixed", 'CD_ROM\n\nTRACK AUDIO\nFILE "mini1-mixed.bin" 0 00:03:00\n\n'
                                'TRACK MODE1_RAW\nDATAFILE "mini1-mixed.bin" #%d\n' % (3 * 75 * RAW))
    with open(p("mini1 (Track 1).bin"), "wb") as f:
        f.write(audio(3))
    write_dump(iso, p("mini1 (Track 2).bin"), "m1", pregap=150)
    with open(p("mini1-redump.cue"), "w", newline="\r\n") as f:
        f.write('FILE "mini1 (Track 1).bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n'
                'FILE "mini1 (Track 2).bin" BINARY\n  TRACK 02 MODE1/2352\n    INDEX 00 00:00:00\n'
                '    INDEX 01 00:02:00\n')
    write_dump(p("disc1.iso"), p("disc1-sub24.mdf"), "m2-sub")
    write_mds(p("disc1-sub24.mds"))
    write_dump(p("disc2.iso"), p("disc2-pregap.bin"), "m1", pregap=150)
    toc2cue(out, "disc2-pregap", 'CD_ROM\n\nTRACK MODE1_RAW\nDATAFILE "disc2-pregap.bin"\nSTART 00:02:00\n')


def make_pressing(out):
    """Disc 2 with one file rewritten, as another pressing would have it."""
    tree, iso = os.path.join(out, "pressing2"), os.path.join(out, "pressing2.iso")
    shutil.copytree(os.path.join(out, "disc2"), tree)
    texts = os.path.join(tree, "TARNOK", "DISK2", "DATA", "TEXTS.DAT")
    size = os.path.getsize(texts)
    with open(texts, "wb") as f:
        f.write(random.Random(1997).randbytes(size))
    make_iso(tree, iso)
    convert_with_edc(iso, os.path.join(out, "disc2-pressing.bin"))
    write_cue(os.path.join(out, "disc2-pressing.cue"), "disc2-pressing.bin", 1)
    os.remove(iso)
    shutil.rmtree(tree)


def main():
    out = sys.argv[1]
    for disc in ("disc1", "disc2"):
        tree = os.path.join(out, disc)
        iso = os.path.join(out, disc + ".iso")
        make_iso(tree, iso)
        check_names(tree, iso)
        for mode in (1, 2):
            base = "%s-m%d" % (disc, mode)
            convert(iso, os.path.join(out, base + ".bin"), mode)
            write_cue(os.path.join(out, base + ".cue"), base + ".bin", mode)
    convert_with_edc(os.path.join(out, "disc1.iso"), os.path.join(out, "disc1-edc.bin"))
    write_cue(os.path.join(out, "disc1-edc.cue"), "disc1-edc.bin", 1)
    make_pressing(out)
    make_dumps(out)


if __name__ == "__main__":
    main()
