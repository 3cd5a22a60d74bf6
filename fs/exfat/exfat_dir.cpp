#include "fs/exfat/exfat_dir.h"

#include "fs/fat/fat_dir.h"
#include "platform/utf8.h"

namespace kestrel {

namespace {

constexpr uint8_t kNoFatChainFlag = 0x02;
constexpr int64_t kFileTimeUnitsPer15Minutes = 15LL * 60 * 10000000;

bool SameUse(uint8_t type, bool deleted) { return ((type & kExfatInUse) == 0) == deleted; }

}  // namespace

uint16_t ExfatSetChecksum(ByteView set, uint32_t count) {
  uint16_t sum = 0;
  size_t length = size_t(count) * kExfatEntryBytes;
  for (size_t i = 0; i < length; ++i) {
    if (i == 2 || i == 3) continue;
    // Deleting clears the in-use bits without updating the checksum, which
    // was taken over the live types.
    uint8_t byte = i % kExfatEntryBytes == 0 ? uint8_t(set.u8(i) | kExfatInUse) : set.u8(i);
    sum = uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
  }
  return sum;
}

std::optional<uint64_t> ExfatTimeToFileTime(uint32_t timestamp, uint8_t tenMs, uint8_t utcOffset) {
  if (tenMs > 199) return std::nullopt;
  auto local = DosTimeToFileTime(uint16_t(timestamp >> 16), uint16_t(timestamp & 0xFFFF), tenMs);
  if (!local || !(utcOffset & 0x80)) return local;
  // Seven-bit two's complement count of 15-minute steps east of UTC.
  int32_t steps = utcOffset & 0x7F;
  if (steps & 0x40) steps -= 0x80;
  int64_t utc = int64_t(*local) - int64_t(steps) * kFileTimeUnitsPer15Minutes;
  if (utc < 0) return std::nullopt;
  return uint64_t(utc);
}

ExfatSetResult ParseExfatEntrySet(ByteView entries, ExfatEntrySet& out) {
  uint8_t type = entries.u8(0);
  if ((type & 0x7F) != (kExfatTypeFile & 0x7F) || !entries.Has(0, kExfatEntryBytes)) return ExfatSetResult::kNotASet;
  const bool deleted = (type & kExfatInUse) == 0;
  uint32_t secondaries = entries.u8(1);
  if (secondaries < kExfatMinSecondaries || secondaries > kExfatMaxSecondaries) return ExfatSetResult::kMalformed;
  uint32_t count = secondaries + 1;
  if (!entries.Has(0, size_t(count) * kExfatEntryBytes)) return ExfatSetResult::kTruncated;

  ByteView stream = entries.Sub(kExfatEntryBytes, kExfatEntryBytes);
  if ((stream.u8(0) & 0x7F) != (kExfatTypeStream & 0x7F) || !SameUse(stream.u8(0), deleted)) {
    return ExfatSetResult::kMalformed;
  }
  uint32_t nameLength = stream.u8(3);
  uint32_t nameEntries = (nameLength + kExfatNameCharsPerEntry - 1) / kExfatNameCharsPerEntry;
  if (nameLength == 0 || nameEntries > secondaries - 1) return ExfatSetResult::kMalformed;
  std::u16string name;
  name.reserve(nameLength);
  for (uint32_t i = 0; i < nameEntries; ++i) {
    ByteView part = entries.Sub(size_t(2 + i) * kExfatEntryBytes, kExfatEntryBytes);
    if ((part.u8(0) & 0x7F) != (kExfatTypeName & 0x7F) || !SameUse(part.u8(0), deleted)) {
      return ExfatSetResult::kMalformed;
    }
    for (uint32_t c = 0; c < kExfatNameCharsPerEntry && name.size() < nameLength; ++c) {
      name.push_back(char16_t(part.le16(2 + 2 * c)));
    }
  }
  // Further secondaries (vendor extensions) may follow; they are covered by
  // the checksum but must still belong to this set.
  for (uint32_t i = 2 + nameEntries; i < count; ++i) {
    uint8_t t = entries.u8(size_t(i) * kExfatEntryBytes);
    if ((t & 0x40) == 0 || !SameUse(t, deleted)) return ExfatSetResult::kMalformed;
  }
  if (ExfatSetChecksum(entries, count) != entries.le16(2)) return ExfatSetResult::kBadChecksum;
  // A NUL inside the stored length ends the name as far as any reader is concerned.
  if (size_t nul = name.find(u'\0'); nul != std::u16string::npos) name.resize(nul);
  if (name.empty()) return ExfatSetResult::kMalformed;

  ExfatEntrySet set;
  set.deleted = deleted;
  set.attributes = entries.le16(4);
  set.created = ExfatTimeToFileTime(entries.le32(8), entries.u8(20), entries.u8(22)).value_or(0);
  set.modified = ExfatTimeToFileTime(entries.le32(12), entries.u8(21), entries.u8(23)).value_or(0);
  set.accessed = ExfatTimeToFileTime(entries.le32(16), 0, entries.u8(24)).value_or(0);
  set.name = Utf16ToUtf8(name);
  set.noFatChain = (stream.u8(1) & kNoFatChainFlag) != 0;
  set.validDataLength = stream.le64(8);
  set.firstCluster = stream.le32(20);
  set.dataLength = stream.le64(24);
  if (set.validDataLength > set.dataLength) set.validDataLength = set.dataLength;
  set.entryCount = count;
  out = std::move(set);
  return ExfatSetResult::kOk;
}

std::optional<ExfatBitmapEntry> FindExfatBitmapEntry(ByteView directory) {
  for (size_t offset = 0; offset + kExfatEntryBytes <= directory.size(); offset += kExfatEntryBytes) {
    uint8_t type = directory.u8(offset);
    if (type == kExfatTypeEndOfDirectory) break;
    // Bit 0 of the flags says which FAT the bitmap belongs to; the first one serves.
    if (type == kExfatTypeBitmap && (directory.u8(offset + 1) & 1) == 0) {
      return ExfatBitmapEntry{directory.le32(offset + 20), directory.le64(offset + 24)};
    }
  }
  return std::nullopt;
}

}  // namespace kestrel
