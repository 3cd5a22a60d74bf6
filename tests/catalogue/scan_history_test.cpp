#include "catalogue/scan_history.h"

#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

ScanResumeState State(uint64_t base) { return {base, base + 1, base + 2, base + 3, base + 4}; }

fs::path MakeScanFolder(const fs::path& root, uint64_t n) {
  fs::path folder = ScanFolderPath(root, n);
  fs::create_directories(folder);
  test::WriteFile(folder / "Pro_Fat_2048_20261279 5", {1, 2, 3});
  return folder;
}

TEST(ScanHistory, RoundTripsEveryFieldThroughTheFile) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  const fs::path image = dir / "card é.img";
  test::WriteFile(image, std::vector<uint8_t>(4096, 0));
  {
    ScanHistory history(root);
    ASSERT_EQ(history.LoadHistory(), 0);
    EXPECT_EQ(history.scanCounter(), 0u);
    history.StartNewScanFolder();
    history.StartNewScanFolder();
    ASSERT_EQ(history.RecordScanProgress({3, 2048, 1000000, 123456789, {}}, State(10), ScanFolderPath(root, 1)), 0);
    ASSERT_EQ(history.RecordScanProgress({-1, 0, 8, 0, image}, State(20), ScanFolderPath(root, 2)), 0);
    // An update rewrites the resume state of the same entry.
    ASSERT_EQ(history.RecordScanProgress({3, 2048, 1000000, 123456789, {}}, State(30), ScanFolderPath(root, 1)), 0);
  }
  EXPECT_EQ(fs::file_size(root / "config"), 8u + 2 * 1120u);
  EXPECT_FALSE(fs::exists(root / "config.tmp"));

  ScanHistory again(root);
  ASSERT_EQ(again.LoadHistory(), 0);
  EXPECT_EQ(again.scanCounter(), 2u);
  ASSERT_EQ(again.entries().size(), 2u);
  const auto& part = again.entries()[0];
  EXPECT_EQ(part.driveNumber, 3);
  EXPECT_EQ(part.firstSector, 2048u);
  EXPECT_EQ(part.sectorCount, 1000000u);
  EXPECT_EQ(part.freeBytes, 123456789u);
  EXPECT_EQ(part.resume, State(30));
  EXPECT_TRUE(part.imagePath.empty());
  EXPECT_EQ(part.scanFolder, ScanFolderPath(root, 1));
  const auto& img = again.entries()[1];
  EXPECT_EQ(img.imagePath, image);
  EXPECT_EQ(img.imageWriteTime, FileWriteTime(image));
  EXPECT_NE(img.imageWriteTime, 0u);
  EXPECT_EQ(img.resume, State(20));

  // Fixed offsets: counter, then entry fields; paths are UTF-16LE.
  auto bytes = test::ReadFile(root / "config");
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[8], 3);                          // drive number
  EXPECT_EQ(bytes[8 + 8] | bytes[8 + 9] << 8, 2048);  // first sector
  EXPECT_EQ(bytes[8 + 24], 30);                    // range start
  const std::string folder = ScanFolderPath(root, 1).string();
  EXPECT_EQ(bytes[8 + 600], static_cast<uint8_t>(folder[0]));
  EXPECT_EQ(bytes[8 + 601], 0);
  EXPECT_EQ(bytes[8 + 602], static_cast<uint8_t>(folder[1]));
  EXPECT_EQ(bytes[8 + 600 + 2 * folder.size()], 0);
  EXPECT_EQ(folder.back(), '/');
}

TEST(ScanHistory, CompletesAnInterruptedSaveFromTheTemporaryFile) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  {
    ScanHistory history(root);
    history.StartNewScanFolder();
    ASSERT_EQ(history.RecordScanProgress({1, 63, 500, 77, {}}, State(5), ScanFolderPath(root, 1)), 0);
  }
  fs::rename(root / "config", root / "config.tmp");
  ScanHistory history(root);
  ASSERT_EQ(history.LoadHistory(), 0);
  EXPECT_TRUE(fs::exists(root / "config"));
  EXPECT_FALSE(fs::exists(root / "config.tmp"));
  EXPECT_EQ(history.scanCounter(), 1u);
  ASSERT_EQ(history.entries().size(), 1u);
  EXPECT_EQ(history.entries()[0].resume, State(5));
}

TEST(ScanHistory, ALeftoverTemporaryFileNeverReplacesACompleteHistory) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  {
    ScanHistory history(root);
    history.StartNewScanFolder();
    ASSERT_EQ(history.SaveHistory(), 0);
  }
  test::WriteFile(root / "config.tmp", {9, 9, 9});  // a save that died half way
  ScanHistory history(root);
  ASSERT_EQ(history.LoadHistory(), 0);
  EXPECT_EQ(history.scanCounter(), 1u);
}

TEST(ScanHistory, MissingShortOrTornFilesLoadWhatIsWhole) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  ScanHistory history(root);
  EXPECT_EQ(history.LoadHistory(), 0);
  EXPECT_TRUE(history.entries().empty());
  fs::create_directories(root);
  test::WriteFile(root / "config", {7, 0, 0});
  EXPECT_EQ(history.LoadHistory(), 0);
  EXPECT_EQ(history.scanCounter(), 0u);
  std::vector<uint8_t> torn(8 + 1120 + 500, 0);
  torn[0] = 4;
  torn[8] = 2;
  test::WriteFile(root / "config", torn);
  EXPECT_EQ(history.LoadHistory(), 0);
  EXPECT_EQ(history.scanCounter(), 4u);
  EXPECT_EQ(history.entries().size(), 1u);
  EXPECT_EQ(history.entries()[0].driveNumber, 2);
}

TEST(ScanHistory, PartitionScanIsValidOnlyWhileFreeBytesAreUnchanged) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  ScanHistory history(root);
  history.StartNewScanFolder();
  const fs::path folder = MakeScanFolder(root, 1);
  ASSERT_EQ(history.RecordScanProgress({0, 2048, 4096, 1000, {}}, State(1), folder), 0);

  ScanHistoryEntry entry;
  EXPECT_EQ(history.FindSavedPartitionScan(0, 4096, 4096, 1000, entry), 0);  // other partition
  ASSERT_EQ(history.FindSavedPartitionScan(0, 2048, 4096, 1000, entry), 1);
  EXPECT_EQ(entry.resume, State(1));
  EXPECT_TRUE(history.resumeMatched());
  EXPECT_EQ(history.CurrentScanFolder(), folder);

  // Something was written to the volume since: the saved scan is gone.
  EXPECT_EQ(history.FindSavedPartitionScan(0, 2048, 4096, 999, entry), 0);
  EXPECT_FALSE(history.resumeMatched());
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(history.entries().empty());
  EXPECT_EQ(history.CurrentScanFolder(), ScanFolderPath(root, 1));
}

TEST(ScanHistory, ImageScanIsDroppedWhenTheImageChanged) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  const fs::path image = dir / "disk.img";
  test::WriteFile(image, std::vector<uint8_t>(1024, 0));
  struct utimbuf old{1700000000, 1700000000};
  ASSERT_EQ(::utime(image.c_str(), &old), 0);
  ScanHistory history(root);
  history.StartNewScanFolder();
  const fs::path folder = MakeScanFolder(root, 1);
  ASSERT_EQ(history.RecordScanProgress({-1, 0, 2, 0, image}, State(7), folder), 0);
  ScanHistoryEntry entry;
  ASSERT_EQ(history.FindSavedImageScan(image, entry), 1);
  EXPECT_EQ(entry.resume, State(7));
  struct utimbuf later{1700000100, 1700000100};
  ASSERT_EQ(::utime(image.c_str(), &later), 0);
  EXPECT_EQ(history.FindSavedImageScan(image, entry), 0);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(history.entries().empty());
}

TEST(ScanHistory, NewScanFolderNumberClearsALeftoverFolder) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  ScanHistory history(root);
  const fs::path leftover = MakeScanFolder(root, 1);
  history.StartNewScanFolder();
  EXPECT_EQ(history.scanCounter(), 1u);
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_EQ(history.CurrentScanFolder(), ScanFolderPath(root, 1));
}

TEST(ScanHistory, DeletesOnlyNumberedFoldersInsideItsRoot) {
  test::TempDir dir;
  const fs::path root = dir / "ScanLog";
  const fs::path outside = dir / "precious" / "7" / "";
  fs::create_directories(outside);
  test::WriteFile(outside / "keep", {1});
  fs::create_directories(root / "notes");
  ScanHistory history(root);
  ASSERT_EQ(history.RecordScanProgress({1, 2, 3, 4, {}}, State(0), outside), 0);
  history.DeleteSavedScan(outside);
  EXPECT_TRUE(history.entries().empty());  // the entry goes,
  EXPECT_TRUE(fs::exists(outside / "keep"));  // the foreign folder stays
  history.DeleteSavedScan(root / "notes");
  EXPECT_TRUE(fs::exists(root / "notes"));
  history.DeleteSavedScan(root / "..");
  EXPECT_TRUE(fs::exists(root));
}

TEST(ScanHistory, RefusesPathsTooLongForTheirField) {
  test::TempDir dir;
  ScanHistory history(dir / "ScanLog");
  const fs::path longFolder = dir / std::string(250, 'x') / "";
  EXPECT_EQ(history.RecordScanProgress({1, 2, 3, 4, {}}, State(0), longFolder), kErrInvalidParameter);
  EXPECT_TRUE(history.entries().empty());
}

TEST(ScanLogPaths, StoreNamesRightAlignTheMinute) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 7;
  when.tm_hour = 9;
  when.tm_min = 5;
  EXPECT_EQ(FastStoreName(2048, when), "Fast_2048_20261279 5");
  EXPECT_EQ(ProFatStoreName(2048, when), "Pro_Fat_2048_20261279 5");
  EXPECT_EQ(ProNtfsStoreName(0, when), "Pro_Ntfs_0_20261279 5");
  EXPECT_EQ(FileTypeStoreName(-1, when), "File_Type_-1_20261279 5");
  when.tm_min = 42;
  EXPECT_EQ(FastStoreName(63, when), "Fast_63_2026127942");
}

TEST(ScanLogPaths, RootFollowsXdgDataHome) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  std::string keep = saved ? saved : "";
  setenv("XDG_DATA_HOME", "/some/where", 1);
  EXPECT_EQ(ScanLogRoot(), fs::path("/some/where/Kestrel/ScanLog"));
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_NE(ScanLogRoot(), fs::path("relative/Kestrel/ScanLog"));
  if (saved) setenv("XDG_DATA_HOME", keep.c_str(), 1); else unsetenv("XDG_DATA_HOME");
}

TEST(ScanLogPaths, FindStoreByPrefixReturnsOnlyRecordsFiles) {
  test::TempDir dir;
  std::string name;
  EXPECT_EQ(FindStoreByPrefix("Fast_", name, dir / "missing"), 0);
  test::WriteFile(dir / ".Fast_hidden", {1});
  test::WriteFile(dir / "Fast_2048_20261279 5_Relation", {1});
  test::WriteFile(dir / "Fast_2048_20261279 5_DirInfo", {1});
  EXPECT_EQ(FindStoreByPrefix("Fast_", name, dir.path()), 0);
  test::WriteFile(dir / "Fast_2048_20261279 5", {1});
  test::WriteFile(dir / "Pro_Fat_2048_20261279 5", {1});
  ASSERT_EQ(FindStoreByPrefix("Fast_", name, dir.path()), 1);
  EXPECT_EQ(name, "Fast_2048_20261279 5");
  ASSERT_EQ(FindStoreByPrefix("Pro_Fat_", name, dir.path()), 1);
  EXPECT_EQ(name, "Pro_Fat_2048_20261279 5");
  EXPECT_EQ(FindStoreByPrefix("fast_", name, dir.path()), 0);  // case-sensitive
}

}  // namespace
}  // namespace kestrel
