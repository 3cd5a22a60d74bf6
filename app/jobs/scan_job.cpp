#include "app/jobs/scan_job.h"

#include <algorithm>

#include "app/jobs/image_job.h"
#include "catalogue/categories.h"

namespace kestrel {

std::string SourceStageText(const std::string& message, const ScanSource& source) {
  std::string name = source.isImage ? source.path.filename().string() : source.path.string();
  if (message.find('%') != std::string::npos) return FillIn(message, {name});
  return message + " " + name;
}

ScanJob::ScanJob(IJobView& view, LanguageTable& texts, std::vector<ScanEntry*> entries, ScanOptions options,
                 TimeEstimate::Clock clock)
    : Job(view, texts), entries_(std::move(entries)), options_(options), estimate_(std::move(clock)) {}

void ScanJob::Show(const ScanProgress& p, const ScanSource& source) {
  int percent = std::clamp(p.percent, 0, 100);
  bool counted = p.sectorsTotal != 0;
  // Fast engines count no sectors: their percent is what there is to time.
  estimate_.Update(counted ? p.sectorsDone : uint64_t(percent), counted ? p.sectorsTotal : 100);
  if (!throttle_.Due(percent)) return;
  view_.SetValue("progress", percent);
  view_.SetText("percent", Msg("MSG0704") + " " + std::to_string(percent) + "%");
  if (counted) {
    view_.SetText("sectors", Msg("MSG0706") + " " + std::to_string(p.sectorsDone) + " / " +
                                 std::to_string(p.sectorsTotal));
    view_.SetText("totalfile", Msg("MSG0707") + " " + std::to_string(p.filesFound));
    view_.SetText("rate", RateText(estimate_.rate() * source.sectorBytes));
  }
  view_.SetVisible("sectors", counted);
  view_.SetVisible("totalfile", counted);
  view_.SetVisible("rate", counted);
  view_.SetText("elapsed", Msg("MSG0308") + " " + DurationText(int64_t(estimate_.elapsedSeconds())));
  int64_t remaining = p.remainingSeconds >= 0 ? p.remainingSeconds : estimate_.remainingSeconds();
  view_.SetText("time", remaining < 0 ? Msg("MSG0705") : Msg("MSG0708") + " " + DurationText(remaining));
}

int ScanJob::Run() {
  for (ScanEntry* entry : entries_) {
    view_.SetText("stage", SourceStageText(Msg(entry->source.isImage ? "MSG0703" : "MSG0702"), entry->source));
    view_.SetVisible("sectors", false);
    view_.SetVisible("totalfile", false);
    view_.SetVisible("rate", false);
    // The entry's earlier engine goes before the factory opens the source again.
    entry->engine.reset();
    estimate_.Start();
    throttle_ = RedrawThrottle();
    ScanHooks hooks;
    hooks.askResume = [this] { return view_.Ask(Msg("MSG1206")); };
    hooks.passStarting = passStarting;
    hooks.passEnded = passEnded;
    hooks.progress = [this, entry](const ScanProgress& p) {
      return Report([&] { Show(p, entry->source); }) == kSuccess;
    };
    entry->outcome = RunScan(entry->source, options_, hooks, entry->engine);
    if (entry->outcome.status == ScanStatus::kUnreadable || entry->outcome.status == ScanStatus::kNoFileSystem) {
      return kJobFailed;
    }
    if (entry->outcome.status == ScanStatus::kStopped) break;
  }
  return kJobDone;
}

SearchJob::SearchJob(IJobView& view, LanguageTable& texts, std::vector<ScanEntry*> entries, std::string extensions,
                     std::vector<FoundFileRecord>& results)
    : Job(view, texts), entries_(std::move(entries)), extensions_(std::move(extensions)), results_(results) {}

int SearchJob::OnSearchProgress(void* user, int32_t percent, int32_t) {
  auto* job = static_cast<SearchJob*>(user);
  return job->Report([&] {
    job->view_.SetValue("progress", percent);
    job->view_.SetText("percent", job->Msg("MSG1204") + " " + std::to_string(percent) + "%");
  });
}

int SearchJob::Run() {
  for (ScanEntry* entry : entries_) {
    if (!entry->engine) return kJobDone;
    view_.SetText("stage", SourceStageText(Msg(entry->source.isImage ? "MSG1203" : "MSG1202"), entry->source));
    entry->engine->SetSearchCallback(OnSearchProgress, this);
    int result = entry->engine->SearchByExtension(extensions_, results_);
    entry->engine->SetSearchCallback(nullptr, nullptr);
    resultsEnd_.push_back(results_.size());
    if (result == kCancelled) return kJobCancelled;
  }
  return kJobDone;
}

}  // namespace kestrel
