#include "catalogue/found_file_record.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_view.h"

namespace kestrel {

std::string_view DataLayoutWord(DataLayout layout) {
  switch (layout) {
    case DataLayout::kChain: return "chain";
    case DataLayout::kContiguous: return "contiguous";
    case DataLayout::kAroundLive: return "around-live";
    case DataLayout::kInferred: return "inferred";
    case DataLayout::kUnknown: break;
  }
  return "-";
}

std::string_view WholeFileCheckWord(WholeFileCheck check) {
  switch (check) {
    case WholeFileCheck::kPassed: return "passed";
    case WholeFileCheck::kFailed: return "failed";
    case WholeFileCheck::kNotRun: break;
  }
  return "-";
}

WholeFileCheck WholeFileCheckOf(IntegrityVerdict verdict) {
  switch (verdict) {
    case IntegrityVerdict::kIntact: return WholeFileCheck::kPassed;
    case IntegrityVerdict::kDamaged: return WholeFileCheck::kFailed;
    case IntegrityVerdict::kUnknown: break;
  }
  return WholeFileCheck::kNotRun;
}

std::string_view FoundFileRecord::Name() const {
  return std::string_view(name.data(), strnlen(name.data(), name.size()));
}

void FoundFileRecord::SetName(std::string_view text) {
  size_t length = std::min(text.size(), kRecordNameBytes - 1);
  // Back off over UTF-8 continuation bytes so a multi-byte character is never split.
  if (length < text.size()) {
    while (length > 0 && (static_cast<uint8_t>(text[length]) & 0xC0) == 0x80) --length;
  }
  name.fill(0);
  std::memcpy(name.data(), text.data(), length);
}

void FoundFileRecord::Serialize(std::span<uint8_t, kFoundFileRecordBytes> out) const {
  uint8_t* p = out.data();
  PutLe16(p + 0, driveLetter);
  PutLe32(p + 2, engineKind);
  PutLe32(p + 6, isDirectory);
  PutLe32(p + 10, isDeleted);
  PutLe32(p + 14, contentValid);
  PutLe32(p + 18, recordIndex);
  PutLe32(p + 22, itemKey);
  PutLe32(p + 26, static_cast<uint32_t>(clusterBytes));
  PutLe64(p + 30, created);
  PutLe64(p + 38, accessed);
  PutLe64(p + 46, modified);
  PutLe64(p + 54, size);
  PutLe64(p + 62, dataStart);
  PutLe64(p + 70, entrySector);
  PutLe64(p + 78, partitionStart);
  std::memcpy(p + 86, name.data(), kRecordNameBytes);
}

FoundFileRecord FoundFileRecord::Deserialize(std::span<const uint8_t, kFoundFileRecordBytes> in) {
  ByteView v(in.data(), in.size());
  FoundFileRecord r;
  r.driveLetter = v.le16(0);
  r.engineKind = v.le32(2);
  r.isDirectory = v.le32(6);
  r.isDeleted = v.le32(10);
  r.contentValid = v.le32(14);
  r.recordIndex = v.le32(18);
  r.itemKey = v.le32(22);
  r.clusterBytes = static_cast<int32_t>(v.le32(26));
  r.created = v.le64(30);
  r.accessed = v.le64(38);
  r.modified = v.le64(46);
  r.size = v.le64(54);
  r.dataStart = v.le64(62);
  r.entrySector = v.le64(70);
  r.partitionStart = v.le64(78);
  std::memcpy(r.name.data(), in.data() + 86, kRecordNameBytes);
  // A record read from a damaged file must still hold a terminated name.
  r.name[kRecordNameBytes - 1] = '\0';
  return r;
}

}  // namespace kestrel
