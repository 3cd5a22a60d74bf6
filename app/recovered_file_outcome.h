// What became of one found file after its engine wrote it: measured, checked
// by its format, marked in its name when damaged or partial, and given its
// recorded times. Every front end counts and reports files through this.
#pragma once

#include <cstdint>
#include <ctime>
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

// check (a found file's content check) with what the scan learnt when it
// placed the file's clusters: a type without a check of its own is damaged
// when another file starts inside every placement the allocation allows.
IntegrityResult WithPlacementVerdict(IntegrityResult check, const FoundFileRecord& record);

// Judges a file as written (at written, perhaps still under its temporary
// name) with the writer's result engineError: measures it against
// record.size and runs the content check for the record's extension. Sets
// everything but sha256; path is written when the file exists.
RecoveredFile JudgeRecoveredFile(const FoundFileRecord& record, const std::filesystem::path& written,
                                 int engineError);

// A file's name with its outcome's mark: name itself for a recovered or
// failed file or one that already carries the mark, else
// "<base>.damaged.<ext>" / "<base>.partial.<ext>". Every place that shows a
// found file under its outcome names it through this.
std::string OutcomeFileName(std::string_view name, FileOutcome outcome);

// The name a judged file goes under: wanted for a recovered or failed file,
// else a free "<name>.damaged.<ext>" / "<name>.partial.<ext>" beside it
// (wanted itself when it already carries the mark).
std::filesystem::path OutcomeName(const RecoveredFile& file, const std::filesystem::path& wanted);

// Hashes the bytes at file.path (unless sha256 is already known) and gives the file the record's modification
// and access times. Nothing when no file was written.
void FinishRecoveredFile(RecoveredFile& file, const FoundFileRecord& record);

// All of it for a file already at destination: judged, renamed to its
// OutcomeName, hashed and given its times.
RecoveredFile SettleRecoveredFile(const FoundFileRecord& record, const std::filesystem::path& destination,
                                  int engineError);

// A FILETIME (100 ns since 1601) as a timespec for utimensat; UTIME_OMIT for 0.
struct timespec FileTimeToTimespec(uint64_t filetime);

}  // namespace kestrel
