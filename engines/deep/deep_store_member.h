// What every member of a deep scan (deep FAT, deep NTFS, carving) does the
// same way: it keeps the callbacks it is given, answers the found count and
// the extension search from its store, and leaves scanning to the deep pass.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/scan_log.h"
#include "engines/file_recovery_parse.h"

namespace kestrel::deep {

class StoreMember : public IFileRecoveryParse {
 public:
  ~StoreMember() override;  // closes the store

  int SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user, int32_t scale) override;
  // The deep pass drives the members; their own Scan does nothing.
  int Scan(const std::optional<std::string>&) override { return 0; }
  uint64_t GetFoundCount() override;
  int NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  // Kept for later stores too; 87 while there is no store.
  int SetSearchCallback(SearchProgressCallback callback, void* user) override;
  int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) override;
  int BuildClusterMap() override { return 0; }

  ScanLog* log() { return log_.get(); }

 protected:
  // scale: the share of the scan's progress until SetCallbacks sets one.
  explicit StoreMember(int32_t scale) : scale_(scale) {}

  std::unique_ptr<ScanLog> log_;
  ScanProgressCallback progress_ = nullptr;
  ItemProgressCallback item_ = nullptr;
  void* user_ = nullptr;
  int32_t scale_;
  SearchProgressCallback searchCallback_ = nullptr;
  void* searchUser_ = nullptr;
};

}  // namespace kestrel::deep
