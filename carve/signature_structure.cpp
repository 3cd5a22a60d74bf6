// Sectors that hold file-system metadata: a walked file never runs across one.
#include <cstring>

#include "carve/signatures.h"

namespace kestrel {

namespace {

bool HasUtf16Ntfs(ByteView sector) {
  static constexpr uint8_t kText[] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
  for (size_t at = 0; at + sizeof kText <= sector.size(); ++at) {
    if (std::memcmp(sector.data() + at, kText, sizeof kText) == 0) return true;
  }
  return false;
}

bool IsBootSector(ByteView s) {
  if (s.u8(0) != 0xEB || s.u8(2) != 0x90) return false;
  for (const char* oem : {"MSDOS5.0", "MSWIN4.0", "MSWIN4.1", "NTFS    ", "EXFAT   "}) {
    if (s.Matches(3, oem)) return true;
  }
  return false;
}

bool IsShortNameChar(uint8_t c) {
  if (c < 0x20 || (c >= 'a' && c <= 'z')) return false;
  return std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

// One 32-byte entry that a FAT directory could hold (in use, deleted or a
// long-name part). Names follow the 8.3 rules; "." and ".." are allowed.
bool IsWellFormedEntry(ByteView e) {
  uint8_t first = e.u8(0);
  uint8_t attributes = e.u8(11);
  if (attributes == 0x0F) {
    uint8_t order = first & 0x3F;
    bool sequence = first == 0xE5 || ((first & ~0x40) == order && order >= 1 && order <= 20);
    return sequence && e.u8(12) == 0 && e.le16(26) == 0;
  }
  if (attributes & 0xC0) return false;
  // Case flags, creation hundredths and the modified time and date are
  // checked too: runs of one repeated byte would otherwise pass as entries.
  if (e.u8(12) & ~0x18) return false;
  if (e.u8(13) > 199) return false;
  uint16_t time = e.le16(22), date = e.le16(24);
  if ((time & 0x1F) > 29 || ((time >> 5) & 0x3F) > 59 || (time >> 11) > 23) return false;
  if (date != 0) {
    uint16_t month = (date >> 5) & 0x0F, day = date & 0x1F;
    if (month < 1 || month > 12 || day < 1) return false;
  }
  if (first == '.') {
    bool dot = e.Matches(0, ".          ");
    bool dotDot = e.Matches(0, "..         ");
    return (dot || dotDot) && (attributes & 0x10);
  }
  if (first == ' ') return false;
  for (size_t i = 0; i < 11; ++i) {
    uint8_t c = e.u8(i);
    if (i == 0 && (c == 0xE5 || c == 0x05)) continue;
    if (!IsShortNameChar(c)) return false;
  }
  return true;
}

// A sector of directory entries: the first is in use or deleted, and every
// entry up to the end marker (first byte 0) is well formed.
bool IsFatDirectorySector(ByteView s) {
  if (s.size() < 32 || s.u8(0) == 0) return false;
  for (size_t at = 0; at + 32 <= s.size(); at += 32) {
    ByteView entry = s.Sub(at, 32);
    if (entry.u8(0) == 0) return true;
    if (!IsWellFormedEntry(entry)) return false;
  }
  return true;
}

}  // namespace

int IsStructureSector(ByteView s) {
  if (s.size() < 32) return 0;
  if (s.Matches(0, "FILE") || s.Matches(0, "INDX")) return 1;
  if (s.Matches(0, "RSTR") && HasUtf16Ntfs(s)) return 1;
  static constexpr uint8_t kSta[] = {0x24, 0x00, 0x53, 0x00, 0x54, 0x00, 0x41, 0x00};
  if (s.Matches(0, std::span<const uint8_t>(kSta))) return 1;
  if (IsBootSector(s)) return 1;
  return IsFatDirectorySector(s) ? 1 : 0;
}

}  // namespace kestrel
