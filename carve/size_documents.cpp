// Documents sized by their own structure: PDF to the last end-of-file marker
// before the next file (incremental updates and linearized files append
// further markers), OLE compound documents to the highest sector their
// allocation table uses, and executables to the end of their furthest section
// or signature.
#include <algorithm>
#include <optional>
#include <vector>

#include "carve/carve_window.h"
#include "carve/signature_internal.h"

namespace kestrel::sig {

namespace {

constexpr uint64_t k256M = 0x10000000;
constexpr uint64_t k64G = 0x1000000000;

}  // namespace

// ---- PDF ----

namespace {

// The /L value of a linearization dictionary in the first bytes, if any.
std::optional<uint64_t> LinearizedLength(ByteView first) {
  size_t at = FindBytes(first, "/Linearized");
  if (at == std::string_view::npos) return std::nullopt;
  for (size_t l = FindBytes(first, "/L", at + 11); l != std::string_view::npos; l = FindBytes(first, "/L", l + 2)) {
    size_t p = l + 2;
    if (p < first.size() && first.u8(p) != ' ' && first.u8(p) != '\n' && first.u8(p) != '\r') continue;  // /Length etc.
    while (p < first.size() && (first.u8(p) == ' ' || first.u8(p) == '\n' || first.u8(p) == '\r')) ++p;
    uint64_t value = 0;
    size_t digits = 0;
    while (p < first.size() && first.u8(p) >= '0' && first.u8(p) <= '9' && digits < 15) {
      value = value * 10 + (first.u8(p++) - '0');
      ++digits;
    }
    return digits > 0 ? std::optional<uint64_t>(value) : std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

uint64_t SizePdf(ByteView d, CarveContext& c) {
  constexpr std::string_view kEof = "%%EOF";
  const int32_t sectorBytes = c.source.sectorBytes;
  std::optional<uint64_t> last;     // end of the last marker and its line end
  bool lineEndMayFollow = false;    // the last marker ended its chunk
  auto search = [&](ByteView chunk, uint64_t offset) -> std::optional<uint64_t> {
    if (lineEndMayFollow && last && *last == offset) {
      size_t extra = 0;
      if (chunk.u8(0) == '\r') ++extra;
      if (chunk.u8(extra) == '\n') ++extra;
      *last += extra;
    }
    lineEndMayFollow = false;
    for (size_t at = FindBytes(chunk, kEof); at != std::string_view::npos; at = FindBytes(chunk, kEof, at + 1)) {
      size_t end = at + kEof.size();
      if (end < chunk.size() && chunk.u8(end) == '\r') ++end;
      if (end < chunk.size() && chunk.u8(end) == '\n') ++end;
      // The marker ends a line, the data, or the file (zeros follow); "%%EOF" inside text does not count.
      if (end == at + kEof.size() && end < chunk.size() && chunk.u8(end) != 0) continue;
      last = offset + end;
      lineEndMayFollow = end == chunk.size();
      // Only zeros after it in its sector: the file system's slack, so the file ends here.
      if (end < chunk.size() && IsTailClean(chunk, end, sectorBytes)) return last;
    }
    return std::nullopt;
  };
  // A linearized file states its length in its first object: an earlier
  // %%EOF (the first page's) is then not the end. Updates may follow it.
  std::optional<uint64_t> stated = LinearizedLength(d);
  auto accept = [&](uint64_t end) {
    if (stated && end < *stated) c.structureBroken = true;
    return end;
  };
  if (std::optional<uint64_t> end = search(d, 0); end && (!stated || *end >= *stated)) return *end;
  uint64_t walked = WalkSectors(c, k256M, false, search);
  if (last && *last <= walked) return accept(*last);
  c.structureBroken = true;
  return walked;
}

// ---- OLE compound documents ----

std::optional<uint64_t> OleStructureEnd(CarveWindow& window) {
  constexpr uint32_t kFree = 0xFFFFFFFF;
  ByteView h = window.Read(0, 512);
  if (h.empty() || h.le32(0) != 0xE011CFD0 || h.le32(4) != 0xE11AB1A1 || h.le16(28) != 0xFFFE) return std::nullopt;
  uint16_t major = h.le16(26), shift = h.le16(30);
  if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) return std::nullopt;
  const uint64_t sectorBytes = uint64_t{1} << shift;
  const uint32_t perSector = static_cast<uint32_t>(sectorBytes / 4);
  const uint64_t sectorsOnSource = window.limit() / sectorBytes;
  uint32_t fatSectors = h.le32(44);
  if (fatSectors == 0 || fatSectors > sectorsOnSource) return std::nullopt;

  // The allocation table's own sectors: 109 in the header, the rest in the DIFAT chain.
  std::vector<uint32_t> fat;
  fat.reserve(fatSectors);
  for (uint32_t i = 0; i < 109 && fat.size() < fatSectors; ++i) fat.push_back(h.le32(76 + 4 * i));
  uint32_t difat = h.le32(68);
  for (uint32_t hops = 0; fat.size() < fatSectors; ++hops) {
    if (difat >= sectorsOnSource || hops > h.le32(72)) return std::nullopt;
    ByteView s = window.Read((uint64_t{difat} + 1) * sectorBytes, static_cast<size_t>(sectorBytes));
    if (s.empty()) return std::nullopt;
    for (uint32_t i = 0; i + 1 < perSector && fat.size() < fatSectors; ++i) fat.push_back(s.le32(4 * i));
    difat = s.le32(4 * (perSector - 1));
  }

  // The highest sector any chain or table claims; the header is the sector before 0.
  std::optional<uint64_t> highest;
  for (size_t index = 0; index < fat.size(); ++index) {
    if (fat[index] >= sectorsOnSource) return std::nullopt;
    ByteView s = window.Read((uint64_t{fat[index]} + 1) * sectorBytes, static_cast<size_t>(sectorBytes));
    if (s.empty()) return std::nullopt;
    for (uint32_t i = perSector; i-- > 0;) {
      if (s.le32(4 * i) != kFree) {
        highest = std::max<uint64_t>(highest.value_or(0), uint64_t{index} * perSector + i);
        break;
      }
    }
  }
  uint32_t directory = h.le32(48);
  if (!highest || directory > *highest) return std::nullopt;
  uint64_t end = (*highest + 2) * sectorBytes;
  return end <= window.limit() ? std::optional<uint64_t>(end) : std::nullopt;
}

uint64_t SizeOle(ByteView d, CarveContext& c) {
  return SizeByStructureWithinBoundary(d, c, k64G, OleStructureEnd, SizeWalk256M);
}

// ---- Portable executables ----

// The headers, every section's raw data and the signature (whose directory
// entry holds a file offset). Data appended after all of them (an installer's
// payload) is not described anywhere and is not counted.
std::optional<uint64_t> ExecutableStructureEnd(CarveWindow& window) {
  ByteView dos = window.Read(0, 64);
  if (dos.empty()) return std::nullopt;
  uint32_t pe = dos.le32(60);
  ByteView coff = window.Read(pe, 24);
  if (coff.empty() || !coff.Matches(0, std::string_view("PE\0\0", 4))) return std::nullopt;
  uint16_t sections = coff.le16(6), optionalBytes = coff.le16(20);
  if (sections == 0 || sections > 96) return std::nullopt;
  ByteView optional = window.Read(pe + 24, optionalBytes);
  if (optional.empty() || optionalBytes < 64) return std::nullopt;
  bool plus = optional.le16(0) == 0x20B;
  uint64_t end = optional.le32(60);  // SizeOfHeaders
  size_t directories = plus ? 112 : 96;
  if (optional.Has(directories + 4 * 8, 8)) {
    uint64_t signatureAt = optional.le32(directories + 4 * 8), signatureBytes = optional.le32(directories + 4 * 8 + 4);
    if (signatureAt != 0) end = std::max(end, signatureAt + signatureBytes);
  }
  ByteView table = window.Read(uint64_t{pe} + 24 + optionalBytes, size_t{sections} * 40);
  if (table.empty()) return std::nullopt;
  for (size_t i = 0; i < sections; ++i) {
    uint64_t rawBytes = table.le32(i * 40 + 16), rawAt = table.le32(i * 40 + 20);
    if (rawBytes != 0) end = std::max(end, rawAt + rawBytes);
  }
  return end <= window.limit() ? std::optional<uint64_t>(end) : std::nullopt;
}

uint64_t SizeExecutable(ByteView d, CarveContext& c) {
  return SizeByStructure(d, c, k256M, ExecutableStructureEnd, nullptr);
}

}  // namespace kestrel::sig
