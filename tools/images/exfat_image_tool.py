#!/usr/bin/python3
"""Small helpers for make-exfat-images.sh: things the exFAT driver will not do.

  files IMG                  every file entry set of the tree, live and deleted:
                             "<live|deleted>\t<flags>\t<first>\t<length>\t<path>"
                             (flags: "nofatchain" or "chain")
  fat IMG CLUSTER...         the FAT entries of these clusters
  contiguous IMG PATH        mark the live file at PATH (contiguous on disk) as
                             NoFatChain, clear its FAT entries and fix the set
                             checksum, as drivers that allocate runs write it
  chain IMG PATH             the clusters of the live file at PATH
  setchain IMG CLUSTER...    link these clusters into one FAT chain, giving a
                             deleted file back the chain that drivers which
                             leave the FAT alone on delete keep
"""
import struct
import sys


def geometry(d):
    fat_off, fat_len, heap, count, root = struct.unpack_from('<IIIII', d, 80)
    bps_shift, spc_shift = d[108], d[109]
    bps = 1 << bps_shift
    return dict(bps=bps, cb=bps << spc_shift, fat=fat_off * bps, heap=heap * bps, count=count, root=root)


def fat(d, g, c):
    return struct.unpack_from('<I', d, g['fat'] + 4 * c)[0]


def set_fat(d, g, c, v):
    struct.pack_into('<I', d, g['fat'] + 4 * c, v)


def coff(g, c):
    return g['heap'] + (c - 2) * g['cb']


def clusters(d, g, first, length, nofat):
    n = max(1, -(-length // g['cb'])) if length else 0
    out, c = [], first
    for _ in range(n):
        out.append(c)
        c = c + 1 if nofat else fat(d, g, c)
        if not nofat and (c < 2 or c >= 0xFFFFFFF6):
            break
    return out


def root_clusters(d, g):
    out, c = [], g['root']
    while 2 <= c < 0xFFFFFFF6 and c not in out:
        out.append(c)
        c = fat(d, g, c)
    return out


def checksum(b):
    s = 0
    for i, x in enumerate(b):
        if i in (2, 3):
            continue
        if i % 32 == 0:
            x |= 0x80  # deleted sets keep the checksum of their live types
        s = (((s & 1) << 15) | (s >> 1)) + x & 0xFFFF
    return s


def walk(d, g, cl, prefix, out, deleted_dir=False):
    offs = [coff(g, c) + i for c in cl for i in range(0, g['cb'], 32)]
    i = 0
    while i < len(offs):
        t = d[offs[i]]
        if t == 0:
            break
        if t & 0x7F == 0x05:
            n = d[offs[i] + 1]
            if 2 <= n <= 18 and i + n < len(offs):
                ents = b''.join(d[o:o + 32] for o in offs[i:i + n + 1])
                if checksum(ents) == struct.unpack_from('<H', ents, 2)[0]:
                    attr = struct.unpack_from('<H', ents, 4)[0]
                    flags, namelen = ents[33], ents[35]
                    first, length = struct.unpack_from('<IQ', ents, 52)
                    name = ''.join(ents[64 + 32 * k + 2:64 + 32 * k + 32].decode('utf-16-le')
                                   for k in range((namelen + 14) // 15))[:namelen]
                    path = prefix + name
                    live = t & 0x80 and not deleted_dir
                    out.append(dict(live=bool(live), nofat=bool(flags & 2), first=first, length=length,
                                    path=path, dir=bool(attr & 0x10), offs=offs[i:i + n + 1]))
                    if attr & 0x10 and first >= 2:
                        walk(d, g, clusters(d, g, first, length, flags & 2), path + '/', out, not live)
                    i += n + 1
                    continue
        i += 1


def entries(d):
    g = geometry(d)
    out = []
    walk(d, g, root_clusters(d, g), '', out)
    return g, out


def find(d, path, live):
    g, es = entries(d)
    for e in es:
        if e['path'] == path and e['live'] == live:
            return g, e
    sys.exit('no such %s file: %s' % ('live' if live else 'deleted', path))


def rewrite(d, e, fn):
    ents = bytearray(b''.join(d[o:o + 32] for o in e['offs']))
    fn(ents)
    struct.pack_into('<H', ents, 2, checksum(ents))
    for k, o in enumerate(e['offs']):
        d[o:o + 32] = ents[32 * k:32 * k + 32]


def main():
    cmd, img = sys.argv[1], sys.argv[2]
    d = bytearray(open(img, 'rb').read())
    if cmd == 'files':
        for e in entries(d)[1]:
            if not e['dir']:
                print('%s\t%s\t%d\t%d\t%s' % ('live' if e['live'] else 'deleted',
                                              'nofatchain' if e['nofat'] else 'chain', e['first'], e['length'],
                                              e['path']))
        return
    if cmd == 'fat':
        g = geometry(d)
        print(' '.join('%d:%x' % (int(c), fat(d, g, int(c))) for c in sys.argv[3:]))
        return
    if cmd == 'contiguous':
        g, e = find(d, sys.argv[3], True)
        cl = clusters(d, g, e['first'], e['length'], False)
        if cl != list(range(cl[0], cl[0] + len(cl))):
            sys.exit('not contiguous: ' + sys.argv[3])
        for c in cl:
            set_fat(d, g, c, 0)
        rewrite(d, e, lambda ents: ents.__setitem__(33, ents[33] | 2))
    elif cmd == 'chain':
        g, e = find(d, sys.argv[3], True)
        print(' '.join(str(c) for c in clusters(d, g, e['first'], e['length'], e['nofat'])))
        return
    elif cmd == 'setchain':
        g = geometry(d)
        cl = [int(c) for c in sys.argv[3:]]
        for a, b in zip(cl, cl[1:] + [0xFFFFFFFF]):
            set_fat(d, g, a, b)
    else:
        sys.exit(__doc__)
    open(img, 'r+b').write(d)


if __name__ == '__main__':
    main()
