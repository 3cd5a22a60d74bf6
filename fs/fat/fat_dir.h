// One 32-byte FAT directory entry: its fields, the plausibility test that
// keeps garbage out of a scan, long-name assembly and DOS time conversion.
// Pure parsing over ByteView, shared by the fast and the deep FAT engines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/byte_view.h"

namespace kestrel {

inline constexpr size_t kFatEntryBytes = 32;
inline constexpr uint8_t kFatDeletedMark = 0xE5;
inline constexpr uint8_t kFatAttrReadOnly = 0x01;
inline constexpr uint8_t kFatAttrVolume = 0x08;
inline constexpr uint8_t kFatAttrDirectory = 0x10;
inline constexpr uint8_t kFatAttrArchive = 0x20;
inline constexpr uint8_t kFatAttrLongName = 0x0F;

struct FatDirEntry {
  uint8_t first = 0;          // first name byte: 0 end, 0xE5 deleted
  uint8_t attributes = 0;
  uint32_t cluster = 0;       // FAT32: high word << 16 | low word; FAT12/16: low word
  uint16_t clusterHigh = 0;   // offset 20, as stored
  uint16_t clusterLow = 0;    // offset 26
  uint32_t size = 0;
  uint64_t created = 0;       // FILETIME, 0 when the field is empty or invalid
  uint64_t accessed = 0;
  uint64_t modified = 0;

  bool IsDeleted() const { return first == kFatDeletedMark; }
  bool IsLongNamePart() const { return attributes == kFatAttrLongName; }
  bool IsDirectory() const { return (attributes & kFatAttrDirectory) != 0 && !IsLongNamePart(); }
  bool IsFile() const { return (attributes & kFatAttrArchive) != 0 && (attributes & kFatAttrDirectory) == 0; }
  bool IsVolumeLabel() const { return attributes == kFatAttrVolume; }
};

// Decodes the fixed fields of entry (32 bytes). isFat32 decides whether the
// high cluster word belongs to the cluster number.
FatDirEntry ParseFatDirEntry(ByteView entry, bool isFat32);

// True when entry is "." (dot and ten spaces) with the directory attribute.
bool IsDotEntry(ByteView entry);
// True when entry is ".." with the directory attribute.
bool IsDotDotEntry(ByteView entry);
// A directory's first cluster begins with "." and "..": a reused cluster does not.
bool StartsLikeDirectory(ByteView cluster);

// The test an entry passes before a scan trusts it. next is the entry after
// it (empty at the end of a buffer): a "." entry is plausible only when ".."
// follows. Live entries need sane dates; files without the archive bit and
// folders with the read-only bit are refused.
bool IsPlausibleEntry(ByteView entry, ByteView next, bool isFat32);
// The looser test: an entry a FAT directory could hold, in use, deleted or a
// long-name part, of any age. Both exist because a wrong yes costs different
// things: a scan that trusts an entry lists a file (so IsPlausibleEntry wants
// sane dates and attributes), while carving only needs to know that a sector
// of entries is metadata and not the next piece of a file, so it asks this
// one: 8.3 name bytes, sane time fields and flags, "." and ".." as folders.
bool IsWellFormedEntry(ByteView entry);

// DOS date and time (and the creation hundredths, 0..199) as a FILETIME;
// nullopt when a field is out of range. No time-zone shift.
std::optional<uint64_t> DosTimeToFileTime(uint16_t date, uint16_t time, uint8_t hundredths = 0);
// A FILETIME from calendar fields; nullopt for an impossible date.
std::optional<uint64_t> CalendarToFileTime(int year, int month, int day, int hour, int minute, int second,
                                           int millisecond);

// The 8-bit checksum that every long-name part carries of its short entry's 11 name bytes.
uint8_t ShortNameChecksum(ByteView entry);

// The short name as text: base, "." and extension with padding removed,
// lowered where the entry's case flags (byte 12) say so, OEM bytes (code page
// 437) turned into UTF-8. A deleted entry's lost first byte shows as "!".
std::string ShortNameText(ByteView entry);

// Gathers the long-name parts that precede a short entry. Feed every
// plausible entry in order; Take gives the name for the short entry that
// ends the run, or "" when the parts do not belong to it.
class LongNameAssembler {
 public:
  void AddPart(ByteView entry);
  // shortEntry ends the run. Parts that do not agree (mixed checksums, a
  // short entry whose checksum differs) are dropped; a long name that lost its
  // end to newer entries (its extension no longer matches the short one)
  // gives way to the short name, whose first byte the checksum restores.
  std::string Take(ByteView shortEntry);
  void Reset();
  bool Pending() const { return count_ > 0; }

 private:
  static constexpr int kMaxParts = 20;
  char16_t chars_[kMaxParts * 13] = {};
  int count_ = 0;
  uint8_t checksum_ = 0;
};

// A name safe to use as one path component: '/', '\' and control characters
// become '_'; "", "." and ".." become "_".
std::string SafeFileName(std::string name);

}  // namespace kestrel
