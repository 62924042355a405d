#!/usr/bin/env python3
"""Writes a small plain ISO 9660 image holding a file recorded in three
extents, for the image reader and for xorriso and 7-Zip to read alike.
No mastering tool here splits a file below 4 GiB into extents, so the
image is made by hand, with every field a reader looks at filled in.

    multiextent.py OUT_DIR

OUT_DIR/multiextent.iso    the image: /SPLIT.DAT;1 in three records (flag
                           0x80 on the first two), stored on the image in
                           another order than their records, and /PLAIN.TXT;1
OUT_DIR/SPLIT.DAT          the file as it must read: the extents joined in
                           record order
OUT_DIR/PLAIN.TXT"""
import os
import struct
import sys

SECTOR = 2048


def both16(v):
    return struct.pack("<H", v) + struct.pack(">H", v)


def both32(v):
    return struct.pack("<I", v) + struct.pack(">I", v)


def record(ident, lba, size, flags):
    """One directory record; its length is even."""
    n = len(ident)
    length = 33 + n + ((33 + n) & 1)
    r = bytearray(length)
    r[0] = length                     # length of the record
    r[2:10] = both32(lba)             # extent location
    r[10:18] = both32(size)           # data length
    r[18:25] = bytes([126, 1, 1, 0, 0, 0, 0])  # recorded 2026-01-01 00:00:00 UTC
    r[25] = flags                     # bit 1 directory, bit 7 more extents follow
    r[28:32] = both16(1)              # volume sequence number
    r[32] = n                         # identifier length
    r[33:33 + n] = ident
    return bytes(r)


def pvd(root, volume_sectors, path_table_lba, path_table_size):
    s = bytearray(SECTOR)
    s[0] = 1                          # primary volume descriptor
    s[1:6] = b"CD001"
    s[6] = 1                          # version
    s[8:40] = b" " * 32               # system identifier
    s[40:72] = b"MULTIEXTENT".ljust(32)  # volume identifier
    s[80:88] = both32(volume_sectors) # volume space size
    s[120:124] = both16(1)            # volume set size
    s[124:128] = both16(1)            # volume sequence number
    s[128:132] = both16(SECTOR)       # logical block size
    s[132:140] = both32(path_table_size)
    s[140:144] = struct.pack("<I", path_table_lba)      # L path table
    s[148:152] = struct.pack(">I", path_table_lba + 1)  # M path table
    s[156:190] = root                 # root directory record
    s[190:813] = b" " * 623           # set, publisher, preparer, application ids, file ids
    for at in (813, 830, 847, 864):   # dates: "0" digits, zone 0
        s[at:at + 16] = b"0" * 16
    s[881] = 1                        # file structure version
    return bytes(s)


def terminator():
    s = bytearray(SECTOR)
    s[0] = 255
    s[1:6] = b"CD001"
    s[6] = 1
    return bytes(s)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    # Three extents of 2048, 2048 and 130 bytes, each of its own pattern.
    parts = [bytes((i * 7 + 1) & 0xFF for i in range(2048)),
             bytes((i * 13 + 5) & 0xFF for i in range(2048)),
             b"the tail of a file in three extents\n" * 3 + b"end\n" * 5 + b"!" * 2]
    assert [len(p) for p in parts] == [2048, 2048, 130]
    plain = b"a file in one extent\n"
    # Sectors: 16 PVD, 17 terminator, 18 L path table, 19 M path table,
    # 20 root, then the third extent before the first two.
    ROOT, THIRD, FIRST, SECOND, PLAIN = 20, 21, 22, 23, 24
    total = 25
    root_self = record(b"\0", ROOT, SECTOR, 2)
    entries = [
        root_self,
        record(b"\1", ROOT, SECTOR, 2),
        record(b"PLAIN.TXT;1", PLAIN, len(plain), 0),
        record(b"SPLIT.DAT;1", FIRST, len(parts[0]), 0x80),
        record(b"SPLIT.DAT;1", SECOND, len(parts[1]), 0x80),
        record(b"SPLIT.DAT;1", THIRD, len(parts[2]), 0),
    ]
    root = b"".join(entries).ljust(SECTOR, b"\0")
    # Path tables with the root alone: identifier length 1, the identifier 0.
    l_table = bytes([1, 0]) + struct.pack("<I", ROOT) + struct.pack("<H", 1) + b"\0\0"
    m_table = bytes([1, 0]) + struct.pack(">I", ROOT) + struct.pack(">H", 1) + b"\0\0"
    root_in_pvd = record(b"\0", ROOT, SECTOR, 2)
    image = bytearray(SECTOR * total)
    image[16 * SECTOR:17 * SECTOR] = pvd(root_in_pvd, total, 18, 10)
    image[17 * SECTOR:18 * SECTOR] = terminator()
    image[18 * SECTOR:18 * SECTOR + len(l_table)] = l_table
    image[19 * SECTOR:19 * SECTOR + len(m_table)] = m_table
    image[ROOT * SECTOR:(ROOT + 1) * SECTOR] = root
    for lba, data in ((FIRST, parts[0]), (SECOND, parts[1]), (THIRD, parts[2]), (PLAIN, plain)):
        image[lba * SECTOR:lba * SECTOR + len(data)] = data
    with open(os.path.join(out, "multiextent.iso"), "wb") as f:
        f.write(image)
    with open(os.path.join(out, "SPLIT.DAT"), "wb") as f:
        f.write(b"".join(parts))
    with open(os.path.join(out, "PLAIN.TXT"), "wb") as f:
        f.write(plain)


main()
