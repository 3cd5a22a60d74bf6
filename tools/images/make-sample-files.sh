#!/usr/bin/env bash
# Small real files of each family the signature table knows, for the
# recogniser and size-rule tests and the carving image: made by imagemagick,
# ffmpeg, Debian's python3 (PIL, zipfile), cjpeg, tiffcp, heif-enc, flac,
# oggenc, zip, 7z, gzip, ghostscript and gsf. Output: $1/samples/. Sizes are
# kept off sector multiples on purpose, so that sizing to the exact length is tested.
set -euo pipefail
out="$(cd "$1" && pwd)/samples"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# Pictures. BMP3: the classic 40-byte info header (the default writes a V5 header).
convert -size 80x60 plasma:fractal -seed 7 -quality 80 jfif.jpg
# Noise compresses badly: this one spans more than one 64 KiB walking chunk.
convert -size 240x240 xc: -seed 3 +noise Random -quality 90 noise.jpg
convert -size 64x48 gradient:red-blue -draw "circle 30,20 40,30" image.png
convert -size 40x30 xc:white -fill blue -draw "rectangle 5,5 30,20" image.gif
convert -size 33x17 gradient:green-yellow -type truecolor BMP3:image.bmp
# What ImageMagick and most software write today: a V5 header (124 bytes).
convert -size 20x12 gradient:red-white BMP:image-v5.bmp

# Sound and video; -bitexact keeps encoder version strings out of the files.
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=0.3" -ar 8000 -c:a pcm_u8 -bitexact sound.wav
ffmpeg -v error -y -f lavfi -i "testsrc=size=32x24:rate=5" -t 1 -c:v mjpeg -q:v 10 -bitexact clip.avi
ffmpeg -v error -y -f lavfi -i "sine=frequency=330:duration=0.6" -ar 22050 -c:a libmp3lame -b:a 32k \
  -id3v2_version 3 -write_id3v1 1 -metadata title=Kestrel -metadata artist=Test -bitexact song.mp3

/usr/bin/python3 - "$work" <<'PYEOF'
import io, struct, sys, zipfile
from PIL import Image

work = sys.argv[1]

def jpeg_segments(data):
    """Splits a JPEG into (marker, segment bytes) up to the scan, then the rest."""
    assert data[:2] == b'\xff\xd8'
    pos, segs = 2, []
    while True:
        marker = data[pos + 1]
        if marker == 0xDA:
            return segs, data[pos:]
        length = struct.unpack('>H', data[pos + 2:pos + 4])[0]
        segs.append((marker, data[pos:pos + 2 + length]))
        pos += 2 + length

# A camera-style JPEG: starts with an EXIF APP1 (no JFIF) that carries a
# thumbnail, which is itself a JPEG ending in FF D9.
thumb = io.BytesIO()
Image.radial_gradient('L').resize((40, 30)).convert('RGB').save(thumb, 'JPEG', quality=60)
thumb = thumb.getvalue()
ifd0_entries = [(0x0112, 3, 1, 1)]          # orientation
ifd1_entries = [(0x0103, 3, 1, 6)]          # compression: JPEG
tiff = bytearray(b'II*\x00' + struct.pack('<I', 8))
def ifd(entries, next_offset):
    b = struct.pack('<H', len(entries))
    for tag, typ, count, value in entries:
        b += struct.pack('<HHI', tag, typ, count) + (struct.pack('<HH', value, 0) if typ == 3 else struct.pack('<I', value))
    return b + struct.pack('<I', next_offset)
ifd0_len = 2 + 12 * len(ifd0_entries) + 4
ifd1_at = 8 + ifd0_len
ifd1_len = 2 + 12 * (len(ifd1_entries) + 2) + 4
thumb_at = ifd1_at + ifd1_len
tiff += ifd(ifd0_entries, ifd1_at)
tiff += ifd(ifd1_entries + [(0x0201, 4, 1, thumb_at), (0x0202, 4, 1, len(thumb))], 0)
tiff += thumb
app1 = b'Exif\x00\x00' + bytes(tiff)
photo = io.BytesIO()
Image.effect_mandelbrot((120, 90), (-2.0, -1.2, 1.0, 1.2), 80).convert('RGB').save(photo, 'JPEG', quality=85)
segs, rest = jpeg_segments(photo.getvalue())
body = b''.join(s for m, s in segs if m != 0xE0)      # drop JFIF APP0
exif = b'\xff\xd8' + b'\xff\xe1' + struct.pack('>H', len(app1) + 2) + app1 + body + rest
open(f'{work}/exif.jpg', 'wb').write(exif)

# Office Open XML and a plain zip (stored names decide the type).
def office(path, entries):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        for name, text in entries:
            z.writestr(name, text)
ct = '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>'
office(f'{work}/report.docx', [('[Content_Types].xml', ct), ('_rels/.rels', '<Relationships/>'),
                               ('word/document.xml', '<w:document>' + 'Kestrel ' * 40 + '</w:document>')])
office(f'{work}/sheet.xlsx', [('[Content_Types].xml', ct), ('_rels/.rels', '<Relationships/>'),
                              ('xl/workbook.xml', '<workbook>' + '<sheet/>' * 30 + '</workbook>')])
office(f'{work}/archive.zip', [('notes/readme.txt', 'recover me\n' * 50), ('data.bin', bytes(range(256)) * 4)])

# A PDF with a correct cross-reference table.
objs = [b'<< /Type /Catalog /Pages 2 0 R >>', b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
        b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>']
pdf = bytearray(b'%PDF-1.4\n')
offsets = []
for i, o in enumerate(objs, 1):
    offsets.append(len(pdf))
    pdf += b'%d 0 obj\n' % i + o + b'\nendobj\n'
xref = len(pdf)
pdf += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1)
for off in offsets:
    pdf += b'%010d 00000 n \n' % off
pdf += b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objs) + 1, xref)
open(f'{work}/doc.pdf', 'wb').write(bytes(pdf))

# Compound documents (version 3, 512-byte sectors): one stream of 4 KiB, so no mini stream.
FREE, END, FATSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
def dir_entry(name, kind, child, start, size):
    n = name.encode('utf-16-le') + b'\x00\x00'
    e = n.ljust(64, b'\x00') + struct.pack('<HBB', len(n), kind, 1)
    e += struct.pack('<III', FREE, FREE, child) + b'\x00' * 16 + b'\x00' * 4 + b'\x00' * 16
    e += struct.pack('<III', start, size, 0)
    assert len(e) == 128
    return e
def compound(path, stream_name, stream, stream_first):
    """stream_first: the stream occupies sectors 0..7, FAT and directory follow."""
    assert len(stream) == 4096
    if stream_first:
        data_at, fat_at, dir_at = 0, 8, 9
    else:
        fat_at, dir_at, data_at = 0, 1, 2
    fat = [FREE] * 128
    fat[fat_at] = FATSECT
    fat[dir_at] = END
    for k in range(8):
        fat[data_at + k] = data_at + k + 1 if k < 7 else END
    header = bytearray(512)
    header[0:8] = bytes.fromhex('D0CF11E0A1B11AE1')
    struct.pack_into('<HHHHH', header, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into('<I', header, 44, 1)             # FAT sectors
    struct.pack_into('<I', header, 48, dir_at)        # first directory sector
    struct.pack_into('<I', header, 56, 4096)          # mini stream cutoff
    struct.pack_into('<IIII', header, 60, END, 0, END, 0)
    struct.pack_into('<I', header, 76, fat_at)
    for i in range(1, 109):
        struct.pack_into('<I', header, 76 + 4 * i, FREE)
    directory = dir_entry('Root Entry', 5, 1, END, 0) + dir_entry(stream_name, 2, FREE, data_at, 4096)
    directory = directory.ljust(512, b'\x00')
    sectors = {fat_at: struct.pack('<128I', *fat), dir_at: directory}
    for k in range(8):
        sectors[data_at + k] = stream[512 * k:512 * (k + 1)]
    body = b''.join(sectors[i] for i in range(len(sectors)))
    open(path, 'wb').write(bytes(header) + body)
word = (struct.pack('<H', 0xA5EC) + bytes(range(256)) * 16)[:4096]
compound(f'{work}/word.doc', 'WordDocument', word, stream_first=False)
book = (struct.pack('<HHH', 0x0809, 0x0010, 0x0600) + b'\x00' * 14 + b'\x0a\x00\x00\x00').ljust(4096, b'\x00')
compound(f'{work}/book.xls', 'Workbook', book, stream_first=True)

# Portable executables: a DOS stub, PE header and one section, as a linker lays them out.
def pe(path, characteristics):
    dos = bytearray(128)
    dos[0:2] = b'MZ'
    struct.pack_into('<I', dos, 60, 128)
    coff = struct.pack('<HHIIIHH', 0x14C, 1, 0, 0, 0, 224, characteristics)
    opt = bytearray(224)
    struct.pack_into('<HBBIII', opt, 0, 0x10B, 14, 0, 512, 0, 0)
    struct.pack_into('<IIII', opt, 16, 0x1000, 0x1000, 0x2000, 0x400000)
    struct.pack_into('<II', opt, 32, 0x1000, 0x200)
    struct.pack_into('<HH', opt, 40, 6, 0)
    struct.pack_into('<II', opt, 56, 0x2000, 0x200)
    struct.pack_into('<H', opt, 68, 3)
    struct.pack_into('<I', opt, 92, 16)
    section = b'.text\x00\x00\x00' + struct.pack('<IIIIIIHHI', 0x1000, 0x1000, 512, 512, 0, 0, 0, 0, 0x60000020)
    head = bytes(dos) + b'PE\x00\x00' + coff + bytes(opt) + section
    code = (b'\xc3' + b'\x90' * 511)
    open(path, 'wb').write(head.ljust(512, b'\x00') + code)
pe(f'{work}/program.exe', 0x0102)
pe(f'{work}/library.dll', 0x2102)

# A type-1 MIDI file with two tracks.
def track(events):
    return b'MTrk' + struct.pack('>I', len(events)) + events
tempo = b'\x00\xff\x51\x03\x07\xa1\x20' + b'\x00\xff\x2f\x00'
notes = b''.join(b'\x00\x90' + bytes([60 + i, 100]) + b'\x60\x80' + bytes([60 + i, 0]) for i in range(12)) + b'\x00\xff\x2f\x00'
open(f'{work}/tune.mid', 'wb').write(b'MThd' + struct.pack('>IHHH', 6, 1, 2, 96) + track(tempo) + track(notes))
PYEOF

# A JPEG that starts straight with its quantisation table (no JFIF/Exif segment).
/usr/bin/python3 -c "
import sys
d = open('jfif.jpg', 'rb').read()
n = int.from_bytes(d[4:6], 'big')
open('raw.jpg', 'wb').write(d[:2] + d[4 + n:])
"

# JPEG variants: progressive (several scans), restart markers, and PIL's own
# EXIF writer. TIFF: LZW strips, two pages (an IFD chain), and tiles.
/usr/bin/python3 - "$work" <<'PYEOF'
import sys
from PIL import Image
work = sys.argv[1]
pic = Image.effect_mandelbrot((96, 72), (-2.0, -1.2, 1.0, 1.2), 60).convert('RGB')
pic.save(f'{work}/progressive.jpg', 'JPEG', quality=80, progressive=True)
pic.save(f'{work}/image.ppm')
exif = Image.Exif()
exif[0x010F] = 'Kestrel'                      # Make
exif[0x0110] = 'Sample camera'                # Model
pic.save(f'{work}/camera.jpg', 'JPEG', quality=75, exif=exif.tobytes())
Image.radial_gradient('L').resize((48, 40)).save(f'{work}/gray.tif', compression='tiff_lzw')
frames = [Image.linear_gradient('L').resize((30, 20)).convert('RGB'), pic.resize((24, 18))]
frames[0].save(f'{work}/page1.tif')
frames[1].save(f'{work}/page2.tif')
PYEOF
cjpeg -quality 70 -restart 1 -optimize image.ppm > restart.jpg
tiffcp -t -w 16 -l 16 gray.tif tiled.tif
tiffcp page1.tif page2.tif pages.tif

# Video and audio containers; tiny pictures and short sounds keep them small.
lavsrc="testsrc=size=32x24:rate=5"
ffmpeg -v error -y -f lavfi -i "$lavsrc" -f lavfi -i "sine=frequency=500:duration=0.6" -t 0.6 \
  -c:v mpeg4 -q:v 20 -c:a aac -b:a 16k -ar 8000 -bitexact clip.mp4
ffmpeg -v error -y -f lavfi -i "$lavsrc" -t 0.6 -c:v mjpeg -q:v 20 -bitexact -f mov clip.mov
ffmpeg -v error -y -f lavfi -i "$lavsrc" -f lavfi -i "sine=frequency=500:duration=0.6" -t 0.6 \
  -c:v mpeg4 -q:v 20 -c:a aac -b:a 16k -ar 8000 -bitexact -f 3gp clip.3gp
ffmpeg -v error -y -f lavfi -i "sine=frequency=600:duration=0.4" -c:a aac -b:a 16k -ar 8000 -bitexact voice.m4a
ffmpeg -v error -y -f lavfi -i "$lavsrc" -t 0.6 -c:v mpeg4 -q:v 20 -bitexact clip.mkv
ffmpeg -v error -y -f lavfi -i "$lavsrc" -t 0.6 -c:v libvpx -b:v 20k -bitexact clip.webm
ffmpeg -v error -y -f lavfi -i "sine=frequency=700:duration=0.3" -ar 8000 -c:a pcm_s16le -bitexact tone.wav
flac -s -f --best -o tone.flac tone.wav
oggenc -Q -q 0 -o tone.ogg tone.wav
heif-enc -q 30 -o still.heic progressive.jpg

# Archives: a zip written to a pipe (so every entry carries a data
# descriptor), 7z, gzip with one and with two members.
printf 'Kestrel notes\n%.0s' $(seq 1 60) > notes.txt
/usr/bin/python3 -c "import random; random.seed(5); open('bytes.bin','wb').write(random.randbytes(1500))"
zip -q -X - notes.txt bytes.bin > streamed.zip
7z a -bd -bso0 -mx=5 packed.7z notes.txt bytes.bin
gzip -9 -n -c notes.txt > notes.txt.gz
gzip -9 -n -c bytes.bin > part2.gz
cat notes.txt.gz part2.gz > members.gz

# PDF from ghostscript, plain and linearized, and one with an incremental
# update appended the way an editor saves.
cat > page.ps <<'PSEOF'
%!PS
/Helvetica findfont 14 scalefont setfont
72 720 moveto (Kestrel sample document) show
72 700 moveto (Recover me byte for byte.) show
showpage
PSEOF
gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -dCompatibilityLevel=1.4 -sOutputFile=gs.pdf page.ps
gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -dFastWebView=true -sOutputFile=linear.pdf page.ps >/dev/null
/usr/bin/python3 - <<'PYEOF'
import re
base = open('gs.pdf', 'rb').read()
startxref = int(re.findall(rb'startxref\s+(\d+)', base)[-1])
size = int(re.findall(rb'/Size (\d+)', base)[-1])
root = re.findall(rb'/Root (\d+ \d+ R)', base)[-1]
obj_at = len(base)
update = b'%d 0 obj\n<< /Producer (Kestrel sample update) >>\nendobj\n' % size
xref_at = obj_at + len(update)
update += b'xref\n%d 1\n%010d 00000 n \n' % (size, obj_at)
update += b'trailer\n<< /Size %d /Root %s /Info %d 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n' % (
    size + 1, root, size, startxref, xref_at)
open('updated.pdf', 'wb').write(base + update)
PYEOF

# A compound document written by libgsf: its stream named as Word names its own.
cp notes.txt WordDocument
gsf createole gsf.doc WordDocument

for f in raw.jpg image-v5.bmp exif.jpg jfif.jpg noise.jpg image.png image.gif image.bmp sound.wav clip.avi song.mp3 doc.pdf \
         archive.zip report.docx sheet.xlsx word.doc book.xls program.exe library.dll tune.mid \
         progressive.jpg camera.jpg restart.jpg gray.tif pages.tif tiled.tif clip.mp4 clip.mov clip.3gp voice.m4a \
         clip.mkv clip.webm tone.flac tone.ogg still.heic streamed.zip packed.7z notes.txt.gz members.gz \
         gs.pdf linear.pdf updated.pdf gsf.doc; do
  cp "$f" "$out/$f"
done
ls -l "$out"
