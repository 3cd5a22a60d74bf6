#include "fs/fat/fat_dir_sectors.h"

#include <cstring>

#include "fs/fat/fat_dir.h"

namespace kestrel {

namespace {

bool IsDotLike(ByteView e, size_t dots) {
  for (size_t i = 0; i < dots; ++i) {
    if (e.u8(i) != '.') return false;
  }
  return (e.u8(11) & kFatAttrDirectory) != 0 && e.u8(11) != kFatAttrLongName && e.le32(28) == 0;
}

bool AllZero(ByteView bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes.data()[i] != 0) return false;
  }
  return true;
}

// Name rules of a short entry beyond the shared plausibility test: no control
// bytes or dots, padding only at the end of each part, high bytes in pairs.
bool SaneShortName(ByteView e) {
  bool deleted = e.u8(0) == kFatDeletedMark;
  for (size_t i = deleted ? 1 : 0; i < 11; ++i) {
    uint8_t b = e.u8(i);
    if (b < 0x20 || b == '.') return false;
  }
  auto padded = [&](size_t from, size_t to) {
    bool space = false;
    for (size_t i = from; i < to; ++i) {
      if (e.u8(i) == ' ') space = true;
      else if (space) return false;
    }
    return true;
  };
  if (!padded(0, 8) || !padded(8, 11)) return false;
  for (size_t i = deleted ? 1 : 0; i < 10; ++i) {
    if (e.u8(i) & 0x80) {
      if (!(e.u8(i + 1) & 0x80)) return false;
      ++i;
    }
  }
  return true;
}

bool CreationConverts(ByteView e) {
  uint16_t date = e.le16(16), time = e.le16(14);
  // Many writers leave the optional creation stamp empty.
  if (date == 0 && time == 0 && e.u8(13) == 0) return true;
  return DosTimeToFileTime(date, time, e.u8(13)).has_value();
}

}  // namespace

bool IsDirectoryStartSector(ByteView sector) {
  if (sector.size() < 2 * kFatEntryBytes) return false;
  return IsDotLike(sector.Sub(0, 32), 1) && IsDotLike(sector.Sub(32, 32), 2);
}

bool IsDirectoryContinuationSector(ByteView sector) {
  size_t n = sector.size() / kFatEntryBytes;
  if (n == 0 || sector.u8(0) == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    ByteView e = sector.Sub(i * 32, 32);
    if (e.u8(0) == 0) return AllZero(sector.Sub(i * 32));
    ByteView next = i + 1 < n ? sector.Sub((i + 1) * 32, 32) : ByteView();
    if (!IsPlausibleEntry(e, next, true)) return false;
    if (std::memcmp(e.data() + 1, e.data() + 17, 14) == 0) return false;
    if (e.u8(11) == kFatAttrLongName) {
      uint8_t sum = e.u8(13);
      size_t j = i + 1;
      for (int parts = 0; j < n && parts < 18; ++j, ++parts) {
        ByteView f = sector.Sub(j * 32, 32);
        if (f.u8(11) != kFatAttrLongName) break;
        ByteView after = j + 1 < n ? sector.Sub((j + 1) * 32, 32) : ByteView();
        if (!IsPlausibleEntry(f, after, true) || f.u8(13) != sum) return false;
      }
      if (j < n && j - i <= 18) {
        ByteView owner = sector.Sub(j * 32, 32);
        if (owner.u8(11) == kFatAttrLongName) continue;
        if (owner.u8(0) != kFatDeletedMark && ShortNameChecksum(owner) != sum) return false;
      }
      continue;
    }
    if (e.u8(11) != kFatAttrVolume && !CreationConverts(e)) return false;
    if (e.u8(11) != kFatAttrVolume && !SaneShortName(e)) return false;
  }
  return true;
}

bool LooksLikeDirectorySector(ByteView s) {
  if (s.size() < kFatEntryBytes || s.u8(0) == 0) return false;
  for (size_t at = 0; at + kFatEntryBytes <= s.size(); at += kFatEntryBytes) {
    ByteView entry = s.Sub(at, kFatEntryBytes);
    if (entry.u8(0) == 0) return true;
    if (!IsWellFormedEntry(entry)) return false;
  }
  return true;
}

}  // namespace kestrel
