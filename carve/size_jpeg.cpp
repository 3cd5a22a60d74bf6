// JPEG: the marker walk. Segments are skipped by their length (so an EXIF
// thumbnail inside APP1, with its own FF D9, is passed whole), scan data is
// crossed to the next real marker (stuffed FF 00 and restart markers belong to
// it), and the EOI after at least one scan ends the picture, progressive
// pictures with many scans included.
#include <cstring>
#include <optional>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t k128M = 0x8000000;

bool IsRestartOrStandalone(uint8_t marker) { return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01; }

bool IsFrameStart(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// From at (the first byte of entropy-coded data), the offset of the FF that
// begins the next marker other than a restart; nullopt when the data runs out.
std::optional<uint64_t> EndOfScanData(CarveWindow& window, uint64_t at) {
  while (true) {
    ByteView chunk = window.ReadSome(at);
    if (chunk.size() < 2) return std::nullopt;
    // Look at every FF that has its following byte in this chunk.
    size_t searchable = chunk.size() - 1;
    size_t i = 0;
    while (i < searchable) {
      const void* hit = std::memchr(chunk.data() + i, 0xFF, searchable - i);
      if (hit == nullptr) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - chunk.data());
      uint8_t next = chunk.data()[i + 1];
      if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
        i += 2;
      } else if (next == 0xFF) {
        i += 1;  // fill bytes before a marker
      } else {
        return at + i;
      }
    }
    at += i >= searchable ? i : searchable;
  }
}

}  // namespace

std::optional<uint64_t> JpegStructureEnd(CarveWindow& window) {
  uint64_t at = 2;
  bool sawFrame = false, sawScan = false;
  while (true) {
    ByteView head = window.Read(at, 2);
    if (head.empty() || head.u8(0) != 0xFF) return std::nullopt;
    uint8_t marker = head.u8(1);
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    if (marker == 0xD9) {
      if (!sawScan) return std::nullopt;
      return at + 2;
    }
    if (IsRestartOrStandalone(marker)) {
      at += 2;
      continue;
    }
    if (marker == 0xD8 || marker == 0x00) return std::nullopt;
    ByteView length = window.Read(at + 2, 2);
    if (length.empty() || length.be16(0) < 2) return std::nullopt;
    if (IsFrameStart(marker)) sawFrame = true;
    at += 2 + uint64_t{length.be16(0)};
    if (marker == 0xDA) {
      if (!sawFrame) return std::nullopt;
      sawScan = true;
      std::optional<uint64_t> next = EndOfScanData(window, at);
      if (!next) return std::nullopt;
      at = *next;
    }
  }
}

uint64_t SizeJpeg(ByteView d, CarveContext& c) {
  return SizeByStructure(d, c, k128M, JpegStructureEnd, SizeJpegByEndMarker);
}

}  // namespace kestrel::sig
