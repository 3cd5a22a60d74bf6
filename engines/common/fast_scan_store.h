// The ScanLog behind a fast engine's results, with the search callback it
// keeps across scans: starts a store for each Scan and answers the listing,
// counting, path and search operations from it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/scan_log.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

class FastScanStore {
 public:
  ~FastScanStore();  // closes the store

  // Drops the previous store and opens storeName (a saved scan: nothing is
  // read from the source) or, without one, a fresh store in the current scan
  // folder named after the source's first sector. On failure no store is kept.
  int Start(const std::optional<std::string>& storeName, uint64_t firstSector);
  // While set (not empty), a saved store named to Start is opened in folder
  // instead of the current scan folder: a finished scan kept elsewhere.
  void ReopenIn(std::filesystem::path folder) { reopenFolder_ = std::move(folder); }
  // Closes and drops the store.
  void Drop();

  // The store of the last Start (null before one or after a failed one).
  ScanLog* log() { return log_.get(); }

  // For a null dir, level must be 0 and rootKey is the folder listed.
  int ListChildren(const FoundFileRecord* dir, int32_t level, uint32_t rootKey, std::vector<FoundFileRecord>& out);
  int CountFiles(const FoundFileRecord* dir, int32_t level, uint32_t rootKey, int64_t& count);
  uint64_t GetFoundCount();
  // 87 for a null record or with no store.
  int GetItemPath(const FoundFileRecord* record, std::string& out);
  int SetSearchCallback(SearchProgressCallback callback, void* user);
  int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out);

 private:
  std::unique_ptr<ScanLog> log_;
  std::filesystem::path reopenFolder_;
  SearchProgressCallback searchCallback_ = nullptr;
  void* searchUser_ = nullptr;
};

}  // namespace kestrel
