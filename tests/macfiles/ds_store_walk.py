#!/usr/bin/env python3
"""Walks a .DS_Store file as the public description of the format has it: the
buddy allocator behind the "Bud1" header (block addresses, table of contents,
free lists) and the DSDB B-tree of records. Prints one line per record
(name, code, type, value in hex) and fails on any inconsistency, including
allocator blocks and free blocks that overlap or leave part of the space out."""
import struct
import sys


def main(path):
    data = open(path, 'rb').read()
    assert struct.unpack('>I', data[0:4])[0] == 1, 'alignment word'
    assert data[4:8] == b'Bud1', 'magic'
    off, size, off2 = struct.unpack('>III', data[8:20])
    assert off == off2, 'offsets differ'
    buf = data[4:]  # block offsets count from file byte 4

    def u32(o):
        return struct.unpack('>I', buf[o:o + 4])[0]

    p = off
    count = u32(p)
    p += 8
    addrs = [u32(p + 4 * i) for i in range(count)]
    p += 4 * ((count + 255) // 256 * 256)
    toc = {}
    ntoc = u32(p)
    p += 4
    for _ in range(ntoc):
        n = buf[p]
        name = buf[p + 1:p + 1 + n].decode('ascii')
        toc[name] = u32(p + 1 + n)
        p += 1 + n + 4
    free = []
    for k in range(32):
        n = u32(p)
        p += 4
        for i in range(n):
            o = u32(p + 4 * i)
            assert o % (1 << k) == 0, 'free block misaligned'
            free.append((o, 1 << k))
        p += 4 * n
    assert p <= off + size, 'allocator overruns its block'
    spans = [(0, 32)] + free + [(a & ~0x1f, 1 << (a & 0x1f)) for a in addrs]
    spans.sort()
    at = 0
    for o, n in spans:
        assert o == at, 'allocator space has a gap or an overlap at 0x%x' % o
        at = o + n
    assert at == 1 << 31, 'allocator space does not end at 2^31'

    def block(i):
        a = addrs[i]
        o, n = a & ~0x1f, 1 << (a & 0x1f)
        assert o + n <= len(buf), 'block %d outside the file' % i
        return o

    root, levels, nrec, nnodes, page = struct.unpack('>5I', buf[block(toc['DSDB']):block(toc['DSDB']) + 20])
    out = []
    seen = [0]

    def record(o):
        n = u32(o)
        name = buf[o + 4:o + 4 + 2 * n].decode('utf-16-be')
        o += 4 + 2 * n
        code, typ = buf[o:o + 4].decode('latin-1'), buf[o + 4:o + 8].decode('latin-1')
        o += 8
        if typ == 'blob':
            ln = u32(o)
            val = buf[o + 4:o + 4 + ln]
            o += 4 + ln
        elif typ == 'ustr':
            ln = u32(o)
            val = buf[o + 4:o + 4 + 2 * ln]
            o += 4 + 2 * ln
        elif typ == 'bool':
            val = buf[o:o + 1]
            o += 1
        elif typ in ('long', 'shor', 'type'):
            val = buf[o:o + 4]
            o += 4
        elif typ in ('comp', 'dutc'):
            val = buf[o:o + 8]
            o += 8
        else:
            raise AssertionError('unknown type ' + typ)
        out.append((name, code, typ, val.hex()))
        return o

    def node(i, depth):
        seen[0] += 1
        o = block(i)
        right, n = u32(o), u32(o + 4)
        o += 8
        if right == 0:
            assert depth == levels, 'leaf at depth %d of %d' % (depth, levels)
            for _ in range(n):
                o = record(o)
        else:
            for _ in range(n):
                child = u32(o)
                node(child, depth + 1)
                o = record(o + 4)
            node(right, depth + 1)

    node(root, 0)
    assert len(out) == nrec, 'record count %d, header says %d' % (len(out), nrec)
    assert seen[0] == nnodes, 'node count %d, header says %d' % (seen[0], nnodes)
    keys = [(r[0].lower(), r[1]) for r in out]
    assert keys == sorted(keys), 'records out of key order'
    for r in out:
        print('\t'.join(r))


if __name__ == '__main__':
    main(sys.argv[1])
