#!/usr/bin/env python3
"""Mac file encodings written and read with nothing but the standard library,
to judge what the program writes and to feed it inputs it did not make.

  applesingle OUT DATA RSRC TYPE CREATOR FLAGS   AppleSingle v2 (entries 9, 2, 1)
  afp FILE DATA RSRC TYPE CREATOR FLAGS          FILE = DATA, with user.AFP_AfpInfo/AFP_Resource
  macbinary FILE OUTBASE                         MacBinary: OUTBASE.data/.rsrc, JSON on stdout
  make-macbinary OUT NAME TYPEHEX CREATORHEX DATA  MacBinary II of DATA (no resource fork), any code bytes
  apple FILE OUTBASE                             AppleSingle or AppleDouble: the same
  streams FILE OUTBASE                           named streams of FILE: the same
  hfsplus-free IMAGE OFFSET                      free blocks of the header, and 0 bits of the bitmap
  damage-catalog IMAGE OFFSET                    the catalog's first leaf node made no node at all

Results go to stdout as key=value lines. Dates: seconds since 1970 UTC (MacBinary dates are local time and
are converted with the process's zone).
"""
import binascii
import os
import struct
import sys
import time

MAC_EPOCH = 2082844800  # seconds from 1904 to 1970


def report(fields):
    for k, v in fields.items():
        print("%s=%s" % (k, v))


def read(p):
    with open(p, "rb") as f:
        return f.read()


def write(p, b):
    with open(p, "wb") as f:
        f.write(b)


def finder_info(ftype, creator, flags):
    return ftype.encode("mac_roman")[:4].ljust(4) + creator.encode("mac_roman")[:4].ljust(4) + \
        struct.pack(">H", flags) + b"\0" * 22


def applesingle(out, data, rsrc, ftype, creator, flags):
    d, r = read(data), read(rsrc)
    fi = finder_info(ftype, creator, flags)
    header = 26 + 3 * 12
    entries = [(9, fi), (2, r), (1, d)]
    table, body, at = b"", b"", header
    for eid, blob in entries:
        table += struct.pack(">III", eid, at, len(blob))
        body += blob
        at += len(blob)
    write(out, struct.pack(">II16sH", 0x00051600, 0x00020000, b"\0" * 16, len(entries)) + table + body)


def afp(path, data, rsrc, ftype, creator, flags):
    write(path, read(data))
    info = b"AFP\0" + struct.pack(">III", 0x00010000, 0, 0x80000000) + finder_info(ftype, creator, flags) + b"\0" * 12
    os.setxattr(path, "user.AFP_AfpInfo", info)
    r = read(rsrc)
    if r:
        os.setxattr(path, "user.AFP_Resource", r)


def local_mac_to_unix(d):
    # a local wall-clock date: the zone's offset at that instant
    t = d - MAC_EPOCH
    return int(time.mktime(time.gmtime(t)[:8] + (-1,)))


def macbinary(path, outbase):
    b = read(path)
    h = b[:128]
    if h[0] != 0 or not 1 <= h[1] <= 63:
        sys.exit("not MacBinary")
    name = h[2:2 + h[1]].decode("mac_roman")
    dl, rl = struct.unpack(">II", h[83:91])
    cr, md = struct.unpack(">II", h[91:99])
    flags = h[73] << 8 | h[101]
    rs = 128 + (dl + 127) // 128 * 128
    write(outbase + ".data", b[128:128 + dl])
    write(outbase + ".rsrc", b[rs:rs + rl])
    report(({"name": name, "type": h[65:69].decode("mac_roman"), "creator": h[69:73].decode("mac_roman"),
                      "flags": flags, "data": dl, "rsrc": rl, "created": local_mac_to_unix(cr),
                      "modified": local_mac_to_unix(md)}))


def make_macbinary(out, name, type_hex, creator_hex, data):
    d = read(data)
    h = bytearray(128)
    n = name.encode("mac_roman")
    h[1] = len(n)
    h[2:2 + len(n)] = n
    h[65:69] = bytes.fromhex(type_hex)
    h[69:73] = bytes.fromhex(creator_hex)
    struct.pack_into(">II", h, 83, len(d), 0)
    h[122] = h[123] = 129
    struct.pack_into(">H", h, 124, binascii.crc_hqx(bytes(h[:124]), 0))
    write(out, bytes(h) + d + b"\0" * (-len(d) % 128))


def apple(path, outbase):
    b = read(path)
    magic, version = struct.unpack(">II", b[:8])
    if magic not in (0x00051600, 0x00051607):
        sys.exit("not AppleSingle/AppleDouble")
    (n,) = struct.unpack(">H", b[24:26])
    out = {"kind": "single" if magic == 0x00051600 else "double", "data": 0, "rsrc": 0}
    forks = {1: b"", 2: b""}
    for i in range(n):
        eid, off, ln = struct.unpack(">III", b[26 + 12 * i:38 + 12 * i])
        blob = b[off:off + ln]
        if eid in forks:
            forks[eid] = blob
        elif eid == 9:
            out["type"] = blob[0:4].decode("mac_roman")
            out["creator"] = blob[4:8].decode("mac_roman")
            out["flags"] = struct.unpack(">H", blob[8:10])[0]
        elif eid == 8:
            cr, md, _, _ = struct.unpack(">iiii", blob[:16])
            out["created"] = cr + 946684800  # seconds since 2000 UTC
            out["modified"] = md + 946684800
    write(outbase + ".data", forks[1])
    write(outbase + ".rsrc", forks[2])
    out["data"], out["rsrc"] = len(forks[1]), len(forks[2])
    report((out))


def streams(path, outbase):
    info = os.getxattr(path, "user.AFP_AfpInfo")
    try:
        r = os.getxattr(path, "user.AFP_Resource")
    except OSError:
        r = b""
    write(outbase + ".data", read(path))
    write(outbase + ".rsrc", r)
    fi = info[16:48]
    report(({"type": fi[0:4].decode("mac_roman"), "creator": fi[4:8].decode("mac_roman"),
                      "flags": struct.unpack(">H", fi[8:10])[0], "data": os.path.getsize(path), "rsrc": len(r)}))


def hfsplus_free(image, offset):
    with open(image, "rb") as f:
        base = int(offset) * 512
        f.seek(base + 1024)
        vh = f.read(512)
        block_size, total, free = struct.unpack(">III", vh[40:52])
        alloc = vh[112:192]  # the allocation file's fork data
        extents = [struct.unpack(">II", alloc[16 + 8 * i:24 + 8 * i]) for i in range(8)]
        bits = b""
        for start, count in extents:
            if count:
                f.seek(base + start * block_size)
                bits += f.read(count * block_size)
        used = sum(bin(byte).count("1") for byte in bits[:(total + 7) // 8])
        report(({"header_free": free, "bitmap_free": total - used, "total": total}))


def damage_catalog(image, offset):
    with open(image, "r+b") as f:
        base = int(offset) * 512
        f.seek(base + 1024)
        head = f.read(512)
        if head[:2] in (b"H+", b"HX"):
            block = struct.unpack(">I", head[40:44])[0]
            start = struct.unpack(">I", head[272 + 16:272 + 20])[0]  # the catalog file's first extent
            catalog = base + start * block
        else:
            block = struct.unpack(">I", head[20:24])[0]
            first = struct.unpack(">H", head[28:30])[0]
            start = struct.unpack(">H", head[150:152])[0]
            catalog = base + first * 512 + start * block
        f.seek(catalog)
        header = f.read(512)
        first_leaf = struct.unpack(">I", header[24:28])[0]
        node_size = struct.unpack(">H", header[32:34])[0]
        f.seek(catalog + first_leaf * node_size + 8)
        f.write(b"\x55\x55")  # kind and height nobody writes


def main():
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "applesingle":
        applesingle(args[0], args[1], args[2], args[3], args[4], int(args[5], 0))
    elif cmd == "afp":
        afp(args[0], args[1], args[2], args[3], args[4], int(args[5], 0))
    elif cmd == "macbinary":
        macbinary(args[0], args[1])
    elif cmd == "make-macbinary":
        make_macbinary(args[0], args[1], args[2], args[3], args[4])
    elif cmd == "apple":
        apple(args[0], args[1])
    elif cmd == "streams":
        streams(args[0], args[1])
    elif cmd == "hfsplus-free":
        hfsplus_free(args[0], args[1])
    elif cmd == "damage-catalog":
        damage_catalog(args[0], args[1])
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
