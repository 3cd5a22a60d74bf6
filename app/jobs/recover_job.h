// The recovery job: writes found files below a folder the user chose, one
// after the other through the engine that found them, in list mode (the
// ticked files) or single-item mode (the one file of a preview).
//
// Controls: "current" (the file being written), "recovered" ("MSG1102" with
// done, total, recovered, failed), "percent", "progress" (0..100),
// "FinishBtn" and "CancelBtn" (visibility), "DetailList": each SetText on it
// adds one row "ok<TAB>path<TAB>status" or "failed<TAB>path<TAB>reason"; a
// view lists failed rows first. Results: kJobDone, kJobCancelled (no Finish
// shown). Cancel question "MSG1103".
#pragma once

#include <filesystem>
#include <vector>

#include "app/jobs/job.h"
#include "app/recover_session.h"

namespace kestrel {

// Items found by one engine (a window may recover from several scanned
// partitions at once).
struct RecoverBatch {
  IFileRecoveryParse* engine = nullptr;
  std::vector<FoundItem> items;
};

class RecoverJob : public Job {
 public:
  // Several engines' items, one batch after the other, counted as one list.
  RecoverJob(IJobView& view, LanguageTable& texts, std::vector<RecoverBatch> batches, std::filesystem::path root,
             bool keepPaths);
  // List mode: items keep their folder paths when keepPaths is set.
  RecoverJob(IJobView& view, LanguageTable& texts, IFileRecoveryParse& engine, std::vector<FoundItem> items,
             std::filesystem::path root, bool keepPaths);
  // Single-item mode.
  RecoverJob(IJobView& view, LanguageTable& texts, IFileRecoveryParse& engine, const FoundItem& item,
             std::filesystem::path root);

  // What was recovered; read after Wait.
  const RecoveryTally& tally() const { return tally_; }
  // When set before Start, receives every file's outcome.
  RecoveryReport* report = nullptr;
  // When set before Start, files it still finds written are not written again.
  const PreviousRecovery* previous = nullptr;

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG1103"; }

 private:
  void ShowCounts();

  std::vector<RecoverBatch> batches_;
  size_t itemCount_ = 0;
  std::filesystem::path root_;
  bool keepPaths_ = false;
  RecoveryTally tally_;
  uint64_t done_ = 0;
  uint64_t failed_ = 0;
};

}  // namespace kestrel
