// The layouts a deleted FAT file's clusters may have, on a made-up allocation.
#include "fs/fat/fat_deleted_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace kestrel {
namespace {

FatGeometry SmallVolume() {
  FatGeometry g;
  g.type = FatType::kFat16;
  g.bytesPerSector = 512;
  g.sectorsPerCluster = 1;
  g.clusterCount = 100;  // clusters 2 .. 101
  return g;
}

struct Allocation {
  std::set<uint32_t> used;
  std::map<uint32_t, uint32_t> claims;
  FatAllocationView View() const {
    return {[this](uint32_t c) { return used.count(c) != 0; },
            [this](uint32_t c) { return claims.count(c) ? claims.at(c) : 0u; }};
  }
};

TEST(DeletedFileLayouts, AFileThatFitsBeforeAnythingElseHasTheClassicLayoutOnly) {
  Allocation a;
  a.used = {20};
  auto layouts = DeletedFileLayouts(SmallVolume(), 10, 5 * 512, a.View());
  ASSERT_EQ(layouts.size(), 1u);
  EXPECT_EQ(layouts[0].kind, FatLayoutKind::kContiguous);
  EXPECT_TRUE(layouts[0].complete);
  EXPECT_EQ(layouts[0].clusters, (std::vector<uint32_t>{10, 11, 12, 13, 14}));
}

TEST(DeletedFileLayouts, LiveClustersArePassedOverAndTheClassicLayoutStopsAtThem) {
  Allocation a;
  a.used = {12, 13, 16};
  auto layouts = DeletedFileLayouts(SmallVolume(), 10, 5 * 512 - 100, a.View());
  ASSERT_EQ(layouts.size(), 2u);
  EXPECT_EQ(layouts[0].clusters, (std::vector<uint32_t>{10, 11}));
  EXPECT_FALSE(layouts[0].complete);
  EXPECT_EQ(layouts[1].kind, FatLayoutKind::kAroundLive);
  EXPECT_EQ(layouts[1].clusters, (std::vector<uint32_t>{10, 11, 14, 15, 17}));
  EXPECT_TRUE(layouts[1].complete);
}

TEST(DeletedFileLayouts, OtherDeletedFilesRunsArePassedOverTogetherAndOneAtATime) {
  Allocation a;
  a.used = {12};
  a.claims = {{14, 2}, {18, 1}, {10, 9}};  // 10 is the file's own start: never passed over
  auto layouts = DeletedFileLayouts(SmallVolume(), 10, 4 * 512, a.View());
  std::vector<std::vector<uint32_t>> got;
  for (const auto& l : layouts) got.push_back(l.clusters);
  std::vector<std::vector<uint32_t>> want = {
      {10, 11},              // classic: stops at 12
      {10, 11, 13, 14},      // around live
      {10, 11, 13, 16},      // around every claimed run (14-15)
  };
  // Passing over 14-15 alone equals the line above and is left out; 18 is
  // not on the way of the around-live layout.
  EXPECT_EQ(got, want);
  EXPECT_EQ(layouts[2].kind, FatLayoutKind::kAroundOthers);
}

TEST(DeletedFileLayouts, TheVolumeEndLeavesTheLayoutIncompleteAndNoClusterIsNoLayout) {
  Allocation a;
  auto layouts = DeletedFileLayouts(SmallVolume(), 99, 10 * 512, a.View());
  ASSERT_FALSE(layouts.empty());
  for (const auto& l : layouts) {
    EXPECT_FALSE(l.complete);
    EXPECT_EQ(l.clusters.back(), 101u);
  }
  EXPECT_TRUE(DeletedFileLayouts(SmallVolume(), 1, 512, a.View()).empty());
  EXPECT_TRUE(DeletedFileLayouts(SmallVolume(), 102, 512, a.View()).empty());
}

}  // namespace
}  // namespace kestrel
