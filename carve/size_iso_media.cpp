// ISO base media files (MP4, MOV, 3GP, M4A, HEIC, CR3): the chain of
// top-level boxes from the first, with 64-bit sizes, to the last valid one.
#include <array>
#include <optional>
#include <string_view>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t k6G = 0x180000000;

// Boxes that stand at the top level of the files cameras, phones and encoders
// write. Anything else after a box means the file has ended.
bool IsTopLevelBox(ByteView type) {
  static constexpr std::array<std::string_view, 19> kTypes = {
      "ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "pdin", "moof",
      "mfra", "sidx", "ssix", "styp", "prft", "emsg", "pnot", "udta", "junk"};
  for (std::string_view known : kTypes) {
    if (type.Matches(0, known)) return true;
  }
  return false;
}

}  // namespace

std::optional<uint64_t> IsoMediaStructureEnd(CarveWindow& window) {
  uint64_t at = 0;
  bool sawDescription = false;  // moov, or meta for still images
  while (true) {
    ByteView h = window.Read(at, 8);
    if (h.empty() || !IsTopLevelBox(h.Sub(4, 4))) break;
    uint64_t size = h.be32(0);
    if (size == 1) {
      ByteView large = window.Read(at + 8, 8);
      if (large.empty()) return std::nullopt;
      size = (uint64_t{large.be32(0)} << 32) | large.be32(4);
      if (size < 16) break;
    } else if (size == 0) {
      return std::nullopt;  // "to the end of the file": nothing says where that is
    } else if (size < 8) {
      break;
    }
    // A box that runs past the source or the cap: the file was cut.
    if (size > window.limit() - at) return std::nullopt;
    if (h.Matches(4, "moov") || h.Matches(4, "meta") || h.Matches(4, "moof")) sawDescription = true;
    at += size;
  }
  if (!sawDescription || at == 0) return std::nullopt;
  return at;
}

uint64_t SizeMp4(ByteView d, CarveContext& c) { return SizeByStructureWithinBoundary(d, c, k6G, IsoMediaStructureEnd, SizeMp4ByTrailer); }
uint64_t SizeIsoMedia(ByteView d, CarveContext& c) {
  return SizeByStructureWithinBoundary(d, c, k6G, IsoMediaStructureEnd, SizeWalk6G);
}

}  // namespace kestrel::sig
