// The deep NTFS member's scan: file records handed over by the pass, where
// their table lies, the parent chain that gives a file's folder depth, and the
// folders written at the end.
#include <algorithm>
#include <span>

#include "catalogue/categories.h"
#include "fs/ntfs/ntfs_attributes.h"
#include "fs/ntfs/ntfs_boot.h"
#include "fs/ntfs/ntfs_record.h"
#include "engines/common/lost_folder.h"
#include "engines/deep/deep_ntfs_recovery.h"
#include "platform/byte_view.h"
#include "platform/error_codes.h"

namespace kestrel {

// What one record says, gathered in a single walk of its attributes.
struct CProfessionalNtfsRecovery::RecordInfo {
  NtfsRecordHeader header;
  bool hasFileName = false;
  NtfsFileName fileName;        // the best-ranked name
  uint64_t parent = 0;          // from the first $FILE_NAME
  bool hasData = false;         // an unnamed $DATA
  bool dataNonResident = false;
  uint64_t allocatedSize = 0;
  std::vector<NtfsRun> runs;
  bool hasAttributeList = false;
};

namespace {

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Fix-ups and the header sanity the deep engine asks of every record.
bool PrepareRecord(std::vector<uint8_t>& bytes, NtfsRecordHeader& header) {
  NtfsRecordStatus status = ApplyFixups(std::span<uint8_t>(bytes), &header);
  if (status != NtfsRecordStatus::kOk && status != NtfsRecordStatus::kTorn) return false;
  if (!header.hasNumber) return false;
  if (header.firstAttribute > bytes.size() || header.bytesInUse > bytes.size() ||
      header.bytesInUse < header.firstAttribute) {
    return false;
  }
  return true;
}

}  // namespace

namespace {

bool Gather(std::vector<uint8_t>& bytes, NtfsRecordHeader& header, std::vector<NtfsAttribute>& attributes) {
  if (!PrepareRecord(bytes, header)) return false;
  ParseAttributes(ByteView(bytes.data(), bytes.size()), header, attributes);
  return true;
}

}  // namespace

static void Summarise(const std::vector<NtfsAttribute>& attributes, auto& info) {
  int bestRank = -1;
  for (const NtfsAttribute& a : attributes) {
    if (a.type == kNtfsAttrAttributeList) info.hasAttributeList = true;
    if (a.type == kNtfsAttrFileName && !a.nonResident) {
      NtfsFileName name;
      if (!ParseFileName(a.value, name)) continue;
      if (!info.hasFileName) info.parent = name.parent & 0xFFFFFFFFu;
      int rank = FileNameRank(name.nameSpace);
      if (rank > bestRank) {
        bestRank = rank;
        info.fileName = name;
      }
      info.hasFileName = true;
    }
    if (a.type == kNtfsAttrData && a.nameBytes.empty() && !info.hasData) {
      info.hasData = true;
      info.dataNonResident = a.nonResident;
      if (a.nonResident) {
        info.allocatedSize = a.allocatedSize;
        DecodeRunList(a.bytes, a.runListOffset, info.runs);
      }
    }
  }
}

int CProfessionalNtfsRecovery::ReadRecordAt(uint64_t sector, std::vector<uint8_t>& record) {
  record.assign(recordBytes_, 0);
  int32_t got = 0;
  int error = ReadSectors(int32_t(sectorsPerRecord_), device_, record.data(), sector, int32_t(sectorBytes_), &got);
  if (got < int32_t(sectorsPerRecord_)) return error != kSuccess ? error : kErrReadFault;
  return kSuccess;
}

bool CProfessionalNtfsRecovery::LocateRecord(const Placement& p, uint64_t number, uint64_t& sector) const {
  uint64_t position = number * sectorsPerRecord_;
  if (p.contiguous) {
    sector = p.tableStart + position;
    return true;
  }
  uint64_t before = 0;
  for (const NtfsRun& run : p.runs) {
    uint64_t length = run.length * p.sectorsPerCluster;
    if (run.sparse) {
      before += length;
      continue;
    }
    if (position < before + length) {
      sector = p.origin + run.lcn * p.sectorsPerCluster + (position - before);
      return true;
    }
    before += length;
  }
  return false;
}

uint32_t CProfessionalNtfsRecovery::AddPlacement(Placement placement) {
  for (size_t i = 0; i < placements_.size(); ++i) {
    const Placement& q = placements_[i];
    bool same = q.contiguous == placement.contiguous && q.origin == placement.origin &&
                q.tableStart == placement.tableStart && q.sectorsPerCluster == placement.sectorsPerCluster &&
                q.runs.size() == placement.runs.size() &&
                std::equal(q.runs.begin(), q.runs.end(), placement.runs.begin(), [](const NtfsRun& a, const NtfsRun& b) {
                  return a.length == b.length && a.lcn == b.lcn && a.sparse == b.sparse;
                });
    if (same) return uint32_t(i);
  }
  // A hostile source could offer endless distinct tables: past the bound the
  // last slot is reused, so parents are then looked up less well, never unboundedly.
  if (placements_.size() >= kNtfsPlacementLimit) {
    placements_.back() = std::move(placement);
    return uint32_t(placements_.size() - 1);
  }
  placements_.push_back(std::move(placement));
  return uint32_t(placements_.size() - 1);
}

// Which table a record found at sector with this number belongs to: a known
// $MFT copy that puts it exactly there, else a contiguous table ending at it.
CProfessionalNtfsRecovery::Placement CProfessionalNtfsRecovery::PlacementAt(uint64_t sector, uint64_t number,
                                                                          int64_t* known) const {
  if (known) *known = -1;
  for (const MftCopy& copy : mftMap_) {
    const Placement& p = placements_[copy.placement];
    uint64_t at = 0;
    if (LocateRecord(p, number, at) && at == sector) {
      if (known) *known = int64_t(copy.placement);
      return p;
    }
  }
  Placement p;
  p.origin = firstSector_;
  p.sectorsPerCluster = sectorsPerCluster_;
  p.contiguous = true;
  uint64_t back = number * sectorsPerRecord_;
  // A number too large for the sector it was found at cannot name its
  // neighbours: its parents will show as lost folders.
  p.tableStart = sector >= back ? sector - back : UINT64_MAX / 2;
  return p;
}

uint32_t CProfessionalNtfsRecovery::PlacementFor(uint64_t sector, uint64_t number, uint64_t& origin) {
  int64_t known = -1;
  Placement p = PlacementAt(sector, number, &known);
  origin = p.origin;
  if (known >= 0) return uint32_t(known);
  return AddPlacement(std::move(p));
}

uint32_t CProfessionalNtfsRecovery::ParentDepth(uint64_t parent, uint32_t placement) {
  uint32_t depth = 0;
  std::unordered_set<uint64_t> visited;
  uint64_t current = parent;
  std::vector<uint8_t> bytes;
  while (current != kNtfsRootRecord && depth < uint32_t(kNtfsParentDepthLimit)) {
    visited.insert(current);
    if (!queued_.count(uint32_t(current)) && queue_.size() < kNtfsDirectoryQueueLimit) {
      queued_.insert(uint32_t(current));
      queue_.push_back({uint32_t(current), placement});
    }
    ++depth;
    uint64_t sector = 0;
    if (!LocateRecord(placements_[placement], current, sector)) break;
    if (ReadRecordAt(sector, bytes) != kSuccess) break;
    NtfsRecordHeader header;
    std::vector<NtfsAttribute> attributes;
    if (!Gather(bytes, header, attributes)) break;
    if (!header.IsDirectory() || header.number != current) break;
    RecordInfo info;
    Summarise(attributes, info);
    if (!info.hasFileName || visited.count(info.parent)) break;
    current = info.parent;
  }
  return depth;
}

void CProfessionalNtfsRecovery::WriteLostFolder(uint64_t number) {
  if (writtenFolders_.count(uint32_t(number))) return;
  writtenFolders_.insert(uint32_t(number));
  FoundFileRecord folder = LostFolderRecord(EngineKind::kDeepNtfs, letter_, number, firstSector_);
  if (log_->AppendRecord(folder) != kSuccess) return;
  log_->LinkChild(DirectoryKey{uint32_t(kNtfsRootRecord), 0}.Packed(), folder.recordIndex, uint32_t(number),
                  std::string(folder.Name()));
}

int CProfessionalNtfsRecovery::HandleRecord(std::vector<uint8_t>& bytes, uint64_t sector, bool folderMode,
                                            uint64_t wanted, uint32_t placement) {
  NtfsRecordHeader header;
  std::vector<NtfsAttribute> attributes;
  bool sound = Gather(bytes, header, attributes);
  if (folderMode && (!sound || !header.IsDirectory() || header.number != wanted)) {
    WriteLostFolder(wanted);
    return kSuccess;
  }
  if (!sound) return kErrInvalidParameter;
  if (!folderMode && header.IsDirectory()) return kSuccess;
  // Extension records carry attributes of a base record, not files of their own.
  if (!folderMode && header.baseRecord != 0) return kSuccess;
  RecordInfo info;
  Summarise(attributes, info);
  uint64_t number = header.number;

  if (number == 0 && info.hasFileName && LowerAscii(info.fileName.name) == "$mft" && info.hasData &&
      info.dataNonResident && !info.runs.empty() && mftMap_.size() < kNtfsMftMapLimit) {
    uint64_t clusters = TotalClusters(info.runs);
    uint64_t spc = clusters ? info.allocatedSize / sectorBytes_ / clusters : 0;
    if (spc != 0 && spc <= 256 && IsPowerOfTwo(spc)) {
      Placement p;
      p.sectorsPerCluster = uint32_t(spc);
      p.runs = info.runs;
      uint64_t firstRun = info.runs[0].lcn * spc;
      p.origin = (info.runs[0].lcn == 0 || firstRun > sector) ? firstSector_ : sector - firstRun;
      // A copy in $MFTMirr names a wrong origin too; it is harmless, since a
      // map entry is used only for records that it places exactly where they were found.
      bool known = false;
      for (const MftCopy& copy : mftMap_) known = known || copy.sector == sector;
      if (!known) mftMap_.push_back({sector, AddPlacement(std::move(p))});
    }
  }
  if (number < kNtfsFirstUserRecord || !info.hasFileName) return kSuccess;
  if (folderMode && writtenFolders_.count(uint32_t(number))) return kSuccess;

  FoundFileRecord record;
  record.driveLetter = letter_;
  record.engineKind = uint32_t(EngineKind::kDeepNtfs);
  record.isDirectory = folderMode ? 1 : 0;
  record.isDeleted = header.InUse() ? 0 : 1;
  record.contentValid = 1;
  record.itemKey = uint32_t(number);
  record.created = info.fileName.created;
  record.modified = info.fileName.modified;
  record.accessed = info.fileName.accessed;
  record.size = folderMode ? 0 : info.fileName.realSize;
  record.entrySector = sector;
  record.SetName(info.fileName.name);

  uint64_t origin = firstSector_;
  if (!folderMode) {
    placement = PlacementFor(sector, number, origin);
  } else {
    origin = placements_[placement].origin;
  }
  record.partitionStart = origin;
  if (!folderMode) {
    ExamineData(record, ByteView(bytes.data(), bytes.size()), header, placement);
  } else {
    const Placement& p = placements_[placement];
    record.clusterBytes = int32_t((p.contiguous ? sectorsPerCluster_ : p.sectorsPerCluster) * sectorBytes_);
  }

  uint32_t depth = info.parent == kNtfsRootRecord ? 0 : ParentDepth(info.parent, placement);
  if (log_->AppendRecord(record) != kSuccess) return kErrWriteFault;
  uint64_t key = DirectoryKey{uint32_t(info.parent), depth}.Packed();
  if (folderMode) {
    writtenFolders_.insert(uint32_t(number));
    log_->LinkChild(key, record.recordIndex, uint32_t(number), std::string(record.Name()));
  } else {
    log_->LinkChild(key, record.recordIndex);
  }
  return kSuccess;
}

int CProfessionalNtfsRecovery::OnFileRecord(const uint8_t* record, uint64_t sector) {
  if (!log_) return kErrInvalidParameter;
  std::vector<uint8_t> bytes(record, record + recordBytes_);
  return Tallied(damage_, sector * sectorBytes_, kErrInvalidParameter,
                 [&] { return HandleRecord(bytes, sector, false, 0, 0); });
}

// A boot sector met in the pass (or the volume's own at open) says exactly
// where its volume begins and where its $MFT lies; with that map entry the
// records of a volume inside a whole disk get their true origin.
void CProfessionalNtfsRecovery::OnBootSector(const uint8_t* sector, uint64_t sectorNumber) {
  NtfsGeometry geometry;
  if (!ParseNtfsBoot(ByteView(sector, sectorBytes_), geometry)) return;
  if (geometry.bytesPerSector != sectorBytes_ || mftMap_.size() >= kNtfsMftMapLimit) return;
  uint64_t mftSector = sectorNumber + geometry.mftCluster * geometry.sectorsPerCluster;
  for (const MftCopy& copy : mftMap_) {
    if (copy.sector == mftSector) return;
  }
  std::vector<uint8_t> bytes;
  if (ReadRecordAt(mftSector, bytes) != kSuccess) return;
  NtfsRecordHeader header;
  std::vector<NtfsAttribute> attributes;
  if (!Gather(bytes, header, attributes) || header.number != 0) return;
  RecordInfo info;
  Summarise(attributes, info);
  if (!info.hasData || !info.dataNonResident || info.runs.empty()) return;
  Placement p;
  p.origin = sectorNumber;
  p.sectorsPerCluster = geometry.sectorsPerCluster;
  p.runs = info.runs;
  uint64_t at = 0;
  if (!LocateRecord(p, 0, at) || at != mftSector) return;
  mftMap_.push_back({mftSector, AddPlacement(std::move(p))});
}

int CProfessionalNtfsRecovery::FinishScan() {
  if (!log_) return kSuccess;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < queue_.size(); ++i) {
    QueuedDirectory entry = queue_[i];
    if (writtenFolders_.count(entry.number)) continue;
    uint64_t sector = 0;
    if (!LocateRecord(placements_[entry.placement], entry.number, sector) ||
        ReadRecordAt(sector, bytes) != kSuccess) {
      WriteLostFolder(entry.number);
      continue;
    }
    // A folder record that cannot be read back still gets its folder.
    bool handled = Tallied(damage_, sector * sectorBytes_, false, [&] {
      HandleRecord(bytes, sector, true, entry.number, entry.placement);
      return true;
    });
    if (!handled) WriteLostFolder(entry.number);
  }
  queue_.clear();
  queued_.clear();
  return log_->SaveIndex();
}

}  // namespace kestrel
