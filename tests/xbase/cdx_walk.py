#!/usr/bin/python3
"""Independent reader for compound index files, written from the format notes alone.

Prints every tag (in header order) and its keys, walking each tree down its leftmost
children and then along the leaf chain. Exits non-zero on any layout violation."""
import struct
import sys

PAGE = 512


def fail(msg):
    print("BAD " + msg)
    sys.exit(1)


def leaf_keys(page, keylen, pad):
    attr, count, left, right = struct.unpack_from("<HHII", page, 0)
    free, recmask, dupmask, trailmask, rb, db, tb, nb = struct.unpack_from("<HIBBBBBB", page, 12)
    if rb + db + tb != 8 * nb:
        fail("leaf bit widths")
    pos = PAGE
    prev = bytes([pad]) * keylen
    out = []
    for i in range(count):
        v = int.from_bytes(page[24 + i * nb: 24 + (i + 1) * nb], "little")
        rec = v & recmask
        dup = 0 if i == 0 else (v >> rb) & dupmask
        trail = (v >> (rb + db)) & trailmask
        take = keylen - dup - trail
        pos -= take
        key = prev[:dup] + page[pos:pos + take] + bytes([pad]) * trail
        out.append((key, rec))
        prev = key
    if pos - (24 + count * nb) != free:
        fail("leaf free count")
    return out, left, right


def walk(data, root, keylen, pad):
    # Down the leftmost path to the first leaf.
    off = root
    for _ in range(32):
        page = data[off:off + PAGE]
        attr = struct.unpack_from("<H", page, 0)[0]
        if attr & 2:
            break
        off = struct.unpack_from(">I", page, 12 + keylen + 4)[0]
    keys = []
    prev_off = 0xFFFFFFFF
    while off != 0xFFFFFFFF:
        page = data[off:off + PAGE]
        got, left, right = leaf_keys(page, keylen, pad)
        if left != prev_off:
            fail("left sibling of %d" % off)
        keys += got
        prev_off, off = off, right
    if keys != sorted(keys):
        fail("keys out of order")
    return keys


def main(path, pads):
    data = open(path, "rb").read()
    if len(data) % PAGE:
        fail("file size not a multiple of 512")
    root, _, _, keylen, options, sig = struct.unpack_from("<IIIHBB", data, 0)
    if keylen != 10 or options != 0xE0 or sig != 1:
        fail("file header")
    tags = sorted(walk(data, root, 10, 0x20), key=lambda k: k[1])
    for name, hdr in tags:
        h = data[hdr:hdr + 2 * PAGE]
        troot, _, _, klen, opt, sig = struct.unpack_from("<IIIHBB", h, 0)
        desc = struct.unpack_from("<H", h, 502)[0]
        fs, fl, ks, kl = struct.unpack_from("<HHHH", h, 504)
        pool = h[PAGE:]
        key = pool[ks:ks + kl - 1].decode()
        cond = pool[fs:fs + fl - 1].decode()
        tname = name.decode().strip()
        pad = int(pads.get(tname, "32"))
        print("TAG %s|%s|%s|%d|%d|%02X" % (tname, key, cond, desc, klen, opt))
        for k, rec in walk(data, troot, klen, pad):
            print(rec, k.hex())


if __name__ == "__main__":
    main(sys.argv[1], dict(a.split("=") for a in sys.argv[2:]))
