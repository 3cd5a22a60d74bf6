// Pieces the deep FAT and deep NTFS members share: the store-backed listing
// slots and what they need to resume a saved scan.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/scan_log.h"
#include "engines/file_recovery_parse.h"

namespace kestrel::deep {

// Opens a new store for a scan in the current scan folder under base, or
// base + "_2", "_3"... when a store of that name is already there: stores
// are named by the minute, and a second scan of the same source within it
// must not continue the first one's records.
int OpenNewStore(ScanLog& log, const std::string& base);

// Slots 4 to 7, 10 and 11 answered by a member's store (null: not open).
int ListFromLog(ScanLog* log, const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out);
int CountFromLog(ScanLog* log, const FoundFileRecord* dir, int32_t level, int64_t& count);
int PathFromLog(ScanLog* log, const FoundFileRecord* record, std::string& out);
int SearchLog(ScanLog* log, std::string_view extensions, std::vector<FoundFileRecord>& out);

class StateReader;

// What a member needs to go on with a saved scan: its store, how many of its
// records the saved position covers (any written after it are dropped, as the
// pass finds them again), and its saved state when there is one.
struct MemberResume {
  std::string storeName;
  std::optional<uint64_t> keepRecords;
  StateReader* state = nullptr;
};

}  // namespace kestrel::deep
