#!/usr/bin/env python3
"""Seeds the fuzz corpus from LHA archives: each small archive becomes a walk
input, and each -lh5- member's compressed bytes, behind a 3-byte output size,
an lh5 input.
    seed.py CORPUS_DIR ARCHIVE...   (writes CORPUS_DIR/walk and CORPUS_DIR/lh5)"""
import hashlib
import os
import struct
import sys

MAX_INPUT = 64 * 1024


def members(image):
    """Yields (method, compressed bytes, original size) of each member, for
    the plain header layouts; stops quietly at anything unusual."""
    pos = image.find(b"-lh") - 2
    while 0 <= pos and len(image) - pos >= 24 and image[pos] != 0:
        method = image[pos + 2:pos + 7]
        packed, original = struct.unpack_from("<II", image, pos + 7)
        level = image[pos + 20]
        if level == 0:
            data = pos + image[pos] + 2
        elif level == 1:
            data = pos + image[pos] + 2
            size = struct.unpack_from("<H", image, data - 2)[0]
            while size:
                data += size
                packed -= size
                size = struct.unpack_from("<H", image, data - 2)[0]
        elif level == 2:
            data = pos + struct.unpack_from("<H", image, pos)[0]
        else:
            return
        if packed < 0 or data + packed > len(image):
            return
        yield method, image[data:data + packed], original
        pos = data + packed


def save(folder, blob):
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(blob).hexdigest()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(blob)


def main():
    corpus = sys.argv[1]
    for path in sys.argv[2:]:
        with open(path, "rb") as f:
            image = f.read()
        if len(image) <= MAX_INPUT:
            save(os.path.join(corpus, "walk"), image)
        try:
            for method, packed, original in members(image):
                if method == b"-lh5-" and len(packed) <= MAX_INPUT and original < 1 << 24:
                    save(os.path.join(corpus, "lh5"), struct.pack("<I", original)[:3] + packed)
        except struct.error:
            pass


main()
