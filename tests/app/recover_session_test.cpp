#include "app/recover_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/recovery_destination.h"
#include "support/fake_engine.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

TEST(ItemOutcome, TheItemsOwnFinalReportDecidesUnlessTheCallFailed) {
  EXPECT_EQ(ItemOutcome(true, kSuccess, kSuccess), kSuccess);
  EXPECT_EQ(ItemOutcome(true, kErrDiskFull, kSuccess), kErrDiskFull);
  EXPECT_EQ(ItemOutcome(true, kErrDiskFull, kErrReadFault), kErrDiskFull);
  // An error returned without being reported still fails the item.
  EXPECT_EQ(ItemOutcome(true, kSuccess, kErrReadFault), kErrReadFault);
  EXPECT_EQ(ItemOutcome(false, kSuccess, kErrReadFault), kErrReadFault);
  // A success never reported as finished is not trusted.
  EXPECT_EQ(ItemOutcome(false, kSuccess, kSuccess), kErrGeneralFailure);
}

TEST(RecoverItems, EachItemIsCountedByItsOutcomeAndReported) {
  test::TempDir out;
  test::FakeEngine engine;
  auto folder = engine.Add(nullptr, "DCIM", true);
  engine.Add(&folder, "good.jpg", false);
  engine.Add(&folder, "full.jpg", false);
  engine.Add(&folder, "silent.jpg", false);
  engine.Add(&folder, "unreported.jpg", false);
  engine.recoveries["full.jpg"] = {true, kErrAccessDenied, kSuccess, true};
  engine.recoveries["silent.jpg"] = {true, kSuccess, kErrReadFault, false};
  engine.recoveries["unreported.jpg"] = {false, kSuccess, kSuccess, true};

  std::vector<FoundItem> items;
  ASSERT_EQ(SelectForRecovery(engine, TypeFilter{true, ""}, false, items), kSuccess);
  ASSERT_EQ(items.size(), 4u);  // the folder is not an item to recover

  std::vector<std::pair<std::string, int>> done;
  std::vector<size_t> started;
  int32_t lastPercent = -1;
  RecoverHooks hooks;
  hooks.itemStarting = [&](size_t index, size_t total, const FoundItem&, const std::filesystem::path&) {
    EXPECT_EQ(total, 4u);
    started.push_back(index);
  };
  hooks.itemProgress = [&](int32_t percent) {
    lastPercent = percent;
    return true;
  };
  hooks.itemDone = [&](const FoundItem& item, const RecoveredFile& file) {
    done.emplace_back(std::string(item.record.Name()), file.error);
  };
  RecoveryTally tally = RecoverItems(engine, items, out.path(), true, hooks);
  EXPECT_EQ(tally.recovered, 1u);
  EXPECT_EQ(tally.failed, 3u);
  EXPECT_EQ(started, (std::vector<size_t>{1, 2, 3, 4}));
  EXPECT_EQ(lastPercent, 50);  // the unreported item stopped half way
  std::vector<std::pair<std::string, int>> expected = {
      {"good.jpg", kSuccess}, {"full.jpg", kErrAccessDenied}, {"silent.jpg", kErrReadFault},
      {"unreported.jpg", kErrGeneralFailure}};
  EXPECT_EQ(done, expected);
  EXPECT_EQ(engine.destinations.front(), out / "DCIM/good.jpg");
}

TEST(RecoverItems, CategoryFoldersWithoutKeepPathsAndNoFileWrittenOver) {
  test::TempDir out;
  test::FakeEngine engine;
  auto folder = engine.Add(nullptr, "a", true);
  engine.Add(&folder, "x.jpg", false);
  engine.Add(nullptr, "x.jpg", false);
  std::vector<FoundItem> items;
  ASSERT_EQ(SelectForRecovery(engine, TypeFilter{false, "*.jpg|"}, false, items), kSuccess);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].folder, "");  // paths are only looked up when asked for
  RecoveryTally tally = RecoverItems(engine, items, out.path(), false, {});
  EXPECT_EQ(tally.recovered, 2u);
  ASSERT_EQ(engine.destinations.size(), 2u);
  EXPECT_EQ(engine.destinations[0].parent_path(), out / "photo");
  EXPECT_NE(engine.destinations[0], engine.destinations[1]);
}

TEST(SelectForRecovery, ASearchThatCouldNotReadItsLogIsAnError) {
  test::FakeEngine engine;
  engine.Add(nullptr, "x.jpg", false);
  std::vector<FoundItem> items;
  engine.searchResult = 0;
  EXPECT_EQ(SelectForRecovery(engine, TypeFilter{false, "*.jpg|"}, true, items), kErrReadFault);
  engine.searchResult = kErrNotEnoughMemory;
  EXPECT_EQ(SelectForRecovery(engine, TypeFilter{false, "*.jpg|"}, true, items), kErrNotEnoughMemory);
  engine.FailListing(kErrReadFault);
  EXPECT_EQ(SelectForRecovery(engine, TypeFilter{true, ""}, true, items), kErrReadFault);
}

TEST(PrepareDestinationFolder, MakesParentsAndNamesTheFirstProblem) {
  test::TempDir out;
  std::string problem;
  EXPECT_EQ(PrepareDestinationFolder(out / "a/b/c", problem), kSuccess);
  EXPECT_TRUE(std::filesystem::is_directory(out / "a/b/c"));
  EXPECT_EQ(PrepareDestinationFolder(out / "a/b/c", problem), kSuccess);  // already there
  test::WriteFile(out / "file", {1});
  // The folder step used to lose this and say "cannot find the file (2)".
  EXPECT_EQ(PrepareDestinationFolder(out / "file", problem), kErrAlreadyExists);
  EXPECT_EQ(problem, "is a file, not a folder");
  EXPECT_EQ(PrepareDestinationFolder(out / "file/below/deeper", problem), kErrAlreadyExists);
  EXPECT_EQ(problem, (out / "file").string() + " is a file, not a folder");
  EXPECT_FALSE(std::filesystem::exists(out / "file/below"));
}

TEST(PrepareDestinationFolder, AFolderThatRefusesWritingIsRefusedInWords) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
  test::TempDir out;
  std::filesystem::create_directories(out / "locked");
  std::filesystem::permissions(out / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  std::string problem;
  EXPECT_EQ(PrepareDestinationFolder(out / "locked/new", problem), kErrAccessDenied);
  EXPECT_NE(problem.find("permission denied"), std::string::npos) << problem;
  EXPECT_EQ(PrepareDestinationFolder(out / "locked", problem), kErrAccessDenied);
  std::filesystem::permissions(out / "locked", std::filesystem::perms::owner_all);
}

TEST(RecoverItems, AFullDestinationStopsTheRunAtTheFirstFileThatDoesNotFit) {
  test::TempDir out;
  test::FakeEngine engine;
  std::vector<FoundItem> items;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) items.push_back({engine.Add(nullptr, name, false)});
  engine.recoveries["b.jpg"] = {true, kErrDiskFull, kErrDiskFull, false};
  // A leftover of a killed run goes before anything is written.
  std::filesystem::create_directories(out / "Photos");
  test::WriteFile(out / "Photos/.recovering-7-0.kestrel-part", {1});
  std::vector<std::string> done;
  RecoverHooks hooks;
  hooks.itemDone = [&](const FoundItem& item, const RecoveredFile& file) {
    done.push_back(std::string(item.record.Name()) + "=" + std::to_string(file.error));
  };
  RecoveryTally tally = RecoverItems(engine, items, out.path(), false, hooks);
  EXPECT_EQ(done, (std::vector<std::string>{"a.jpg=0", "b.jpg=112"}));
  EXPECT_EQ(tally.recovered, 1u);
  EXPECT_EQ(tally.failed, 1u);
  EXPECT_TRUE(tally.stoppedByFullDestination);
  EXPECT_EQ(tally.notAttempted, 2u);
  EXPECT_EQ(tally.leftoversRemoved, 1u);
  EXPECT_EQ(engine.destinations.size(), 2u);  // c and d never tried

  // Any other failure costs only its own file.
  engine.recoveries["b.jpg"] = {true, kErrReadFault, kErrReadFault, false};
  tally = RecoverItems(engine, items, out.path(), false, hooks);
  EXPECT_FALSE(tally.stoppedByFullDestination);
  EXPECT_EQ(tally.recovered + tally.failed, 4u);
}

}  // namespace
}  // namespace kestrel
