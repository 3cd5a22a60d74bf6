// exFAT directory entries: the file entry sets (file, stream extension and
// name entries) with their checksum, the critical primary entries of the
// root, and the timestamps with their 10 ms and UTC-offset fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/byte_view.h"

namespace kestrel {

inline constexpr size_t kExfatEntryBytes = 32;
inline constexpr uint8_t kExfatInUse = 0x80;
inline constexpr uint8_t kExfatTypeEndOfDirectory = 0x00;
inline constexpr uint8_t kExfatTypeBitmap = 0x81;
inline constexpr uint8_t kExfatTypeUpcase = 0x82;
inline constexpr uint8_t kExfatTypeFile = 0x85;
inline constexpr uint8_t kExfatTypeStream = 0xC0;
inline constexpr uint8_t kExfatTypeName = 0xC1;
inline constexpr uint16_t kExfatAttrDirectory = 0x10;
inline constexpr uint32_t kExfatMaxNameLength = 255;
inline constexpr uint32_t kExfatNameCharsPerEntry = 15;
// A file entry has 2 to 18 secondaries: the stream entry, up to 17 name entries.
inline constexpr uint32_t kExfatMinSecondaries = 2;
inline constexpr uint32_t kExfatMaxSecondaries = 18;

// What a file entry set tells about its file or folder.
struct ExfatEntrySet {
  bool deleted = false;  // the in-use bit was cleared on the whole set
  uint16_t attributes = 0;
  uint64_t created = 0;  // FILETIME, UTC when the entry recorded its offset
  uint64_t modified = 0;
  uint64_t accessed = 0;
  std::string name;      // UTF-8
  uint32_t firstCluster = 0;
  uint64_t dataLength = 0;
  uint64_t validDataLength = 0;
  bool noFatChain = false;  // the data is one contiguous run of clusters
  uint32_t entryCount = 0;  // 1 + secondaries
  bool IsDirectory() const { return (attributes & kExfatAttrDirectory) != 0; }
};

enum class ExfatSetResult {
  kOk,
  kNotASet,      // the first entry is no file entry (live or deleted)
  kTruncated,    // the set runs past the bytes given
  kMalformed,    // secondaries missing, of the wrong type or with impossible fields
  kBadChecksum,  // well formed, but its checksum does not match
};

// Parses the set that begins at entries[0]. Every entry of a set must share
// the first one's in-use state: a mix is one set overwritten by another.
// Valid data length above the data length is damage: the set is kept with
// the valid length cut to the data length.
ExfatSetResult ParseExfatEntrySet(ByteView entries, ExfatEntrySet& out);

// The 16-bit checksum over a set of count entries (bytes 2 and 3, where the
// checksum itself is kept, are left out), taken as if every entry were in
// use, so a deleted set checks against the sum it had while live.
uint16_t ExfatSetChecksum(ByteView set, uint32_t count);

// A 32-bit exFAT timestamp, its 10 ms increment (0..199) and UTC-offset byte
// as a FILETIME; nullopt for an impossible date. With the offset's valid bit
// the time is moved to UTC; without it the time is taken as it stands.
std::optional<uint64_t> ExfatTimeToFileTime(uint32_t timestamp, uint8_t tenMs, uint8_t utcOffset);

// The first cluster and length of the allocation bitmap named in a directory
// buffer (the root): the first bitmap entry whose flags name the first FAT.
struct ExfatBitmapEntry {
  uint32_t firstCluster = 0;
  uint64_t dataLength = 0;
};
std::optional<ExfatBitmapEntry> FindExfatBitmapEntry(ByteView directory);

}  // namespace kestrel
