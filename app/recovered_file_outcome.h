// What became of one found file after its engine wrote it: measured, checked
// by its format, marked in its name when damaged or partial, and given its
// recorded times. Every front end counts and reports files through this.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "carve/integrity/integrity_check.h"
#include "catalogue/found_file_record.h"

namespace kestrel {

enum class FileOutcome {
  kRecovered,  // written completely, and its check did not find it damaged
  kDamaged,    // written completely, but its content is not a valid file of its type
  kPartial,    // only part of it could be written
  kFailed,     // nothing usable was written
};

// "recovered", "damaged", "partial", "failed".
std::string_view FileOutcomeWord(FileOutcome outcome);

struct RecoveredFile {
  FileOutcome outcome = FileOutcome::kFailed;
  std::filesystem::path path;  // where the bytes are now (renamed when marked); empty when none
  uint64_t expectedSize = 0;
  uint64_t writtenSize = 0;
  int error = 0;               // the engine's error code, 0 when it reported success
  IntegrityResult check;
  std::string reason;          // why it failed; empty when recovered
  std::string sha256;          // of the written bytes; empty when nothing was written
  bool succeeded() const { return outcome == FileOutcome::kRecovered; }
};

// "photo.jpg" -> "photo.partial.jpg"; "README" -> "README.partial".
std::filesystem::path MarkedName(const std::filesystem::path& path, std::string_view mark);

// Settles a file the engine wrote to destination with result engineError:
// measures it against record.size, runs the content check for its extension,
// renames a damaged or partial file to "<name>.damaged.<ext>" /
// "<name>.partial.<ext>" (a free name beside it), hashes the bytes and sets
// the recorded modification and access times.
RecoveredFile SettleRecoveredFile(const FoundFileRecord& record, const std::filesystem::path& destination,
                                  int engineError);

// A FILETIME (100 ns since 1601) as a timespec for utimensat; UTIME_OMIT for 0.
struct timespec FileTimeToTimespec(uint64_t filetime);

}  // namespace kestrel
