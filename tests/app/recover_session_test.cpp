#include "app/recover_session.h"

#include <gtest/gtest.h>

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
  engine.recoveries["full.jpg"] = {true, kErrDiskFull, kSuccess, true};
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
      {"good.jpg", kSuccess}, {"full.jpg", kErrDiskFull}, {"silent.jpg", kErrReadFault},
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

TEST(PrepareDestinationFolder, MakesParentsAndRefusesAFile) {
  test::TempDir out;
  EXPECT_EQ(PrepareDestinationFolder(out / "a/b/c"), kSuccess);
  EXPECT_TRUE(std::filesystem::is_directory(out / "a/b/c"));
  test::WriteFile(out / "file", {1});
  EXPECT_NE(PrepareDestinationFolder(out / "file"), kSuccess);
  EXPECT_NE(PrepareDestinationFolder(out / "file/below"), kSuccess);
}

}  // namespace
}  // namespace kestrel
