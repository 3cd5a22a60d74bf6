// recover on a card whose deleted files were partly overwritten the way real
// cards are (tools/images/make-outcome-images.sh): each file counts as
// recovered only when it is whole and its content check passes; damaged and
// partial files are failed, written under a marked name and listed in the
// recovery report with their reason and SHA-256.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <set>
#include <nlohmann/json.hpp>

#include "carve/integrity/integrity_check.h"
#include "catalogue/categories.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

nlohmann::json ReadJson(const fs::path& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in);
}

std::string SampleSha(const std::string& name) {
  return test::Sha256Hex(fs::path(KESTREL_TEST_DATA_DIR) / "samples" / name);
}

// Every regular file below root, relative to it.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> out;
  for (auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) out.insert(fs::relative(entry.path(), root).string());
  return out;
}

TEST(RecoveryOutcome, DamagedAndPartialFilesFailAreMarkedAndReported) {
  test::TempDir dest;
  auto result = test::RunCli({"recover", test::TestImage("fat16-outcomes.img").string(), dest.path().string(),
                              "--types", "all"});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  auto files = FilesBelow(dest.path());
  // Whole and valid: under their own names (a deleted short name has lost its
  // first letter), byte for byte.
  EXPECT_EQ(test::Sha256Hex(dest / "photo/!EW.JPG"), SampleSha("jfif.jpg"));
  EXPECT_EQ(test::Sha256Hex(dest / "photo/!EEP.JPG"), SampleSha("exif.jpg"));
  EXPECT_EQ(test::Sha256Hex(dest / "audio/!ONG.MP3"), SampleSha("song.mp3"));
  EXPECT_EQ(test::Sha256Hex(dest / "document/!EPORT.PDF"), SampleSha("doc.pdf"));
  EXPECT_EQ(test::Sha256Hex(dest / "document/SHEET.XLSX"), SampleSha("sheet.xlsx"));
  // The .mid record's cluster now holds the JPEG written after it.
  EXPECT_FALSE(files.count("audio/!UNE.MID"));
  EXPECT_TRUE(files.count("audio/!UNE.damaged.MID")) << result.err;
  EXPECT_NE(result.err.find("!UNE.damaged.MID: damaged: not a valid MIDI after 0 bytes"), std::string::npos)
      << result.err;
  // HOLIDAY.JPG read as one run holds C.BIN's bytes from its 16 KiB on.
  EXPECT_TRUE(files.count("photo/!OLIDAY.damaged.JPG")) << result.err;
  EXPECT_FALSE(files.count("photo/!OLIDAY.JPG"));

  // No unmarked file is damaged, and every marked one is.
  for (const auto& name : files) {
    if (name == "recovery-report.json") continue;
    bool marked = name.find(".damaged.") != std::string::npos || name.find(".partial.") != std::string::npos;
    auto check = CheckFileIntegrity(dest / name, ExtensionOf(name));
    if (!marked) EXPECT_NE(check.verdict, IntegrityVerdict::kDamaged) << name << ": " << check.reason;
  }

  auto report = ReadJson(dest / "recovery-report.json");
  EXPECT_EQ(report["format"], "kestrel-recovery-report");
  uint64_t recovered = 0, failed = 0;
  for (const auto& file : report["files"]) {
    SCOPED_TRACE(file.dump());
    std::string outcome = file["outcome"];
    if (outcome == "recovered") {
      ++recovered;
      EXPECT_EQ(file["written_size"], file["expected_size"]);
      EXPECT_NE(file["check"]["result"], "damaged");
    } else {
      ++failed;
      EXPECT_FALSE(file["reason"].is_null());
    }
    if (!file["destination"].is_null()) {
      fs::path written = file["destination"].get<std::string>();
      EXPECT_EQ(test::Sha256Hex(written), file["sha256"]);
      EXPECT_EQ(fs::file_size(written), file["written_size"].get<uint64_t>());
      if (outcome == "damaged" || outcome == "partial")
        EXPECT_NE(written.filename().string().find("." + outcome + "."), std::string::npos);
    }
    EXPECT_FALSE(file["id"].get<std::string>().empty());
  }
  EXPECT_EQ(report["totals"]["recovered"], recovered);
  EXPECT_EQ(report["totals"]["failed"], failed);
  EXPECT_NE(result.out.find("recovered " + std::to_string(recovered) + ", failed " + std::to_string(failed)),
            std::string::npos)
      << result.out;
}

TEST(RecoveryOutcome, FileCutByTheEndOfTheImageIsPartialAndMarked) {
  test::TempDir work;
  fs::path image = work / "cut.img";
  fs::copy_file(test::TestImage("fat16-outcomes.img"), image);
  // LAST.JPG is the last file written: cut the image a little into it.
  auto scan = test::RunCli({"scan", image.string(), "--json", "--list"});
  auto doc = nlohmann::json::parse(scan.out);
  uint64_t firstSector = 0, size = 0;
  for (const auto& r : doc["records"])
    if (r["name"] == "!AST.JPG") {
      firstSector = r["firstSector"];
      size = r["size"];
    }
  ASSERT_GT(firstSector, 0u) << scan.out;
  fs::resize_file(image, firstSector * 512 + size / 2);

  test::TempDir dest;
  auto result = test::RunCli({"recover", image.string(), dest.path().string(), "--types", "jpg",
                              "--report", (work / "report.json").string()});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_TRUE(fs::exists(dest / "photo/!AST.partial.JPG")) << result.err;
  EXPECT_FALSE(fs::exists(dest / "photo/!AST.JPG"));
  EXPECT_NE(result.err.find("!AST.partial.JPG: incomplete: only "), std::string::npos) << result.err;
  EXPECT_TRUE(fs::exists(work / "report.json"));
  EXPECT_FALSE(fs::exists(dest / "recovery-report.json"));
}

}  // namespace
}  // namespace kestrel
