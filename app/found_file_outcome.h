// What recovery would make of a found file, judged where it lies: from what
// the scan already knows (nothing read), or by reading it through its engine
// and running the whole-file check. Views that show found files under the
// names recovery would give them (the mount) judge them here.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "app/recovered_file_outcome.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

// Without reading the file: partial when its engine knows its end cannot be
// read (its allocation stops short, or the source is cut before it), damaged
// when the scan's own check failed (of its first block, or of the whole file
// as placed), else recovered.
FileOutcome KnownOutcome(IFileRecoveryParse& engine, const FoundFileRecord& record);

// KnownOutcome, then the file read through its engine (CheckFoundContent):
// partial when its bytes stop early, damaged when its check finds it so.
FileOutcome CheckedOutcome(IFileRecoveryParse& engine, const FoundFileRecord& record);

// CheckedOutcome of every file a finished scan lists, judged one after
// another before a view opens, so that browsing reads nothing to name files.
class CheckedOutcomes {
 public:
  // 0 or the first listing error.
  int CheckAll(IFileRecoveryParse& engine);
  // What the check made of record (kRecovered for a file it did not list).
  FileOutcome Of(const FoundFileRecord& record) const;

  uint64_t files() const { return files_; }
  uint64_t damaged() const { return damaged_; }
  uint64_t partial() const { return partial_; }

 private:
  // Only the marked files, keyed by their whole stored record.
  std::unordered_map<std::string, FileOutcome> marked_;
  uint64_t files_ = 0, damaged_ = 0, partial_ = 0;
};

}  // namespace kestrel
