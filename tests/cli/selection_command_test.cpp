// --match, --min-size/--max-size, --modified-after/--modified-before and
// --only-intact on the FAT32 card image: the list a selection gives, checked
// against the unfiltered scan, and the dry run against what recover writes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

struct Listed {
  std::string path;
  uint64_t size = 0;
};

// "folder/name" of every file row of `scan --list` output.
std::set<std::string> ListedPaths(const std::string& out) {
  std::set<std::string> paths;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t tab = line.find('\t');
    size_t next = line.find('\t', tab + 1);
    paths.insert(line.substr(0, tab) + line.substr(tab + 1, next - tab - 1));
  }
  return paths;
}

// Every file (not folder) of the unfiltered scan, from its JSON.
std::vector<Listed> AllFiles(const std::string& image) {
  auto result = test::RunCli({"scan", "--json", "--list", test::TestImage(image).string()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<Listed> files;
  auto doc = nlohmann::json::parse(result.out);
  for (const auto& record : doc["records"]) {
    if (record["isDirectory"].get<int>() != 0) continue;
    files.push_back({record["path"].get<std::string>() + record["name"].get<std::string>(),
                     record["size"].get<uint64_t>()});
  }
  return files;
}

// The recovered files below root (the recovery report beside them left out).
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().filename() != "recovery-report.json") {
      out.insert(fs::relative(entry.path(), root).string());
    }
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(SelectionCommand, FolderPatternsBringTheirSubtreesAndRecoverWritesExactlyTheList) {
  const std::string image = test::TestImage("fat32-deleted.img").string();
  const std::vector<std::string> selection = {"--match", "photos", "--match", "DCIM/**"};
  std::vector<std::string> scan = {"scan", "--list", image};
  scan.insert(scan.end(), selection.begin(), selection.end());
  auto listed = test::RunCli(scan);
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::set<std::string> expected;
  for (const Listed& file : AllFiles("fat32-deleted.img")) {
    if (Lower(file.path).rfind("photos/", 0) == 0 || file.path.rfind("DCIM/", 0) == 0) expected.insert(file.path);
  }
  ASSERT_EQ(expected.size(), 4u);  // two photos below Photos/Holiday 2024, one in Photos, one in DCIM/100CANON
  EXPECT_EQ(ListedPaths(listed.out), expected);

  test::TempDir dest;
  std::vector<std::string> recover = {"recover", image, dest.path().string(), "--keep-paths"};
  recover.insert(recover.end(), selection.begin(), selection.end());
  auto recovered = test::RunCli(recover);
  EXPECT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(FilesBelow(dest.path()), expected);
}

TEST(SelectionCommand, GlobAcrossFoldersWithSizeBoundsMatchesTheUnfilteredScan) {
  const std::string image = test::TestImage("fat32-deleted.img").string();
  auto listed = test::RunCli({"scan", "--list", image, "--match", "**/*.JPG", "--min-size", "3K", "--max-size",
                              "4.5K"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::set<std::string> expected;
  for (const Listed& file : AllFiles("fat32-deleted.img")) {
    std::string lower = Lower(file.path);
    bool jpg = lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".jpg") == 0;
    if (jpg && file.size >= 3072 && file.size <= 4608) expected.insert(file.path);
  }
  ASSERT_GE(expected.size(), 2u);
  EXPECT_EQ(ListedPaths(listed.out), expected);

  // The same selection in JSON lists the same files and counts them.
  auto json = test::RunCli({"scan", "--json", "--list", image, "--match", "**/*.JPG", "--min-size", "3K",
                            "--max-size", "4.5K"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  auto doc = nlohmann::json::parse(json.out);
  std::set<std::string> inJson;
  for (const auto& record : doc["records"]) {
    inJson.insert(record["path"].get<std::string>() + record["name"].get<std::string>());
  }
  EXPECT_EQ(inJson, expected);
  EXPECT_EQ(doc["files"].get<uint64_t>(), expected.size());

  test::TempDir dest;
  auto recovered = test::RunCli({"recover", image, dest.path().string(), "--keep-paths", "--match", "**/*.JPG",
                                 "--min-size", "3K", "--max-size", "4.5K"});
  EXPECT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(FilesBelow(dest.path()), expected);
}

TEST(SelectionCommand, DateBoundsAroundTheRecordedTime) {
  // Every file on the card was written at 2026-12-08 19:17:10.
  const std::string image = test::TestImage("fat32-deleted.img").string();
  size_t all = AllFiles("fat32-deleted.img").size();
  auto count = [&](std::vector<std::string> bounds) {
    std::vector<std::string> args = {"scan", "--list", image};
    args.insert(args.end(), bounds.begin(), bounds.end());
    auto result = test::RunCli(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return ListedPaths(result.out).size();
  };
  EXPECT_EQ(count({"--modified-after", "2026-12-08", "--modified-before", "2026-12-09"}), all);
  EXPECT_EQ(count({"--modified-after", "2026-12-08T19:17:10"}), all);
  EXPECT_EQ(count({"--modified-after", "2026-12-08T19:17:11"}), 0u);
  EXPECT_EQ(count({"--modified-before", "2026-12-08T19:17:10"}), 0u);
}

TEST(SelectionCommand, OnlyIntactLeavesOutTheFileWhoseClustersWereReused) {
  const std::string image = test::TestImage("fat32-deleted.img").string();
  auto listed = test::RunCli({"scan", "--list", image, "--only-intact"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::set<std::string> paths = ListedPaths(listed.out);
  EXPECT_EQ(paths.count("Reused Photo.jpg"), 0u);  // its clusters now hold another file: not a JPEG
  EXPECT_EQ(paths.count("Photos/Café crème ☕.jpg"), 1u);
  EXPECT_EQ(paths.count("Documents/Notes about Things.txt"), 1u);  // no check for text: kept
  EXPECT_EQ(paths.size(), AllFiles("fat32-deleted.img").size() - 1);
}

TEST(SelectionCommand, BadWordsAreRefusedWithTheFlagNamed) {
  const std::string image = test::TestImage("fat32-deleted.img").string();
  auto size = test::RunCli({"scan", "--list", image, "--min-size", "10X"});
  EXPECT_EQ(size.exitCode, 2);
  EXPECT_NE(size.err.find("--min-size 10X"), std::string::npos) << size.err;
  auto date = test::RunCli({"recover", image, "/tmp/never-made", "--modified-before", "2026-02-30"});
  EXPECT_EQ(date.exitCode, 2);
  EXPECT_NE(date.err.find("--modified-before 2026-02-30"), std::string::npos) << date.err;
  EXPECT_FALSE(fs::exists("/tmp/never-made"));
}

}  // namespace
}  // namespace kestrel
