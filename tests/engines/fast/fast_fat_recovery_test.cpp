// The fast FAT engine on a synthetic FAT32 volume (sparse file, 70,000
// clusters) and on the committed images.
#include "engines/fast/fast_fat_recovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

#include "app/found_items.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

constexpr uint32_t kClusters = 70000;
constexpr uint32_t kFatSectors = (kClusters + 2) * 4 / 512 + 1;
constexpr uint32_t kReserved = 32;
constexpr uint32_t kFirstData = kReserved + 2 * kFatSectors;
constexpr uint32_t kDeletedDir = 65536 + 100;   // its entry keeps only the low word
constexpr uint32_t kDeletedJpeg = 65536 + 200;  // likewise
constexpr uint32_t kDecoyJpeg = 200;            // same low word, in use by a live file

class SyntheticFat32 : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "fat32.img";
    std::ofstream out(path_, std::ios::binary);
    std::vector<uint8_t> boot(512, 0);
    PutLe16(&boot[11], 512);
    boot[13] = 1;
    PutLe16(&boot[14], kReserved);
    boot[16] = 2;
    PutLe32(&boot[32], kFirstData + kClusters);
    PutLe32(&boot[36], kFatSectors);
    PutLe32(&boot[44], 2);
    std::memcpy(&boot[82], "FAT32   ", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    Put(0, boot);
    SetFat(2, 0x0FFFFFFF);           // root
    SetFat(kDecoyJpeg, 0x0FFFFFFF);  // a live file's cluster
    // Root: a deleted folder and a deleted empty file.
    std::vector<uint8_t> root;
    Add(root, Entry("\xE5OST       ", 0x10, kDeletedDir & 0xFFFF, 0));
    Add(root, Entry("\xE5MPTY   TXT", 0x20, 0, 0));
    Put(Sector(2), root);
    // The deleted folder: ".", "..", one deleted JPEG whose high word was cleared.
    std::vector<uint8_t> folder;
    Add(folder, Entry(".          ", 0x10, kDeletedDir, 0));
    Add(folder, Entry("..         ", 0x10, 0, 0));
    Add(folder, Entry("\xE5HOTO   JPG", 0x20, kDeletedJpeg & 0xFFFF, 700));
    Put(Sector(kDeletedDir), folder);
    jpeg_.assign(700, 0);
    for (size_t i = 0; i < jpeg_.size(); ++i) jpeg_[i] = uint8_t(i * 7 + 3);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    std::memcpy(jpeg_.data(), head, sizeof head);
    Put(Sector(kDeletedJpeg), jpeg_);
    Put(Sector(kDecoyJpeg), std::vector<uint8_t>(head, head + sizeof head));
    // The image ends at the last sector.
    Put(uint64_t(kFirstData + kClusters - 1) * 512, std::vector<uint8_t>(512, 0));
  }

  static std::array<uint8_t, 32> Entry(const char* name11, uint8_t attr, uint32_t cluster, uint32_t size) {
    std::array<uint8_t, 32> e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    PutLe16(&e[20], uint16_t(cluster >> 16));
    PutLe16(&e[22], 0x6CB5);
    PutLe16(&e[24], 0x50B1);
    PutLe16(&e[26], uint16_t(cluster));
    PutLe32(&e[28], size);
    return e;
  }
  static void Add(std::vector<uint8_t>& dir, const std::array<uint8_t, 32>& e) {
    dir.insert(dir.end(), e.begin(), e.end());
  }
  static uint64_t Sector(uint32_t cluster) { return uint64_t(kFirstData + cluster - 2) * 512; }
  void SetFat(uint32_t cluster, uint32_t value) {
    std::vector<uint8_t> v(4);
    PutLe32(v.data(), value);
    Put(uint64_t(kReserved) * 512 + cluster * 4, v);
  }
  void Put(uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    if (!f) f.open(path_, std::ios::binary | std::ios::out);
    f.seekp(std::streamoff(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  test::TempDir dir_;
  std::filesystem::path path_;
  std::vector<uint8_t> jpeg_;
};

struct ItemCalls {
  std::vector<std::pair<int, int>> calls;  // (percent, error)
  static int Callback(void* user, int32_t percent, int32_t, int32_t error, const std::filesystem::path&) {
    static_cast<ItemCalls*>(user)->calls.push_back({percent, error});
    return 0;
  }
};

TEST_F(SyntheticFat32, FindsDeletedFolderAndFileByHighWordSearch) {
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(path_, 0), kSuccess);
  ASSERT_EQ(engine.Scan(std::nullopt), kSuccess);
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, root), kSuccess);
  ASSERT_EQ(root.size(), 2u);  // the empty file, then the folder
  EXPECT_EQ(root[0].Name(), "!MPTY.TXT");
  ASSERT_EQ(root[1].Name(), "!OST");
  EXPECT_EQ(root[1].itemKey, kDeletedDir);
  EXPECT_EQ(root[1].isDeleted, 1u);
  std::vector<FoundFileRecord> inside;
  ASSERT_EQ(engine.ListChildren(&root[1], 1, inside), kSuccess);
  ASSERT_EQ(inside.size(), 1u);
  // Cluster 200 also starts like a JPEG, but it is in use: the free one is the file.
  EXPECT_EQ(inside[0].itemKey, kDeletedJpeg);
  EXPECT_TRUE(inside[0].FirstBlockValid());
  std::string folder;
  ASSERT_EQ(engine.GetItemPath(&inside[0], folder), kSuccess);
  EXPECT_EQ(folder, "!OST/");

  auto out = dir_ / "photo.jpg";
  test::WriteFile(out, std::vector<uint8_t>(5000, 0xEE));  // a longer file already there
  ItemCalls calls;
  engine.SetCallbacks(nullptr, ItemCalls::Callback, &calls, 100);
  ASSERT_EQ(engine.RecoverItem(&inside[0], out, 0), kSuccess);
  EXPECT_EQ(test::ReadFile(out), jpeg_) << "the old file's tail must not survive";
  ASSERT_FALSE(calls.calls.empty());
  EXPECT_EQ(calls.calls.back(), std::make_pair(100, 0));
}

TEST_F(SyntheticFat32, EmptyFileGivesEmptyOutputAndOneReport) {
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(path_, 0), kSuccess);
  ASSERT_EQ(engine.Scan(std::nullopt), kSuccess);
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, root), kSuccess);
  ASSERT_FALSE(root.empty());
  ItemCalls calls;
  engine.SetCallbacks(nullptr, ItemCalls::Callback, &calls, 100);
  auto out = dir_ / "empty.txt";
  test::WriteFile(out, std::vector<uint8_t>(100, 1));
  ASSERT_EQ(engine.RecoverItem(&root[0], out, 0), kSuccess);
  EXPECT_EQ(std::filesystem::file_size(out), 0u);
  EXPECT_EQ(calls.calls, (std::vector<std::pair<int, int>>{{100, 0}}));
}

TEST_F(SyntheticFat32, RecoversWholeFolderBelowDestination) {
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(path_, 0), kSuccess);
  ASSERT_EQ(engine.Scan(std::nullopt), kSuccess);
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, root), kSuccess);
  ASSERT_EQ(root.size(), 2u);
  // The folder lies at depth 1: its destination has one separator more than the root.
  auto target = dir_ / "out" / "Lost";
  ASSERT_EQ(engine.RecoverItem(&root[1], target, CountSeparators((dir_ / "out").string()) + 0), kSuccess);
  EXPECT_EQ(test::ReadFile(target / "!HOTO.JPG"), jpeg_);
}

TEST_F(SyntheticFat32, ClusterMapFreeExtentsSkipUsedClusters) {
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(path_, 0), kSuccess);
  uint64_t start = 0, length = 0;
  EXPECT_EQ(engine.NextFreeExtent(start, length), 0) << "no map yet";
  ASSERT_EQ(engine.BuildClusterMap(), kSuccess);
  start = 0;
  ASSERT_EQ(engine.NextFreeExtent(start, length), 1);
  EXPECT_EQ(start, kFirstData + 1u) << "cluster 2 (the root) is used, 3 is free";
  EXPECT_EQ(length, uint64_t(kDecoyJpeg - 3));
  start += length;
  ASSERT_EQ(engine.NextFreeExtent(start, length), 1);
  EXPECT_EQ(start, uint64_t(kFirstData + kDecoyJpeg - 1));
  EXPECT_EQ(start + length, uint64_t(kFirstData + kClusters)) << "the last run reaches the volume's end";
  start += length;
  ASSERT_EQ(engine.NextFreeExtent(start, length), 1);
  EXPECT_EQ(length, 0u);
}

TEST_F(SyntheticFat32, CancelStopsScanWithCallersValue) {
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(path_, 0), kSuccess);
  engine.SetCallbacks([](void*, int32_t, int32_t, int32_t, uint64_t, uint64_t, uint64_t, int32_t) { return kCancelled; },
                      nullptr, nullptr, 100);
  EXPECT_EQ(engine.Scan(std::nullopt), kCancelled);
}

TEST(FastFatRecovery, ListingRootNeedsLevelZero) {
  CFastFatRecovery engine;
  std::vector<FoundFileRecord> out(1);
  EXPECT_EQ(engine.ListChildren(nullptr, 1, out), kErrInvalidParameter);
  EXPECT_EQ(out.size(), 1u);
  EXPECT_EQ(engine.GetFoundCount(), 0u);
}

TEST(FastFatRecovery, NotAFatVolumeFailsScan) {
  CFastFatRecovery engine;
  EXPECT_NE(engine.OpenImage(test::TestImage("probe-ntfs.img"), 0), kSuccess);
  EXPECT_NE(engine.Scan(std::nullopt), kSuccess);
}

TEST(FastFatRecovery, FloppyRootRegionIsReadWhole) {
  // The FAT12 image is a 1.44 MB floppy: 14 root sectors, data from sector 33.
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(test::TestImage("fat12-deleted.img"), 0), kSuccess);
  EXPECT_EQ(engine.geometry().type, FatType::kFat12);
  EXPECT_EQ(engine.geometry().rootDirSectors, 14u);
  EXPECT_EQ(engine.geometry().firstDataSector, 33u);
  ASSERT_EQ(engine.Scan(std::nullopt), kSuccess);
  EXPECT_GT(engine.GetFoundCount(), 10u);
}

TEST(FastFatRecovery, ClusterMapUsesSixteenBitSectorCount) {
  // The floppy keeps its sector count only in the 16-bit field.
  CFastFatRecovery engine;
  ASSERT_EQ(engine.OpenImage(test::TestImage("fat12-deleted.img"), 0), kSuccess);
  ASSERT_EQ(engine.BuildClusterMap(), kSuccess);
  uint64_t start = 0, length = 0, free = 0;
  while (engine.NextFreeExtent(start, length) == 1 && length > 0) {
    free += length;
    start += length;
  }
  EXPECT_GT(free, 2000u) << "most of the floppy is free";
  EXPECT_LT(free, 2880u - 33u);
}

// Files by name from a scan of image.
std::map<std::string, FoundFileRecord> ScannedFiles(CFastFatRecovery& engine, const std::filesystem::path& image) {
  std::map<std::string, FoundFileRecord> out;
  std::vector<FoundItem> found;
  EXPECT_EQ(engine.OpenImage(image, 0), kSuccess);
  EXPECT_EQ(engine.Scan(std::nullopt), kSuccess);
  EXPECT_EQ(CollectFound(engine, found), kSuccess);
  for (const FoundItem& item : found) out[std::string(item.record.Name())] = item.record;
  return out;
}

// Whether a file can be read to its end is told from its clusters alone, as
// reading it would find: a placement that holds too few, or clusters past
// the end of a cut copy, mean it cannot.
TEST(FastFatReach, AShortPlacementOrACutSourceMeansTheEndCannotBeRead) {
  CFastFatRecovery whole;
  auto files = ScannedFiles(whole, test::TestImage("fat16-outcomes.img"));
  ASSERT_EQ(files.count("!OLIDAY.JPG"), 1u);
  EXPECT_EQ(whole.ReachOf(files["!OLIDAY.JPG"]), ItemReach::kWhole);
  EXPECT_EQ(whole.ReachOf(files["!EW.JPG"]), ItemReach::kWhole);
  EXPECT_EQ(whole.ReachOf(files["!AST.JPG"]), ItemReach::kCut);  // its run stops at a live file

  // Cut inside HOLIDAY.JPG (from sector 202, 94,833 bytes around C.BIN):
  // what lies wholly before the cut still reads to its end.
  test::TempDir work;
  std::filesystem::path cut = work / "cut.img";
  std::filesystem::copy_file(test::TestImage("fat16-outcomes.img"), cut);
  std::filesystem::resize_file(cut, 300 * 512);
  CFastFatRecovery shortened;
  auto cutFiles = ScannedFiles(shortened, cut);
  ASSERT_EQ(cutFiles.count("!OLIDAY.JPG"), 1u);
  EXPECT_EQ(shortened.ReachOf(cutFiles["!OLIDAY.JPG"]), ItemReach::kCut);
  EXPECT_EQ(shortened.ReachOf(cutFiles["!EW.JPG"]), ItemReach::kWhole);
  EXPECT_EQ(shortened.ReachOf(cutFiles["!.BIN"]), ItemReach::kWhole);
}

}  // namespace
}  // namespace kestrel
