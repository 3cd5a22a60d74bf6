// The scan job: one source after the other, the engine from the factory, its
// scan with progress on the view, and the engine kept in the source's entry
// for browsing and recovery. The search job runs the extension search over
// the engines of sources already scanned.
//
// Scan controls: "stage", "percent", "progress" (0..100), "sectors" and
// "totalfile" (shown while the engine counts sectors), "rate" (shown with
// them), "elapsed", "time". Results: kJobDone (all scanned, or stopped by a
// cancel; see each entry's outcome), kJobFailed (a source could not be
// opened or holds nothing to scan: later sources are not scanned). Cancel
// question "MSG0709"; a deep scan's saved-scan question "MSG1206".
//
// Search controls: "stage", "percent", "progress". Results: kJobDone,
// kJobCancelled. Cancel question "MSG1205".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/jobs/job.h"
#include "app/jobs/time_estimate.h"
#include "app/scan_session.h"
#include "engines/scan_source.h"

namespace kestrel {

// One selected source and what its last scan left.
struct ScanEntry {
  ScanSource source;
  std::unique_ptr<IFileRecoveryParse> engine;  // the last scan's engine; null when it failed
  ScanOutcome outcome;
};

class ScanJob : public Job {
 public:
  ScanJob(IJobView& view, LanguageTable& texts, std::vector<ScanEntry*> entries, ScanOptions options,
          TimeEstimate::Clock clock = {});
  // Called on the worker around each engine pass (a terminal arms Ctrl-C there).
  std::function<void()> passStarting;
  std::function<void()> passEnded;

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG0709"; }

 private:
  void Show(const ScanProgress& progress, const ScanSource& source);

  std::vector<ScanEntry*> entries_;
  ScanOptions options_;
  TimeEstimate estimate_;
  RedrawThrottle throttle_;
};

class SearchJob : public Job {
 public:
  // extensions as SearchByExtension takes them ("*.jpg|*.png|"); matches are
  // appended to results.
  SearchJob(IJobView& view, LanguageTable& texts, std::vector<ScanEntry*> entries, std::string extensions,
            std::vector<FoundFileRecord>& results);
  // After the job: per entry searched, the size results had when its search
  // ended, so a front end knows which engine found which record.
  const std::vector<size_t>& resultsEnd() const { return resultsEnd_; }

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG1205"; }

 private:
  static int OnSearchProgress(void* user, int32_t percent, int32_t reserved);

  std::vector<ScanEntry*> entries_;
  std::string extensions_;
  std::vector<FoundFileRecord>& results_;
  std::vector<size_t> resultsEnd_;
};

// The text naming a source on a job's "stage": the message, a space and the
// image's file name, or the device's path.
std::string SourceStageText(const std::string& message, const ScanSource& source);

}  // namespace kestrel
