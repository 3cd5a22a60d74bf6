// Recovering found files after a scan: which records a recovery takes, where
// each one goes, and what became of each (recovered, or failed and why),
// reported item by item through the front end's hooks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/found_items.h"
#include "app/recovered_file_outcome.h"
#include "app/recovery_report.h"
#include "app/type_filter.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

// The files the filter takes, through the engine's extension search (or, for
// "all", every file of the folder tree). withPaths fills each item's folder
// (the tree walk always does). 0 or the engine's error; a search that could
// not read its log is kErrReadFault.
int SelectForRecovery(IFileRecoveryParse& engine, const TypeFilter& filter, bool withPaths,
                      std::vector<FoundItem>& out, uint64_t* skipped = nullptr);

// Creates the destination folder and its parents. 0, or the Win32-numbered
// error that kept it from being a folder.
int PrepareDestinationFolder(const std::filesystem::path& root);
// The same; problem names the first thing that went wrong in words ("is a
// file, not a folder", "read-only file system", "permission denied", ...).
int PrepareDestinationFolder(const std::filesystem::path& root, std::string& problem);

// Every hook may be empty.
struct RecoverHooks {
  // Before item number index (from 1) of total is written to destination.
  std::function<void(size_t index, size_t total, const FoundItem& item, const std::filesystem::path& destination)>
      itemStarting;
  // Percent (0..100) of the current item written; false stops the recovery
  // (the item being written is left unfinished and not counted).
  std::function<bool(int32_t percent)> itemProgress;
  // After each item, with what became of it: checked, marked when damaged
  // or partial, hashed.
  std::function<void(const FoundItem& item, const RecoveredFile& file)> itemDone;
};

struct RecoveryTally {
  uint64_t recovered = 0;
  uint64_t failed = 0;  // damaged, partial and failed together
  bool stopped = false;  // itemProgress asked to stop
  // The destination ran out of space: the run stopped there, and this many
  // items after the failed one were not tried.
  bool stoppedByFullDestination = false;
  uint64_t notAttempted = 0;
  // Temporaries an interrupted earlier run left, removed before writing.
  uint64_t leftoversRemoved = 0;
  // Files an earlier run into the same folder wrote and that are still there
  // as recorded: counted, not written again.
  uint64_t kept = 0;
};

// Writes each item below root: root/<category>/<name>, or with keepPaths
// root/<folder path>/<name>, never over an existing file. Leftover
// temporaries below root are removed first; the first item that fails for
// lack of space ends the run (itemDone is still called for it).
// Each file is judged before it gets its name: it counts as recovered only
// when whole and not found damaged; a damaged or partial one is published
// under its marked name. report, when given, receives every file. A file
// previous still finds written as recorded is not written again: it is
// counted by its earlier outcome and reported as it was.
RecoveryTally RecoverItems(IFileRecoveryParse& engine, const std::vector<FoundItem>& items,
                           const std::filesystem::path& root, bool keepPaths, const RecoverHooks& hooks,
                           RecoveryReport* report = nullptr, const PreviousRecovery* previous = nullptr);

// What one RecoverItem came to. The item's own final report (its call at 100 %)
// decides; an error returned without being reported still fails the item, and
// so does a success that was never reported as finished.
int ItemOutcome(bool reportedFinished, int reportedError, int returned);

}  // namespace kestrel
