// Sectors that hold file-system metadata: a walked file never runs across one.
#include <cstring>

#include "carve/signatures.h"
#include "fs/fat/fat_boot.h"
#include "fs/fat/fat_dir_sectors.h"

namespace kestrel {

namespace {

bool HasUtf16Ntfs(ByteView sector) {
  static constexpr uint8_t kText[] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
  for (size_t at = 0; at + sizeof kText <= sector.size(); ++at) {
    if (std::memcmp(sector.data() + at, kText, sizeof kText) == 0) return true;
  }
  return false;
}

}  // namespace

int IsStructureSector(ByteView s) {
  if (s.size() < 32) return 0;
  if (s.Matches(0, "FILE") || s.Matches(0, "INDX")) return 1;
  if (s.Matches(0, "RSTR") && HasUtf16Ntfs(s)) return 1;
  static constexpr uint8_t kSta[] = {0x24, 0x00, 0x53, 0x00, 0x54, 0x00, 0x41, 0x00};
  if (s.Matches(0, std::span<const uint8_t>(kSta))) return 1;
  if (LooksLikeBootSector(s)) return 1;
  return LooksLikeDirectorySector(s) ? 1 : 0;
}

}  // namespace kestrel
