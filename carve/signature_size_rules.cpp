// Size rules: where a carved file ends. Header-sized types read a length
// field; the others walk the sectors after the hit in 64 KiB chunks until the
// next file or file-system structure starts (the boundary test), a cap, the
// source's end, or their own end marker.
#include <algorithm>
#include <functional>
#include <optional>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t k128M = 0x8000000;
constexpr uint64_t k256M = 0x10000000;
constexpr uint64_t k2G = 0x80000000;
constexpr uint64_t k6G = 0x180000000;
constexpr uint64_t k64G = 0x1000000000;
constexpr uint64_t k8M = 0x800000;

uint64_t SectorBytes(const CarveContext& c) { return static_cast<uint64_t>(std::max(c.source.sectorBytes, 1)); }

// The boundary test of one sector: the first recogniser hit, or a structure
// sector, starts something else. MPEG streams repeat their pack and sequence
// headers, so for them those do not count.
bool EndsHere(ByteView sector, CarveContext& c, bool mpegVariant) {
  int32_t code = kTypeUnrecognised;
  const SignatureRow* row = Identify(sector, c, code);
  if (row != nullptr && !(mpegVariant && code == 15)) return true;
  return IsStructureSector(sector) != 0;
}

}  // namespace

uint64_t WalkSectors(CarveContext& c, uint64_t cap, bool mpegVariant, const EndSearch& search) {
  const uint64_t sectorBytes = SectorBytes(c);
  const uint64_t perChunk = std::max<uint64_t>(1, kSignatureScratchBytes / sectorBytes);
  uint8_t* chunkBuffer = c.walkBuffer();
  uint64_t size = sectorBytes;
  c.currentSector = c.hitSector;
  while (size < cap) {
    uint64_t sectors = std::min(perChunk, (cap - size) / sectorBytes);
    if (sectors == 0) break;
    if (c.progress != nullptr) {
      uint64_t position = c.values.position + size / sectorBytes;
      int32_t percent = c.values.total ? static_cast<int32_t>(position * 100 / c.values.total + 10) : 10;
      int answer = c.progress(c.user, percent, c.scale, c.values.remaining, position, c.values.total, c.values.found, 0);
      if (answer != 0) {
        c.cancelResult = answer;
        break;
      }
    }
    // The chunk has its own buffer: the boundary test's recognisers read into c.buffer().
    uint32_t got = 0;
    {
      uint64_t first = c.hitSector + size / sectorBytes;
      uint64_t end = c.source.EffectiveEndByte();
      uint64_t endSector = end == UINT64_MAX ? UINT64_MAX : (end + sectorBytes - 1) / sectorBytes;
      if (c.source.device == nullptr || first >= endSector) break;
      uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(sectors, endSector - first));
      int32_t sectorsRead = 0;
      int error = ReadSectors(static_cast<int32_t>(count), *c.source.device, chunkBuffer, first,
                              static_cast<int32_t>(sectorBytes), &sectorsRead);
      if (error == 0) sectorsRead = static_cast<int32_t>(count);
      else if (error != 30) sectorsRead = 0;
      got = static_cast<uint32_t>(sectorsRead) * static_cast<uint32_t>(sectorBytes);
      sectors = std::min<uint64_t>(sectors, count);
    }
    if (got == 0) break;
    ByteView chunk(chunkBuffer, got);
    size_t limit = got;
    bool boundary = false;
    for (size_t at = 0; at < got; at += sectorBytes) {
      ++c.currentSector;
      if (EndsHere(chunk.Sub(at, sectorBytes), c, mpegVariant)) {
        limit = at;
        boundary = true;
        break;
      }
    }
    if (search) {
      if (std::optional<uint64_t> end = search(chunk.Sub(0, limit), size); end) return *end;
    }
    if (boundary) return size + limit;
    size += got;
    if (got < sectors * sectorBytes) break;  // a read fault ends the file where the walk stands
  }
  return size;
}

namespace {

// Every occurrence of marker, in order; the first tail-clean one ends the file after it.
std::optional<uint64_t> FirstCleanMarker(ByteView bytes, uint64_t offset, std::string_view marker, int32_t sectorBytes) {
  for (size_t at = FindBytes(bytes, marker); at != std::string_view::npos; at = FindBytes(bytes, marker, at + 1)) {
    if (IsTailClean(bytes, at + marker.size(), sectorBytes)) return offset + at + marker.size();
  }
  return std::nullopt;
}

uint64_t MarkerRule(ByteView d, CarveContext& c, std::string_view marker) {
  if (auto end = FirstCleanMarker(d, 0, marker, c.source.sectorBytes)) return *end;
  return WalkSectors(c, k128M, false, [&](ByteView chunk, uint64_t offset) {
    return FirstCleanMarker(chunk, offset, marker, c.source.sectorBytes);
  });
}

}  // namespace

uint64_t SizeByStructure(ByteView d, CarveContext& c, uint64_t cap, StructureEnd structure, SizeRule fallback) {
  CarveWindow window(c, d, cap);
  if (std::optional<uint64_t> end = structure(window)) return *end;
  if (window.cancelled()) return SectorBytes(c);
  c.structureBroken = true;
  return fallback != nullptr ? fallback(d, c) : 0;
}

uint64_t SizeByStructureWithinBoundary(ByteView d, CarveContext& c, uint64_t cap, StructureEnd structure,
                                       SizeRule fallback) {
  uint64_t size = SizeByStructure(d, c, cap, structure, fallback);
  if (c.structureBroken || c.cancelResult != 0 || size <= SectorBytes(c)) return size;
  // Every sector that starts inside the file, the one holding its last byte too.
  uint64_t whole = (size + SectorBytes(c) - 1) / SectorBytes(c) * SectorBytes(c);
  uint64_t walked = WalkSectors(c, whole, false, nullptr);
  if (walked >= size || c.cancelResult != 0) return size;
  c.structureBroken = true;  // another file starts inside what the lengths claim: this one was cut
  return walked;
}

uint64_t SizeWalk128M(ByteView, CarveContext& c) { return WalkSectors(c, k128M, false, nullptr); }
uint64_t SizeWalk256M(ByteView, CarveContext& c) { return WalkSectors(c, k256M, false, nullptr); }
uint64_t SizeWalk6G(ByteView, CarveContext& c) { return WalkSectors(c, k6G, false, nullptr); }
uint64_t SizeWalk64G(ByteView, CarveContext& c) { return WalkSectors(c, k64G, false, nullptr); }

uint64_t SizeJpegByEndMarker(ByteView d, CarveContext& c) {
  using namespace std::string_view_literals;
  constexpr std::string_view kEnd = "\xFF\xD9"sv;
  size_t first = FindBytes(d, kEnd);
  if (first != std::string_view::npos && IsTailClean(d, first + 2, c.source.sectorBytes)) return first + 2;
  // An EXIF thumbnail ends with FF D9 too, and cameras pad its segment with
  // zeros: of the tail-clean markers before the boundary, the last one is the
  // picture's own end.
  std::optional<uint64_t> remembered;
  uint64_t walked = WalkSectors(c, k128M, false, [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
    for (size_t at = FindBytes(chunk, kEnd); at != std::string_view::npos; at = FindBytes(chunk, kEnd, at + 1)) {
      if (IsTailClean(chunk, at + 2, c.source.sectorBytes)) remembered = offset + at + 2;
    }
    return std::nullopt;
  });
  return remembered && *remembered < walked ? *remembered : walked;
}

uint64_t SizeGifByEndMarker(ByteView d, CarveContext& c) {
  using namespace std::string_view_literals;
  return MarkerRule(d, c, "\x00\x3B"sv);
}

uint64_t SizePngByEndMarker(ByteView d, CarveContext& c) {
  using namespace std::string_view_literals;
  return MarkerRule(d, c, "IEND\xAE\x42\x60\x82"sv);
}

uint64_t SizeBmp(ByteView d, CarveContext&) {
  if (d.size() < 6) return 0;
  return std::min<uint64_t>(d.le32(2), k128M);
}

uint64_t SizeRiffLength(ByteView d, CarveContext&) { return uint64_t{d.le32(4)} + 8; }

uint64_t SizeSwf(ByteView d, CarveContext& c) {
  if (d.Matches(0, "FWS")) return std::min<uint64_t>(d.le32(4), k256M);
  return SectorBytes(c);
}

uint64_t SizeAsf(ByteView d, CarveContext& c) {
  using namespace std::string_view_literals;
  constexpr std::string_view kFileProperties =
      "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;
  size_t at = FindBytes(d, kFileProperties, 30);
  if (at == std::string_view::npos || !d.Has(at, 92)) return SectorBytes(c);
  if (d.le32(at + 88) & 1) return SectorBytes(c);  // a broadcast stream has no file size
  return std::min<uint64_t>(d.le64(at + 40), k256M);
}

uint64_t SizeIcon(ByteView d, CarveContext& c) {
  uint32_t count = d.le16(4);
  if (count == 0) return SectorBytes(c);
  size_t last = 6 + 16 * size_t{count - 1};
  ByteView directory = d;
  if (!d.Has(last, 16)) {
    uint64_t sectors = kSignatureScratchBytes / SectorBytes(c);
    uint32_t got = ReadIntoBuffer(c, c.hitSector, static_cast<uint32_t>(sectors));
    directory = ByteView(c.buffer(), got);
    if (!directory.Has(last, 16)) return SectorBytes(c);
  }
  return uint64_t{directory.le32(last + 12)} + directory.le32(last + 8);
}

uint64_t SizeMpeg(ByteView d, CarveContext& c) {
  using namespace std::string_view_literals;
  std::string_view end = d.u8(3) == 0xB3 ? "\x00\x00\x01\xB7"sv : "\x00\x00\x01\xB9"sv;
  return WalkSectors(c, k6G, true, [&](ByteView chunk, uint64_t offset) {
    return FirstCleanMarker(chunk, offset, end, c.source.sectorBytes);
  });
}

uint64_t SizeRealMedia(ByteView, CarveContext& c) {
  using namespace std::string_view_literals;
  constexpr std::string_view kIndexEnd = "INDX\x00\x00\x00\x14\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00"sv;
  return WalkSectors(c, k6G, false, [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
    size_t at = FindBytes(chunk, kIndexEnd);
    if (at == std::string_view::npos) return std::nullopt;
    return offset + at + kIndexEnd.size();
  });
}

uint64_t SizeMp4ByTrailer(ByteView, CarveContext& c) {
  constexpr std::string_view kTrailer = "freeIsoMedia File Produced";
  return WalkSectors(c, k6G, false, [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
    size_t at = FindBytes(chunk, kTrailer);
    if (at == std::string_view::npos) return std::nullopt;
    size_t end = at + kTrailer.size();
    while (end < chunk.size() && chunk.data()[end] != 0) ++end;
    return offset + end;
  });
}

uint64_t SizeMp3ByTag(ByteView, CarveContext& c) {
  std::optional<uint64_t> lastTag;
  uint64_t walked = WalkSectors(c, k2G, false, [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
    for (size_t at = FindBytes(chunk, "TAG"); at != std::string_view::npos; at = FindBytes(chunk, "TAG", at + 1))
      lastTag = offset + at;
    return std::nullopt;
  });
  if (lastTag && *lastTag + 128 < walked) return *lastTag + 128;
  return walked;
}

uint64_t SizeApe(ByteView, CarveContext& c) {
  using namespace std::string_view_literals;
  constexpr std::string_view kTag = "APETAGEX\xD0\x07"sv;
  return WalkSectors(c, k2G, false, [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
    size_t first = FindBytes(chunk, kTag);
    if (first == std::string_view::npos) return std::nullopt;
    size_t second = FindBytes(chunk, kTag, first + 1);
    if (second == std::string_view::npos) return offset + chunk.size();
    return offset + second + 32;
  });
}

namespace {

// Follows the chain of track chunks through bytes (at offset from the hit);
// true once count tracks have been passed.
struct MidiChain {
  uint64_t next = 14;
  uint32_t tracks = 0;
  uint32_t count = 0;
  bool broken = false;

  bool Advance(ByteView bytes, uint64_t offset) {
    while (!broken && tracks < count && next >= offset && next - offset + 8 <= bytes.size()) {
      size_t local = static_cast<size_t>(next - offset);
      if (!bytes.Matches(local, "MTrk")) {
        broken = true;  // the chain is lost: the walk's boundary decides
        break;
      }
      next += uint64_t{bytes.be32(local + 4)} + 8;
      ++tracks;
    }
    return tracks >= count;
  }
};

}  // namespace

uint64_t SizeMidi(ByteView d, CarveContext& c) {
  MidiChain chain;
  chain.count = d.be16(10);
  if (chain.Advance(d, 0)) return std::min(chain.next, k8M);
  return WalkSectors(c, k8M, false, [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
    if (chain.Advance(chunk, offset)) return std::min(chain.next, k8M);
    return std::nullopt;
  });
}

uint64_t SizeTransportStream(ByteView d, CarveContext& c) {
  constexpr uint64_t kPacket = 188;
  uint64_t next = 0;
  std::optional<uint64_t> end;
  while (next < d.size() && d.u8(next) == 0x47) next += kPacket;
  if (next < d.size()) end = next;
  if (!end) {
    uint64_t walked = WalkSectors(c, k64G, false, [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
      while (next < offset + chunk.size()) {
        if (next < offset || chunk.u8(static_cast<size_t>(next - offset)) != 0x47) return next;
        next += kPacket;
      }
      return std::nullopt;
    });
    end = std::min(walked, next);
  }
  uint64_t sectorBytes = SectorBytes(c);
  uint64_t sectors = std::max<uint64_t>(1, (*end + sectorBytes - 1) / sectorBytes);
  c.streamExtents.emplace_back(c.hitSector, c.hitSector + sectors - 1);
  return *end;
}

}  // namespace kestrel::sig
