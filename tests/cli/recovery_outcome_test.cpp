// recover on a card whose deleted files were partly overwritten the way real
// cards are (tools/images/make-outcome-images.sh): each file counts as
// recovered only when it is whole and its content check passes; damaged and
// partial files are failed, written under a marked name and listed in the
// recovery report with their reason and SHA-256.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
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
  // HOLIDAY.JPG read as one run would hold C.BIN's bytes from its 16 KiB on;
  // its placement passes over C.BIN's run, so it comes back whole (its check,
  // like every unmarked file's, is run below).
  EXPECT_TRUE(files.count("photo/!OLIDAY.JPG")) << result.err;
  EXPECT_FALSE(files.count("photo/!OLIDAY.damaged.JPG"));

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

// Every line of text, cut at its last tab: the list without its check column.
std::vector<std::string> WithoutLastColumn(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line.substr(0, line.rfind('\t')));
  return out;
}

// scan --check reads each file through the engine that found it and judges it
// as recover judges what it wrote: the same files come out damaged, each with
// the same reason and offset (a partial file's too: judged by the bytes that
// can be read, as recover judges the part it wrote).
TEST(RecoveryOutcome, ScanCheckFailsExactlyTheFilesRecoverFindsDamagedForTheSameReason) {
  std::string card = test::TestImage("fat16-outcomes.img").string();
  test::TempDir dest;
  auto recovered = test::RunCli({"recover", card, dest.path().string(), "--types", "all"});
  ASSERT_EQ(recovered.exitCode, 1) << recovered.err;
  std::map<std::string, std::string> damagedByRecover;  // path -> offset and reason
  auto report = ReadJson(dest / "recovery-report.json");
  for (const auto& file : report["files"]) {
    if (file["check"]["result"] == "damaged") {
      damagedByRecover[file["source"]["path"].get<std::string>()] =
          file["check"]["offset"].dump() + " " + file["check"]["reason"].get<std::string>();
    }
  }
  ASSERT_FALSE(damagedByRecover.empty());

  auto checked = test::RunCli({"scan", card, "--json", "--list", "--check"});
  ASSERT_EQ(checked.exitCode, 0) << checked.err;
  auto doc = nlohmann::json::parse(checked.out);
  std::map<std::string, std::string> failedByScan;
  for (const auto& record : doc["records"]) {
    SCOPED_TRACE(record.dump());
    if (record["folder"]) {
      EXPECT_EQ(record["check"], "-");
      continue;
    }
    std::string path = record["path"].get<std::string>() + record["name"].get<std::string>();
    ASSERT_TRUE(record["checkReason"].is_string());
    EXPECT_FALSE(record["checkReason"].get<std::string>().empty());
    if (record["check"] == "failed") {
      EXPECT_TRUE(record["checkOffset"].is_number());
      failedByScan[path] = record["checkOffset"].dump() + " " + record["checkReason"].get<std::string>();
    } else {
      EXPECT_TRUE(record["checkOffset"].is_null());
    }
    if (record["name"] == "!.BIN") EXPECT_EQ(record["check"], "-");
    if (record["name"] == "!EW.JPG") EXPECT_EQ(record["check"], "passed");
  }
  EXPECT_EQ(failedByScan, damagedByRecover);
  EXPECT_EQ(doc["damagedFiles"], damagedByRecover.size());

  // Without --check nothing changes: no new keys, no new line, the scan's own
  // check column; with it only that column and one summary line differ.
  auto plainJson = nlohmann::json::parse(test::RunCli({"scan", card, "--json", "--list"}).out);
  EXPECT_FALSE(plainJson.contains("damagedFiles"));
  EXPECT_FALSE(plainJson["records"][0].contains("checkReason"));
  auto plainList = test::RunCli({"scan", card, "--list"});
  auto checkedList = test::RunCli({"scan", card, "--list", "--check"});
  EXPECT_NE(plainList.out, checkedList.out);
  EXPECT_EQ(WithoutLastColumn(plainList.out), WithoutLastColumn(checkedList.out));
  auto plainSummary = test::RunCli({"scan", card});
  auto checkedSummary = test::RunCli({"scan", card, "--check"});
  EXPECT_EQ(checkedSummary.out,
            plainSummary.out + "Damaged files: " + std::to_string(damagedByRecover.size()) + "\n");
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

namespace kestrel {
namespace {

TEST(RecoveryOutcome, RerunKeepsWhatIsStillThereAndWritesAgainWhatChanged) {
  test::TempDir dest;
  std::vector<std::string> args = {"recover", test::TestImage("fat16-outcomes.img").string(), dest.path().string(),
                                   "--types", "all"};
  auto first = test::RunCli(args);
  ASSERT_EQ(first.exitCode, 1) << first.err;
  auto written = FilesBelow(dest.path());
  size_t files = written.size() - 1;  // the report
  std::string summary = first.out.substr(first.out.rfind("recovered "));

  auto again = test::RunCli(args);
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(FilesBelow(dest.path()), written) << "no second copies";
  EXPECT_NE(again.out.find(std::to_string(files) + " file(s) written by an earlier run"), std::string::npos)
      << again.out;
  EXPECT_EQ(again.out.substr(again.out.rfind("recovered ")), summary);
  EXPECT_FALSE(fs::exists(dest / "recovery-report.json.journal"));

  // A file changed since is not the recorded one: the record is written again
  // beside it by the "(n)" rule, and the changed file is left alone.
  {
    std::ofstream changed(dest / "photo/!EEP.JPG", std::ios::app | std::ios::binary);
    changed << 'x';
  }
  auto third = test::RunCli(args);
  EXPECT_NE(third.out.find(std::to_string(files - 1) + " file(s) written by an earlier run"), std::string::npos)
      << third.out;
  EXPECT_EQ(test::Sha256Hex(dest / "photo/!EEP(1).JPG"), SampleSha("exif.jpg"));
  EXPECT_EQ(third.out.substr(third.out.rfind("recovered ")), summary);
}

TEST(RecoveryOutcome, AJournalLeftByAKilledRunCountsLikeTheReport) {
  test::TempDir dest;
  std::vector<std::string> args = {"recover", test::TestImage("fat16-outcomes.img").string(), dest.path().string(),
                                    "--types", "all"};
  ASSERT_EQ(test::RunCli(args).exitCode, 1);
  // What a run killed before its report leaves: the files and a journal of them.
  auto report = ReadJson(dest / "recovery-report.json");
  {
    std::ofstream journal(dest / "recovery-report.json.journal");
    journal << nlohmann::json{{"format", "kestrel-recovery-report-journal"}, {"source", report["source"]}}.dump()
            << "\n";
    for (const auto& file : report["files"]) journal << file.dump() << "\n";
    journal << "{\"id\": \"cut";  // the line being written when the run was killed
  }
  fs::remove(dest / "recovery-report.json");
  auto written = FilesBelow(dest.path());
  auto again = test::RunCli(args);
  EXPECT_NE(again.out.find(std::to_string(report["files"].size()) + " file(s) written by an earlier run"),
            std::string::npos)
      << again.out << again.err;
  written.insert("recovery-report.json");
  written.erase("recovery-report.json.journal");
  EXPECT_EQ(FilesBelow(dest.path()), written);
}

// Runs the CLI from another working folder, as a user retyping a command would.
test::CliResult RunCliIn(const fs::path& folder, const std::vector<std::string>& args) {
  fs::path before = fs::current_path();
  fs::current_path(folder);
  auto result = test::RunCli(args);
  fs::current_path(before);
  return result;
}

TEST(RecoveryOutcome, ARerunTypedFromAnotherFolderFindsWhatTheFirstRunWrote) {
  test::TempDir top;
  fs::create_directories(top / "cards");
  fs::copy_file(test::TestImage("fat16-outcomes.img"), top / "cards/card.img");
  auto first = RunCliIn(top / "cards", {"recover", "card.img", "out", "--types", "all"});
  ASSERT_EQ(first.exitCode, 1) << first.err;
  auto written = FilesBelow(top / "cards/out");

  auto again = RunCliIn(top.path(), {"recover", "cards/card.img", "cards/out", "--types", "all"});
  EXPECT_EQ(again.exitCode, 1) << again.err;
  EXPECT_EQ(FilesBelow(top / "cards/out"), written) << "no second copies";
  EXPECT_NE(again.out.find(std::to_string(written.size() - 1) + " file(s) written by an earlier run"),
            std::string::npos)
      << again.out;
}

}  // namespace
}  // namespace kestrel
