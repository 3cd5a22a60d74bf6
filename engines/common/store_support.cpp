#include "engines/common/store_support.h"

#include "catalogue/fresh_store_name.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel::deep {

int OpenNewStore(ScanLog& log, const std::string& base) {
  std::filesystem::path folder = CurrentScanFolder();
  return log.Open(FreshStoreName(base, folder), folder);
}

int ListFromLog(ScanLog* log, const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) {
  if (!dir && level != 0) return kErrInvalidParameter;
  if (!log || !log->IsOpen()) return kSuccess;
  log->SaveIndex();
  uint64_t key = dir ? DirectoryKey{dir->itemKey, uint32_t(level)}.Packed() : 0;
  return log->ListFolder(key, out);
}

int CountFromLog(ScanLog* log, const FoundFileRecord* dir, int32_t level, int64_t& count) {
  count = 0;
  if (!dir && level != 0) return kErrInvalidParameter;
  if (!log || !log->IsOpen()) return kSuccess;
  log->SaveIndex();
  uint64_t key = dir ? DirectoryKey{dir->itemKey, uint32_t(level)}.Packed() : 0;
  return log->CountFilesUnder(key, count);
}

int PathFromLog(ScanLog* log, const FoundFileRecord* record, std::string& out) {
  out.clear();
  if (!record || !log || !log->IsOpen()) return kErrInvalidParameter;
  log->SaveIndex();
  return log->GetItemPath(*record, out);
}

int SearchLog(ScanLog* log, std::string_view extensions, std::vector<FoundFileRecord>& out) {
  if (!log || !log->IsOpen()) return 0;
  return log->SearchByExtension(extensions, out);
}

}  // namespace kestrel::deep
