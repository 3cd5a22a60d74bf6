// kestrel-cli scan and recover on the FAT test images, against the SHA-256 list
// that the image script wrote beside them.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kestrel {
namespace {

std::vector<test::ExpectedFile> ExpectedFor(const std::string& image) {
  return test::ExpectedFiles("fat-expected.txt", image);
}

class FatRecoverCommand : public ::testing::TestWithParam<std::string> {};

TEST_P(FatRecoverCommand, KeepPathsGivesEveryIntactFileByteExact) {
  std::string image = GetParam();
  auto expected = ExpectedFor(image);
  ASSERT_GE(expected.size(), 10u);
  test::TempDir dest;
  auto result = test::RunCli({"recover", test::TestImage(image).string(), dest.path().string(), "--types", "all",
                              "--keep-paths"});
  // The partly reused file fails; everything else succeeds.
  EXPECT_EQ(result.exitCode, 1) << result.err;
  size_t intact = 0;
  for (const auto& e : expected) {
    auto path = dest / e.path;
    // A partly recovered file carries the mark in its name.
    if (e.status == "partial") path.replace_filename(path.stem().string() + ".partial" + path.extension().string());
    if (e.status == "absent") {
      EXPECT_FALSE(std::filesystem::exists(path)) << e.path;
      continue;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << e.path << "\n" << result.err;
    EXPECT_EQ(test::Sha256Hex(path), e.sha256) << e.path;
    EXPECT_EQ(std::filesystem::file_size(path), e.size) << e.path;
    if (e.status == "intact") ++intact;
    if (e.status == "partial") {
      EXPECT_NE(result.err.find("failed: " + path.string() + ": incomplete"), std::string::npos) << result.err;
    }
  }
  EXPECT_NE(result.out.find("recovered " + std::to_string(intact) + ", failed 1"), std::string::npos)
      << result.out;
}

TEST_P(FatRecoverCommand, DefaultTypesSortIntoCategoryFolders) {
  test::TempDir dest;
  auto result = test::RunCli({"recover", test::TestImage(GetParam()).string(), dest.path().string()});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_TRUE(std::filesystem::exists(dest / "photo" / "Beach Day.jpg"));
  EXPECT_TRUE(std::filesystem::exists(dest / "photo" / "Без названия.bmp"));
  EXPECT_TRUE(std::filesystem::exists(dest / "audio" / "Song of the Sea.wav"));
  EXPECT_TRUE(std::filesystem::exists(dest / "video" / "Clip One.avi"));
  // Documents are not among the default types.
  EXPECT_FALSE(std::filesystem::exists(dest / "document"));

  // A second run into the same folder keeps what the first wrote, never writing over it or beside it.
  std::string before = test::Sha256Hex(dest / "photo" / "Beach Day.jpg");
  auto again = test::RunCli({"recover", test::TestImage(GetParam()).string(), dest.path().string(), "--types", "jpg"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dest / "photo" / "Beach Day(1).jpg"));
  EXPECT_EQ(test::Sha256Hex(dest / "photo" / "Beach Day.jpg"), before);
  EXPECT_NE(again.out.find("written by an earlier run"), std::string::npos) << again.out;
}

TEST_P(FatRecoverCommand, ScanListsRecordsWithTheirFolders) {
  auto result = test::RunCli({"scan", test::TestImage(GetParam()).string(), "--list"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("Photos/Holiday 2024/\tBeach Day.jpg\t4772\t"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Old Album/Summer 2019/\tLake View.jpg\t"), std::string::npos);
  EXPECT_EQ(result.out.find("No Archive Bit"), std::string::npos);
  EXPECT_EQ(result.out.find("Lost Cause"), std::string::npos);
  auto summary = test::RunCli({"scan", test::TestImage(GetParam()).string()});
  ASSERT_EQ(summary.exitCode, 0);
  EXPECT_NE(summary.out.find("Found 14 files"), std::string::npos) << summary.out;
}

INSTANTIATE_TEST_SUITE_P(Images, FatRecoverCommand,
                         ::testing::Values("fat12-deleted.img", "fat16-deleted.img", "fat32-deleted.img"),
                         [](const auto& info) { return info.param.substr(0, 5); });

TEST(RecoverCommand, BadUsageAndUnusableSourceExitTwo) {
  test::TempDir dest;
  EXPECT_EQ(test::RunCli({"recover", "/nonexistent.img", dest.path().string()}).exitCode, 2);
  EXPECT_EQ(test::RunCli({"recover", test::TestImage("probe-random.img").string(), dest.path().string()}).exitCode, 2);
  EXPECT_EQ(test::RunCli({"recover", test::TestImage("fat12-deleted.img").string(), dest.path().string(), "--types",
                          "*"}).exitCode,
            2);
  EXPECT_EQ(test::RunCli({"recover", test::TestImage("fat12-deleted.img").string()}).exitCode, 2);
}

TEST(RecoverCommand, NothingFailsWhenOnlyIntactTypesAreAsked) {
  test::TempDir dest;
  auto result = test::RunCli({"recover", test::TestImage("fat16-deleted.img").string(), dest.path().string(),
                              "--types", "png,gif"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("recovered 3, failed 0"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace kestrel
