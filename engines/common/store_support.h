// Pieces the deep FAT and deep NTFS members share: the store-backed listing
// slots and the engines' scan-state files.
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

// A small binary writer/reader for the members' scan-state files, so a
// resumed scan goes on with what the interrupted one had learnt.
class StateWriter {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Bytes(const uint8_t* data, size_t count);
  // A length (32-bit) and the bytes.
  void Blob(const std::vector<uint8_t>& bytes);
  void Record(const FoundFileRecord& record);
  // Another writer's bytes behind their length, read back with StateReader::Section.
  void Section(const StateWriter& inner);
  // Written to path + ".tmp", flushed to the disk and renamed over path, so a
  // crash leaves either the old file or the new one.
  int Save(const std::filesystem::path& path) const;
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

class StateReader {
 public:
  int Load(const std::filesystem::path& path);
  bool ok() const { return ok_; }
  uint8_t U8();
  uint32_t U32();
  uint64_t U64();
  bool Bytes(uint8_t* data, size_t count);
  // At most limit bytes; a longer blob marks the reader damaged.
  std::vector<uint8_t> Blob(size_t limit);
  FoundFileRecord Record();
  // The next section into out; false (out damaged) when it does not fit.
  bool Section(StateReader& out);
  bool AtEnd() const { return pos_ == bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace kestrel::deep
