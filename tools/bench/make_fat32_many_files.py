#!/usr/bin/python3
"""Writes a FAT32 image holding many files, for timing a fast scan.

usage: make_fat32_many_files.py IMAGE FILES [FOLDERS] [--photos WIDTHxHEIGHT]

FILES files with long names are spread over FOLDERS folders below the root
(4 KiB clusters, one cluster per file). With --photos every file is a real
JPEG of that size (a few distinct pictures in turn, each file as many
clusters as it needs), for timing what is done with found photos. Every third file is deleted the way
Windows deletes: 0xE5 on its entries, high cluster word cleared, FAT chain
zeroed. File data is left sparse except the first bytes of each deleted picture,
so the content check has something to read. Building the layout directly is
much faster than 100,000 mcopy calls, and mkfs.fat/fsck.fat accept it.
"""
import struct
import sys

BPS, SPC, RESERVED, FATS = 512, 8, 32, 2
CLUSTER = BPS * SPC
JPEG_HEAD = bytes([0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10]) + b'JFIF\x00'
PNG_HEAD = b'\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR'
DATE = (2021 - 1980) << 9 | 6 << 5 | 15
TIME = 13 << 11 | 37 << 5 | 21


def checksum(short):
    s = 0
    for b in short:
        s = (((s & 1) << 7) + (s >> 1) + b) & 0xFF
    return s


def entries_for(long_name, short, attr, cluster, size, deleted):
    """LFN parts plus the short entry, as bytes."""
    name = long_name.encode('utf-16-le') + b'\x00\x00'
    units = len(name) // 2
    parts = (units + 12) // 13
    name += b'\xff\xff' * (parts * 13 - units)
    out = b''
    s = checksum(short)
    for p in range(parts, 0, -1):
        chunk = name[(p - 1) * 26:p * 26]
        seq = 0xE5 if deleted else (p | (0x40 if p == parts else 0))
        out += bytes([seq]) + chunk[0:10] + bytes([0x0F, 0, s]) + chunk[10:22] + b'\x00\x00' + chunk[22:26]
    first = b'\xe5' + short[1:] if deleted else short
    high = 0 if deleted else cluster >> 16
    out += first + struct.pack('<BBBHHHHHHHI', attr, 0, 0, TIME, DATE, DATE, high, TIME, DATE, cluster & 0xFFFF,
                               size)
    return out


def make_photos(size, count=16):
    """count distinct JPEGs of size 'WxH': gradients of different hues."""
    import io
    from PIL import Image, ImageDraw
    width, height = (int(v) for v in size.split('x'))
    photos = []
    for i in range(count):
        picture = Image.new('RGB', (width, height))
        draw = ImageDraw.Draw(picture)
        for y in range(height):
            shade = 255 * y // height
            draw.line([(0, y), (width, y)], fill=((i * 47 + shade) % 256, (i * 91) % 256, 255 - shade))
        draw.ellipse([width // 4, height // 4, width * 3 // 4, height * 3 // 4], fill=(250, 220, 40))
        out = io.BytesIO()
        picture.save(out, 'JPEG', quality=85)
        photos.append(out.getvalue())
    return photos


def main():
    args = sys.argv[1:]
    photos = []
    if '--photos' in args:
        at = args.index('--photos')
        photos = make_photos(args[at + 1])
        del args[at:at + 2]
    path, files = args[0], int(args[1])
    folders = int(args[2]) if len(args) > 2 else 100
    photo_clusters = max((len(p) + CLUSTER - 1) // CLUSTER for p in photos) if photos else 1
    per_folder = (files + folders - 1) // folders
    dir_bytes = (per_folder * 3 + 2) * 32  # "." and "..", two LFN parts and a short entry per file
    dir_clusters = (dir_bytes + CLUSTER - 1) // CLUSTER
    root_clusters = (folders * 3 * 32 + CLUSTER - 1) // CLUSTER  # two LFN parts and a short entry each
    clusters = max(70000, root_clusters + folders * dir_clusters + files * photo_clusters + 1000)
    fat_sectors = ((clusters + 2) * 4 + BPS - 1) // BPS
    first_data = RESERVED + FATS * fat_sectors
    total = first_data + clusters * SPC
    fat = bytearray((clusters + 2) * 4)
    struct.pack_into('<II', fat, 0, 0x0FFFFFF8, 0x0FFFFFFF)
    data_writes = []  # (byte offset, bytes)

    def cluster_offset(c):
        return (first_data + (c - 2) * SPC) * BPS

    def chain(first, count):
        for i in range(count):
            struct.pack_into('<I', fat, (first + i) * 4, 0x0FFFFFFF if i == count - 1 else first + i + 1)

    next_cluster = 2
    root = next_cluster
    next_cluster += root_clusters
    chain(root, root_clusters)
    root_bytes = b''
    file_index = 0
    for f in range(folders):
        folder = next_cluster
        next_cluster += dir_clusters
        chain(folder, dir_clusters)
        root_bytes += entries_for(f'Folder number {f:04d}', b'FOLD%04d   ' % f,
                                  0x10, folder, 0, False)
        body = entries_for('.', b'.          ', 0x10, folder, 0, False)[-32:]
        body += entries_for('..', b'..         ', 0x10, 0, 0, False)[-32:]
        for _ in range(per_folder):
            if file_index >= files:
                break
            c = next_cluster
            deleted = file_index % 3 == 0 or bool(photos)
            if photos:
                photo = photos[file_index % len(photos)]
                used = (len(photo) + CLUSTER - 1) // CLUSTER
                next_cluster += used
                short = b'P%07dJPG' % file_index
                body += entries_for(f'Photo {file_index:06d}.jpg', short, 0x20, c, len(photo), deleted)
                if not deleted:
                    chain(c, used)
                data_writes.append((cluster_offset(c), photo))
                file_index += 1
                continue
            next_cluster += 1
            ext = ('jpg', 'mp3', 'txt', 'png')[file_index % 4]
            short = b'F%07d' % file_index + ext.upper().encode()
            body += entries_for(f'File {file_index:06d}.{ext}', short, 0x20, c, 1000 + file_index % 3000, deleted)
            if not deleted:
                chain(c, 1)
            elif ext in ('jpg', 'png'):
                data_writes.append((cluster_offset(c), JPEG_HEAD if ext == 'jpg' else PNG_HEAD))
            file_index += 1
        data_writes.append((cluster_offset(folder), body))
    data_writes.append((cluster_offset(root), root_bytes))

    boot = bytearray(512)
    boot[0:3] = b'\xeb\x58\x90'
    boot[3:11] = b'MSWIN4.1'
    struct.pack_into('<HBHBHHBHHHII', boot, 11, BPS, SPC, RESERVED, FATS, 0, 0, 0xF8, 0, 63, 255, 0, total)
    struct.pack_into('<IHHIHH', boot, 36, fat_sectors, 0, 0, root, 1, 6)
    boot[64] = 0x80
    boot[66] = 0x29
    struct.pack_into('<I', boot, 67, 0x12345678)
    boot[71:82] = b'BENCH100K  '
    boot[82:90] = b'FAT32   '
    boot[510:512] = b'\x55\xaa'
    fsinfo = bytearray(512)
    struct.pack_into('<I', fsinfo, 0, 0x41615252)
    struct.pack_into('<I', fsinfo, 484, 0x61417272)
    struct.pack_into('<II', fsinfo, 488, 0xFFFFFFFF, 0xFFFFFFFF)
    fsinfo[510:512] = b'\x55\xaa'
    with open(path, 'wb') as out:
        out.truncate(total * BPS)
        out.seek(0)
        out.write(boot)
        out.write(fsinfo)
        out.seek(6 * BPS)
        out.write(boot)
        for i in range(FATS):
            out.seek((RESERVED + i * fat_sectors) * BPS)
            out.write(fat)
        for offset, data in data_writes:
            out.seek(offset)
            out.write(data)
    deleted_files = files if photos else (files + 2) // 3
    print(f'{path}: {files} files ({deleted_files} deleted) in {folders} folders, '
          f'{clusters} clusters of {CLUSTER} bytes, {total * BPS // 2**20} MiB')


if __name__ == '__main__':
    main()
