#include "app/recover_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "app/file_sha256.h"
#include "app/recovery_destination.h"
#include "engines/common/unpublished_file.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

// The current item's progress and final report, as the engine's item
// callback delivers them.
struct ItemReport {
  const RecoverHooks* hooks = nullptr;
  bool finished = false;
  int error = kSuccess;
  // Where the final report says the file went (a partial file's marked name).
  std::filesystem::path published;
};

int OnItemProgress(void* user, int32_t percent, int32_t scale, int32_t errorCode,
                   const std::filesystem::path& path) {
  auto* report = static_cast<ItemReport*>(user);
  int32_t shown = int32_t(int64_t(percent) * scale / 100);
  if (shown >= 100) {
    report->finished = true;
    report->error = errorCode;
    report->published = path;
  }
  if (report->hooks->itemProgress && !report->hooks->itemProgress(std::min(shown, 100))) return kCancelled;
  return 0;
}

}  // namespace

int SelectForRecovery(IFileRecoveryParse& engine, const TypeFilter& filter, bool withPaths,
                      std::vector<FoundItem>& out, uint64_t* skipped) {
  if (skipped) *skipped = 0;
  // Categories are decided from the folder tree, the same walk a scan
  // summary counts, so a category word takes exactly what the summary showed.
  if (filter.all || !filter.categories.empty()) {
    std::vector<FoundItem> found;
    int error = CollectFound(engine, found);
    for (auto& item : found) {
      if (item.record.IsDirectory()) continue;
      if (filter.Takes(item.record.Name())) out.push_back(item);
      else if (skipped) ++*skipped;
    }
    return error;
  }
  std::vector<FoundFileRecord> records;
  int searched = engine.SearchByExtension(filter.extensions, records);
  for (const auto& record : records) {
    FoundItem item;
    item.record = record;
    if (withPaths) engine.GetItemPath(&record, item.folder);
    out.push_back(item);
  }
  return searched == 1 ? kSuccess : (searched == 0 ? kErrReadFault : searched);
}

int PrepareDestinationFolder(const std::filesystem::path& root) {
  std::string problem;
  return PrepareDestinationFolder(root, problem);
}

int PrepareDestinationFolder(const std::filesystem::path& root, std::string& problem) {
  problem.clear();
  // Up to the nearest path that exists; below a file that is the file itself.
  std::vector<std::filesystem::path> missing;
  std::filesystem::path existing = root;
  struct stat st {};
  while (::stat(existing.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      problem = ErrnoProblem(errno);
      return ErrorFromErrno(errno, IoDirection::kWrite);
    }
    missing.push_back(existing);
    std::filesystem::path parent = existing.parent_path();
    if (parent.empty()) parent = ".";
    if (parent == existing) break;
    existing = parent;
  }
  if (!S_ISDIR(st.st_mode)) {
    problem = missing.empty() ? "is a file, not a folder" : existing.string() + " is a file, not a folder";
    return kErrAlreadyExists;
  }
  // Created top down, so the first refusal is the one reported.
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0755) != 0 && errno != EEXIST) {
      problem = "cannot create " + it->string() + ": " + ErrnoProblem(errno);
      return ErrorFromErrno(errno, IoDirection::kWrite);
    }
  }
  // Writing is what a destination is for: a folder that refuses it is refused now.
  if (::access(root.c_str(), W_OK | X_OK) != 0) {
    problem = ErrnoProblem(errno);
    return ErrorFromErrno(errno, IoDirection::kWrite);
  }
  return kSuccess;
}

int ItemOutcome(bool reportedFinished, int reportedError, int returned) {
  int outcome = reportedFinished ? reportedError : returned;
  if (outcome == kSuccess && returned != kSuccess) outcome = returned;
  if (!reportedFinished && returned == kSuccess) outcome = kErrGeneralFailure;
  return outcome;
}

RecoveryTally RecoverItems(IFileRecoveryParse& engine, const std::vector<FoundItem>& items,
                           const std::filesystem::path& root, bool keepPaths, const RecoverHooks& hooks,
                           RecoveryReport* recoveryReport, const PreviousRecovery* previous) {
  RecoveryTally tally;
  // What a killed run left half-written is worth nothing; it goes first.
  tally.leftoversRemoved = RemoveUnpublishedFiles(root);
  ItemReport report;
  report.hooks = &hooks;
  engine.SetCallbacks(nullptr, OnItemProgress, &report, 100);
  int32_t rootDepth = RootDepth(root);
  // Each file is judged while it is still its temporary, so a damaged or
  // partial file is only ever published under its marked name.
  const FoundItem* current = nullptr;
  std::optional<RecoveredFile> judged;
  ScopedPublishNameChooser chooser(
      [&](const std::filesystem::path& temporary, const std::filesystem::path& wanted, int outcome) {
        if (!current) return wanted;
        judged = JudgeRecoveredFile(current->record, temporary, outcome);
        std::filesystem::path name = OutcomeName(*judged, wanted);
        if (recoveryReport) {
          // Into the journal before the name exists: a run killed after the
          // rename still leaves a record a rerun can find the file by.
          Sha256OfFile(temporary, judged->sha256);
          RecoveredFile noted = *judged;
          noted.path = name;
          recoveryReport->Note({current->record, current->folder, noted, NowIsoText()});
        }
        return name;
      });
  size_t index = 0;
  for (const FoundItem& item : items) {
    ++index;
    if (auto earlier = previous ? previous->StillThere(item.record) : std::nullopt) {
      ++tally.kept;
      if (earlier->succeeded()) {
        ++tally.recovered;
      } else {
        ++tally.failed;
      }
      if (hooks.itemDone) hooks.itemDone(item, *earlier);
      if (recoveryReport) recoveryReport->Add({item.record, item.folder, *earlier, NowIsoText()});
      continue;
    }
    std::filesystem::path destination = keepPaths ? KeepPathsDestination(root, item.folder, item.record)
                                                  : RecoveryDestination(root, item.record);
    if (hooks.itemStarting) hooks.itemStarting(index, items.size(), item, destination);
    report.finished = false;
    report.error = kSuccess;
    report.published.clear();
    current = &item;
    judged.reset();
    int returned = engine.RecoverItem(&item.record, destination, rootDepth);
    current = nullptr;
    if (returned == kCancelled) {
      tally.stopped = true;
      break;
    }
    int outcome = ItemOutcome(report.finished, report.error, returned);
    std::filesystem::path published = report.published.empty() ? destination : report.published;
    RecoveredFile file;
    std::error_code ec;
    if (judged && (outcome == kSuccess || outcome == kErrHandleEof) &&
        std::filesystem::is_regular_file(published, ec)) {
      file = std::move(*judged);
      file.path = published;
      FinishRecoveredFile(file, item.record);
    } else {
      // Not written through the chooser (or its publish failed): judged where it lies.
      file = SettleRecoveredFile(item.record, published, outcome);
    }
    if (file.succeeded()) {
      ++tally.recovered;
    } else {
      ++tally.failed;
    }
    if (hooks.itemDone) hooks.itemDone(item, file);
    if (recoveryReport) recoveryReport->Add({item.record, item.folder, file, NowIsoText()});
    // Every later file would fail the same way: stop at the first.
    if (outcome == kErrDiskFull) {
      tally.stoppedByFullDestination = true;
      tally.notAttempted = items.size() - index;
      break;
    }
  }
  engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  return tally;
}

}  // namespace kestrel
