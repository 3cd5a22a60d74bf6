// Settling a file an engine wrote: complete and valid files keep their name,
// damaged and partial ones are renamed with their mark and a reason, every
// written file is hashed and gets its recorded times; and the report that
// lists them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "app/recovered_file_outcome.h"
#include "app/recovery_report.h"
#include "engines/common/found_file_output.h"
#include "catalogue/categories.h"
#include "platform/error_codes.h"
#include "support/signature_test_support.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// 2024-03-07 09:05:00 UTC as a FILETIME.
constexpr uint64_t kMarch2024 = 133542759000000000ull;

FoundFileRecord Record(const std::string& name, uint64_t size) {
  FoundFileRecord record;
  record.SetName(name);
  record.size = size;
  record.modified = kMarch2024;
  record.accessed = kMarch2024 + 10'000'000ull * 3600;
  record.engineKind = uint32_t(EngineKind::kFastFat);
  record.entrySector = 120;
  record.itemKey = 7;
  return record;
}

TEST(RecoveredFileOutcome, WholeValidFileKeepsItsNameHashAndRecordedTimes) {
  test::TempDir dir;
  auto bytes = test::SampleFile("exif.jpg");
  test::WriteFile(dir / "KEEP.JPG", bytes);
  RecoveredFile file = SettleRecoveredFile(Record("KEEP.JPG", bytes.size()), dir / "KEEP.JPG", kSuccess);
  EXPECT_EQ(file.outcome, FileOutcome::kRecovered);
  EXPECT_EQ(file.path, dir / "KEEP.JPG");
  EXPECT_EQ(file.check.verdict, IntegrityVerdict::kIntact);
  EXPECT_TRUE(file.reason.empty());
  // Times first: reading the file to hash it may move its access time.
  struct stat st {};
  ASSERT_EQ(::stat((dir / "KEEP.JPG").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1709802300);
  EXPECT_EQ(st.st_atim.tv_sec, 1709802300 + 3600);
  EXPECT_EQ(file.sha256, test::Sha256Hex(dir / "KEEP.JPG"));
}

TEST(RecoveredFileOutcome, DamagedAndPartialFilesFailAndAreMarked) {
  test::TempDir dir;
  auto jpeg = test::SampleFile("jfif.jpg");
  // A .mid record whose data is now a JPEG: whole, but not a MIDI file.
  test::WriteFile(dir / "TUNE.MID", jpeg);
  RecoveredFile damaged = SettleRecoveredFile(Record("TUNE.MID", jpeg.size()), dir / "TUNE.MID", kSuccess);
  EXPECT_EQ(damaged.outcome, FileOutcome::kDamaged);
  EXPECT_EQ(damaged.path, dir / "TUNE.damaged.MID");
  EXPECT_FALSE(fs::exists(dir / "TUNE.MID"));
  EXPECT_EQ(damaged.reason.rfind("damaged: not a valid MIDI after 0 bytes", 0), 0u) << damaged.reason;

  // Only 1000 bytes could be read; a file already holds the marked name.
  test::WriteFile(dir / "IMG.partial.JPG", {1});
  test::WriteFile(dir / "IMG.JPG", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 1000));
  RecoveredFile partial = SettleRecoveredFile(Record("IMG.JPG", jpeg.size()), dir / "IMG.JPG", kErrHandleEof);
  EXPECT_EQ(partial.outcome, FileOutcome::kPartial);
  EXPECT_EQ(partial.path, dir / "IMG.partial(1).JPG");
  EXPECT_EQ(partial.writtenSize, 1000u);
  EXPECT_EQ(partial.reason.rfind("incomplete: only 1,000 of 1,466 bytes could be recovered", 0), 0u)
      << partial.reason;
  EXPECT_EQ(partial.sha256, test::Sha256Hex(partial.path));

  // A short file the engine called complete is still partial.
  test::WriteFile(dir / "SHORT.JPG", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 500));
  EXPECT_EQ(SettleRecoveredFile(Record("SHORT.JPG", jpeg.size()), dir / "SHORT.JPG", kSuccess).outcome,
            FileOutcome::kPartial);

  RecoveredFile missing = SettleRecoveredFile(Record("GONE.JPG", 10), dir / "GONE.JPG", kErrReadFault);
  EXPECT_EQ(missing.outcome, FileOutcome::kFailed);
  EXPECT_TRUE(missing.path.empty());
  EXPECT_FALSE(missing.reason.empty());
}

TEST(RecoveredFileOutcome, MarkedNamesKeepTheExtensionLast) {
  EXPECT_EQ(MarkedName("/d/photo.jpg", "damaged"), fs::path("/d/photo.damaged.jpg"));
  EXPECT_EQ(MarkedName("/d/README", "partial"), fs::path("/d/README.partial"));
  EXPECT_EQ(MarkedName("/d/a.tar.gz", "partial"), fs::path("/d/a.tar.partial.gz"));
}

TEST(RecoveryReport, ListsEveryFileWithItsSourceOutcomeCheckAndHash) {
  test::TempDir dir;
  auto bytes = test::SampleFile("exif.jpg");
  test::WriteFile(dir / "KEEP.JPG", bytes);
  RecoveryReport report({"card.img", 8388608, "image", "fast"}, dir.path());
  FoundFileRecord keep = Record("KEEP.JPG", bytes.size());
  report.Add({keep, "DCIM", SettleRecoveredFile(keep, dir / "KEEP.JPG", kSuccess), NowIsoText()});
  FoundFileRecord carved = Record("4242.jpg", 5000);
  carved.engineKind = uint32_t(EngineKind::kCarving);
  carved.entrySector = 4242;
  report.Add({carved, "", SettleRecoveredFile(carved, dir / "4242.jpg", kErrReadFault), NowIsoText()});
  ASSERT_EQ(report.Write(dir / "report.json"), 0);

  auto doc = nlohmann::json::parse(test::ReadFile(dir / "report.json"));
  EXPECT_EQ(doc["format"], "kestrel-recovery-report");
  EXPECT_EQ(doc["version"], 1);
  EXPECT_EQ(doc["source"]["size"], 8388608);
  EXPECT_EQ(doc["totals"]["recovered"], 1);
  EXPECT_EQ(doc["totals"]["failed"], 1);
  ASSERT_EQ(doc["files"].size(), 2u);
  const auto& first = doc["files"][0];
  EXPECT_EQ(first["id"], "fast-fat:0:120:7");
  EXPECT_EQ(first["source"]["path"], "DCIM/KEEP.JPG");
  EXPECT_EQ(first["outcome"], "recovered");
  EXPECT_EQ(first["check"]["result"], "intact");
  EXPECT_EQ(first["sha256"], test::Sha256Hex(dir / "KEEP.JPG"));
  EXPECT_EQ(first["times"]["modified"], "2024-03-07T09:05:00Z");
  EXPECT_TRUE(first["times"]["created"].is_null());
  const auto& second = doc["files"][1];
  EXPECT_TRUE(second["source"]["path"].is_null());
  EXPECT_EQ(second["source"]["carved_sector"], 4242);
  EXPECT_EQ(second["outcome"], "failed");
  EXPECT_TRUE(second["destination"].is_null());
  EXPECT_TRUE(second["sha256"].is_null());
}

}  // namespace
}  // namespace kestrel
