#include "app/recover_session.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "app/recovery_destination.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

// The current item's progress and final report, as the engine's item
// callback delivers them.
struct ItemReport {
  const RecoverHooks* hooks = nullptr;
  bool finished = false;
  int error = kSuccess;
};

int OnItemProgress(void* user, int32_t percent, int32_t scale, int32_t errorCode, const std::filesystem::path&) {
  auto* report = static_cast<ItemReport*>(user);
  int32_t shown = int32_t(int64_t(percent) * scale / 100);
  if (shown >= 100) {
    report->finished = true;
    report->error = errorCode;
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
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  if (std::filesystem::is_directory(root, ec)) return kSuccess;
  return ErrorFromErrno(ec ? ec.value() : ENOTDIR, IoDirection::kWrite);
}

int ItemOutcome(bool reportedFinished, int reportedError, int returned) {
  int outcome = reportedFinished ? reportedError : returned;
  if (outcome == kSuccess && returned != kSuccess) outcome = returned;
  if (!reportedFinished && returned == kSuccess) outcome = kErrGeneralFailure;
  return outcome;
}

RecoveryTally RecoverItems(IFileRecoveryParse& engine, const std::vector<FoundItem>& items,
                           const std::filesystem::path& root, bool keepPaths, const RecoverHooks& hooks,
                           RecoveryReport* recoveryReport) {
  ItemReport report;
  report.hooks = &hooks;
  engine.SetCallbacks(nullptr, OnItemProgress, &report, 100);
  int32_t rootDepth = RootDepth(root);
  RecoveryTally tally;
  size_t index = 0;
  for (const FoundItem& item : items) {
    ++index;
    std::filesystem::path destination = keepPaths ? KeepPathsDestination(root, item.folder, item.record)
                                                  : RecoveryDestination(root, item.record);
    if (hooks.itemStarting) hooks.itemStarting(index, items.size(), item, destination);
    report.finished = false;
    report.error = kSuccess;
    int returned = engine.RecoverItem(&item.record, destination, rootDepth);
    if (returned == kCancelled) {
      tally.stopped = true;
      break;
    }
    int outcome = ItemOutcome(report.finished, report.error, returned);
    RecoveredFile file = SettleRecoveredFile(item.record, destination, outcome);
    if (file.succeeded()) {
      ++tally.recovered;
    } else {
      ++tally.failed;
    }
    if (hooks.itemDone) hooks.itemDone(item, file);
    if (recoveryReport) recoveryReport->Add({item.record, item.folder, file, NowIsoText()});
  }
  engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  return tally;
}

}  // namespace kestrel
