#include <gtest/gtest.h>

#include "support/ntfs_record_builder.h"
#include "engines/deep/deep_ntfs_recovery.h"
#include "catalogue/scan_log_paths.h"
#include "platform/byte_view.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;
using test::DataRun;
using test::MakeRecord;

class DeepNtfs : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_.assign(8 * 1024 * 1024, 0);
  }
  void Put(uint64_t sector, const std::vector<uint8_t>& record) {
    std::copy(record.begin(), record.end(), disk_.begin() + static_cast<std::ptrdiff_t>(sector * 512));
  }
  void Open() {
    test::WriteFile(dir_ / "disk.img", disk_);
    ASSERT_EQ(ntfs_.OpenImage(dir_ / "disk.img", 0), 0);
    StartNewScanFolder();
    ASSERT_EQ(ntfs_.BeginScan(std::nullopt), 0);
  }
  std::vector<FoundFileRecord> List(const FoundFileRecord* dir, int32_t level) {
    std::vector<FoundFileRecord> out;
    EXPECT_EQ(ntfs_.ListChildren(dir, level, out), 0);
    return out;
  }
  TempDir dir_;
  std::vector<uint8_t> disk_;
  CProfessionalNtfsRecovery ntfs_;
};

TEST_F(DeepNtfs, WithoutBootSectorOrMftParentsAreFoundNextToTheRecord) {
  // File 70 at sector 2000: its table is taken as contiguous, so folder 40
  // lies 30 records (60 sectors) before it; folder 41 was overwritten by a file.
  Put(2000, MakeRecord(70, 1, "photo.txt", 40, DataRun{100, 2, 8192, 5000}));
  Put(1940, MakeRecord(40, 3, "Holiday", 5));
  Put(2002, MakeRecord(71, 1, "orphan.txt", 41));
  Put(1942, MakeRecord(41, 1, "not a folder.txt", 5));
  Open();
  ntfs_.OnFileRecord(MakeRecord(70, 1, "photo.txt", 40, DataRun{100, 2, 8192, 5000}).data(), 2000);
  ntfs_.OnFileRecord(MakeRecord(71, 1, "orphan.txt", 41).data(), 2002);
  ASSERT_EQ(ntfs_.FinishScan(), 0);
  auto root = List(nullptr, 0);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].Name(), "Holiday");
  EXPECT_EQ(root[1].Name(), "LostFolder41");
  auto holiday = List(&root[0], 1);
  ASSERT_EQ(holiday.size(), 1u);
  EXPECT_EQ(holiday[0].Name(), "photo.txt");
  EXPECT_EQ(holiday[0].partitionStart, 0u);
  // The cluster size comes from the record: 8,192 bytes in 2 clusters.
  EXPECT_EQ(holiday[0].clusterBytes, 4096);
  EXPECT_EQ(holiday[0].size, 5000u);
  auto lost = List(&root[1], 1);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].Name(), "orphan.txt");
}

TEST_F(DeepNtfs, ASecondScanInTheSameMinuteStartsWithAnEmptyStore) {
  Open();
  ntfs_.OnFileRecord(MakeRecord(70, 1, "photo.txt", 5, DataRun{100, 2, 8192, 5000}).data(), 2000);
  ASSERT_EQ(ntfs_.FinishScan(), 0);
  ASSERT_EQ(ntfs_.GetFoundCount(), 1u);
  CProfessionalNtfsRecovery again;
  ASSERT_EQ(again.OpenImage(dir_ / "disk.img", 0), 0);
  ASSERT_EQ(again.BeginScan(std::nullopt), 0);
  EXPECT_NE(again.log()->recordsPath(), ntfs_.log()->recordsPath());
  EXPECT_EQ(again.log()->TotalRecords(), 0u);
}

TEST_F(DeepNtfs, MftRecordGivesTheOriginOfAVolumeInsideADisk) {
  // A volume starting at sector 6000 with 8 sectors per cluster and its
  // $MFT at cluster 4: record n lies at 6000 + 32 + 2n.
  auto mft = MakeRecord(0, 1, "$MFT", 5, DataRun{4, 8, 8 * 4096, 8 * 4096});
  Put(6032, mft);
  Put(6032 + 2 * 30, MakeRecord(30, 3, "Docs", 5));
  Put(6032 + 2 * 31, MakeRecord(31, 1, "a.txt", 30, DataRun{20, 1, 4096, 10}));
  Open();
  ntfs_.OnFileRecord(mft.data(), 6032);
  ntfs_.OnFileRecord(MakeRecord(31, 1, "a.txt", 30, DataRun{20, 1, 4096, 10}).data(), 6032 + 62);
  ASSERT_EQ(ntfs_.mftMapSize(), 1u);
  ntfs_.FinishScan();
  auto root = List(nullptr, 0);
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root[0].Name(), "Docs");
  auto docs = List(&root[0], 1);
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_EQ(docs[0].partitionStart, 6000u);
}

TEST_F(DeepNtfs, MftMapStaysBoundedAndParentsAreQueuedOnce) {
  Open();
  // Many distinct $MFT copies: the map keeps at most its bound.
  for (uint64_t i = 0; i < kNtfsMftMapLimit + 20; ++i) {
    ntfs_.OnFileRecord(MakeRecord(0, 1, "$MFT", 5, DataRun{uint8_t(4 + i % 100), 8, 8 * 4096, 8 * 4096}).data(),
                       10000 + 64 * i);
  }
  EXPECT_EQ(ntfs_.mftMapSize(), kNtfsMftMapLimit);
  // Records naming ever new parents: each parent is queued once.
  for (uint32_t n = 0; n < 300; ++n) {
    ntfs_.OnFileRecord(MakeRecord(1000 + n, 1, "f.txt", 500 + n / 2).data(), 200000 + 2 * n);
  }
  EXPECT_EQ(ntfs_.directoryQueueSize(), 150u);
}

}  // namespace
}  // namespace kestrel
