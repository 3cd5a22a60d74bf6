// The deep FAT member's store at the start of a scan and the state a resumed
// scan goes on with: the geometry and folders learnt so far and, at a
// checkpoint, everything still waiting for the finish (files without a
// geometry, folders to write, long-name tails, loose sectors).
#include "engines/deep/deep_fat_recovery.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {
constexpr uint32_t kStateMagic = 0x5446414B;  // "KAFT"
constexpr uint32_t kStateVersion = 2;
}  // namespace

int CProfessionalFatRecovery::BeginScan(const std::optional<deep::MemberResume>& resume) {
  damage_.Clear();
  candidates_.clear();
  unplacedStarts_.clear();
  pending_.clear();
  tails_.clear();
  loose_.clear();
  looseBytes_ = 0;
  folders_.clear();
  referenced_.clear();
  writtenFolders_.clear();
  depthCache_.clear();
  anchor_ = {};
  finishAnchor_ = {};
  currentDirCluster_ = 0;
  currentDirSector_ = 0;
  droppedPending_ = 0;
  rootCluster_ = 2;
  int error = OpenScanStore(resume, ProFatStoreName(int64_t(firstSector_), LocalTimeNow()));
  if (error != kSuccess) return error;
  for (const DirInfoEntry& entry : log_->folderNames()) writtenFolders_.insert(entry.folderId);
  if (resume && resume->state) LoadState(*resume->state);
  return kSuccess;
}

void CProfessionalFatRecovery::SaveState(deep::StateWriter& writer, bool inFlight) const {
  writer.U32(kStateMagic);
  writer.U32(kStateVersion);
  writer.U32(rootCluster_);
  writer.U32(uint32_t(candidates_.size()));
  for (const FatGeometryCandidate& c : candidates_) {
    writer.U32(c.sectorsPerCluster);
    writer.U64(c.dataStart);
    writer.U64(c.partitionStart);
    writer.U8(c.fromBoot ? 1 : 0);
  }
  writer.U32(uint32_t(unplacedStarts_.size()));
  for (const StartSector& s : unplacedStarts_) {
    writer.U64(s.cluster);
    writer.U64(s.sector);
  }
  writer.U32(uint32_t(folders_.size()));
  for (const auto& [cluster, folder] : folders_) {
    writer.U32(cluster);
    writer.U32(uint32_t(folder.candidate));
    writer.Record(folder.record);
  }
  writer.U8(inFlight ? 1 : 0);
  if (!inFlight) return;
  writer.U32(uint32_t(referenced_.size()));
  for (const auto& [cluster, reference] : referenced_) {
    writer.U32(cluster);
    writer.U32(uint32_t(reference.candidate));
    writer.U64(reference.sector);
  }
  writer.U32(uint32_t(pending_.size()));
  for (const PendingFile& file : pending_) {
    writer.Record(file.record);
    writer.U8(file.placed ? 1 : 0);
  }
  writer.U32(uint32_t(tails_.size()));
  for (const Tail& tail : tails_) {
    writer.U8(tail.checksum);
    writer.U32(tail.dirCluster);
    writer.U32(uint32_t(tail.candidate));
    writer.Blob(tail.bytes);
    writer.U64(tail.place.firstSector);
    writer.U32(tail.place.startOffset);
    writer.U64(tail.place.splitByte);
    writer.U64(tail.place.secondSector);
    writer.U64(tail.sector);
  }
  writer.U32(uint32_t(loose_.size()));
  for (const auto& [number, loose] : loose_) {
    writer.U64(number);
    writer.U8(loose.used ? 1 : 0);
    writer.Blob(loose.bytes);
  }
  writer.U8(anchor_.valid ? 1 : 0);
  writer.U32(uint32_t(anchor_.candidate));
  writer.U32(anchor_.dirCluster);
  writer.U64(anchor_.sector);
  writer.U32(currentDirCluster_);
  writer.U64(currentDirSector_);
  writer.U64(droppedPending_);
}

bool CProfessionalFatRecovery::LoadState(deep::StateReader& reader) {
  if (reader.U32() != kStateMagic || reader.U32() != kStateVersion) return false;
  uint32_t root = reader.U32();
  std::vector<FatGeometryCandidate> candidates(std::min<uint32_t>(reader.U32(), kFatCandidateLimit));
  for (FatGeometryCandidate& c : candidates) {
    c.sectorsPerCluster = reader.U32();
    c.dataStart = reader.U64();
    c.partitionStart = reader.U64();
    c.fromBoot = reader.U8() != 0;
    if (c.sectorsPerCluster == 0 || c.sectorsPerCluster > 128) return false;
  }
  // A candidate number from the file must name one we have.
  auto candidateOk = [&](int candidate) { return candidate == kNone || (candidate >= 0 && size_t(candidate) < candidates.size()); };
  std::deque<StartSector> starts;
  for (uint32_t n = std::min<uint32_t>(reader.U32(), kFatUnplacedStartLimit); n > 0 && reader.ok(); --n) {
    StartSector s;
    s.cluster = reader.U64();
    s.sector = reader.U64();
    starts.push_back(s);
  }
  std::map<uint32_t, Folder> folders;
  for (uint32_t n = std::min<uint32_t>(reader.U32(), kFatFolderMapLimit); n > 0 && reader.ok(); --n) {
    uint32_t cluster = reader.U32();
    Folder folder;
    folder.candidate = int(reader.U32());
    folder.record = reader.Record();
    if (!candidateOk(folder.candidate)) folder.candidate = kNone;
    folders[cluster] = folder;
  }
  std::map<uint32_t, Reference> referenced;
  std::vector<PendingFile> pending;
  std::vector<Tail> tails;
  std::map<uint64_t, LooseSector> loose;
  size_t looseBytes = 0;
  Anchor anchor;
  uint32_t dirCluster = 0;
  uint64_t dirSector = 0;
  uint64_t dropped = 0;
  if (reader.U8() != 0) {
    for (uint32_t n = std::min<uint32_t>(reader.U32(), kFatReferencedLimit); n > 0 && reader.ok(); --n) {
      uint32_t cluster = reader.U32();
      Reference reference;
      reference.candidate = int(reader.U32());
      reference.sector = reader.U64();
      if (!candidateOk(reference.candidate)) return false;
      referenced[cluster] = reference;
    }
    for (uint32_t n = std::min<uint32_t>(reader.U32(), kFatPendingFileLimit); n > 0 && reader.ok(); --n) {
      PendingFile file;
      file.record = reader.Record();
      file.placed = reader.U8() != 0;
      pending.push_back(file);
    }
    for (uint32_t n = std::min<uint32_t>(reader.U32(), kFatTailLimit); n > 0 && reader.ok(); --n) {
      Tail tail;
      tail.checksum = reader.U8();
      tail.dirCluster = reader.U32();
      tail.candidate = int(reader.U32());
      tail.bytes = reader.Blob(sectorBytes_ * 2);
      tail.place.firstSector = reader.U64();
      tail.place.startOffset = reader.U32();
      tail.place.splitByte = size_t(reader.U64());
      tail.place.secondSector = reader.U64();
      tail.sector = reader.U64();
      if (!candidateOk(tail.candidate)) return false;
      tails.push_back(std::move(tail));
    }
    for (uint32_t n = reader.U32(); n > 0 && reader.ok(); --n) {
      uint64_t number = reader.U64();
      LooseSector sector;
      sector.used = reader.U8() != 0;
      sector.bytes = reader.Blob(sectorBytes_);
      looseBytes += sector.bytes.size();
      if (looseBytes > kFatLooseSectorBytesLimit) return false;
      loose[number] = std::move(sector);
    }
    anchor.valid = reader.U8() != 0;
    anchor.candidate = int(reader.U32());
    anchor.dirCluster = reader.U32();
    anchor.sector = reader.U64();
    if (!candidateOk(anchor.candidate)) return false;
    dirCluster = reader.U32();
    dirSector = reader.U64();
    dropped = reader.U64();
  }
  if (!reader.ok()) return false;  // a damaged state is ignored
  rootCluster_ = root;
  candidates_ = std::move(candidates);
  unplacedStarts_ = std::move(starts);
  folders_ = std::move(folders);
  referenced_ = std::move(referenced);
  pending_ = std::move(pending);
  tails_ = std::move(tails);
  loose_ = std::move(loose);
  looseBytes_ = looseBytes;
  anchor_ = anchor;
  currentDirCluster_ = dirCluster;
  currentDirSector_ = dirSector;
  droppedPending_ = dropped;
  return true;
}

}  // namespace kestrel
