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
"""
import os
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


def write_cue(cue, bin_name, mode):
    with open(cue, "w", newline="\r\n") as f:
        f.write('FILE "%s" BINARY\n  TRACK 01 MODE%d/2352\n    INDEX 01 00:00:00\n' % (bin_name, mode))


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


if __name__ == "__main__":
    main()
