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
  placement_ = FatPlacement();
  int error = OpenScanStore(resume, ProFatStoreName(int64_t(firstSector_), LocalTimeNow()));
  if (error != kSuccess) return error;
  for (const DirInfoEntry& entry : log_->folderNames()) writtenFolders_.insert(entry.folderId);
  if (resume && resume->state) LoadState(*resume->state);
  return kSuccess;
}

// What LoadState gathers before taking it over: the engine's own members
// under the same names, so that one field list serves both.
struct CProfessionalFatRecovery::SavedState {
  uint32_t rootCluster_ = 2;
  std::vector<FatGeometryCandidate> candidates_;
  std::deque<StartSector> unplacedStarts_;
  std::map<uint32_t, Folder> folders_;
  std::map<uint32_t, Reference> referenced_;
  std::vector<PendingFile> pending_;
  std::vector<Tail> tails_;
  std::map<uint64_t, LooseSector> loose_;
  Anchor anchor_;
  uint32_t currentDirCluster_ = 0;
  uint64_t currentDirSector_ = 0;
  uint64_t droppedPending_ = 0;
};

// The one field list of the state file, for saving (Io = StateWriter, Parts =
// this engine) and loading (StateReader, SavedState).
template <typename Io, typename Parts>
void CProfessionalFatRecovery::StateFields(Io& io, Parts& p, bool& inFlight, uint32_t sectorBytes) {
  io.Expect(kStateMagic);
  io.Expect(kStateVersion);
  io(p.rootCluster_);
  io.List(p.candidates_, kFatCandidateLimit, [](auto& f, auto& c) {
    f(c.sectorsPerCluster);
    f(c.dataStart);
    f(c.partitionStart);
    f(c.fromBoot);
  });
  io.List(p.unplacedStarts_, kFatUnplacedStartLimit, [](auto& f, auto& start) {
    f(start.cluster);
    f(start.sector);
  });
  io.Map(p.folders_, kFatFolderMapLimit, [](auto& f, auto& folder) {
    f(folder.candidate);
    f(folder.record);
  });
  io(inFlight);
  if (!inFlight) return;
  io.Map(p.referenced_, kFatReferencedLimit, [](auto& f, auto& reference) {
    f(reference.candidate);
    f(reference.sector);
  });
  io.List(p.pending_, kFatPendingFileLimit, [](auto& f, auto& file) {
    f(file.record);
    f(file.placed);
  });
  io.List(p.tails_, kFatTailLimit, [&](auto& f, auto& tail) {
    f(tail.checksum);
    f(tail.dirCluster);
    f(tail.candidate);
    f.Blob(tail.bytes, size_t(sectorBytes) * 2);
    f(tail.place.firstSector);
    f(tail.place.startOffset);
    f(tail.place.splitByte);
    f(tail.place.secondSector);
    f(tail.sector);
  });
  // Loose sectors are bounded by their bytes, each exactly one sector.
  io.Map(p.loose_, kFatLooseSectorBytesLimit / sectorBytes, [&](auto& f, auto& loose) {
    f(loose.used);
    f.Blob(loose.bytes, sectorBytes);
  });
  io(p.anchor_.valid);
  io(p.anchor_.candidate);
  io(p.anchor_.dirCluster);
  io(p.anchor_.sector);
  io(p.currentDirCluster_);
  io(p.currentDirSector_);
  io(p.droppedPending_);
}

void CProfessionalFatRecovery::SaveState(deep::StateWriter& writer, bool inFlight) const {
  StateFields(writer, *this, inFlight, sectorBytes_);
}

bool CProfessionalFatRecovery::LoadState(deep::StateReader& reader) {
  SavedState saved;
  bool inFlight = false;
  StateFields(reader, saved, inFlight, sectorBytes_);
  if (!reader.ok()) return false;  // a damaged state is ignored
  for (const FatGeometryCandidate& c : saved.candidates_) {
    if (c.sectorsPerCluster == 0 || c.sectorsPerCluster > 128) return false;
  }
  // A candidate number from the file must name one we have.
  auto candidateOk = [&](int candidate) {
    return candidate == kNone || (candidate >= 0 && size_t(candidate) < saved.candidates_.size());
  };
  for (auto& [cluster, folder] : saved.folders_) {
    if (!candidateOk(folder.candidate)) folder.candidate = kNone;
  }
  for (const auto& [cluster, reference] : saved.referenced_) {
    if (!candidateOk(reference.candidate)) return false;
  }
  for (const Tail& tail : saved.tails_) {
    if (!candidateOk(tail.candidate)) return false;
  }
  if (!candidateOk(saved.anchor_.candidate)) return false;
  size_t looseBytes = 0;
  for (const auto& [number, loose] : saved.loose_) looseBytes += loose.bytes.size();
  if (looseBytes > kFatLooseSectorBytesLimit) return false;

  rootCluster_ = saved.rootCluster_;
  candidates_ = std::move(saved.candidates_);
  unplacedStarts_ = std::move(saved.unplacedStarts_);
  folders_ = std::move(saved.folders_);
  referenced_ = std::move(saved.referenced_);
  pending_ = std::move(saved.pending_);
  tails_ = std::move(saved.tails_);
  loose_ = std::move(saved.loose_);
  looseBytes_ = looseBytes;
  anchor_ = saved.anchor_;
  currentDirCluster_ = saved.currentDirCluster_;
  currentDirSector_ = saved.currentDirSector_;
  droppedPending_ = saved.droppedPending_;
  return true;
}

}  // namespace kestrel
