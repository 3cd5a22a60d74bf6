#include <gtest/gtest.h>

#include "app/jobs/recover_job.h"
#include "app/jobs/scan_job.h"
#include "app/source.h"
#include "app/type_filter.h"
#include "support/recording_view.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

class ScanRecoverJobTest : public ::testing::Test {
 protected:
  ScanEntry Entry(const std::filesystem::path& path) {
    ScanEntry entry;
    EXPECT_EQ(ResolveSource(path, entry.source), kSuccess) << path;
    return entry;
  }
  test::TempDir dir_;
  LanguageTable texts_{dir_ / "config.ini", KESTREL_LANG_DIR};
  test::RecordingView view_;
};

TEST_F(ScanRecoverJobTest, SourceThatCannotBeScannedEndsTheJobAndEarlierEnginesStay) {
  ScanEntry good = Entry(test::TestImage("fat16-deleted.img"));
  ScanEntry random = Entry(test::TestImage("probe-random.img"));
  ScanEntry never = Entry(test::TestImage("fat12-deleted.img"));
  ScanJob job(view_, texts_, {&good, &random, &never}, ScanOptions{});
  job.Start();
  EXPECT_EQ(job.Wait(), kJobFailed);
  EXPECT_EQ(view_.closed(), std::vector<int>{kJobFailed});
  EXPECT_NE(good.engine, nullptr);
  EXPECT_EQ(good.outcome.status, ScanStatus::kDone);
  EXPECT_EQ(random.engine, nullptr);
  EXPECT_EQ(random.outcome.status, ScanStatus::kNoFileSystem);
  EXPECT_EQ(never.engine, nullptr);  // not scanned
  auto stages = view_.texts("stage");
  ASSERT_EQ(stages.size(), 2u);
  EXPECT_EQ(stages[0], texts_.Text("Messages", "MSG0703") + " fat16-deleted.img");
  // A fast scan counts no sectors: those controls stay hidden.
  EXPECT_FALSE(view_.visible("sectors"));
  EXPECT_EQ(view_.texts("percent").back(), texts_.Text("Messages", "MSG0704") + " 100%");
}

TEST_F(ScanRecoverJobTest, SearchThenRecoverStoppedAfterTheSecondFileKeepsTwoAndShowsNoFinish) {
  ScanEntry entry = Entry(test::TestImage("fat16-deleted.img"));
  {
    ScanJob scan(view_, texts_, {&entry}, ScanOptions{});
    scan.Start();
    ASSERT_EQ(scan.Wait(), kJobDone);
  }
  TypeFilter all;
  ASSERT_TRUE(ParseTypeFilter("all", all));
  std::vector<FoundItem> items;
  ASSERT_EQ(SelectForRecovery(*entry.engine, all, false, items), kSuccess);
  ASSERT_GE(items.size(), 3u);

  struct StoppingView : test::RecordingView {
    Job* job = nullptr;
    int rows = 0;
    void SetText(std::string_view control, const std::string& text) override {
      test::RecordingView::SetText(control, text);
      if (control == "DetailList" && ++rows == 2) job->Cancel();
    }
  } view;
  RecoverJob recover(view, texts_, *entry.engine, items, dir_ / "out", false);
  view.job = &recover;
  recover.Start();
  EXPECT_EQ(recover.Wait(), kJobCancelled);
  EXPECT_EQ(view.texts("DetailList").size(), 2u);
  EXPECT_EQ(recover.tally().recovered + recover.tally().failed, 2u);
  EXPECT_TRUE(recover.tally().stopped);
  EXPECT_FALSE(view.visible("FinishBtn"));
  EXPECT_EQ(view.texts("recovered").back(),
            FillIn(texts_.Text("Messages", "MSG1102"),
                   {"2", std::to_string(items.size()), std::to_string(recover.tally().recovered),
                    std::to_string(recover.tally().failed)}));
}

}  // namespace
}  // namespace kestrel
