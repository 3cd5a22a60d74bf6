#include "app/scan_session.h"

#include <gtest/gtest.h>

#include "app/source.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

ScanSource Resolved(const std::filesystem::path& path) {
  ScanSource source;
  EXPECT_EQ(ResolveSource(path, source), kSuccess) << path;
  return source;
}

TEST(RunScan, SourcesThatCannotBeScannedSayWhy) {
  test::TempDir dir;
  test::WriteFile(dir / "short.img", std::vector<uint8_t>(100, 0));
  for (bool deep : {false, true}) {
    std::unique_ptr<IFileRecoveryParse> engine;
    ScanOutcome outcome = RunScan(Resolved(dir / "short.img"), {deep}, {}, engine);
    EXPECT_EQ(outcome.status, ScanStatus::kUnreadable);
    EXPECT_EQ(outcome.error, kErrHandleEof);
    EXPECT_FALSE(engine);
  }
  std::unique_ptr<IFileRecoveryParse> engine;
  ScanOutcome outcome = RunScan(Resolved(test::TestImage("probe-random.img")), {}, {}, engine);
  EXPECT_EQ(outcome.status, ScanStatus::kNoFileSystem);
  EXPECT_FALSE(engine);
}

TEST(RunScan, AFastScanLeavesTheEngineWithItsRecords) {
  std::unique_ptr<IFileRecoveryParse> engine;
  ScanOutcome outcome = RunScan(Resolved(test::TestImage("fat12-deleted.img")), {}, {}, engine);
  ASSERT_EQ(outcome.status, ScanStatus::kDone);
  ASSERT_TRUE(engine);
  std::vector<FoundFileRecord> root;
  EXPECT_EQ(engine->ListChildren(nullptr, 0, root), kSuccess);
  EXPECT_FALSE(root.empty());
}

// A deep scan stopped in its pass can be continued: the next run asks (only
// when the choice is kAsk), and a restart runs to the end without asking.
TEST(RunScan, AStoppedDeepScanIsSavedAndTheResumeQuestionFollowsTheChoice) {
  test::TempDir dir;
  test::WriteFile(dir / "card.img", test::ReadFile(test::TestImage("fat16-deleted.img")));
  ScanSource source = Resolved(dir / "card.img");

  int passes = 0;
  ScanHooks stopInPass;
  stopInPass.passStarting = [&] { ++passes; };
  stopInPass.progress = [](const ScanProgress& report) { return report.sectorsDone == 0; };
  std::unique_ptr<IFileRecoveryParse> engine;
  ScanOutcome stopped = RunScan(source, {true}, stopInPass, engine);
  ASSERT_EQ(stopped.status, ScanStatus::kStopped);
  EXPECT_TRUE(stopped.stateSaved);
  EXPECT_TRUE(engine);  // what was found before the stop stays listable
  engine.reset();       // the saved scan's stores close before the next run opens them
  EXPECT_EQ(passes, 1);

  int asked = 0;
  ScanHooks countAsks;
  countAsks.askResume = [&] {
    ++asked;
    return false;
  };
  ScanOutcome restarted = RunScan(source, {true, ResumeChoice::kRestart}, countAsks, engine);
  EXPECT_EQ(restarted.status, ScanStatus::kDone);
  EXPECT_EQ(asked, 0);

  ASSERT_EQ(RunScan(source, {true}, stopInPass, engine).status, ScanStatus::kStopped);
  ScanOutcome afresh = RunScan(source, {true, ResumeChoice::kAsk}, countAsks, engine);
  EXPECT_EQ(afresh.status, ScanStatus::kDone);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(engine);
}

}  // namespace
}  // namespace kestrel
