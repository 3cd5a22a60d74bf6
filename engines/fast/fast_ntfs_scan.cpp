// The fast NTFS scan: the deleted-file pass over the MFT and the folders
// above the files it finds.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "catalogue/categories.h"
#include "engines/common/lost_folder.h"
#include "engines/fast/fast_ntfs_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

// Deeper than any real path; a longer parent chain is damage.
constexpr size_t kMaxFolderDepth = 1024;

// Most files have no check for their type: their first sector is not worth a read.
bool HasContentCheck(std::string_view extension) {
  for (const SignatureRow& row : SignatureTable()) {
    if (extension == row.extension) return true;
  }
  return false;
}

uint16_t NextSequence(uint16_t sequence) { return sequence == 0xFFFF ? 1 : uint16_t(sequence + 1); }

}  // namespace

// What one record gives the scan: its best name and the data stream facts.
struct CFastNtfsRecovery::ParsedRecord {
  bool hasName = false;
  NtfsFileName name;
  bool hasTimes = false;
  uint64_t created = 0, modified = 0, accessed = 0;
};

namespace {

void ReadNamesAndTimes(const std::vector<NtfsAttribute>& attributes, NtfsFileName& best, bool& hasName,
                       uint64_t times[3], bool& hasTimes) {
  int bestRank = -1;
  for (const auto& a : attributes) {
    if (a.type == kNtfsAttrFileName && !a.nonResident) {
      NtfsFileName fn;
      if (!ParseFileName(a.value, fn)) continue;
      // The first name of the best name space wins, whatever order the record keeps them in.
      int rank = FileNameRank(fn.nameSpace);
      if (rank > bestRank) {
        bestRank = rank;
        best = std::move(fn);
        hasName = true;
      }
    } else if (a.type == kNtfsAttrStandardInformation && !a.nonResident && a.value.Has(0, 32)) {
      times[0] = a.value.le64(0);
      times[1] = a.value.le64(8);
      times[2] = a.value.le64(24);
      hasTimes = true;
    }
  }
}

}  // namespace

int CFastNtfsRecovery::ScanMft() {
  folders_.clear();
  pendingParents_.clear();
  recordsParsed_ = 0;
  damage_.Clear();
  if (!opened_) return kErrInvalidParameter;
  const uint32_t recordBytes = geometry_.recordBytes;
  const uint64_t total = mftRecords_;
  auto started = std::chrono::steady_clock::now();
  auto lastEstimate = started;
  int32_t remaining = -1;
  int result = 0;

  uint64_t number = 0;
  uint64_t vcnByte = 0;  // position in the MFT stream of the run being read
  for (const auto& run : mftRuns_) {
    uint64_t runBytes = run.length * geometry_.clusterBytes;
    if (run.sparse) {
      vcnByte += runBytes;
      number = vcnByte / recordBytes;
      continue;
    }
    uint64_t runOffset = run.lcn * geometry_.clusterBytes;
    for (uint64_t done = 0; done + recordBytes <= runBytes && number < total;) {
      uint64_t records = std::min<uint64_t>({kNtfsRecordsPerChunk, (runBytes - done) / recordBytes, total - number});
      size_t bytes = size_t(records * recordBytes);
      uint64_t chunkOffset = runOffset + done;
      bool whole = ReadVolume(chunkOffset, bytes, chunk_.data()) == kSuccess;
      for (uint64_t i = 0; i < records; ++i) {
        std::span<uint8_t> record(chunk_.data() + i * recordBytes, recordBytes);
        uint64_t offset = chunkOffset + i * recordBytes;
        // A bad sector costs the records in it, not the chunk.
        if (!whole && ReadVolume(offset, recordBytes, record.data()) != kSuccess) continue;
        // A record that cannot be parsed is lost alone; the scan goes on.
        Tallied(damage_, partitionStart_ * deviceSectorBytes_ + offset, false, [&] {
          ParseDeletedRecord(number + i, record, offset);
          return true;
        });
      }
      recordsParsed_ += records;
      number += records;
      done += bytes;
      auto now = std::chrono::steady_clock::now();
      if (scale_ == 100 && now - lastEstimate >= std::chrono::seconds(5)) {
        lastEstimate = now;
        auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - started).count();
        uint64_t rate = std::max<uint64_t>(1, number / std::max<int64_t>(1, elapsed));
        remaining = int32_t(std::min<uint64_t>((total - number) / rate, INT32_MAX));
      }
      result = Report(int32_t(total ? number * 100 / total : 100), remaining);
      if (result != 0) break;
    }
    vcnByte += runBytes;
    if (result != 0 || number >= total) break;
  }
  // Folders are written even after a cancel, so what was found can be browsed.
  AppendFolderRecords();
  if (result != 0) return result;
  return Report(100, remaining);
}

void CFastNtfsRecovery::ParseDeletedRecord(uint64_t number, std::span<uint8_t> bytes, uint64_t volumeOffset) {
  if (number < kNtfsFirstUserRecord) return;
  ByteView raw(bytes.data(), bytes.size());
  // Flags sit in the first stride, clear of any fix-up: only free, non-directory records go further.
  if (!raw.Matches(0, "FILE") || (raw.le16(22) & (kNtfsRecordInUse | kNtfsRecordDirectory)) != 0) return;
  NtfsRecordHeader header;
  NtfsRecordStatus status = ApplyFixups(bytes, &header);
  if (status != NtfsRecordStatus::kOk && status != NtfsRecordStatus::kTorn) return;
  // Extension records belong to a base record; they are not files of their own.
  if (header.baseRecord != 0) return;
  ByteView record(bytes.data(), bytes.size());
  std::vector<NtfsAttribute> attributes;
  ParseAttributes(record, header, attributes);

  NtfsFileName name;
  bool hasName = false, hasTimes = false;
  uint64_t times[3] = {0, 0, 0};
  ReadNamesAndTimes(attributes, name, hasName, times, hasTimes);
  if (!hasName) return;

  NtfsStream data;
  FindStream(*this, number, record, header, kNtfsAttrData, u"", data);

  FoundFileRecord out;
  out.driveLetter = letter_;
  out.engineKind = uint32_t(EngineKind::kFastNtfs);
  out.isDirectory = 0;
  out.isDeleted = 1;  // only free records reach here
  out.itemKey = uint32_t(number);
  out.clusterBytes = int32_t(geometry_.clusterBytes);
  // $STANDARD_INFORMATION keeps the times Windows shows; $FILE_NAME's are
  // updated only on rename and stand in when it is missing.
  out.created = hasTimes ? times[0] : name.created;
  out.modified = hasTimes ? times[1] : name.modified;
  out.accessed = hasTimes ? times[2] : name.accessed;
  out.size = data.found ? data.realSize : name.realSize;
  out.entrySector = SectorOf(volumeOffset);
  out.partitionStart = partitionStart_;
  out.SetName(name.name);
  // A torn record cannot vouch for its runs, and a run list whose extension
  // record was reused stops short: either way the content is marked damaged.
  bool damaged = status == NtfsRecordStatus::kTorn || (data.found && !data.complete);
  out.contentValid = damaged ? 0 : ContentCheck(name.name, data, out.entrySector);

  uint32_t depth = FolderDepth(name.parent, name.parentSequence);
  if (store_.log()->AppendRecord(out) != kSuccess) return;
  store_.log()->LinkChild(DirectoryKey{uint32_t(name.parent), depth}.Packed(), out.recordIndex);
}

int CFastNtfsRecovery::ContentCheck(const std::string& name, const NtfsStream& data, uint64_t recordSector) {
  std::string extension = ExtensionOf(name);
  if (extension.empty() || !HasContentCheck(extension) || !data.found || data.realSize == 0) return 1;
  // Encrypted bytes cannot look like anything; the check would only hide the file.
  if (data.Encrypted()) return 1;
  SignatureSource source;
  if (!data.nonResident) {
    return CheckFirstSector(ByteView(data.residentValue.data(), data.residentValue.size()), extension, source,
                            recordSector, scratch_);
  }
  source.device = &device_;
  source.sectorBytes = int32_t(deviceSectorBytes_);
  source.endByte = partitionStart_ * deviceSectorBytes_ + volumeBytes_;
  NtfsVcnPlace place;
  if (!LocateVcn(data.runs, 0, place)) return 1;
  std::vector<uint8_t> first;
  uint64_t sector = 0;
  if (data.Compressed() || place.sparse) {
    // The first unit decompressed is what the file starts with.
    NtfsStreamReader reader(data, geometry_.clusterBytes, *this);
    if (reader.Next(first) != kSuccess || first.empty()) return 1;
    first.resize(std::min<size_t>(first.size(), bytesPerSector_));
  } else {
    first.resize(bytesPerSector_);
    if (ReadVolume(place.lcn * geometry_.clusterBytes, first.size(), first.data()) != kSuccess) return 1;
    sector = (partitionStart_ * deviceSectorBytes_ + place.lcn * geometry_.clusterBytes) / deviceSectorBytes_;
  }
  return CheckFirstSector(ByteView(first.data(), first.size()), extension, source, sector, scratch_);
}

// Depth of a folder below the root (root 0), reading each folder record once.
// A folder that is gone (record reused, unreadable, not a directory any more,
// or part of a parent loop) becomes a lost folder at depth 1.
uint32_t CFastNtfsRecovery::FolderDepth(uint64_t folder, uint16_t sequence) {
  std::vector<uint64_t> path;
  uint64_t current = folder;
  uint16_t currentSequence = sequence;
  uint32_t base = 0;
  while (true) {
    if (current == kNtfsRootRecord) {
      base = 0;
      break;
    }
    if (auto it = folders_.find(current); it != folders_.end()) {
      if (std::find(path.begin(), path.end(), current) != path.end()) {
        // A loop: the folder that pointed back here is cut loose.
        uint64_t last = path.back();
        path.pop_back();
        FolderNode& cut = folders_[last];
        cut.lost = true;
        cut.depth = 1;
        base = 1;
      } else {
        base = it->second.depth;
      }
      break;
    }
    FolderNode node;
    LoadFolder(current, currentSequence, node);
    pendingParents_.push_back(current);
    if (node.lost || path.size() >= kMaxFolderDepth) {
      node.lost = true;
      node.depth = 1;
      folders_[current] = std::move(node);
      base = 1;
      break;
    }
    uint64_t parent = node.parent;
    uint16_t parentSequence = node.parentSequence;
    node.depth = 0;  // filled in below once the chain is known
    folders_[current] = std::move(node);
    path.push_back(current);
    current = parent;
    currentSequence = parentSequence;
  }
  // Unwind: each folder on the path is one below the one after it.
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    folders_[*it].depth = ++base;
  }
  if (folder == kNtfsRootRecord) return 0;
  return folders_[folder].depth;
}

void CFastNtfsRecovery::LoadFolder(uint64_t number, uint16_t sequence, FolderNode& node) {
  node.lost = true;
  uint64_t offset = 0;
  if (!RecordOffset(number, offset)) return;
  node.entrySector = SectorOf(offset);
  std::vector<uint8_t> bytes;
  NtfsRecordHeader header;
  NtfsRecordStatus status = LoadRecord(offset, bytes, header);
  if (status != NtfsRecordStatus::kOk && status != NtfsRecordStatus::kTorn) return;
  if (!header.IsDirectory() || header.baseRecord != 0) return;
  // A folder record now in use under another sequence number is a different folder.
  if (sequence != 0 && header.sequence != sequence &&
      (header.InUse() || header.sequence != NextSequence(sequence))) {
    return;
  }
  std::vector<NtfsAttribute> attributes;
  ParseAttributes(ByteView(bytes.data(), bytes.size()), header, attributes);
  bool hasName = false, hasTimes = false;
  uint64_t times[3] = {0, 0, 0};
  ReadNamesAndTimes(attributes, node.name, hasName, times, hasTimes);
  if (!hasName || node.name.parent == number) return;
  if (hasTimes) {
    node.name.created = times[0];
    node.name.modified = times[1];
    node.name.accessed = times[2];
  }
  node.parent = node.name.parent;
  node.parentSequence = node.name.parentSequence;
  node.lost = false;
}

void CFastNtfsRecovery::AppendFolderRecords() {
  for (uint64_t number : pendingParents_) {
    auto it = folders_.find(number);
    if (it == folders_.end()) continue;
    const FolderNode& node = it->second;
    // Named or not, a folder starts as the lost-folder record; a named one
    // then gets its own name, times and place.
    FoundFileRecord out = LostFolderRecord(EngineKind::kFastNtfs, letter_, number, partitionStart_);
    std::string name(out.Name());
    uint64_t parentKey = DirectoryKey{uint32_t(kNtfsRootRecord), 0}.Packed();
    if (!node.lost) {
      name = node.name.name;
      out.clusterBytes = int32_t(geometry_.clusterBytes);
      out.created = node.name.created;
      out.modified = node.name.modified;
      out.accessed = node.name.accessed;
      out.entrySector = node.entrySector;
      uint32_t parentDepth = node.parent == kNtfsRootRecord ? 0 : folders_[node.parent].depth;
      parentKey = DirectoryKey{uint32_t(node.parent), parentDepth}.Packed();
    }
    out.SetName(name);
    if (store_.log()->AppendRecord(out) != kSuccess) continue;
    store_.log()->LinkChild(parentKey, out.recordIndex, uint32_t(number), out.Name());
  }
}

}  // namespace kestrel
