#include "engines/common/fast_scan_store.h"

#include "catalogue/fresh_store_name.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"

namespace kestrel {

FastScanStore::~FastScanStore() { Drop(); }

void FastScanStore::Drop() {
  if (log_) log_->Close();
  log_.reset();
}

int FastScanStore::Start(const std::optional<std::string>& storeName, uint64_t firstSector) {
  Drop();
  log_ = std::make_unique<ScanLog>();
  log_->SetSearchCallback(searchCallback_, searchUser_);
  int error;
  if (storeName) {
    error = reopenFolder_.empty() ? log_->Open(*storeName) : log_->Open(*storeName, reopenFolder_);
  } else {
    // Two sources starting at the same sector in the same minute must not share a store.
    std::filesystem::path folder = CurrentScanFolder();
    error = log_->Open(FreshStoreName(FastStoreName(int64_t(firstSector), LocalTimeNow()), folder), folder);
  }
  if (error != kSuccess) log_.reset();
  return error;
}

int FastScanStore::ListChildren(const FoundFileRecord* dir, int32_t level, uint32_t rootKey,
                                std::vector<FoundFileRecord>& out) {
  if (!dir && level != 0) return kErrInvalidParameter;
  if (!log_) return kSuccess;
  if (int error = log_->SaveIndex(); error != kSuccess) return error;
  uint32_t key = dir ? dir->itemKey : rootKey;
  return log_->ListFolder(DirectoryKey{key, uint32_t(level)}.Packed(), out);
}

int FastScanStore::CountFiles(const FoundFileRecord* dir, int32_t level, uint32_t rootKey, int64_t& count) {
  count = 0;
  if (!dir && level != 0) return kErrInvalidParameter;
  if (!log_) return kSuccess;
  if (int error = log_->SaveIndex(); error != kSuccess) return error;
  uint32_t key = dir ? dir->itemKey : rootKey;
  return log_->CountFilesUnder(DirectoryKey{key, uint32_t(level)}.Packed(), count);
}

uint64_t FastScanStore::GetFoundCount() { return log_ ? log_->RecordCount() : 0; }

int FastScanStore::GetItemPath(const FoundFileRecord* record, std::string& out) {
  out.clear();
  if (!record || !log_) return kErrInvalidParameter;
  return log_->GetItemPath(*record, out);
}

int FastScanStore::SetSearchCallback(SearchProgressCallback callback, void* user) {
  searchCallback_ = callback;
  searchUser_ = user;
  if (log_) log_->SetSearchCallback(callback, user);
  return kSuccess;
}

int FastScanStore::SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) {
  if (!log_) return 0;
  return log_->SearchByExtension(extensions, out);
}

}  // namespace kestrel
