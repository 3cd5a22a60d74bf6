// PNG and GIF sized by their own structure: the chunk chain to IEND, and the
// block chain to the trailer. Their end markers can occur inside the data of a
// file and after it, so the walk, not the marker, decides.
#include <optional>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t k128M = 0x8000000;

bool IsChunkTypeLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// GIF data sub-blocks from at: their total length up to and with the zero-length terminator.
std::optional<uint64_t> SkipSubBlocks(CarveWindow& window, uint64_t at) {
  while (true) {
    ByteView size = window.Read(at, 1);
    if (size.empty()) return std::nullopt;
    at += 1 + uint64_t{size.u8(0)};
    if (size.u8(0) == 0) return at;
  }
}

}  // namespace

std::optional<uint64_t> PngStructureEnd(CarveWindow& window) {
  uint64_t at = 8;
  while (true) {
    ByteView h = window.Read(at, 8);
    if (h.empty()) return std::nullopt;
    for (size_t i = 4; i < 8; ++i) {
      if (!IsChunkTypeLetter(h.u8(i))) return std::nullopt;
    }
    uint64_t length = h.be32(0);
    if (length > 0x7FFFFFFF) return std::nullopt;
    at += 12 + length;
    if (h.Matches(4, "IEND")) return at <= window.limit() ? std::optional<uint64_t>(at) : std::nullopt;
  }
}

std::optional<uint64_t> GifStructureEnd(CarveWindow& window) {
  ByteView screen = window.Read(0, 13);
  if (screen.empty()) return std::nullopt;
  uint64_t at = 13;
  if (screen.u8(10) & 0x80) at += 3 * (uint64_t{2} << (screen.u8(10) & 7));
  while (true) {
    ByteView block = window.Read(at, 1);
    if (block.empty()) return std::nullopt;
    switch (block.u8(0)) {
      case 0x3B:
        return at + 1;
      case 0x21: {  // extension: label, then sub-blocks
        std::optional<uint64_t> end = SkipSubBlocks(window, at + 2);
        if (!end) return std::nullopt;
        at = *end;
        break;
      }
      case 0x2C: {  // image: descriptor, local colour table, LZW code size, sub-blocks
        ByteView descriptor = window.Read(at, 10);
        if (descriptor.empty()) return std::nullopt;
        at += 10;
        if (descriptor.u8(9) & 0x80) at += 3 * (uint64_t{2} << (descriptor.u8(9) & 7));
        std::optional<uint64_t> end = SkipSubBlocks(window, at + 1);
        if (!end) return std::nullopt;
        at = *end;
        break;
      }
      default:
        return std::nullopt;
    }
  }
}

uint64_t SizePng(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k128M, PngStructureEnd, SizePngByEndMarker); }
uint64_t SizeGif(ByteView d, CarveContext& c) { return SizeByStructure(d, c, k128M, GifStructureEnd, SizeGifByEndMarker); }

}  // namespace kestrel::sig
