// A finished scan (fast or deep) is reused only while its source is
// unchanged: asked for with --reuse-scan, the same list comes back from the
// saved scan, and a source whose size or modification time moved is scanned
// again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReused = "has not changed since its last scan: reusing that scan";

TEST(SavedScanReuse, AnUnchangedImageIsReusedAndAChangedOneScannedAgain) {
  test::TempDir work;
  fs::path card = work / "card.img";
  fs::copy_file(test::TestImage("fat16-outcomes.img"), card);

  auto first = test::RunCli({"scan", card.string(), "--list"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.err.find(kReused), std::string::npos) << first.err;

  auto reused = test::RunCli({"scan", card.string(), "--list", "--reuse-scan"});
  ASSERT_EQ(reused.exitCode, 0) << reused.err;
  EXPECT_NE(reused.err.find(std::string(kReused) + " (leave out --reuse-scan to scan it again)"), std::string::npos)
      << reused.err;
  EXPECT_EQ(reused.out, first.out);
  // Files read back from a reused scan are the files a fresh scan gives.
  auto fromSaved = test::RunCli({"recover", card.string(), (work / "a").string(), "--types", "all", "--reuse-scan"});
  auto fromScan = test::RunCli({"recover", card.string(), (work / "b").string(), "--types", "all"});
  EXPECT_NE(fromSaved.err.find(kReused), std::string::npos) << fromSaved.err;
  EXPECT_EQ(fromScan.err.find(kReused), std::string::npos) << fromScan.err;
  EXPECT_EQ(test::Sha256Hex(work / "a" / "photo" / "!EW.JPG"), test::Sha256Hex(work / "b" / "photo" / "!EW.JPG"));
  EXPECT_TRUE(fs::exists(work / "a" / "photo" / "!AST.partial.JPG"));

  // A new modification time alone, to the nanosecond, is a changed source.
  struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123}};
  ASSERT_EQ(::utimensat(AT_FDCWD, card.c_str(), times, 0), 0);
  auto touched = test::RunCli({"scan", card.string(), "--list", "--reuse-scan"});
  EXPECT_EQ(touched.err.find(kReused), std::string::npos) << touched.err;
  EXPECT_EQ(touched.out, first.out);

  // Cut short: scanned again.
  fs::resize_file(card, fs::file_size(card) / 2);
  auto cut = test::RunCli({"scan", card.string(), "--list", "--reuse-scan"});
  EXPECT_EQ(cut.err.find(kReused), std::string::npos) << cut.err;
}

// Every recovered file's SHA-256 by its path under folder (the report left out:
// it names its own destination).
std::map<std::string, std::string> RecoveredFiles(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().filename() == "recovery-report.json") continue;
    files[fs::relative(entry.path(), folder).string()] = test::Sha256Hex(entry.path());
  }
  return files;
}

TEST(SavedScanReuse, AFinishedDeepScanIsReopenedWhileTheImageIsUnchanged) {
  test::TempDir work;
  fs::path card = work / "card.img";
  fs::copy_file(test::TestImage("deep-fat16-outcomes.img"), card);

  auto first = test::RunCli({"scan", card.string(), "--deep", "--list"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.err.find(kReused), std::string::npos) << first.err;
  auto reused = test::RunCli({"scan", card.string(), "--deep", "--list", "--reuse-scan"});
  ASSERT_EQ(reused.exitCode, 0) << reused.err;
  EXPECT_NE(reused.err.find(std::string(kReused) + " (leave out --reuse-scan to scan it again)"), std::string::npos)
      << reused.err;
  EXPECT_EQ(reused.out, first.out);

  // Read back from the reopened stores, every file (the lost folders' files
  // placed on the volume's clusters among them) is the one a fresh deep scan
  // recovers.
  auto fromSaved =
      test::RunCli({"recover", card.string(), (work / "a").string(), "--deep", "--types", "all", "--reuse-scan"});
  EXPECT_NE(fromSaved.err.find(kReused), std::string::npos) << fromSaved.err;
  auto fromScan = test::RunCli({"recover", card.string(), (work / "b").string(), "--deep", "--types", "all"});
  EXPECT_EQ(fromScan.err.find(kReused), std::string::npos) << fromScan.err;
  auto recovered = RecoveredFiles(work / "a");
  EXPECT_EQ(recovered, RecoveredFiles(work / "b"));
  EXPECT_TRUE(recovered.contains("photo/!OLIDAY.JPG"));

  // --restart asks for a fresh deep scan even with --reuse-scan.
  auto restarted = test::RunCli({"scan", card.string(), "--deep", "--list", "--reuse-scan", "--restart"});
  EXPECT_EQ(restarted.err.find(kReused), std::string::npos) << restarted.err;
  EXPECT_EQ(restarted.out, first.out);

  struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123}};
  ASSERT_EQ(::utimensat(AT_FDCWD, card.c_str(), times, 0), 0);
  auto touched = test::RunCli({"scan", card.string(), "--deep", "--list", "--reuse-scan"});
  EXPECT_EQ(touched.err.find(kReused), std::string::npos) << touched.err;
  EXPECT_EQ(touched.out, first.out);
}

// The deep exFAT finds are read with clusters the pass kept in memory only,
// so a deep scan that found any is scanned again rather than reopened.
TEST(SavedScanReuse, ADeepScanWithExfatFindsIsScannedAgain) {
  test::TempDir work;
  fs::path card = work / "card.img";
  fs::copy_file(test::TestImage("exfat-formatted.img"), card);
  auto first = test::RunCli({"scan", card.string(), "--deep", "--list"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  auto again = test::RunCli({"scan", card.string(), "--deep", "--list", "--reuse-scan"});
  EXPECT_EQ(again.err.find(kReused), std::string::npos) << again.err;
  EXPECT_EQ(again.out, first.out);
}

}  // namespace
}  // namespace kestrel
