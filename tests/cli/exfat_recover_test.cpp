// kestrel-cli on the exFAT test images made by mkfs.exfat and exfat-fuse,
// against the SHA-256 list that the image script wrote beside them.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kestrel {
namespace {

std::vector<test::ExpectedFile> ExpectedFor(const std::string& image) {
  return test::ExpectedFiles("exfat-expected.txt", image);
}

TEST(ExfatCommands, ProbeNamesTheFileSystem) {
  for (const char* image : {"exfat-deleted.img", "exfat-formatted.img"}) {
    auto result = test::RunCli({"probe", test::TestImage(image).string()});
    EXPECT_EQ(result.exitCode, 0) << image;
    EXPECT_EQ(result.out, "exFAT\n") << image;
  }
}

TEST(ExfatCommands, KeepPathsGivesEveryDeletedFileByteExactUnderItsPath) {
  auto expected = ExpectedFor("exfat-deleted.img");
  ASSERT_GE(expected.size(), 11u);
  test::TempDir dest;
  auto result = test::RunCli({"recover", test::TestImage("exfat-deleted.img").string(), dest.path().string(),
                              "--types", "all", "--keep-paths"});
  // gap.zip's clusters went to a later file: found, written, and failed as damaged.
  EXPECT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  for (const auto& e : expected) {
    auto path = dest / e.path;
    ASSERT_TRUE(std::filesystem::exists(path)) << e.path << "\n" << result.out;
    EXPECT_EQ(std::filesystem::file_size(path), e.size) << e.path;
    EXPECT_EQ(test::Sha256Hex(path), e.sha256) << e.path;
  }
  // Live files are not listed as found.
  EXPECT_FALSE(std::filesystem::exists(dest / "DCIM/100CANON/IMG_0001.JPG"));
  EXPECT_FALSE(std::filesystem::exists(dest / "Scratch/keep.doc"));
}

TEST(ExfatCommands, ScanListsDeletedFoldersWithTheirFiles) {
  auto result = test::RunCli({"scan", test::TestImage("exfat-deleted.img").string(), "--list"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("Old Album/Summer 2019/\tLake View.jpg\t1466\t"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Scratch/\tFragmented Photo.jpg\t94833\t"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("tune.mp3"), std::string::npos) << result.out;
}

// After a quick format the root is new, so the top folders' names are gone:
// their contents come back in lost folders, with their own names and subfolders.
TEST(ExfatCommands, DeepRecoveryOfAQuickFormattedVolumeKeepsNamesAndFolders) {
  auto expected = ExpectedFor("exfat-formatted.img");
  ASSERT_GE(expected.size(), 11u);
  test::TempDir dest;
  auto result = test::RunCli({"recover", test::TestImage("exfat-formatted.img").string(), dest.path().string(),
                              "--types", "all", "--keep-paths", "--deep"});
  // The fragmented clip comes back whole in size but wrong inside: failed as damaged.
  EXPECT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  for (const auto& e : expected) {
    std::string below = e.path.substr(e.path.find('/') + 1);
    if (e.status == "fragmented") {
      std::filesystem::path marked = below;
      below = marked.replace_filename(marked.stem().string() + ".damaged" + marked.extension().string()).string();
    }
    std::filesystem::path found;
    for (const auto& entry : std::filesystem::directory_iterator(dest.path())) {
      if (entry.path().filename().string().rfind("LostFolder", 0) == 0 && std::filesystem::exists(entry.path() / below)) {
        found = entry.path() / below;
      }
    }
    ASSERT_FALSE(found.empty()) << below << "\n" << result.out;
    EXPECT_EQ(std::filesystem::file_size(found), e.size) << below;
    if (e.status == "intact") {
      EXPECT_EQ(test::Sha256Hex(found), e.sha256) << below;
    }
  }
}

}  // namespace
}  // namespace kestrel
