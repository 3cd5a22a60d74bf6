#!/usr/bin/python3
"""Small helpers for make-fat-images.sh: things mtools cannot do.

  hint IMG                 forget the FAT32 next-free hint, so the next file
                           written takes the lowest free cluster (first fit)
  clusterbytes IMG         bytes per cluster
  entries IMG              every short directory entry of the live tree:
                           "<byte offset>\t<path>" (FAT chains followed)
  zerohigh IMG OFFSET...   clear the high cluster word of deleted entries at
                           these offsets, as Windows does when it deletes on FAT32
"""
import struct
import sys


def geometry(d):
    bps, spc, res, nfats, rootents, tot16, fat16 = struct.unpack_from('<HBHBHHxH', d, 11)
    tot32, fat32 = struct.unpack_from('<II', d, 32)
    fatsz = fat16 or fat32
    total = tot16 or tot32
    rootsecs = (rootents * 32 + bps - 1) // bps
    first_data = res + nfats * fatsz + rootsecs
    clusters = (total - first_data) // spc
    kind = 32 if fat16 == 0 else (12 if clusters < 4085 else 16)
    root_cluster = struct.unpack_from('<I', d, 44)[0] if kind == 32 else 0
    return dict(bps=bps, spc=spc, res=res, fatsz=fatsz, first_data=first_data, kind=kind,
                rootsecs=rootsecs, root_cluster=root_cluster)


def fat_entry(d, g, n):
    base = g['res'] * g['bps']
    if g['kind'] == 12:
        v = struct.unpack_from('<H', d, base + n + n // 2)[0]
        return v >> 4 if n & 1 else v & 0xFFF
    if g['kind'] == 16:
        return struct.unpack_from('<H', d, base + 2 * n)[0]
    return struct.unpack_from('<I', d, base + 4 * n)[0] & 0x0FFFFFFF


def chain(d, g, c):
    end = {12: 0xFF8, 16: 0xFFF8, 32: 0x0FFFFFF8}[g['kind']]
    seen = set()
    while 2 <= c < end and c not in seen:
        seen.add(c)
        yield c
        c = fat_entry(d, g, c)


def cluster_offset(g, c):
    return (g['first_data'] + (c - 2) * g['spc']) * g['bps']


def dir_regions(d, g, c):
    if c == 0:
        yield (g['first_data'] - g['rootsecs']) * g['bps'], g['rootsecs'] * g['bps']
        return
    for cl in chain(d, g, c):
        yield cluster_offset(g, cl), g['spc'] * g['bps']


def walk(d, g, c, prefix, out):
    lfn = []
    for start, length in dir_regions(d, g, c):
        for off in range(start, start + length, 32):
            e = d[off:off + 32]
            if e[0] == 0:
                return
            if e[0] == 0xE5:
                lfn = []
                continue
            if e[11] == 0x0F:
                chars = e[1:11] + e[14:26] + e[28:32]
                lfn.insert(0, chars)
                continue
            if e[11] & 0x08:
                lfn = []
                continue
            if lfn:
                name = b''.join(lfn).decode('utf-16-le').split('\x00')[0]
            else:
                base = e[0:8].decode('latin-1').rstrip()
                ext = e[8:11].decode('latin-1').rstrip()
                name = base + ('.' + ext if ext else '')
            lfn = []
            if name in ('.', '..'):
                continue
            path = prefix + name
            out.append((off, path))
            if e[11] & 0x10:
                hi = struct.unpack_from('<H', e, 20)[0] if g['kind'] == 32 else 0
                walk(d, g, (hi << 16) | struct.unpack_from('<H', e, 26)[0], path + '/', out)


def main():
    cmd, img = sys.argv[1], sys.argv[2]
    if cmd == 'hint':
        with open(img, 'r+b') as f:
            boot = f.read(512)
            if struct.unpack_from('<H', boot, 22)[0] != 0:
                return
            fsinfo = struct.unpack_from('<H', boot, 48)[0]
            f.seek(fsinfo * 512 + 492)
            f.write(struct.pack('<I', 0xFFFFFFFF))
        return
    d = open(img, 'rb').read()
    g = geometry(d)
    if cmd == 'clusterbytes':
        print(g['bps'] * g['spc'])
    elif cmd == 'entries':
        out = []
        walk(d, g, g['root_cluster'], '', out)
        for off, path in out:
            print(f'{off}\t{path}')
    elif cmd == 'zerohigh':
        with open(img, 'r+b') as f:
            for off in map(int, sys.argv[3:]):
                f.seek(off)
                if f.read(1) == b'\xe5':
                    f.seek(off + 20)
                    f.write(b'\x00\x00')
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
