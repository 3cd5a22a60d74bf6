// The recognisers of the signature table: from the first bytes of a sector,
// does a file of this type start here? Each returns at its first mismatch;
// the carving pass runs them on every sector of a device.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr int32_t kNo = kTypeUnrecognised;

bool Bytes(ByteView d, size_t offset, std::initializer_list<uint8_t> bytes) {
  if (!d.Has(offset, bytes.size())) return false;
  size_t i = offset;
  for (uint8_t b : bytes) {
    if (d.data()[i++] != b) return false;
  }
  return true;
}

// "within the first 32 bytes": the four-byte code starts somewhere in bytes 0..28.
bool CodeWithinFirst32(ByteView d, uint8_t last) {
  size_t limit = std::min<size_t>(d.size(), 32);
  for (size_t i = 0; i + 4 <= limit; ++i) {
    if (d.data()[i] == 0 && d.data()[i + 1] == 0 && d.data()[i + 2] == 1 && d.data()[i + 3] == last) return true;
  }
  return false;
}

constexpr std::array<uint8_t, 8> kOleMagic = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<uint8_t, 16> kClsidWord = {0x06, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::array<uint8_t, 16> kClsidExcel = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::array<uint8_t, 16> kClsidExcel5 = {0x10, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                  0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::array<uint8_t, 16> kClsidPowerPoint = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                                                      0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};

// Compares a compound-document directory entry's UTF-16 name with ASCII text, ignoring case.
bool DirectoryNameIs(ByteView entry, std::string_view name) {
  uint16_t nameBytes = entry.le16(64);
  if (nameBytes != (name.size() + 1) * 2) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    uint16_t ch = entry.le16(i * 2);
    if (ch > 0x7F) return false;
    if (std::tolower(static_cast<unsigned char>(ch)) != std::tolower(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

constexpr int32_t kWord = 0, kOle = 2, kExcel = 3, kPowerPoint = 5;

}  // namespace

int32_t RecogniseMpeg(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  if (Bytes(d, 0, {0x00, 0x00, 0x01, 0xBA})) return CodeWithinFirst32(d, 0xBB) ? 15 : kNo;
  if (Bytes(d, 0, {0x00, 0x00, 0x01, 0xB3})) return CodeWithinFirst32(d, 0xB8) ? 15 : kNo;
  return kNo;
}

int32_t RecogniseMp4(ByteView d, CarveContext&) {
  if (d.size() < 32 || !d.Matches(4, "ftyp")) return kNo;
  return d.Matches(8, "iso") || d.Matches(8, "mp42") ? 18 : kNo;
}

int32_t RecogniseRealMedia(ByteView d, CarveContext&) { return d.Matches(0, ".RMF") ? 23 : kNo; }

int32_t RecogniseAsf(ByteView d, CarveContext&) {
  if (d.size() < 24) return kNo;
  return Bytes(d, 0, {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C})
             ? 24
             : kNo;
}

int32_t RecogniseSwf(ByteView d, CarveContext&) {
  if (d.size() < 8) return kNo;
  uint8_t version = d.u8(3);
  if (d.Matches(0, "CWS")) return version >= 6 && version <= 15 ? 26 : kNo;
  if (d.Matches(0, "FWS")) return version < 6 ? 26 : kNo;
  return kNo;
}

int32_t RecogniseAvi(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  return d.Matches(0, "RIFF") && d.Matches(8, "AVI ") && d.Matches(12, "LIST") ? 22 : kNo;
}

int32_t RecogniseFlv(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  return Bytes(d, 0, {'F', 'L', 'V', 0x01}) && Bytes(d, 5, {0, 0, 0, 9}) ? 27 : kNo;
}

int32_t Recognise3gp(ByteView d, CarveContext&) {
  if (d.size() < 32) return kNo;
  return d.Matches(4, "ftyp") && d.Matches(8, "3gp") ? 16 : kNo;
}

int32_t RecogniseMkv(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  return Bytes(d, 0, {0x1A, 0x45, 0xDF, 0xA3}) ? 19 : kNo;
}

namespace {

bool InsideCarvedStream(const CarveContext& c, uint64_t sector) {
  for (const auto& [first, last] : c.streamExtents) {
    if (sector >= first && sector <= last) return true;
  }
  return false;
}

}  // namespace

int32_t RecogniseTransportStream(ByteView d, CarveContext& c) {
  constexpr size_t kPacket = 188;
  if (d.size() < kPacket || d.u8(0) != 0x47) return kNo;
  if (d.u8(1) == 0 && d.u8(2) == 0 && d.u8(3) == 0) return kNo;
  for (size_t at = kPacket; at < d.size(); at += kPacket) {
    if (d.u8(at) != 0x47) return kNo;
  }
  // A real stream runs on: 22 packets in a row within the next 4 KiB.
  int32_t sectorBytes = c.source.sectorBytes;
  if (sectorBytes <= 0) return kNo;
  uint32_t sectors = std::max<uint32_t>(1, 4096 / static_cast<uint32_t>(sectorBytes));
  uint32_t got = ReadIntoBuffer(c, c.currentSector, sectors);
  if (got < 21 * kPacket + 1) return kNo;
  for (size_t k = 0; k < 22; ++k) {
    if (c.buffer()[k * kPacket] != 0x47) return kNo;
  }
  if (c.carvingInProgress) {
    if (InsideCarvedStream(c, c.currentSector)) return kNo;
    // A packet start one stride back means this sector is the middle of a stream.
    if (c.currentSector == 0) return kTypeTransportStream;
    if (ReadIntoBuffer(c, c.currentSector - 1, 1) != static_cast<uint32_t>(sectorBytes)) return kNo;
    for (int64_t at = sectorBytes - static_cast<int64_t>(kPacket); at >= 0; at -= kPacket) {
      if (c.buffer()[at] == 0x47) return kNo;
    }
  }
  return kTypeTransportStream;
}

int32_t RecogniseMts(ByteView d, CarveContext& c) {
  if (d.size() < 16) return kNo;
  if (!Bytes(d, 8, {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00})) return kNo;
  bool zeroTimecode = d.u8(0) == 0 && d.u8(1) == 0 && d.u8(2) == 0 && d.u8(3) == 0;
  if (!zeroTimecode && c.lastWasMts) return kNo;
  c.mtsByte7 = d.u8(7);
  return kTypeMts;
}

int32_t RecogniseMxf(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  return Bytes(d, 0, {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00})
             ? 48
             : kNo;
}

int32_t RecogniseMp3(ByteView d, CarveContext&) {
  if (!d.Matches(0, "ID3") || !d.Has(0, 10)) return kNo;
  if (d.u8(3) == 0xFF || d.u8(4) == 0xFF) return kNo;
  if ((d.u8(5) & 0x1F) != 0) return kNo;
  for (size_t i = 6; i < 10; ++i) {
    if (d.u8(i) >= 0x80) return kNo;
  }
  return 12;
}

int32_t RecogniseMidi(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  return d.Matches(0, "MThd") && Bytes(d, 4, {0, 0, 0, 6}) && d.Matches(14, "MTrk") ? 13 : kNo;
}

int32_t RecogniseApe(ByteView d, CarveContext&) { return d.Matches(0, "MAC ") ? 25 : kNo; }

int32_t RecogniseWav(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  return d.Matches(0, "RIFF") && d.Matches(8, "WAVE") && d.Matches(12, "fmt ") ? 21 : kNo;
}

int32_t RecogniseMov(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  if (d.Matches(0, "moov")) return 17;
  return d.Matches(4, "ftyp") && d.Matches(8, "qt  ") ? 17 : kNo;
}

int32_t RecogniseMp2(ByteView d, CarveContext&) { return Bytes(d, 0, {0xFF, 0xFD, 0xE4, 0x00}) ? 11 : kNo; }

int32_t RecogniseMmf(ByteView d, CarveContext&) { return d.Matches(0, "MMMD") ? 14 : kNo; }

int32_t RecogniseFla(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  return Bytes(d, 0, {0xD0, 0xCF, 0x11, 0xE0}) ? 44 : kNo;
}

int32_t RecogniseGif(ByteView d, CarveContext&) {
  if (d.size() < 8 || !d.Matches(0, "GIF")) return kNo;
  auto digit = [](uint8_t b) { return b >= '0' && b <= '9'; };
  return digit(d.u8(3)) && digit(d.u8(4)) && d.u8(5) >= 'a' && d.u8(5) <= 'z' ? 31 : kNo;
}

// Every DIB header size in use: OS/2 core (12), Windows 3 (40), the two
// Adobe variants (52, 56), V4 (108) and V5 (124, what most software writes
// today). Accepting only 40 would hide intact modern bitmaps as damaged.
bool IsDibHeaderSize(uint32_t size) {
  return size == 12 || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

int32_t RecogniseBmp(ByteView d, CarveContext&) {
  if (d.size() < 40) return kNo;
  if (!d.Matches(0, "BM") && !d.Matches(0, "BA")) return kNo;
  return d.le16(6) == 0 && d.le16(8) == 0 && IsDibHeaderSize(d.le32(14)) ? 29 : kNo;
}

int32_t RecogniseJpeg(ByteView d, CarveContext&) {
  if (d.size() < 16) return kNo;
  if (Bytes(d, 0, {0xFF, 0xD8, 0xFF, 0xE0})) return d.Matches(6, "JFIF") ? 10 : kNo;
  if (Bytes(d, 0, {0xFF, 0xD8, 0xFF, 0xE1})) return d.Matches(6, "Exif") ? 10 : kNo;
  // Many encoders start straight with a table or frame marker, or with an ICC
  // (APP2), Adobe (APP14) or comment segment; those photos are intact too.
  if (!Bytes(d, 0, {0xFF, 0xD8, 0xFF})) return kNo;
  switch (d.u8(3)) {
    case 0xDB: case 0xC4: case 0xC0: case 0xC2: case 0xE2: case 0xED: case 0xEE: case 0xFE: {
      // A segment length follows every one of these markers; it must be plausible.
      uint16_t length = d.be16(4);
      return length >= 2 ? 10 : kNo;
    }
    default: return kNo;
  }
}

int32_t RecognisePng(ByteView d, CarveContext&) {
  return Bytes(d, 0, {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}) ? 30 : kNo;
}

int32_t RecognisePsd(ByteView d, CarveContext&) { return d.size() >= 40 && d.Matches(0, "8BPS") ? 28 : kNo; }

int32_t RecogniseTiff(ByteView d, CarveContext&) {
  return Bytes(d, 0, {'M', 'M', 0x00, 0x2A}) || Bytes(d, 0, {'I', 'I', 0x2A, 0x00}) ? 32 : kNo;
}

int32_t RecogniseIcon(ByteView d, CarveContext&) {
  if (d.size() < 16 || !Bytes(d, 0, {0, 0, 1, 0})) return kNo;
  uint32_t count = d.le16(4);
  if (count == 0 || !d.Has(0, 6 + 16 * size_t{count})) return kNo;
  uint64_t running = 6 + 16 * uint64_t{count};
  for (uint32_t i = 0; i < count; ++i) {
    size_t entry = 6 + 16 * size_t{i};
    if (d.u8(entry + 3) != 0) return kNo;
    if (d.le32(entry + 12) != running) return kNo;
    running += d.le32(entry + 8);
  }
  return 46;
}

int32_t RecogniseOle(ByteView d, CarveContext& c) {
  if (d.size() < 8 || !d.Matches(0, std::span<const uint8_t>(kOleMagic))) return kNo;
  uint32_t sectorBytes = static_cast<uint32_t>(std::max(c.source.sectorBytes, 0));
  if (sectorBytes < 128) return kOle;
  // The first stream sector: Word's file information block or Excel's BOF record.
  if (ReadIntoBuffer(c, c.currentSector + 1, 1) == sectorBytes) {
    ByteView first(c.buffer(), sectorBytes);
    if (first.le16(0) == 0xA5EC) return kWord;
    if (first.le16(0) == 0x0809 && first.le16(2) == 0x0010 && first.le16(4) == 0x0600) return kExcel;
  }
  uint64_t directory = c.currentSector + uint64_t{d.le32(48)} + 1;
  if (directory < c.currentSector || ReadIntoBuffer(c, directory, 1) != sectorBytes) return kOle;
  ByteView dir(c.buffer(), sectorBytes);
  ByteView clsid = dir.Sub(80, 16);
  if (clsid.Matches(0, std::span<const uint8_t>(kClsidWord))) return kWord;
  if (clsid.Matches(0, std::span<const uint8_t>(kClsidExcel)) ||
      clsid.Matches(0, std::span<const uint8_t>(kClsidExcel5)))
    return kExcel;
  if (clsid.Matches(0, std::span<const uint8_t>(kClsidPowerPoint))) return kPowerPoint;
  for (uint32_t at = 0; at + 128 <= sectorBytes; at += 128) {
    ByteView entry = dir.Sub(at, 128);
    if (DirectoryNameIs(entry, "WordDocument")) return kWord;
    if (DirectoryNameIs(entry, "Workbook") || DirectoryNameIs(entry, "Book")) return kExcel;
    if (DirectoryNameIs(entry, "PowerPoint Document")) return kPowerPoint;
  }
  return kOle;
}

namespace {

// Which Office application a zip entry name belongs to, or kNo.
int32_t OoxmlKindOfName(ByteView name) {
  if (name.Matches(0, "word")) return 1;
  if (name.Matches(0, "ppt")) return 6;
  if (name.Matches(0, "xl")) return 4;
  return kNo;
}

// Looks through one run of bytes for local and central headers until the end
// record. done is set once the end record is met.
int32_t OoxmlKindInBytes(ByteView bytes, bool& done) {
  const uint8_t* p = bytes.data();
  for (size_t at = 0; at + 4 <= bytes.size(); ++at) {
    if (p[at] != 'P' || p[at + 1] != 'K') continue;
    uint8_t a = p[at + 2], b = p[at + 3];
    if (a == 5 && b == 6) {
      done = true;
      return kNo;
    }
    size_t nameAt = 0, lengthAt = 0;
    if (a == 3 && b == 4) {
      nameAt = at + 30;
      lengthAt = at + 26;
    } else if (a == 1 && b == 2) {
      nameAt = at + 46;
      lengthAt = at + 28;
    } else {
      continue;
    }
    uint16_t length = bytes.le16(lengthAt);
    int32_t kind = OoxmlKindOfName(bytes.Sub(nameAt, length));
    if (kind != kNo) return kind;
  }
  return kNo;
}

}  // namespace

int32_t RecogniseOoxml(ByteView d, CarveContext& c) {
  if (d.size() < 31) return kNo;
  if (!Bytes(d, 0, {'P', 'K', 3, 4}) && !d.Matches(31, "[Content_Types].xml")) return kNo;
  int32_t sectorBytes = c.source.sectorBytes;
  if (sectorBytes <= 0) return kNo;
  bool done = false;
  uint32_t batch = std::min<uint32_t>(4, kSignatureScratchBytes / static_cast<uint32_t>(sectorBytes));
  for (int round = 0; round < 5 && !done; ++round) {
    uint32_t got = ReadIntoBuffer(c, c.currentSector + uint64_t(round) * batch, batch);
    if (got == 0) {
      // Nothing readable beyond what we were given: judge by the given sector alone.
      if (round == 0) return OoxmlKindInBytes(d, done);
      break;
    }
    int32_t kind = OoxmlKindInBytes(ByteView(c.buffer(), got), done);
    if (kind != kNo) return kind;
    if (got < batch * static_cast<uint32_t>(sectorBytes)) break;
  }
  return kNo;
}

int32_t RecogniseNothing(ByteView, CarveContext&) { return kNo; }

int32_t RecognisePdf(ByteView d, CarveContext&) { return d.Matches(0, "%PDF-") ? 8 : kNo; }

int32_t RecogniseGzip(ByteView d, CarveContext&) {
  if (d.size() < 16 || !Bytes(d, 0, {0x1F, 0x8B, 0x08})) return kNo;
  uint8_t flags = d.u8(3), extra = d.u8(8), os = d.u8(9);
  if (flags != 0 && flags != 8) return kNo;
  if (extra != 2 && extra != 4) return kNo;
  return os < 14 || os == 255 ? 36 : kNo;
}

int32_t Recognise7z(ByteView d, CarveContext&) { return Bytes(d, 0, {0x37, 0x7A, 0xBC, 0xAF, 0x27}) ? 34 : kNo; }

int32_t RecogniseZip(ByteView d, CarveContext&) { return d.size() >= 48 && Bytes(d, 0, {'P', 'K', 3, 4}) ? 35 : kNo; }

// RAR 4 ("Rar!" 1A 07 00) and RAR 5 ("Rar!" 1A 07 01 00), which no other row takes.
int32_t RecogniseRar(ByteView d, CarveContext&) {
  return Bytes(d, 0, {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00}) || Bytes(d, 0, {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00})
             ? 37
             : kNo;
}

int32_t RecogniseCab(ByteView d, CarveContext&) { return d.size() >= 36 && d.Matches(0, "MSCF") ? 33 : kNo; }

int32_t RecogniseExecutable(ByteView d, CarveContext&) {
  if (d.size() < 512 || !d.Matches(0, "MZ")) return kNo;
  uint32_t pe = d.le32(60);
  if (pe > 488 || !Bytes(d, pe, {'P', 'E', 0, 0})) return kNo;
  uint16_t characteristics = d.le16(pe + 22);
  if ((characteristics & 0x0002) == 0) return kNo;
  if (characteristics & 0x1000) return 43;
  if (characteristics & 0x2000) return 42;
  return 41;
}

int32_t RecogniseGhost(ByteView d, CarveContext&) { return Bytes(d, 0, {0xFE, 0xEF, 0x00, 0x00}) ? 9 : kNo; }

int32_t RecogniseSqlite(ByteView d, CarveContext&) {
  static constexpr char kMagic[] = "SQLite format 3";  // with its NUL: 16 bytes
  return d.Matches(0, std::string_view(kMagic, 16)) ? 39 : kNo;
}

int32_t RecogniseDbx(ByteView d, CarveContext&) { return d.size() >= 16 && Bytes(d, 0, {0xCF, 0xAD, 0x12, 0xFE}) ? 40 : kNo; }

int32_t RecognisePst(ByteView d, CarveContext&) {
  return d.size() >= 16 && d.Matches(0, "!BDN") && d.Matches(8, "SM") ? 38 : kNo;
}

int32_t RecogniseTrueType(ByteView d, CarveContext&) {
  if (d.size() < 16 || !Bytes(d, 0, {0x00, 0x01, 0x00, 0x00})) return kNo;
  uint32_t count = d.be16(4);
  if (count == 0 || d.be16(6) == 0 || d.be16(8) == 0 || d.be16(10) == 0) return kNo;
  if (!d.Has(0, 16 + 16 * size_t{count})) return kNo;
  return d.be32(16 * size_t{count} + 12) == 0x00010000 ? 45 : kNo;
}

// Types added after the original table; each looks for bytes no earlier row
// accepts, so no file that matched before changes type.
namespace {

bool HasMajorBrand(ByteView d, std::initializer_list<std::string_view> brands) {
  if (d.size() < 16 || !d.Matches(4, "ftyp")) return false;
  for (std::string_view brand : brands) {
    if (d.Matches(8, brand)) return true;
  }
  return false;
}

}  // namespace

// Still images, audio and camera raw files in the ISO box format, told apart
// by their major brand (the earlier mp4, 3gp and mov rows take theirs first).
int32_t RecogniseIsoBrand(ByteView d, CarveContext&) {
  if (HasMajorBrand(d, {"heic", "heix", "heim", "heis", "hevc", "mif1", "msf1", "avif"})) return kTypeHeif;
  if (HasMajorBrand(d, {"M4A ", "M4B "})) return kTypeM4a;
  if (HasMajorBrand(d, {"crx "})) return kTypeCr3;
  return kNo;
}

int32_t RecogniseOrf(ByteView d, CarveContext&) {
  return d.size() >= 8 && (d.Matches(0, "IIRO") || d.Matches(0, "IIRS") || d.Matches(0, "MMOR")) ? kTypeOrf : kNo;
}

// "fLaC", then the STREAMINFO block that must come first (type 0, 34 bytes).
int32_t RecogniseFlac(ByteView d, CarveContext&) {
  return d.size() >= 42 && d.Matches(0, "fLaC") && (d.u8(4) & 0x7F) == 0 && d.be32(4) % 0x1000000 == 34 ? kTypeFlac
                                                                                                         : kNo;
}

// The first page of a stream: version 0 and the beginning-of-stream flag.
int32_t RecogniseOgg(ByteView d, CarveContext&) {
  return d.size() >= 28 && d.Matches(0, "OggS") && d.u8(4) == 0 && (d.u8(5) & 0x02) ? kTypeOgg : kNo;
}

FirstBytes FirstBytesOf(Recogniser r) {
  struct Entry {
    Recogniser recogniser;
    std::string_view bytes;
    bool any;
  };
  using namespace std::string_view_literals;
  static const Entry kEntries[] = {
      {RecogniseMpeg, "\x00"sv, false},
      {RecogniseMp4, ""sv, true},
      {RecogniseRealMedia, "."sv, false},
      {RecogniseAsf, "\x30"sv, false},
      {RecogniseSwf, "CF"sv, false},
      {RecogniseAvi, "R"sv, false},
      {RecogniseFlv, "F"sv, false},
      {Recognise3gp, ""sv, true},
      {RecogniseMkv, "\x1A"sv, false},
      {RecogniseTransportStream, "\x47"sv, false},
      {RecogniseMts, ""sv, true},
      {RecogniseMxf, "\x06"sv, false},
      {RecogniseMp3, "I"sv, false},
      {RecogniseMidi, "M"sv, false},
      {RecogniseApe, "M"sv, false},
      {RecogniseWav, "R"sv, false},
      {RecogniseMov, ""sv, true},
      {RecogniseMp2, "\xFF"sv, false},
      {RecogniseMmf, "M"sv, false},
      {RecogniseFla, "\xD0"sv, false},
      {RecogniseGif, "G"sv, false},
      {RecogniseBmp, "B"sv, false},
      {RecogniseJpeg, "\xFF"sv, false},
      {RecognisePng, "\x89"sv, false},
      {RecognisePsd, "8"sv, false},
      {RecogniseTiff, "MI"sv, false},
      {RecogniseIcon, "\x00"sv, false},
      {RecogniseOle, "\xD0"sv, false},
      {RecogniseOoxml, ""sv, true},
      {RecogniseNothing, ""sv, false},
      {RecognisePdf, "%"sv, false},
      {RecogniseGzip, "\x1F"sv, false},
      {Recognise7z, "\x37"sv, false},
      {RecogniseZip, "P"sv, false},
      {RecogniseRar, "R"sv, false},
      {RecogniseCab, "M"sv, false},
      {RecogniseExecutable, "M"sv, false},
      {RecogniseGhost, "\xFE"sv, false},
      {RecogniseSqlite, "S"sv, false},
      {RecogniseDbx, "\xCF"sv, false},
      {RecognisePst, "!"sv, false},
      {RecogniseTrueType, "\x00"sv, false},
      {RecogniseIsoBrand, "\x00"sv, false},
      {RecogniseOrf, "IM"sv, false},
      {RecogniseFlac, "f"sv, false},
      {RecogniseOgg, "O"sv, false},
  };
  for (const Entry& e : kEntries) {
    if (e.recogniser == r) return {e.bytes, e.any};
  }
  return {"", true};  // unknown recogniser: never skip it
}

}  // namespace kestrel::sig
