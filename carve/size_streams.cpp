// Audio and video streams sized by their own framing: AVI with its RIFF-AVIX
// extensions, MP3 (ID3 tag, then the frame chain, then the trailing tags),
// Matroska/WebM (EBML element sizes), Ogg pages, FLAC metadata and frames,
// and 192-byte MTS/M2TS packets.
#include <algorithm>
#include <array>
#include <optional>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t k2G = 0x80000000;
constexpr uint64_t k6G = 0x180000000;
constexpr uint64_t k64G = 0x1000000000;

}  // namespace

// ---- AVI ----

std::optional<uint64_t> AviStructureEnd(CarveWindow& window) {
  ByteView h = window.Read(0, 12);
  if (h.empty()) return std::nullopt;
  uint64_t at = uint64_t{h.le32(4)} + 8;
  if (at > window.limit()) return std::nullopt;
  // Files over 1 GiB go on in further RIFF chunks of form type AVIX.
  while (true) {
    ByteView next = window.Read(at, 12);
    if (next.empty() || !next.Matches(0, "RIFF") || !next.Matches(8, "AVIX")) return at;
    uint64_t end = at + 8 + next.le32(4);
    if (end > window.limit()) return at;
    at = end;
  }
}

// ---- MP3 ----

namespace {

// The length of the MPEG audio frame whose header is h, or 0 when h is not one.
uint32_t MpegAudioFrameBytes(ByteView h) {
  static constexpr std::array<std::array<uint16_t, 16>, 5> kBitrates = {{
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // MPEG 1 layer I
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // MPEG 1 layer II
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // MPEG 1 layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // MPEG 2/2.5 layer I
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG 2/2.5 layers II, III
  }};
  static constexpr std::array<uint32_t, 3> kRates = {44100, 48000, 32000};
  if (h.size() < 4 || h.u8(0) != 0xFF || (h.u8(1) & 0xE0) != 0xE0) return 0;
  uint8_t version = (h.u8(1) >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
  uint8_t layer = (h.u8(1) >> 1) & 3;    // 3: I, 2: II, 1: III
  uint8_t bitrateIndex = h.u8(2) >> 4, rateIndex = (h.u8(2) >> 2) & 3, padding = (h.u8(2) >> 1) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
  bool mpeg1 = version == 3;
  uint32_t rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  size_t table = mpeg1 ? (3 - layer) : (layer == 3 ? 3 : 4);
  uint32_t bitrate = kBitrates[table][bitrateIndex] * 1000u;
  if (layer == 3) return (12 * bitrate / rate + padding) * 4;
  if (layer == 1 && !mpeg1) return 72 * bitrate / rate + padding;
  return 144 * bitrate / rate + padding;
}

uint32_t SyncSafe(ByteView b, size_t at) {
  return (uint32_t{b.u8(at)} << 21) | (uint32_t{b.u8(at + 1)} << 14) | (uint32_t{b.u8(at + 2)} << 7) | b.u8(at + 3);
}

}  // namespace

std::optional<uint64_t> Mp3StructureEnd(CarveWindow& window) {
  ByteView tag = window.Read(0, 10);
  if (tag.empty() || !tag.Matches(0, "ID3")) return std::nullopt;
  uint64_t at = 10 + uint64_t{SyncSafe(tag, 6)} + ((tag.u8(5) & 0x10) ? 10 : 0);
  // Some taggers pad past the declared size with zeros.
  for (ByteView b = window.ReadSome(at); !b.empty() && b.u8(0) == 0; b = window.ReadSome(at)) {
    size_t zeros = 0;
    while (zeros < b.size() && b.u8(zeros) == 0) ++zeros;
    at += zeros;
    if (zeros < b.size()) break;
  }
  uint32_t frames = 0;
  while (true) {
    uint32_t bytes = MpegAudioFrameBytes(window.Read(at, 4));
    if (bytes < 4 || at + bytes > window.limit()) break;
    at += bytes;
    ++frames;
  }
  if (frames < 2) return std::nullopt;
  // Tags after the audio: an APE tag (its footer gives its size), then ID3v1.
  ByteView ape = window.Read(at, 32);
  if (!ape.empty() && ape.Matches(0, "APETAGEX")) {
    // A tag read from its header side: the size counts the footer, not the header.
    uint64_t size = ape.le32(12) + ((ape.le32(20) & 0x80000000u) ? 32 : 0);
    if (at + size <= window.limit()) at += size;
  }
  ByteView v1 = window.Read(at, 128);
  if (!v1.empty() && v1.Matches(0, "TAG")) at += 128;
  return at;
}

// ---- Matroska / WebM ----

namespace {

struct Element {
  uint32_t id = 0;
  uint64_t size = 0;
  bool unknownSize = false;
  uint32_t headerBytes = 0;
};

std::optional<Element> ReadElement(CarveWindow& window, uint64_t at) {
  ByteView b = window.Read(at, 12);
  if (b.empty()) b = window.ReadSome(at, 12);
  Element e;
  uint8_t first = b.u8(0);
  int idLength = first >= 0x80 ? 1 : first >= 0x40 ? 2 : first >= 0x20 ? 3 : first >= 0x10 ? 4 : 0;
  if (idLength == 0 || b.size() < static_cast<size_t>(idLength) + 1) return std::nullopt;
  for (int i = 0; i < idLength; ++i) e.id = (e.id << 8) | b.u8(i);
  uint8_t lead = b.u8(idLength);
  int sizeLength = 1;
  while (sizeLength <= 8 && !(lead & (0x80 >> (sizeLength - 1)))) ++sizeLength;
  if (sizeLength > 8 || b.size() < static_cast<size_t>(idLength + sizeLength)) return std::nullopt;
  uint64_t value = lead & (0xFF >> sizeLength);
  bool allOnes = value == (0xFFu >> sizeLength);
  for (int i = 1; i < sizeLength; ++i) {
    uint8_t byte = b.u8(idLength + i);
    value = (value << 8) | byte;
    allOnes = allOnes && byte == 0xFF;
  }
  e.size = value;
  e.unknownSize = allOnes;
  e.headerBytes = static_cast<uint32_t>(idLength + sizeLength);
  return e;
}

bool IsSegmentChild(uint32_t id) {
  switch (id) {
    case 0x114D9B74: case 0x1549A966: case 0x1654AE6B: case 0x1F43B675: case 0x1C53BB6B:
    case 0x1043A770: case 0x1254C367: case 0x1941A469: case 0xEC: case 0xBF:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<uint64_t> MatroskaStructureEnd(CarveWindow& window) {
  std::optional<Element> header = ReadElement(window, 0);
  if (!header || header->id != 0x1A45DFA3 || header->unknownSize) return std::nullopt;
  uint64_t at = header->headerBytes + header->size;
  std::optional<Element> segment = ReadElement(window, at);
  if (!segment || segment->id != 0x18538067) return std::nullopt;
  // Known or not, the segment's size must be what its children add up to:
  // a copy cut short has a child that runs into foreign bytes.
  const uint64_t dataStart = at + segment->headerBytes;
  const std::optional<uint64_t> declaredEnd =
      segment->unknownSize ? std::nullopt : std::optional<uint64_t>(dataStart + segment->size);
  if (declaredEnd && *declaredEnd > window.limit()) return std::nullopt;
  at = dataStart;
  while (!declaredEnd || at < *declaredEnd) {
    std::optional<Element> child = ReadElement(window, at);
    if (!child || !IsSegmentChild(child->id)) {
      if (declaredEnd) return std::nullopt;
      break;  // an open segment ends where its children stop
    }
    if (child->unknownSize) return std::nullopt;
    uint64_t end = at + child->headerBytes + child->size;
    if (end > window.limit()) return std::nullopt;
    at = end;
  }
  if (declaredEnd && at != *declaredEnd) return std::nullopt;
  return at;
}

// ---- Ogg ----

namespace {

// The CRC of the page of pageBytes at at: polynomial 04C11DB7, not
// reflected, over the page with its own CRC field read as zeros.
std::optional<uint32_t> OggPageCrc(CarveWindow& window, uint64_t at, uint64_t pageBytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  uint32_t crc = 0;
  for (uint64_t done = 0; done < pageBytes;) {
    ByteView piece = window.ReadSome(at + done, static_cast<size_t>(std::min<uint64_t>(pageBytes - done, CarveWindow::kMaxRead)));
    if (piece.empty()) return std::nullopt;
    for (size_t i = 0; i < piece.size(); ++i) {
      uint64_t position = done + i;
      uint8_t b = (position >= 22 && position < 26) ? 0 : piece.u8(i);
      crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xFF];
    }
    done += piece.size();
  }
  return crc;
}

}  // namespace

std::optional<uint64_t> OggStructureEnd(CarveWindow& window) {
  uint64_t at = 0;
  uint32_t pages = 0;
  bool lastWasEnd = false;
  while (true) {
    ByteView h = window.Read(at, 27);
    if (h.empty() || !h.Matches(0, "OggS") || h.u8(4) != 0) break;
    uint8_t segments = h.u8(26);
    ByteView table = window.Read(at + 27, segments);
    if (segments > 0 && table.empty()) return std::nullopt;
    uint64_t body = 0;
    for (size_t i = 0; i < segments; ++i) body += table.u8(i);
    uint64_t pageBytes = 27 + segments + body;
    // Every page carries a CRC: a page cut short, or foreign bytes, fail it.
    uint32_t stored = h.le32(22);
    std::optional<uint32_t> crc = OggPageCrc(window, at, pageBytes);
    if (!crc || *crc != stored) break;
    at += pageBytes;
    ++pages;
    lastWasEnd = (h.u8(5) & 0x04) != 0;
  }
  // The last page of a whole stream carries the end-of-stream flag.
  if (pages == 0 || !lastWasEnd) return std::nullopt;
  return at;
}

// ---- FLAC ----

namespace {

uint8_t Crc8(ByteView bytes) {
  uint8_t crc = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    crc ^= bytes.u8(i);
    for (int k = 0; k < 8; ++k) crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

struct Crc16Table {
  std::array<uint16_t, 256> t{};
  Crc16Table() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : c << 1);
      t[i] = c;
    }
  }
};

// A frame header at the start of b: its length in bytes (up to and with its
// CRC-8), the frame or sample number it carries and its block size in samples.
struct FlacFrame {
  uint32_t headerBytes = 0;
  uint64_t number = 0;
  uint32_t blockSize = 0;
};

std::optional<FlacFrame> ParseFlacFrame(ByteView b, uint32_t streamBlockSize) {
  if (b.size() < 16 || b.u8(0) != 0xFF || (b.u8(1) & 0xFE) != 0xF8) return std::nullopt;
  uint8_t blockCode = b.u8(2) >> 4, rateCode = b.u8(2) & 0x0F;
  if (blockCode == 0 || rateCode == 0x0F || (b.u8(3) >> 4) > 10 || (b.u8(3) & 0x01)) return std::nullopt;
  // The frame number in UTF-8-like coding.
  size_t at = 4;
  uint8_t lead = b.u8(at++);
  int more = lead < 0x80 ? 0 : lead >= 0xFE ? 6 : lead >= 0xFC ? 5 : lead >= 0xF8 ? 4 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (more < 0) return std::nullopt;
  uint64_t number = more == 0 ? lead : (lead & (0x3F >> more));
  for (int i = 0; i < more; ++i) {
    uint8_t c = b.u8(at++);
    if ((c & 0xC0) != 0x80) return std::nullopt;
    number = (number << 6) | (c & 0x3F);
  }
  FlacFrame f;
  f.number = number;
  if (blockCode == 1) f.blockSize = 192;
  else if (blockCode <= 5) f.blockSize = 576u << (blockCode - 2);
  else if (blockCode == 6) f.blockSize = b.u8(at++) + 1u;
  else if (blockCode == 7) { f.blockSize = b.be16(at) + 1u; at += 2; }
  else f.blockSize = 256u << (blockCode - 8);
  if (rateCode == 0x0C) at += 1;
  else if (rateCode == 0x0D || rateCode == 0x0E) at += 2;
  if (Crc8(b.Sub(0, at)) != b.u8(at)) return std::nullopt;
  f.headerBytes = static_cast<uint32_t>(at + 1);
  (void)streamBlockSize;
  return f;
}

}  // namespace

std::optional<uint64_t> FlacStructureEnd(CarveWindow& window) {
  static const Crc16Table crc16;
  ByteView magic = window.Read(0, 8 + 34);
  if (magic.empty() || !magic.Matches(0, "fLaC") || (magic.u8(4) & 0x7F) != 0) return std::nullopt;
  ByteView info = magic.Sub(8, 34);
  uint32_t minBlock = info.be16(0), maxBlock = info.be16(2);
  uint64_t minFrame = (uint64_t{info.u8(4)} << 16) | info.be16(5);
  uint64_t maxFrame = (uint64_t{info.u8(7)} << 16) | info.be16(8);
  uint64_t totalSamples = (uint64_t{info.u8(13) & 0x0Fu} << 32) | info.be32(14);
  if (totalSamples == 0) return std::nullopt;  // unknown length: nothing tells where the last frame ends
  bool fixedBlocks = minBlock == maxBlock;
  uint64_t at = 4;
  for (bool last = false; !last;) {
    ByteView h = window.Read(at, 4);
    if (h.empty()) return std::nullopt;
    last = (h.u8(0) & 0x80) != 0;
    at += 4 + ((uint64_t{h.u8(1)} << 16) | h.be16(2));
  }
  // Frames: each one's end is where its CRC-16 (over header and data) holds
  // and, for all but the last, the next frame's header follows.
  uint64_t samples = 0;
  while (true) {
    std::optional<FlacFrame> frame = ParseFlacFrame(window.Read(at, 16), maxBlock);
    if (!frame) return std::nullopt;
    uint64_t expected = fixedBlocks ? samples / std::max<uint32_t>(minBlock, 1) : samples;
    if (frame->number != expected) return std::nullopt;
    samples += frame->blockSize;
    bool lastFrame = samples >= totalSamples;
    uint16_t crc = 0;
    uint64_t p = at;
    uint64_t least = at + std::max<uint64_t>(frame->headerBytes + 2, minFrame);
    uint64_t most = at + (maxFrame ? maxFrame : uint64_t{16} << 20);
    std::optional<uint64_t> end;
    while (!end && p < most) {
      ByteView chunk = window.ReadSome(p, static_cast<size_t>(std::min<uint64_t>(most - p, CarveWindow::kMaxRead)));
      if (chunk.empty()) return std::nullopt;
      for (size_t i = 0; i < chunk.size(); ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ crc16.t[((crc >> 8) ^ chunk.u8(i)) & 0xFF]);
        uint64_t after = p + i + 1;
        if (crc != 0 || after < least) continue;
        if (lastFrame) {
          end = after;
          break;
        }
        std::optional<FlacFrame> next = ParseFlacFrame(window.Read(after, 16), maxBlock);
        uint64_t nextExpected = fixedBlocks ? samples / std::max<uint32_t>(minBlock, 1) : samples;
        // The read above may have moved the window: take up the chunk again after this byte.
        if (next && next->number == nextExpected) {
          end = after;
          break;
        }
        chunk = window.ReadSome(p, static_cast<size_t>(std::min<uint64_t>(most - p, CarveWindow::kMaxRead)));
        if (chunk.size() <= i) return std::nullopt;
      }
      if (!end) p += chunk.size();
    }
    if (!end) return std::nullopt;
    at = *end;
    if (lastFrame) return at;
  }
}

// ---- MTS / M2TS ----

std::optional<uint64_t> MtsStructureEnd(CarveWindow& window) {
  constexpr uint64_t kPacket = 192;
  uint64_t at = 0;
  while (true) {
    ByteView packet = window.Read(at, 5);
    if (packet.empty() || packet.u8(4) != 0x47) break;
    at += kPacket;
  }
  if (at < 2 * kPacket) return std::nullopt;
  return std::min(at, window.limit());
}

uint64_t SizeRiffAvi(ByteView d, CarveContext& c) {
  if (d.size() < 16) return static_cast<uint64_t>(std::max(c.source.sectorBytes, 1));
  return SizeByStructure(d, c, k64G, AviStructureEnd, SizeRiffLength);
}
uint64_t SizeMp3(ByteView d, CarveContext& c) { return SizeByStructureWithinBoundary(d, c, k2G, Mp3StructureEnd, SizeMp3ByTag); }
uint64_t SizeMatroska(ByteView d, CarveContext& c) {
  return SizeByStructureWithinBoundary(d, c, k64G, MatroskaStructureEnd, SizeWalk64G);
}
uint64_t SizeOgg(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k6G, OggStructureEnd, SizeWalk6G); }
uint64_t SizeFlac(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k6G, FlacStructureEnd, nullptr); }
uint64_t SizeMts(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k6G, MtsStructureEnd, SizeWalk6G); }

}  // namespace kestrel::sig
