// The command line's everyday mistakes and hints: unknown words and commands
// named, category words taking exactly what the summary counted, the line
// about files left behind, the deep-scan hint, and the found-file JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::RunCli;

size_t FilesIn(const fs::path& folder) {
  if (!fs::exists(folder)) return 0;
  size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) count += entry.is_regular_file();
  return count;
}

TEST(CommandLineEdges, UnknownTypeWordsEmptyTypesAndUnknownCommandsAreNamed) {
  test::TempDir dest;
  std::string card = test::TestImage("fat16-outcomes.img").string();
  auto unknown = RunCli({"recover", card, dest.path().string(), "--types", "jpg,foo"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown word \"foo\""), std::string::npos) << unknown.err;
  EXPECT_NE(unknown.err.find("document"), std::string::npos) << unknown.err;
  auto empty = RunCli({"recover", card, dest.path().string(), "--types", ""});
  EXPECT_EQ(empty.exitCode, 2);
  EXPECT_EQ(FilesIn(dest.path()), 0u);

  auto command = RunCli({"recovr", card});
  EXPECT_EQ(command.exitCode, 2);
  EXPECT_NE(command.err.find("unknown command \"recovr\""), std::string::npos) << command.err;
  auto version = RunCli({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("kestrel-cli ", 0), 0u) << version.out;
  auto resume = RunCli({"scan", card, "--resume"});
  EXPECT_EQ(resume.exitCode, 2);
  EXPECT_NE(resume.err.find("--deep"), std::string::npos) << resume.err;
}

TEST(CommandLineEdges, CategoryWordsTakeWhatTheSummaryCountedAndTheDefaultSaysWhatItLeft) {
  std::string card = test::TestImage("fat16-outcomes.img").string();
  auto summary = RunCli({"scan", card, "--json"});
  ASSERT_EQ(summary.exitCode, 0) << summary.err;
  auto doc = nlohmann::json::parse(summary.out);
  for (const char* category : {"document", "others", "audio"}) {
    SCOPED_TRACE(category);
    test::TempDir dest;
    auto result = RunCli({"recover", card, dest.path().string(), "--types", category});
    EXPECT_EQ(FilesIn(dest / category), doc["categories"][category].get<size_t>()) << result.err;
  }
  test::TempDir dest;
  auto plain = RunCli({"recover", card, dest.path().string()});
  uint64_t others = doc["categories"]["document"].get<uint64_t>() + doc["categories"]["archive"].get<uint64_t>() +
                    doc["categories"]["others"].get<uint64_t>();
  ASSERT_GT(others, 0u);
  // The last line keeps its form; the one before it says what was left and how to get it.
  std::string left = std::to_string(others) + " other file(s) found are not photos, audio or video; give --types all";
  size_t at = plain.out.find(left);
  ASSERT_NE(at, std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find('\n', at) + 1, plain.out.rfind("recovered "));
  auto all = RunCli({"recover", card, (dest / "all").string(), "--types", "all"});
  EXPECT_EQ(all.out.find("other file(s)"), std::string::npos) << all.out;
}

TEST(CommandLineEdges, FastScanThatFindsNothingOrNoFileSystemPointsToTheDeepScan) {
  test::TempDir dir;
  test::WriteFile(dir / "zero.img", std::vector<uint8_t>(1 << 20));
  auto none = RunCli({"scan", (dir / "zero.img").string()});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("run the same command with --deep"), std::string::npos) << none.err;
  auto deep = RunCli({"scan", "--deep", (dir / "zero.img").string()},
                     {"XDG_DATA_HOME=" + (dir / "data").string()});
  EXPECT_EQ(deep.err.find("run the same command with --deep"), std::string::npos) << deep.err;
}

TEST(CommandLineEdges, JsonListGivesEachRecordItsTimesCategoryEngineAndFirstSector) {
  auto result = RunCli({"scan", test::TestImage("fat16-outcomes.img").string(), "--json", "--list"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto doc = nlohmann::json::parse(result.out);
  const nlohmann::json* keep = nullptr;
  const nlohmann::json* folder = nullptr;
  for (const auto& r : doc["records"]) {
    if (r["name"] == "!EEP.JPG") keep = &r;
    if (r["name"] == "DCIM") folder = &r;
  }
  ASSERT_NE(keep, nullptr);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ((*keep)["folder"], false);
  EXPECT_EQ((*keep)["deleted"], 1);
  EXPECT_EQ((*keep)["category"], "photo");
  EXPECT_EQ((*keep)["extension"], "jpg");
  EXPECT_EQ((*keep)["engine"], "fast FAT");
  EXPECT_EQ((*keep)["contentCheck"], "passed");
  // FAT keeps no creation seconds finer than 2 s and access times only as days.
  std::string modified = (*keep)["times"]["modified"];
  EXPECT_EQ(modified.size(), 20u);
  EXPECT_EQ(modified.back(), 'Z');
  EXPECT_EQ((*keep)["times"]["accessed"].get<std::string>().substr(10), "T00:00:00Z");
  // The first sector really holds the file: its bytes start with the JPEG marker.
  auto image = test::ReadFile(test::TestImage("fat16-outcomes.img"));
  uint64_t first = (*keep)["firstSector"];
  ASSERT_LT(first * 512 + 2, image.size());
  EXPECT_EQ(image[first * 512], 0xFF);
  EXPECT_EQ(image[first * 512 + 1], 0xD8);
  EXPECT_EQ((*folder)["folder"], true);
  EXPECT_TRUE((*folder)["category"].is_null());
}

}  // namespace
}  // namespace kestrel
