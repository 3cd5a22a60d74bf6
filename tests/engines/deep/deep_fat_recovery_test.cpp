#include <gtest/gtest.h>

#include <cstring>

#include "fs/fat/fat_dir_sectors.h"
#include "engines/deep/deep_fat_recovery.h"
#include "catalogue/scan_log_paths.h"
#include "platform/byte_view.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;

// A 32-byte directory entry with sane dates (2021-06-15 10:20:30).
void PutEntry(uint8_t* e, const char* name11, uint8_t attributes, uint32_t cluster, uint32_t size) {
  std::memcpy(e, name11, 11);
  e[11] = attributes;
  uint16_t date = uint16_t(((2021 - 1980) << 9) | (6 << 5) | 15);
  uint16_t time = uint16_t((10 << 11) | (20 << 5) | 15);
  PutLe16(e + 14, time);
  PutLe16(e + 16, date);
  PutLe16(e + 18, date);
  PutLe16(e + 20, uint16_t(cluster >> 16));
  PutLe16(e + 22, time);
  PutLe16(e + 24, date);
  PutLe16(e + 26, uint16_t(cluster));
  PutLe32(e + 28, size);
}

std::vector<uint8_t> StartSector(uint32_t own, uint32_t parent) {
  std::vector<uint8_t> s(512, 0);
  PutEntry(s.data(), ".          ", 0x10, own, 0);
  PutEntry(s.data() + 32, "..         ", 0x10, parent, 0);
  PutEntry(s.data() + 64, "DIARY   TXT", 0x20, own + 100, 1000);
  return s;
}

class DeepFat : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_ / "zeros.img";
    test::WriteFile(image_, std::vector<uint8_t>(3 * 1024 * 1024, 0));
    ASSERT_EQ(fat_.OpenImage(image_, 0), 0);
    StartNewScanFolder();  // a store of its own, whatever ran in this minute before
    ASSERT_EQ(fat_.BeginScan(std::nullopt), 0);
    fat_.ReadBootSector();
  }
  TempDir dir_;
  std::filesystem::path image_;
  CProfessionalFatRecovery fat_;
};

TEST_F(DeepFat, TwoStartSectorsGiveTheClusterGeometry) {
  fat_.OnDirectoryStart(StartSector(10, 0).data(), 5000);
  EXPECT_TRUE(fat_.candidates().empty());
  fat_.OnDirectoryStart(StartSector(14, 0).data(), 5032);
  ASSERT_EQ(fat_.candidates().size(), 1u);
  EXPECT_EQ(fat_.candidates()[0].sectorsPerCluster, 8u);
  EXPECT_EQ(fat_.candidates()[0].dataStart, 4936u);
  // A third start sector that the geometry already explains adds nothing.
  fat_.OnDirectoryStart(StartSector(12, 0).data(), 5016);
  EXPECT_EQ(fat_.candidates().size(), 1u);
  EXPECT_EQ(fat_.unplacedStartCount(), 2u);
}

TEST_F(DeepFat, ASecondScanInTheSameMinuteStartsWithAnEmptyStore) {
  fat_.OnDirectoryStart(StartSector(10, 0).data(), 5000);
  fat_.OnDirectoryStart(StartSector(14, 0).data(), 5032);
  ASSERT_EQ(fat_.FinishScan(), 0);
  ASSERT_GT(fat_.GetFoundCount(), 0u);
  CProfessionalFatRecovery again;
  ASSERT_EQ(again.OpenImage(image_, 0), 0);
  ASSERT_EQ(again.BeginScan(std::nullopt), 0);
  EXPECT_NE(again.log()->recordsPath(), fat_.log()->recordsPath());
  EXPECT_EQ(again.log()->TotalRecords(), 0u);
}

TEST_F(DeepFat, PairsThatCannotBeClustersGiveNoGeometry) {
  fat_.OnDirectoryStart(StartSector(10, 0).data(), 5000);
  fat_.OnDirectoryStart(StartSector(14, 0).data(), 5030);  // 30 / 4: not whole
  fat_.OnDirectoryStart(StartSector(20, 0).data(), 5030 + 3 * 6);  // 3 sectors per cluster
  EXPECT_TRUE(fat_.candidates().empty());
}

TEST_F(DeepFat, FilesWaitForAGeometryAndAreWrittenOnceOneIsKnown) {
  fat_.OnDirectoryStart(StartSector(10, 0).data(), 5000);
  EXPECT_EQ(fat_.pendingFileCount(), 1u);
  fat_.OnDirectoryStart(StartSector(14, 0).data(), 5032);
  // The first directory's file is now placed (its start sector fits), the
  // second one's was written directly.
  EXPECT_EQ(fat_.pendingFileCount(), 0u);
  fat_.FinishScan();
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(fat_.ListChildren(nullptr, 0, root), 0);
  // Neither folder's own entry was seen: two lost folders in the root.
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].Name(), "LostFolder10");
  EXPECT_EQ(root[1].Name(), "LostFolder14");
  std::vector<FoundFileRecord> inside;
  ASSERT_EQ(fat_.ListChildren(&root[0], 1, inside), 0);
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(inside[0].Name(), "DIARY.TXT");
  EXPECT_EQ(inside[0].itemKey, 110u);
  EXPECT_EQ(inside[0].dataStart, 4936u);
  EXPECT_EQ(inside[0].clusterBytes, 8 * 512);
}

TEST_F(DeepFat, PendingFilesAndLooseSectorsStayBounded) {
  // Start sectors that never pair (same cluster number everywhere) keep
  // their files pending; the list stops at its bound.
  std::vector<uint8_t> s = StartSector(7, 0);
  for (int i = 0; i < 14; ++i) PutEntry(s.data() + 64 + 32 * i, "PHOTO   JPG", 0x20, 200 + i, 1000);
  for (uint64_t n = 0; n < kFatPendingFileLimit / 14 + 10; ++n) fat_.OnDirectoryStart(s.data(), 6000 + n * 3);
  EXPECT_LE(fat_.pendingFileCount(), kFatPendingFileLimit);
  EXPECT_LE(fat_.unplacedStartCount(), kFatUnplacedStartLimit);
  std::vector<uint8_t> c(512, 0);
  PutEntry(c.data(), "NOTES   TXT", 0x20, 300, 10);
  size_t limit = kFatLooseSectorBytesLimit / 512;
  for (uint64_t n = 0; n < limit + 100; ++n) fat_.OnDirectoryContinuation(c.data(), 100000 + n);
  EXPECT_LE(fat_.looseSectorCount(), limit);
}

TEST(FatDirSectors, TellDirectorySectorsFromOtherData) {
  std::vector<uint8_t> start = StartSector(10, 0);
  EXPECT_TRUE(IsDirectoryStartSector(ByteView(start.data(), start.size())));
  std::vector<uint8_t> cont(512, 0);
  PutEntry(cont.data(), "NOTES   TXT", 0x20, 300, 10);
  EXPECT_TRUE(IsDirectoryContinuationSector(ByteView(cont.data(), cont.size())));
  // Bytes after the end mark must be zeros.
  cont[200] = 1;
  EXPECT_FALSE(IsDirectoryContinuationSector(ByteView(cont.data(), cont.size())));
  cont[200] = 0;
  // A name with a hole in it is no short name.
  std::memcpy(cont.data(), "NO TES  TXT", 11);
  EXPECT_FALSE(IsDirectoryContinuationSector(ByteView(cont.data(), cont.size())));
  // Dated before 1990 is implausible; 2050-01-01 00:00 still passes.
  PutEntry(cont.data(), "NOTES   TXT", 0x20, 300, 10);
  PutLe16(cont.data() + 24, uint16_t(((1989 - 1980) << 9) | (12 << 5) | 31));
  EXPECT_FALSE(IsDirectoryContinuationSector(ByteView(cont.data(), cont.size())));
  PutLe16(cont.data() + 24, uint16_t(((2050 - 1980) << 9) | (1 << 5) | 1));
  PutLe16(cont.data() + 22, 0);
  EXPECT_TRUE(IsDirectoryContinuationSector(ByteView(cont.data(), cont.size())));
  std::vector<uint8_t> zeros(512, 0);
  EXPECT_FALSE(IsDirectoryContinuationSector(ByteView(zeros.data(), zeros.size())));
}

}  // namespace
}  // namespace kestrel
