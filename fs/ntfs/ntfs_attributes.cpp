#include "fs/ntfs/ntfs_attributes.h"

#include <algorithm>

#include "platform/utf8.h"

namespace kestrel {

namespace {

constexpr size_t kResidentHeader = 24;
constexpr size_t kNonResidentHeader = 64;
// Bounds on how far one file's attribute list may send us.
constexpr size_t kMaxListEntries = 65536;
constexpr uint64_t kMaxListBytes = 4u << 20;

bool ParseOne(ByteView all, size_t pos, NtfsAttribute& a) {
  a.type = all.le32(pos);
  a.length = all.le32(pos + 4);
  if (a.length < 16 || a.length % 8 != 0 || !all.Has(pos, a.length)) return false;
  ByteView b = all.Sub(pos, a.length);
  a.bytes = b;
  a.nonResident = b.u8(8) != 0;
  uint8_t nameLength = b.u8(9);
  uint16_t nameOffset = b.le16(10);
  a.flags = b.le16(12);
  a.instance = b.le16(14);
  if (nameLength != 0) {
    if (!b.Has(nameOffset, size_t(nameLength) * 2)) return false;
    a.nameBytes = b.Sub(nameOffset, size_t(nameLength) * 2);
  }
  if (!a.nonResident) {
    if (a.length < kResidentHeader) return false;
    uint32_t valueLength = b.le32(16);
    uint16_t valueOffset = b.le16(20);
    if (!b.Has(valueOffset, valueLength)) return false;
    a.value = b.Sub(valueOffset, valueLength);
    return true;
  }
  if (a.length < kNonResidentHeader) return false;
  a.startVcn = b.le64(16);
  a.lastVcn = b.le64(24);
  a.runListOffset = b.le16(32);
  uint16_t unit = b.le16(34);
  a.compressionUnit = unit < 32 ? uint8_t(unit) : 0;
  a.allocatedSize = b.le64(40);
  a.realSize = b.le64(48);
  a.initializedSize = b.le64(56);
  return a.runListOffset >= kNonResidentHeader && a.runListOffset < a.length;
}

bool SameName(ByteView a, ByteView b) {
  return a.size() == b.size() && (a.size() == 0 || std::equal(a.data(), a.data() + a.size(), b.data()));
}

// The runs of one extent appended after what was gathered so far; false when
// the extent does not continue exactly where the previous one ended.
bool AppendExtent(const NtfsAttribute& a, NtfsStream& out, uint64_t clusterCount) {
  uint64_t have = TotalClusters(out.runs);
  if (a.startVcn != have) return false;
  std::vector<NtfsRun> runs;
  NtfsRunListStatus status = DecodeRunList(a.bytes, a.runListOffset, runs, clusterCount);
  // Holes read as zeros without touching the disk, so a damaged run list of
  // holes would have a recovery write zeros until the destination is full.
  // More hole than the whole volume is taken as damage: the runs stop there.
  uint64_t holes = 0;
  for (const auto& run : out.runs) holes += run.sparse ? run.length : 0;
  for (const auto& run : runs) {
    if (run.sparse && clusterCount != 0) {
      if (run.length > clusterCount - holes) return false;
      holes += run.length;
    }
    out.runs.push_back(run);
  }
  // An extent claims VCNs startVcn..lastVcn; fewer decoded clusters mean the list was damaged.
  uint64_t claimed = a.lastVcn >= a.startVcn ? a.lastVcn - a.startVcn + 1 : 0;
  if (status != NtfsRunListStatus::kOk || TotalClusters(runs) < claimed) return false;
  return true;
}

void TakeFirstExtent(const NtfsAttribute& a, NtfsStream& out) {
  out.found = true;
  out.nonResident = a.nonResident;
  out.flags = a.flags;
  if (!a.nonResident) {
    out.residentValue.assign(a.value.data(), a.value.data() + a.value.size());
    out.realSize = out.allocatedSize = out.initializedSize = a.value.size();
    return;
  }
  out.compressionUnit = a.compressionUnit;
  out.realSize = a.realSize;
  out.allocatedSize = a.allocatedSize;
  out.initializedSize = std::min(a.initializedSize, a.realSize);
}

// Without an attribute list all extents must be in the base record.
void GatherFromRecord(const std::vector<NtfsAttribute>& attributes, uint32_t type, ByteView wanted,
                      NtfsStream& out, uint64_t clusterCount) {
  for (const auto& a : attributes) {
    if (a.type != type || !SameName(a.nameBytes, wanted)) continue;
    if (!out.found) {
      if (a.nonResident && a.startVcn != 0) continue;
      TakeFirstExtent(a, out);
      if (!a.nonResident) return;
      if (!AppendExtent(a, out, clusterCount)) {
        out.complete = false;
        return;
      }
    } else if (a.nonResident) {
      if (!AppendExtent(a, out, clusterCount)) {
        out.complete = false;
        return;
      }
    }
  }
}

}  // namespace

NtfsWalkStatus ParseAttributes(ByteView record, const NtfsRecordHeader& header, std::vector<NtfsAttribute>& out) {
  ByteView inUse = record.Sub(0, header.bytesInUse);
  size_t pos = header.firstAttribute;
  // Every attribute is at least 16 bytes, so the walk ends within bytesInUse / 16 steps.
  while (inUse.Has(pos, 4)) {
    uint32_t type = inUse.le32(pos);
    if (type == kNtfsAttrEnd) return NtfsWalkStatus::kComplete;
    NtfsAttribute a;
    if (!ParseOne(inUse, pos, a)) return NtfsWalkStatus::kMalformed;
    out.push_back(a);
    pos += a.length;
  }
  // Ran out of bytes in use without the end marker.
  return NtfsWalkStatus::kMalformed;
}

bool AttributeNameIs(ByteView nameBytes, std::u16string_view name) {
  if (nameBytes.size() != name.size() * 2) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (nameBytes.le16(2 * i) != uint16_t(name[i])) return false;
  }
  return true;
}

std::string NtfsNameToUtf8(ByteView utf16) {
  std::string out = Utf16LeToUtf8(utf16);
  // Both are ASCII, so no byte of a longer UTF-8 sequence is touched.
  for (char& c : out) {
    if (c == '\0' || c == '/') c = '_';
  }
  return out;
}

bool ParseFileName(ByteView v, NtfsFileName& f) {
  if (!v.Has(0, 66)) return false;
  uint8_t length = v.u8(64);
  if (!v.Has(66, size_t(length) * 2)) return false;
  f.parent = v.le64(0) & 0x0000FFFFFFFFFFFFull;
  f.parentSequence = v.le16(6);
  f.created = v.le64(8);
  f.modified = v.le64(16);
  f.recordChanged = v.le64(24);
  f.accessed = v.le64(32);
  f.allocatedSize = v.le64(40);
  f.realSize = v.le64(48);
  f.fileFlags = v.le32(56);
  f.nameSpace = v.u8(65);
  f.name = NtfsNameToUtf8(v.Sub(66, size_t(length) * 2));
  return true;
}

int FileNameRank(uint8_t nameSpace) {
  switch (nameSpace) {
    case kNtfsNameWin32:
    case kNtfsNameWin32AndDos: return 3;
    case kNtfsNamePosix: return 2;
    case kNtfsNameDos: return 1;
    default: return 0;
  }
}

NtfsWalkStatus ParseAttributeList(ByteView list, std::vector<NtfsAttributeListEntry>& out) {
  size_t pos = 0;
  while (pos < list.size()) {
    uint16_t length = list.le16(pos + 4);
    if (length < 26 || !list.Has(pos, length)) return NtfsWalkStatus::kMalformed;
    ByteView e = list.Sub(pos, length);
    NtfsAttributeListEntry entry;
    entry.type = e.le32(0);
    uint8_t nameLength = e.u8(6);
    uint8_t nameOffset = e.u8(7);
    entry.startVcn = e.le64(8);
    entry.record = e.le64(16) & 0x0000FFFFFFFFFFFFull;
    entry.instance = e.le16(24);
    if (nameLength != 0) {
      if (!e.Has(nameOffset, size_t(nameLength) * 2)) return NtfsWalkStatus::kMalformed;
      entry.nameBytes = e.Sub(nameOffset, size_t(nameLength) * 2);
    }
    out.push_back(entry);
    if (out.size() > kMaxListEntries) return NtfsWalkStatus::kMalformed;
    pos += length;
  }
  return NtfsWalkStatus::kComplete;
}

void FindStream(INtfsRecordSource& source, uint64_t baseNumber, ByteView baseRecord,
                const NtfsRecordHeader& baseHeader, uint32_t type, std::u16string_view name, NtfsStream& out) {
  out = NtfsStream{};
  std::vector<uint8_t> wantedBytes;
  for (char16_t c : name) {
    wantedBytes.push_back(uint8_t(c));
    wantedBytes.push_back(uint8_t(c >> 8));
  }
  ByteView wanted(wantedBytes.data(), wantedBytes.size());
  uint64_t clusterCount = source.ClusterCount();

  std::vector<NtfsAttribute> base;
  ParseAttributes(baseRecord, baseHeader, base);
  const NtfsAttribute* listAttribute = nullptr;
  for (const auto& a : base) {
    if (a.type == kNtfsAttrAttributeList) {
      listAttribute = &a;
      break;
    }
  }
  if (!listAttribute || type == kNtfsAttrAttributeList) {
    GatherFromRecord(base, type, wanted, out, clusterCount);
    return;
  }

  std::vector<uint8_t> listBytes;
  if (listAttribute->nonResident) {
    std::vector<NtfsRun> runs;
    DecodeRunList(listAttribute->bytes, listAttribute->runListOffset, runs, clusterCount);
    uint64_t bytes = std::min(listAttribute->realSize, kMaxListBytes);
    if (!source.ReadRunBytes(runs, bytes, listBytes)) listBytes.clear();
  } else {
    listBytes.assign(listAttribute->value.data(), listAttribute->value.data() + listAttribute->value.size());
  }
  std::vector<NtfsAttributeListEntry> entries;
  ParseAttributeList(ByteView(listBytes.data(), listBytes.size()), entries);
  std::vector<const NtfsAttributeListEntry*> wantedEntries;
  for (const auto& e : entries) {
    if (e.type == type && SameName(e.nameBytes, wanted)) wantedEntries.push_back(&e);
  }
  if (wantedEntries.empty()) {
    // A damaged or unreadable list: the base record may still hold the attribute itself.
    GatherFromRecord(base, type, wanted, out, clusterCount);
    return;
  }
  std::stable_sort(wantedEntries.begin(), wantedEntries.end(),
                   [](const auto* a, const auto* b) { return a->startVcn < b->startVcn; });

  std::vector<uint8_t> extension;
  uint64_t loaded = UINT64_MAX;
  std::vector<NtfsAttribute> extensionAttributes;
  for (const auto* entry : wantedEntries) {
    const std::vector<NtfsAttribute>* attributes = &base;
    if (entry->record != baseNumber) {
      if (entry->record != loaded) {
        extensionAttributes.clear();
        loaded = entry->record;
        NtfsRecordHeader h;
        bool ok = source.ReadRecord(entry->record, extension) &&
                  ParseRecordHeader(ByteView(extension.data(), extension.size()), h) == NtfsRecordStatus::kOk &&
                  h.baseRecord == baseNumber;
        if (!ok) {
          // The extension was reused by another file: what follows is unknown.
          out.complete = false;
          return;
        }
        ParseAttributes(ByteView(extension.data(), extension.size()), h, extensionAttributes);
      }
      attributes = &extensionAttributes;
    }
    const NtfsAttribute* match = nullptr;
    for (const auto& a : *attributes) {
      if (a.type == type && SameName(a.nameBytes, wanted) && a.instance == entry->instance) {
        match = &a;
        break;
      }
    }
    if (!match) {
      out.complete = false;
      return;
    }
    if (!out.found) {
      if (match->nonResident && match->startVcn != 0) {
        out.complete = false;
        return;
      }
      TakeFirstExtent(*match, out);
      if (!match->nonResident) return;
    } else if (!match->nonResident) {
      continue;
    }
    if (!AppendExtent(*match, out, clusterCount)) {
      out.complete = false;
      return;
    }
  }
}

}  // namespace kestrel
