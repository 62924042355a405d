#!/usr/bin/env python3
"""Writes Mode 2 sectors whose EDCs crcmod computed, for the sector checks'
tests: the sample images hold Mode 1 sectors with EDCs (disc1-edc.bin) but
no Mode 2 ones.

    edc_sectors.py OUT

OUT/mode2-edc.bin holds three raw 2,352-byte sectors of a Mode 2 track at
the addresses of logical sectors 16, 17 and 18 (00:02:16 to 00:02:18):
  0  Form 1, 2,048 data bytes, EDC over bytes 16 to 2071, ECC left zero
  1  Form 2, 2,324 data bytes, EDC over bytes 16 to 2347
  2  Form 2 without its EDC (zero: not stored)
OUT/mode2-edc-2336.bin holds the same sectors without sync and header.
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "media"))
import images  # noqa: E402

SUBHEADER_FORM2 = bytes([0, 0, 0x20, 0]) * 2  # submode: Form 2


def sectors():
    edc = images.edc_function()
    rng = random.Random(2352)
    form1 = images.SYNC + images.header(16, 2) + images.SUBHEADER_FORM1 + rng.randbytes(2048)
    form1 += edc(form1[16:]).to_bytes(4, "little") + bytes(276)
    form2 = images.SYNC + images.header(17, 2) + SUBHEADER_FORM2 + rng.randbytes(2324)
    form2 += edc(form2[16:]).to_bytes(4, "little")
    no_edc = images.SYNC + images.header(18, 2) + SUBHEADER_FORM2 + rng.randbytes(2324) + bytes(4)
    return [form1, form2, no_edc]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    raw = sectors()
    assert all(len(s) == images.RAW for s in raw)
    with open(os.path.join(out, "mode2-edc.bin"), "wb") as f:
        f.write(b"".join(raw))
    with open(os.path.join(out, "mode2-edc-2336.bin"), "wb") as f:
        f.write(b"".join(s[16:] for s in raw))


if __name__ == "__main__":
    main()
