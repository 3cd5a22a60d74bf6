#include "engines/common/fast_engine_base.h"

#include <algorithm>

#include "engines/common/reader_engine.h"

namespace kestrel {

CFastEngineBase::~CFastEngineBase() = default;

int CFastEngineBase::OpenImage(const std::filesystem::path& image, uint16_t letter) {
  if (opened_) return kSuccess;
  if (int error = OpenImageFile(image, device_); error != kSuccess) {
    CloseDevice(device_);
    return openError_ = error;
  }
  deviceSectorBytes_ = kImageSectorBytes;
  partitionStart_ = 0;
  sectorCount_ = device_.totalSectors;
  letter_ = letter;
  return openError_ = FinishOpen();
}

int CFastEngineBase::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                   uint16_t letter) {
  if (opened_) return kSuccess;
  if (int error = OpenPhysicalDrive(device_, driveNumber); error != kSuccess) {
    CloseDevice(device_);
    return openError_ = error;
  }
  int32_t sectorBytes = QueryBytesPerSector(device_.fd());
  deviceSectorBytes_ = sectorBytes > 0 ? uint32_t(sectorBytes) : kImageSectorBytes;
  partitionStart_ = firstSector;
  sectorCount_ = sectorCount;
  letter_ = letter;
  return openError_ = FinishOpen();
}

int CFastEngineBase::SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user,
                                  int32_t scale) {
  progress_ = progress;
  item_ = item;
  user_ = user;
  scale_ = scale;
  return kSuccess;
}

int CFastEngineBase::Report(int32_t progress, int32_t remaining) {
  if (!progress_) return 0;
  return progress_(user_, progress, scale_, remaining, 0, 0, 0, 0);
}

int CFastEngineBase::WalkProgress::Tick() {
  if (Clock::now() - last_ < std::chrono::milliseconds(5000)) return 0;
  last_ = Clock::now();
  if (engine_.scale_ == 100) return engine_.Report(std::min(percent_++, 79), std::max(remaining_--, 1));
  if (engine_.scale_ == 9) return engine_.Report(std::min(deepPercent_++, 79), -1);
  return 0;
}

int CFastEngineBase::FinishWalk(int result, const std::function<void()>& appendFolders) {
  ScanLog* log = store_.log();
  if (result != 0) {
    // The stop is the answer; an index that could not be saved only costs
    // the reopening of this partial scan.
    log->SaveIndex();
    return result;
  }
  result = Report(80, 10);
  appendFolders();
  int saved = log->SaveIndex();
  if (result == 0) result = Report(100, 0);
  if (result == 0 && saved != kSuccess) result = saved;
  return result;
}

int CFastEngineBase::ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) {
  return store_.ListChildren(dir, level, RootKey(), out);
}

int CFastEngineBase::CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) {
  return store_.CountFiles(dir, level, RootKey(), count);
}

uint64_t CFastEngineBase::GetFoundCount() { return store_.GetFoundCount(); }

int CFastEngineBase::GetItemPath(const FoundFileRecord* record, std::string& out) {
  return store_.GetItemPath(record, out);
}

int CFastEngineBase::SetSearchCallback(SearchProgressCallback callback, void* user) {
  return store_.SetSearchCallback(callback, user);
}

int CFastEngineBase::SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) {
  return store_.SearchByExtension(extensions, out);
}

int CFastEngineBase::RefuseRecord(const FoundFileRecord&) { return kSuccess; }

int CFastEngineBase::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                 int32_t rootDepth) {
  return RecoverThroughReader(
      *this, record, destination, rootDepth, item_, user_,
      [this](const FoundFileRecord& r, DataSink& sink, const std::function<int(uint64_t)>& report) {
        return ReadRecord(r, sink, report);
      },
      [this](const FoundFileRecord& r) { return RefuseRecord(r); });
}

int CFastEngineBase::ReopenFinishedScan(const std::filesystem::path& store) {
  // ScanLog::Open would create a missing store, empty.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(store, ec)) return kErrFileNotFound;
  store_.ReopenIn(store.parent_path());
  int result = Scan(store.filename().string());
  store_.ReopenIn({});
  return result;
}

int CFastEngineBase::StreamItem(const FoundFileRecord& record, DataSink& sink) {
  return StreamThroughReader(
      record, sink,
      [this](const FoundFileRecord& r, DataSink& s, const std::function<int(uint64_t)>& report) {
        return ReadRecord(r, s, report);
      },
      [this](const FoundFileRecord& r) { return RefuseRecord(r); });
}

int CFastEngineBase::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                    std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                    PreviewProgressCallback callback, void* user) {
  return PreviewThroughReader(
      record, tempPath, buffer, bufferSize, callback, user,
      [this](const FoundFileRecord& r, DataSink& sink, const std::function<int(uint64_t)>& report) {
        return ReadRecord(r, sink, report);
      },
      [this](const FoundFileRecord& r) { return RefuseRecord(r); });
}

}  // namespace kestrel
