#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "catalogue/scan_log_paths.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

// Deep scans leave their stores in the newest scan folder; later tests in
// this process that open a store of the same name there would continue it.
struct LeaveAFreshScanFolder {
  ~LeaveAFreshScanFolder() { StartNewScanFolder(); }
};

namespace fs = std::filesystem;
using test::RunCli;
using test::TempDir;

struct Expected {
  std::string sha;
  std::string path;  // as written into the volume
};

std::vector<Expected> ExpectedFiles(const std::string& image) {
  std::ifstream in(fs::path(KESTREL_TEST_DATA_DIR) / (image + ".sha256"));
  std::vector<Expected> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() > 66) out.push_back({line.substr(0, 64), line.substr(66)});
  }
  return out;
}

// Every recovered file: path relative to the output folder -> SHA-256.
std::map<std::string, std::string> Recovered(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().filename() != "recovery-report.json") {
      out[fs::relative(entry.path(), root).string()] = test::Sha256Hex(entry.path());
    }
  }
  return out;
}

bool HasContent(const std::map<std::string, std::string>& recovered, const std::string& sha) {
  for (const auto& [path, s] : recovered) {
    if (s == sha) return true;
  }
  return false;
}

// "a/b(1).jpg" -> "a/b.jpg": the recovery gives a second file of one name a number.
std::string WithoutCopyNumber(std::string path) {
  size_t dot = path.rfind('.');
  size_t open = path.rfind('(', dot);
  if (dot != std::string::npos && open != std::string::npos && path[dot - 1] == ')' && open + 1 < dot - 1 &&
      path.find_first_not_of("0123456789", open + 1) == dot - 1) {
    path.erase(open, dot - open);
  }
  return path;
}

// A file recovered under its own name and folders, whatever lost folder
// stands for the top of its path.
bool HasNamed(const std::map<std::string, std::string>& recovered, const std::string& tail, const std::string& sha) {
  for (const auto& [original, s] : recovered) {
    std::string path = test::WithoutOutcomeMark(WithoutCopyNumber(original));
    if (s == sha && (path == tail || path.ends_with("/" + tail))) return true;
  }
  return false;
}

std::string DropTop(const std::string& path) {
  size_t slash = path.find('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

test::CliResult RecoverDeep(const std::string& image, const fs::path& out) {
  return RunCli({"recover", "--deep", "--restart", "--types", "all", "--keep-paths", test::TestImage(image).string(),
                 out.string()});
}

// Every file in a folder is found twice, by its entry and by carving from
// its first cluster; it is listed, counted and written once, under its name.
TEST(DeepScanCommand, FormattedFat32GivesBackFoldersByEntriesAndRootFilesByCarvingEachOnce) {
  LeaveAFreshScanFolder fresh;
  TempDir out;
  auto result = RecoverDeep("deep-fat32-formatted.img", out.path());
  ASSERT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  auto recovered = Recovered(out.path());
  size_t findable = 0;
  for (const Expected& e : ExpectedFiles("deep-fat32-formatted.img")) {
    if (e.path.find('/') == std::string::npos) {
      // The format wiped the root directory: its photos come back by content.
      if (e.path.ends_with(".jpg")) {
        EXPECT_TRUE(HasContent(recovered, e.sha)) << e.path;
        ++findable;
      }
      continue;
    }
    // The top folder's own entry lay in the wiped root: it shows as a lost
    // folder, and everything below it keeps its names.
    EXPECT_TRUE(HasNamed(recovered, DropTop(e.path), e.sha)) << e.path;
    ++findable;
  }
  EXPECT_EQ(recovered.size(), findable);
  std::map<std::string, int> copies;
  for (const auto& [path, sha] : recovered) ++copies[sha];
  for (const auto& [sha, count] : copies) EXPECT_EQ(count, 1) << sha;
  EXPECT_NE(result.out.find("recovered " + std::to_string(findable - 1) + ", failed 1"), std::string::npos)
      << result.out;  // letter.pdf's sample bytes end without a startxref: damaged

  auto listed = RunCli({"scan", "--deep", "--restart", "--json", "--list",
                        test::TestImage("deep-fat32-formatted.img").string()});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  auto doc = nlohmann::json::parse(listed.out);
  size_t files = 0;
  for (const auto& r : doc["records"]) files += r["folder"] == false;
  EXPECT_EQ(files, findable);
  EXPECT_EQ(doc["files"], findable);
}

// The card's DCIM folder was deleted: the fast pass finds its pictures
// through the folder's entry, the deep pass again in the folder's own
// sectors as a lost folder. Each is listed and written once, under the
// deleted folder's path, and no empty lost folder is left.
TEST(DeepScanCommand, FilesOfADeletedFolderAreListedAndWrittenOnceUnderTheirRealPath) {
  LeaveAFreshScanFolder fresh;
  const std::string image = "fat16-fragmented-folder.img";
  auto listed = RunCli({"scan", "--deep", "--restart", "--json", "--list", test::TestImage(image).string()});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  auto doc = nlohmann::json::parse(listed.out);
  std::map<std::string, int> listedNames;  // path and name without the lost first letter
  size_t files = 0;
  for (const auto& r : doc["records"]) {
    EXPECT_EQ(r["name"].get<std::string>().find("LostFolder"), std::string::npos) << r["name"];
    EXPECT_EQ(r["path"].get<std::string>().find("LostFolder"), std::string::npos) << r["path"];
    if (r["folder"] == false) {
      ++files;
      ++listedNames[r["path"].get<std::string>() + r["name"].get<std::string>().substr(1)];
    }
  }
  EXPECT_EQ(doc["files"], files);

  TempDir out;
  auto result = RecoverDeep(image, out.path());
  auto recovered = Recovered(out.path());
  int pictures = 0;
  for (const test::ExpectedFile& e : test::ExpectedFiles("fat-fragmented-expected.txt", "fat16-fragmented.img")) {
    if (e.status != "intact" || !e.path.starts_with("DCIM/")) continue;
    ++pictures;
    const std::string tail = e.path.substr(6);
    EXPECT_EQ(listedNames["!CIM/" + tail], 1) << e.path;
    int copies = 0;
    for (const auto& [path, sha] : recovered) {
      if (sha != e.sha256) continue;
      ++copies;
      EXPECT_EQ(path, "!CIM/!" + tail);
    }
    EXPECT_EQ(copies, 1) << e.path;
  }
  EXPECT_EQ(pictures, 4);
  EXPECT_EQ(recovered.size(), files) << result.out;
}

// The card's photo is only carvable (quick-formatted) and another file's
// bytes took over 2 KiB of its middle: it is found, written under a marked
// name at its full length, and counted as failed with the check's reason,
// never as recovered.
TEST(DeepScanCommand, ACarvedPhotoWhoseMiddleWasOverwrittenIsWrittenMarkedAndCountedAsFailed) {
  LeaveAFreshScanFolder fresh;
  const std::string image = "deep-fat16-carved-damage.img";
  TempDir out;
  auto result = RecoverDeep(image, out.path());
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(result.out.find("recovered 0, failed 1"), std::string::npos) << result.out;
  auto recovered = Recovered(out.path());
  ASSERT_EQ(recovered.size(), 1u);
  const auto& [path, sha] = *recovered.begin();
  EXPECT_TRUE(path.ends_with(".damaged.jpg")) << path;
  EXPECT_NE(result.err.find(path + ": damaged: not a valid JPEG after "), std::string::npos) << result.err;
  // The original photo's SHA-256 and length, as the image script wrote them.
  std::ifstream list(fs::path(KESTREL_TEST_DATA_DIR) / (image + ".sha256"));
  std::string original, name, sizeWord;
  uint64_t size = 0;
  list >> original >> name >> sizeWord >> size;
  ASSERT_EQ(sizeWord, "size");
  EXPECT_EQ(fs::file_size(out.path() / path), size);  // its end was found past the damage
  EXPECT_NE(sha, original);

  auto report = nlohmann::json::parse(std::ifstream(out.path() / "recovery-report.json"));
  ASSERT_EQ(report["files"].size(), 1u);
  EXPECT_EQ(report["files"][0]["outcome"], "damaged");
  EXPECT_EQ(report["totals"]["recovered"], 0);
  EXPECT_EQ(report["totals"]["damaged"], 1);
}

TEST(DeepScanCommand, FormattedNtfsGivesBackEveryFileWithItsPath) {
  LeaveAFreshScanFolder fresh;
  TempDir out;
  auto result = RecoverDeep("deep-ntfs-formatted.img", out.path());
  ASSERT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  auto recovered = Recovered(out.path());
  for (const Expected& e : ExpectedFiles("deep-ntfs-formatted.img")) {
    EXPECT_TRUE(HasNamed(recovered, e.path, e.sha)) << e.path;
  }
}

// Compressed, sparse and attribute-list files read through the same stream
// reader as a fast scan: a raw copy of compressed units or of the first
// extent only would give other bytes.
TEST(DeepScanCommand, FormattedNtfsGivesBackCompressedSparseAndListedFilesByteExact) {
  LeaveAFreshScanFolder fresh;
  TempDir out;
  auto result = RecoverDeep("deep-ntfs-streams.img", out.path());
  ASSERT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  auto recovered = Recovered(out.path());
  auto expected = ExpectedFiles("deep-ntfs-streams.img");
  ASSERT_EQ(expected.size(), 4u);
  for (const Expected& e : expected) {
    EXPECT_TRUE(HasNamed(recovered, e.path, e.sha)) << e.path;
  }
}

TEST(DeepScanCommand, Fat32WithoutBootSectorsIsReadByItsDirectories) {
  LeaveAFreshScanFolder fresh;
  TempDir out;
  auto result = RecoverDeep("deep-fat32-noboot.img", out.path());
  ASSERT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  auto recovered = Recovered(out.path());
  for (const Expected& e : ExpectedFiles("deep-fat32-noboot.img")) {
    EXPECT_TRUE(HasNamed(recovered, e.path, e.sha)) << e.path;
  }
}

TEST(DeepScanCommand, WholeDiskFindsBothVolumesAndReadsEachFromItsOwnSectors) {
  LeaveAFreshScanFolder fresh;
  TempDir out;
  auto result = RecoverDeep("deep-disk-mbr.img", out.path());
  ASSERT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  auto recovered = Recovered(out.path());
  for (const Expected& e : ExpectedFiles("deep-disk-mbr.img")) {
    std::string path = DropTop(e.path);  // "fat/..." or "ntfs/..."
    // A deleted 8.3 entry has lost its first letter.
    std::string deleted = path;
    size_t base = deleted.rfind('/') == std::string::npos ? 0 : deleted.rfind('/') + 1;
    deleted[base] = '!';
    EXPECT_TRUE(HasNamed(recovered, path, e.sha) || HasNamed(recovered, deleted, e.sha)) << e.path;
  }
}

TEST(DeepScanCommand, ScanListsDeepRecordsAndRefusesConflictingResumeFlags) {
  LeaveAFreshScanFolder fresh;
  auto result = RunCli({"scan", "--deep", "--restart", "--list", test::TestImage("deep-ntfs-formatted.img").string()});
  ASSERT_TRUE(test::RecoveredAllButDamaged(result)) << result.exitCode << result.err;
  EXPECT_NE(result.out.find("DCIM/100CANON/\tIMG_0003.JPG\t"), std::string::npos) << result.out;
  auto both = RunCli({"scan", "--deep", "--resume", "--restart", test::TestImage("deep-ntfs-formatted.img").string()});
  EXPECT_EQ(both.exitCode, 2);
}

}  // namespace
}  // namespace kestrel
