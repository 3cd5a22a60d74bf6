#include "app/found_items.h"

#include <gtest/gtest.h>

#include "support/fake_engine.h"

namespace kestrel {
namespace {

TEST(FoundItems, CollectWalksFoldersBreadthFirstWithTheirPaths) {
  test::FakeEngine engine;
  auto photos = engine.Add(nullptr, "DCIM", true);
  engine.Add(nullptr, "top.txt", false);
  auto inner = engine.Add(&photos, "100CANON", true);
  engine.Add(&inner, "IMG_1.JPG", false);
  std::vector<FoundItem> found;
  ASSERT_EQ(CollectFound(engine, found), kSuccess);
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].record.Name(), "DCIM");
  EXPECT_EQ(found[1].record.Name(), "top.txt");
  EXPECT_EQ(found[2].record.Name(), "100CANON");
  EXPECT_EQ(found[2].folder, "DCIM/");
  EXPECT_EQ(found[2].level, 1);
  EXPECT_EQ(found[3].folder, "DCIM/100CANON/");
  EXPECT_EQ(found[3].level, 2);
}

TEST(FoundItems, ALoopInTheIndexEndsAndAListingErrorIsReturned) {
  test::FakeEngine engine;
  auto a = engine.Add(nullptr, "a", true);
  auto b = engine.Add(&a, "b", true);
  engine.Link(b, b);  // b lists itself: each level meets it once more, until the depth bound
  std::vector<FoundItem> found;
  ASSERT_EQ(CollectFound(engine, found), kSuccess);
  EXPECT_GT(found.size(), 2u);
  EXPECT_LE(found.size(), 1030u);

  test::FakeEngine broken;
  broken.Add(nullptr, "x", false);
  broken.FailListing(kErrReadFault);
  found.clear();
  EXPECT_EQ(CollectFound(broken, found), kErrReadFault);
}

TEST(FoundItems, SummaryCountsFoldersApartAndFilesByCategory) {
  std::vector<FoundItem> found(7);
  const char* names[] = {"DCIM", "a.JPG", "b.png", "song.mp3", "clip.mkv", "report.pdf", "unknown.bin"};
  for (size_t i = 0; i < found.size(); ++i) found[i].record.SetName(names[i]);
  found[0].record.isDirectory = 1;
  ScanSummary summary = SummariseFound(found);
  EXPECT_EQ(summary.files, 6u);
  EXPECT_EQ(summary.folders, 1u);
  std::array<uint64_t, 6> expected = {2, 1, 1, 1, 0, 1};  // photo audio video document archive others
  EXPECT_EQ(summary.filesByCategory, expected);
  EXPECT_EQ(SummariseFound({}).files, 0u);
}

}  // namespace
}  // namespace kestrel
