// The deep-scan composite: opening the members, routing per-record slots by
// engineKind, the scan's outline (fast pass, members' stores, the pass, the
// finish, the saved state) and the merged, de-duplicated search.
#include "engines/deep/deep_recovery.h"

#include <initializer_list>
#include <algorithm>

#include "catalogue/categories.h"
#include "catalogue/scan_log.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"
#include "engines/engine_factory.h"
#include "engines/fast/fast_fat_recovery.h"

namespace kestrel {

namespace {

int SaveIndexOf(ScanLog* log) { return log ? log->SaveIndex() : kSuccess; }

// The members open the same source; the first that cannot is the answer.
int FirstError(std::initializer_list<int> errors) {
  for (int error : errors) {
    if (error != kSuccess) return error;
  }
  return kSuccess;
}

}  // namespace

CProfessionalRecovery::CProfessionalRecovery() = default;

CProfessionalRecovery::~CProfessionalRecovery() {
  fast_.reset();
  CloseDevice(device_);
}

int CProfessionalRecovery::OpenImage(const std::filesystem::path& image, uint16_t letter) {
  if (opened_) return kSuccess;
  int error = OpenImageFile(image, device_);
  if (error != kSuccess) return error;
  opened_ = true;
  letter_ = letter;
  sectorBytes_ = 512;
  driveNumber_ = 128;
  firstSector_ = 0;
  sectorCount_ = device_.totalSectors;
  std::error_code ec;
  imagePath_ = std::filesystem::absolute(image, ec);
  if (ec) imagePath_ = image;
  savedFound_ = ScanHistory::Process().FindSavedImageScan(imagePath_, saved_) == 1;
  // A finished scan is recorded with an empty current range: nothing to resume.
  resume_ = savedFound_ && saved_.resume.rangeLength != 0;
  int fatError = fat_.OpenImage(image, letter);
  int exfatError = exfat_.OpenImage(image, letter);
  int ntfsError = ntfs_.OpenImage(image, letter);
  fast_ = CreateEngineForImage(image, letter, false);
  return FirstError({fatError, exfatError, ntfsError});
}

int CProfessionalRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                         uint16_t letter) {
  if (opened_) return kSuccess;
  driveNumber_ = driveNumber;
  firstSector_ = firstSector;
  sectorCount_ = sectorCount;
  letter_ = letter;
  int error = OpenPhysicalDrive(device_, driveNumber);
  if (error != kSuccess) return error;
  opened_ = true;
  sectorBytes_ = QueryBytesPerSector(device_.fd());
  if (sectorBytes_ <= 0) sectorBytes_ = 512;
  // A saved scan of a mounted volume is stale once its free space changed;
  // an unmounted one has no such measure (0 on both sides).
  if (auto mountPoint = PartitionMountPoint(driveNumber, firstSector); !mountPoint.empty()) {
    freeBytes_ = VolumeFreeBytes(mountPoint);
  }
  savedFound_ =
      ScanHistory::Process().FindSavedPartitionScan(driveNumber, firstSector, sectorCount, freeBytes_, saved_) == 1;
  resume_ = savedFound_ && saved_.resume.rangeLength != 0;
  int fatError = fat_.OpenPartition(driveNumber, firstSector, sectorCount, letter);
  int exfatError = exfat_.OpenPartition(driveNumber, firstSector, sectorCount, letter);
  int ntfsError = ntfs_.OpenPartition(driveNumber, firstSector, sectorCount, letter);
  fast_ = CreateEngineForPartition(driveNumber, firstSector, sectorCount, letter, false);
  return FirstError({fatError, exfatError, ntfsError});
}

void CProfessionalRecovery::DiscardSavedScan() {
  if (savedFound_) ScanHistory::Process().DeleteSavedScan(saved_.scanFolder);
  ScanHistory::Process().SaveHistory();
  savedFound_ = false;
  resume_ = false;
}

int CProfessionalRecovery::SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user,
                                        int32_t) {
  progress_ = progress;
  item_ = item;
  user_ = user;
  scale_ = 90;
  if (fast_) fast_->SetCallbacks(progress, item, user, 9);
  fat_.SetCallbacks(progress, item, user, 90);
  ntfs_.SetCallbacks(progress, item, user, 90);
  exfat_.SetCallbacks(progress, item, user, 90);
  carver_.SetCallbacks(progress ? CarverProgressRelay : nullptr, item, this, 90);
  return kSuccess;
}

int CProfessionalRecovery::CarverProgressRelay(void* self, int32_t, int32_t, int32_t, uint64_t, uint64_t,
                                               uint64_t found, int32_t) {
  auto* deep = static_cast<CProfessionalRecovery*>(self);
  if (!deep->progress_) return 0;
  return deep->progress_(deep->user_, deep->lastProgress_, deep->scale_, deep->remainingSeconds_, deep->lastDone_,
                         deep->passTotal_, found, 0);
}

ScanSourceIdentity CProfessionalRecovery::Identity() const {
  ScanSourceIdentity identity;
  identity.driveNumber = driveNumber_;
  identity.firstSector = firstSector_;
  identity.sectorCount = sectorCount_;
  identity.freeBytes = freeBytes_;
  identity.imagePath = imagePath_;
  return identity;
}

int CProfessionalRecovery::RecordState(const ScanResumeState& state, const std::filesystem::path& folder) {
  return ScanHistory::Process().RecordScanProgress(Identity(), state, folder);
}

uint64_t CProfessionalRecovery::FoundNow() {
  return GetFoundCount() + foundBase_;
}

int CProfessionalRecovery::Scan(const std::optional<std::string>&) {
  if (!opened_) return kErrInvalidParameter;
  scanStarted_ = std::chrono::steady_clock::now();
  repeatsBuilt_ = false;
  ScanHistory& history = ScanHistory::Process();
  bool resuming = resume_;
  lastScanSaved_ = false;
  if (!resuming) {
    // A finished earlier scan of this source is replaced by this one.
    if (savedFound_) history.DeleteSavedScan(saved_.scanFolder);
    savedFound_ = false;
    history.StartNewScanFolder();
  }
  std::filesystem::path folder = history.CurrentScanFolder();
  scanFolder_ = folder;
  checkpointGeneration_ = 0;
  damage_.Clear();

  // 1. The fast pass, and which sectors the deep pass needs.
  useFreeExtents_ = false;
  if (fast_) {
    fast_->SetCallbacks(progress_, nullptr, user_, 9);
    if (fast_->BuildClusterMap() == kSuccess) {
      uint64_t start = 0, length = 0;
      // An engine without a map of used clusters (the ext placeholder) answers 0 here.
      useFreeExtents_ = fast_->NextFreeExtent(start, length) == 1;
    }
    std::optional<std::string> fastStore;
    std::string name;
    if (resuming && FindStoreByPrefix(kFastStorePrefix, name, folder)) fastStore = name;
    // A fast pass that fails (a damaged file system: what a deep scan is
    // for) leaves the deep pass to find the files; only a stop ends the scan.
    int answer = fast_->Scan(fastStore);
    fast_->SetCallbacks(nullptr, item_, user_, 100);
    if (answer < 0) {  // the progress callback stopped the fast pass
      if (!resuming) {
        history.DeleteSavedScan(folder);
        history.SaveHistory();
      }
      return answer;
    }
  }

  // 2. The members' stores: the saved ones when resuming, else new ones.
  // The saved point the history names: the stores go back to their size at
  // it and the members get back their state.
  SavedPoint point;
  bool atPoint = resuming && LoadCheckpoint(folder, saved_.resume, point);
  int error = OpenMemberStores(folder, resuming ? StoreChoice::kSavedIfThere : StoreChoice::kNew,
                               atPoint ? &point : nullptr);
  // Its sets are kept in memory until the finish: a resumed scan starts it afresh.
  if (error == kSuccess) error = exfat_.BeginScan();
  if (error != kSuccess) return error;
  carver_.SetCallbacks(progress_ ? CarverProgressRelay : nullptr, item_, this, 90);
  // An unreadable or foreign boot sector only means no geometry to start
  // from: the pass learns geometries from the directories it meets.
  fat_.ReadBootSector();

  // 3. The ranges of the pass.
  std::vector<ScanRange> ranges;
  if (useFreeExtents_) {
    uint64_t start = 0;
    for (;;) {
      uint64_t from = start, length = 0;
      if (fast_->NextFreeExtent(from, length) != 1 || length == 0) break;
      if (from < start) break;  // a map that goes backwards would loop
      ranges.push_back({from, length});
      start = from + length;
    }
  } else {
    ranges.push_back({0, sectorCount_});
  }
  passTotal_ = 0;
  for (const ScanRange& r : ranges) passTotal_ += r.length;

  size_t firstRange = 0;
  uint64_t firstPosition = 0;
  ScanResumeState state;
  foundBase_ = 0;
  if (resuming) {
    const ScanResumeState& saved = saved_.resume;
    while (firstRange < ranges.size() && ranges[firstRange].start + ranges[firstRange].length <= saved.rangeStart) {
      ++firstRange;
    }
    if (firstRange < ranges.size() && ranges[firstRange].start == saved.rangeStart) {
      firstPosition = std::min(saved.rangePosition, ranges[firstRange].length);
    }
    state.sectorsDone = saved.sectorsDone;
    foundBase_ = saved.filesFound;
  }
  resume_ = false;

  // 4. The pass, then the members' finish (also after a cancel, so that
  // what was found so far has its folders).
  int answer = RunPass(ranges, firstRange, firstPosition, state);
  // A cancelled scan resumes with what the members had learnt, but without
  // what the finish below writes out now. Until the point after the finish is
  // saved, the history still names the last one taken during the pass.
  deep::StateWriter fatState, ntfsState;
  if (answer != kSuccess) {
    fat_.SaveState(fatState, false);
    ntfs_.SaveState(ntfsState, false);
  }
  // Every member finishes and saves even when one fails; the first failure is
  // the scan's result, so a scan whose stores could not be written is never
  // reported as complete.
  int finishError = FirstError({fat_.FinishScan(), ntfs_.FinishScan(), exfat_.FinishScan(), SaveIndexOf(fat_.log()),
                                SaveIndexOf(ntfs_.log()), SaveIndexOf(carver_.log())});
  if (answer == kSuccess && finishError != kSuccess) {
    // The history keeps naming the last point taken during the pass, so a
    // later run resumes from there and finishes again.
    lastScanSaved_ = false;
    return finishError;
  }
  if (answer == kSuccess && progress_) progress_(user_, 100, 100, 0, 0, 0, 0, 0);

  // 5. What a later run needs to resume this one, or to know it finished.
  if (answer != kSuccess) {
    // When the point cannot be written, an earlier one stays in force (the
    // stores go back to it on resume); with none, the position alone is kept.
    if (WriteCheckpoint(state, fatState, ntfsState) != kSuccess && checkpointGeneration_ == 0) {
      state.filesFound = FoundNow();
      RecordState(state, folder);
    }
  } else {
    state.filesFound = FoundNow();
    state.rangeStart = 0;
    state.rangeLength = 0;
    state.rangePosition = 0;
    RecordState(state, folder);
  }
  lastScanSaved_ = answer != kSuccess;
  return answer;
}

int CProfessionalRecovery::OpenMemberStores(const std::filesystem::path& folder, StoreChoice choice,
                                             SavedPoint* point) {
  std::string fatStore, ntfsStore, carveStore;
  bool saved = choice != StoreChoice::kNew;
  bool haveFat = saved && FindStoreByPrefix(kProFatStorePrefix, fatStore, folder);
  bool haveNtfs = saved && FindStoreByPrefix(kProNtfsStorePrefix, ntfsStore, folder);
  bool haveCarve = saved && FindStoreByPrefix(kFileTypeStorePrefix, carveStore, folder);
  if (choice == StoreChoice::kSavedOnly && !(haveFat && haveNtfs && haveCarve)) return kErrFileNotFound;
  std::optional<deep::MemberResume> fatResume, ntfsResume;
  if (haveFat) fatResume = deep::MemberResume{fatStore, std::nullopt, nullptr};
  if (haveNtfs) ntfsResume = deep::MemberResume{ntfsStore, std::nullopt, nullptr};
  if (point) {
    if (fatResume) *fatResume = {fatStore, point->fatRecords, &point->fat};
    if (ntfsResume) *ntfsResume = {ntfsStore, point->ntfsRecords, &point->ntfs};
  }
  int error = fat_.BeginScan(fatResume);
  // Where the fast pass read a FAT, the deep finds on that volume are placed
  // as its own deleted files are.
  auto* fastFat = dynamic_cast<CFastFatRecovery*>(fast_.get());
  if (error == kSuccess && fastFat && fastFat->HasGeometry()) {
    fat_.PlaceOnVolume(fastFat->placement());
  }
  if (error == kSuccess) error = ntfs_.BeginScan(ntfsResume);
  if (error != kSuccess) return error;
  if (imagePath_.empty()) {
    error = haveCarve ? carver_.OpenPartitionWithStore(driveNumber_, firstSector_, sectorCount_, letter_, carveStore)
                      : carver_.OpenPartition(driveNumber_, firstSector_, sectorCount_, letter_);
  } else {
    error = haveCarve ? carver_.OpenImageWithStore(imagePath_, letter_, carveStore) : carver_.OpenImage(imagePath_, letter_);
  }
  if (error == kSuccess && haveCarve && point) error = carver_.log()->DiscardRecordsAfter(point->carvedRecords);
  return error;
}

ScanDamage CProfessionalRecovery::Damage() const {
  ScanDamage out = damage_.damage();
  AppendDamage(out, fat_.Damage());
  AppendDamage(out, ntfs_.Damage());
  if (const auto* fast = dynamic_cast<const IScanDamage*>(fast_.get())) AppendDamage(out, fast->Damage());
  return out;
}

IFileRecoveryParse* CProfessionalRecovery::EngineFor(uint32_t engineKind) {
  switch (static_cast<EngineKind>(engineKind)) {
    case EngineKind::kFastNtfs:
    case EngineKind::kFastFat:
    case EngineKind::kFastExfat: return fast_.get();
    case EngineKind::kDeepNtfs: return &ntfs_;
    case EngineKind::kDeepFat: return &fat_;
    case EngineKind::kDeepExfat: return &exfat_;
    case EngineKind::kCarving: return &carver_;
  }
  return nullptr;
}

int CProfessionalRecovery::ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) {
  if (dir) {
    if (dir->engineKind == uint32_t(EngineKind::kCarving)) return kSuccess;
    IFileRecoveryParse* engine = EngineFor(dir->engineKind);
    int error = engine ? engine->ListChildren(dir, level, out) : kSuccess;
    if (dir->engineKind == uint32_t(EngineKind::kDeepFat) || dir->engineKind == uint32_t(EngineKind::kDeepExfat)) {
      UpdateRepeats();  // when it fails, nothing is left out
      std::erase_if(out, [&](const FoundFileRecord& r) { return Repeated(r); });
    }
    SortFoundRecords(out);
    return error;
  }
  if (level != 0) return kErrInvalidParameter;
  int error = kSuccess;
  for (IFileRecoveryParse* engine : {fast_.get(), static_cast<IFileRecoveryParse*>(&fat_),
                                     static_cast<IFileRecoveryParse*>(&ntfs_), static_cast<IFileRecoveryParse*>(&exfat_),
                                     static_cast<IFileRecoveryParse*>(&carver_)}) {
    if (!engine) continue;
    std::vector<FoundFileRecord> part;
    int e = engine->ListChildren(nullptr, 0, part);
    if (e != kSuccess && error == kSuccess) error = e;
    out.insert(out.end(), part.begin(), part.end());
  }
  if (int e = UpdateRepeats(); e != kSuccess && error == kSuccess) error = e;
  std::erase_if(out, [&](const FoundFileRecord& r) { return Repeated(r); });
  SortFoundRecords(out);
  return error;
}

int CProfessionalRecovery::CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) {
  count = 0;
  if (dir) {
    if (dir->engineKind == uint32_t(EngineKind::kCarving)) return kSuccess;
    IFileRecoveryParse* engine = EngineFor(dir->engineKind);
    return engine ? engine->CountFiles(dir, level, count) : kSuccess;
  }
  if (level != 0) return kErrInvalidParameter;
  for (IFileRecoveryParse* engine : {fast_.get(), static_cast<IFileRecoveryParse*>(&fat_),
                                     static_cast<IFileRecoveryParse*>(&ntfs_), static_cast<IFileRecoveryParse*>(&exfat_),
                                     static_cast<IFileRecoveryParse*>(&carver_)}) {
    if (!engine) continue;
    int64_t part = 0;
    engine->CountFiles(nullptr, 0, part);
    count += part;
  }
  int error = UpdateRepeats();
  count -= int64_t(repeats_.count() + fatRepeats_.fileCount() + exfatRepeats_.fileCount());
  return error;
}

uint64_t CProfessionalRecovery::GetFoundCount() {
  uint64_t total = fat_.GetFoundCount() + ntfs_.GetFoundCount() + exfat_.GetFoundCount() + carver_.GetFoundCount();
  if (fast_) total += fast_->GetFoundCount();
  return total;
}

int CProfessionalRecovery::GetItemPath(const FoundFileRecord* record, std::string& out) {
  out.clear();
  if (!record) return kErrInvalidParameter;
  if (record->engineKind == uint32_t(EngineKind::kCarving)) return kSuccess;
  IFileRecoveryParse* engine = EngineFor(record->engineKind);
  return engine ? engine->GetItemPath(record, out) : kSuccess;
}

int CProfessionalRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                       int32_t rootDepth) {
  if (!record) return kErrInvalidParameter;
  IFileRecoveryParse* engine = EngineFor(record->engineKind);
  if (!engine) return kSuccess;
  engine->SetCallbacks(nullptr, item_, user_, 100);
  return engine->RecoverItem(record, destination, rootDepth);
}

int CProfessionalRecovery::StreamItem(const FoundFileRecord& record, DataSink& sink) {
  auto* member = dynamic_cast<IFoundItemStream*>(EngineFor(record.engineKind));
  return member ? member->StreamItem(record, sink) : kErrInvalidParameter;
}

ItemReach CProfessionalRecovery::ReachOf(const FoundFileRecord& record) {
  auto* member = dynamic_cast<IFoundItemStream*>(EngineFor(record.engineKind));
  return member ? member->ReachOf(record) : ItemReach::kUnknown;
}

int CProfessionalRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                          std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                          PreviewProgressCallback callback, void* user) {
  if (!record) {
    bufferSize = 0;
    if (callback) callback(user, 100, kErrInvalidParameter);
    return kErrInvalidParameter;
  }
  IFileRecoveryParse* engine = EngineFor(record->engineKind);
  if (!engine) return kSuccess;
  return engine->ExtractPreview(record, tempPath, buffer, bufferSize, callback, user);
}

int CProfessionalRecovery::SetSearchCallback(SearchProgressCallback callback, void* user) {
  searchCallback_ = callback;
  searchUser_ = user;
  if (fast_) fast_->SetSearchCallback(callback, user);
  fat_.SetSearchCallback(callback, user);
  ntfs_.SetSearchCallback(callback, user);
  exfat_.SetSearchCallback(callback, user);
  carver_.SetSearchCallback(callback, user);
  return kSuccess;
}

// A carved or deep member's copy of a file found otherwise is left out (see
// CarvedRepeats, MemberRepeats): the named fast-pass copy is the one listed.
int CProfessionalRecovery::SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) {
  int done = 0;
  for (IFileRecoveryParse* engine : {fast_.get(), static_cast<IFileRecoveryParse*>(&fat_),
                                     static_cast<IFileRecoveryParse*>(&ntfs_), static_cast<IFileRecoveryParse*>(&exfat_)}) {
    if (!engine) continue;
    int r = engine->SearchByExtension(extensions, out);
    if (r == kCancelled) return r;
    if (r == 1) done = 1;
  }
  int r = carver_.SearchByExtension(extensions, out);
  if (r == kCancelled) return r;
  if (r == 1) done = 1;
  if (!out.empty()) {
    UpdateRepeats();  // when it fails, nothing is left out
    std::erase_if(out, [&](const FoundFileRecord& c) { return Repeated(c); });
  }
  SortFoundRecords(out);
  return done;
}

}  // namespace kestrel
