// TIFF and the camera raw formats built on it: the chain of image file
// directories (with their sub-IFDs, EXIF and GPS directories) and the
// furthest end of any strip, tile, thumbnail or out-of-line value.
#include <algorithm>
#include <optional>
#include <vector>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t k128M = 0x8000000;
constexpr uint64_t k2G = 0x80000000;
constexpr size_t kMostDirectories = 64;
constexpr uint32_t kMostEntries = 1000;
constexpr uint32_t kMostArrayValues = 1 << 16;

enum : uint16_t {
  kStripOffsets = 273, kStripByteCounts = 279, kTileOffsets = 324, kTileByteCounts = 325, kSubIfds = 330,
  kThumbnailOffset = 513, kThumbnailLength = 514, kExifIfd = 34665, kGpsIfd = 34853, kInteropIfd = 40965,
};

uint32_t TypeBytes(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;
    default: return 0;
  }
}

class TiffReader {
 public:
  TiffReader(CarveWindow& window, bool bigEndian) : window_(window), big_(bigEndian) {}

  uint16_t U16(ByteView b, size_t at) const { return big_ ? b.be16(at) : b.le16(at); }
  uint32_t U32(ByteView b, size_t at) const { return big_ ? b.be32(at) : b.le32(at); }

  // The values of a SHORT or LONG entry (inline or out of line).
  std::optional<std::vector<uint64_t>> Values(ByteView entry) {
    uint16_t type = U16(entry, 2);
    uint32_t count = U32(entry, 4);
    uint32_t width = type == 3 ? 2 : (type == 4 || type == 13) ? 4 : 0;
    if (width == 0 || count == 0 || count > kMostArrayValues) return std::nullopt;
    std::vector<uint64_t> values;
    values.reserve(count);
    uint64_t bytes = uint64_t{count} * width;
    uint64_t at = U32(entry, 8);
    for (uint32_t i = 0; i < count; ++i) {
      ByteView v;
      size_t within = 0;
      if (bytes <= 4) {
        v = entry;
        within = 8 + i * width;
      } else {
        v = window_.Read(at + uint64_t{i} * width, width);
        if (v.empty()) return std::nullopt;
      }
      values.push_back(width == 2 ? U16(v, within) : U32(v, within));
    }
    return values;
  }

  CarveWindow& window_;
  bool big_;
};

}  // namespace

std::optional<uint64_t> TiffStructureEnd(CarveWindow& window) {
  ByteView header = window.Read(0, 8);
  if (header.empty()) return std::nullopt;
  bool big = header.Matches(0, "MM");
  if (!big && !header.Matches(0, "II")) return std::nullopt;
  TiffReader tiff(window, big);
  uint64_t furthest = 8;
  bool sawImageData = false;
  std::vector<uint64_t> pending{tiff.U32(header, 4)};
  std::vector<uint64_t> seen;
  while (!pending.empty()) {
    uint64_t at = pending.back();
    pending.pop_back();
    if (at < 8 || std::find(seen.begin(), seen.end(), at) != seen.end()) continue;
    if (seen.size() >= kMostDirectories) return std::nullopt;
    seen.push_back(at);
    ByteView countBytes = window.Read(at, 2);
    if (countBytes.empty()) return std::nullopt;
    uint32_t count = tiff.U16(countBytes, 0);
    if (count == 0 || count > kMostEntries) return std::nullopt;
    std::vector<uint8_t> entries;
    {
      ByteView e = window.Read(at + 2, 12 * size_t{count} + 4);
      if (e.empty()) return std::nullopt;
      entries.assign(e.data(), e.data() + e.size());
    }
    ByteView table(entries.data(), entries.size());
    furthest = std::max(furthest, at + 2 + table.size());
    std::vector<uint64_t> offsets, counts;
    std::optional<uint64_t> thumbnail, thumbnailBytes;
    for (uint32_t i = 0; i < count; ++i) {
      ByteView entry = table.Sub(12 * size_t{i}, 12);
      uint16_t tag = tiff.U16(entry, 0), type = tiff.U16(entry, 2);
      uint64_t bytes = uint64_t{tiff.U32(entry, 4)} * TypeBytes(type);
      if (bytes > 4) {
        uint64_t valueAt = tiff.U32(entry, 8);
        // Out-of-line values belong to the file; ones past the source are a maker's private pointer or damage.
        if (valueAt + bytes <= window.limit()) furthest = std::max(furthest, valueAt + bytes);
      }
      auto values = [&]() { return tiff.Values(entry).value_or(std::vector<uint64_t>{}); };
      switch (tag) {
        case kStripOffsets: case kTileOffsets: offsets = values(); break;
        case kStripByteCounts: case kTileByteCounts: counts = values(); break;
        case kThumbnailOffset: if (auto v = values(); !v.empty()) thumbnail = v[0]; break;
        case kThumbnailLength: if (auto v = values(); !v.empty()) thumbnailBytes = v[0]; break;
        case kSubIfds: case kExifIfd: case kGpsIfd: case kInteropIfd:
          for (uint64_t v : values()) pending.push_back(v);
          break;
        default: break;
      }
    }
    if (offsets.size() != counts.size()) return std::nullopt;
    for (size_t i = 0; i < offsets.size(); ++i) {
      if (offsets[i] + counts[i] > window.limit()) return std::nullopt;  // image data cut off
      furthest = std::max(furthest, offsets[i] + counts[i]);
      sawImageData = true;
    }
    if (thumbnail && thumbnailBytes && *thumbnail + *thumbnailBytes <= window.limit())
      furthest = std::max(furthest, *thumbnail + *thumbnailBytes);
    uint64_t next = tiff.U32(table, 12 * size_t{count});
    if (next != 0) pending.push_back(next);
  }
  if (!sawImageData) return std::nullopt;
  return furthest;
}

uint64_t SizeTiff(ByteView d, CarveContext& c) { return SizeByStructureWithinBoundary(d, c, k128M, TiffStructureEnd, SizeWalk128M); }
uint64_t SizeCameraRaw(ByteView d, CarveContext& c) { return SizeByStructureWithinBoundary(d, c, k2G, TiffStructureEnd, nullptr); }

}  // namespace kestrel::sig
