#include "app/jobs/recover_job.h"

#include "platform/error_codes.h"

namespace kestrel {

RecoverJob::RecoverJob(IJobView& view, LanguageTable& texts, std::vector<RecoverBatch> batches,
                       std::filesystem::path root, bool keepPaths)
    : Job(view, texts), batches_(std::move(batches)), root_(std::move(root)), keepPaths_(keepPaths) {
  for (const RecoverBatch& batch : batches_) itemCount_ += batch.items.size();
}

RecoverJob::RecoverJob(IJobView& view, LanguageTable& texts, IFileRecoveryParse& engine, std::vector<FoundItem> items,
                       std::filesystem::path root, bool keepPaths)
    : RecoverJob(view, texts, std::vector<RecoverBatch>{{&engine, std::move(items)}}, std::move(root), keepPaths) {}

RecoverJob::RecoverJob(IJobView& view, LanguageTable& texts, IFileRecoveryParse& engine, const FoundItem& item,
                       std::filesystem::path root)
    : RecoverJob(view, texts, engine, std::vector<FoundItem>{item}, std::move(root), false) {}

void RecoverJob::ShowCounts() {
  view_.SetText("recovered", FillIn(Msg("MSG1102"), {std::to_string(done_), std::to_string(itemCount_),
                                                     std::to_string(done_ - failed_), std::to_string(failed_)}));
}

int RecoverJob::Run() {
  view_.SetVisible("FinishBtn", false);
  view_.SetVisible("CancelBtn", true);
  RecoverHooks hooks;
  hooks.itemStarting = [this](size_t, size_t, const FoundItem&, const std::filesystem::path& destination) {
    Report([&] {
      view_.SetText("current", destination.string());
      ShowCounts();
    });
  };
  hooks.itemProgress = [this](int32_t percent) {
    return Report([&] {
             view_.SetValue("progress", percent);
             view_.SetText("percent", Msg("MSG1101") + " " + std::to_string(percent) + "%");
           }) == kSuccess;
  };
  hooks.itemDone = [this](const FoundItem& item, const RecoveredFile& file) {
    // The row is added even when a cancel is pending: the file is finished.
    ++done_;
    if (!file.succeeded()) ++failed_;
    ShowCounts();
    std::string shown = file.path.empty() ? std::string(item.record.Name()) : file.path.string();
    if (file.succeeded()) {
      view_.SetText("DetailList", "ok\t" + shown + "\tSuccess");
    } else {
      view_.SetText("DetailList", "failed\t" + shown + "\t" + file.reason);
    }
  };
  for (const RecoverBatch& batch : batches_) {
    const RecoveryTally tally = RecoverItems(*batch.engine, batch.items, root_, keepPaths_, hooks, report, previous);
    tally_.recovered += tally.recovered;
    tally_.failed += tally.failed;
    tally_.kept += tally.kept;
    tally_.leftoversRemoved += tally.leftoversRemoved;
    if (tally.stopped) {
      tally_.stopped = true;
      return kJobCancelled;
    }
    // A full destination fails every later file the same way: the job ends here.
    if (tally.stoppedByFullDestination) {
      tally_.stoppedByFullDestination = true;
      tally_.notAttempted += tally.notAttempted;
      break;
    }
  }
  view_.SetVisible("FinishBtn", true);
  view_.SetVisible("CancelBtn", false);
  return kJobDone;
}

}  // namespace kestrel
