// A FAT32 card where deleted files were written out of order, their second
// piece before their first (tools/images/make-fat-out-of-order-images.sh):
// such a file is never passed off as recovered, and a text file is placed
// past the clusters where another file starts.
#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

const char* kImage = "fat32-out-of-order.img";

std::map<std::string, test::ExpectedFile> Expected() {
  std::map<std::string, test::ExpectedFile> out;
  for (const test::ExpectedFile& e : test::ExpectedFiles("fat-out-of-order-expected.txt", kImage)) out[e.path] = e;
  return out;
}

TEST(OutOfOrderCard, EachFileSaysHowItWasPlacedAndWhetherItCanBeWhole) {
  auto list = test::RunCli({"scan", "--list", test::TestImage(kImage).string()});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  // name (a deleted short name lost its first letter) -> layout, check
  std::map<std::string, std::pair<std::string, std::string>> marks;
  for (const auto& row : test::ListRows(list.out)) {
    ASSERT_GE(row.size(), 10u);
    marks[row[1].substr(1)] = {row[row.size() - 2], row.back()};
  }
  using Marks = std::pair<std::string, std::string>;
  // Its clusters run on into a deleted photo: the placement that passes over
  // that photo's run is the one without another file's start in it.
  EXPECT_EQ(marks["OUTE.TXT"], Marks("inferred", "-"));
  // Its first piece runs into the late picture or the photo: every placement
  // holds another file's start.
  EXPECT_EQ(marks["OTES.TXT"], Marks("contiguous", "failed"));
  // Its first piece runs to the volume's end: nothing holds it whole.
  EXPECT_EQ(marks["HOTO.JPG"], Marks("contiguous", "failed"));
  EXPECT_EQ(marks["AP.JPG"], Marks("contiguous", "-"));
}

TEST(OutOfOrderCard, RecoverFailsAndMarksTheOutOfOrderFilesAndGivesTheRestExact) {
  test::TempDir dest;
  auto result = test::RunCli({"recover", test::TestImage(kImage).string(), dest.path().string(), "--types", "all"});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(result.out.find("failed 2"), std::string::npos) << result.out;
  auto expected = Expected();
  ASSERT_EQ(expected.size(), 5u);
  EXPECT_EQ(test::Sha256Hex(dest / "document/!OUTE.TXT"), expected["ROUTE.TXT"].sha256);
  EXPECT_EQ(test::Sha256Hex(dest / "photo/!AP.JPG"), expected["MAP.JPG"].sha256);
  EXPECT_EQ(test::Sha256Hex(dest / "photo/!ATE.PNG"), expected["LATE.PNG"].sha256);
  // The photo stops where the volume ends; the notes' text runs on into the
  // late picture or the photo: written under marked names, never as themselves.
  EXPECT_FALSE(fs::exists(dest / "photo/!HOTO.JPG"));
  EXPECT_FALSE(fs::exists(dest / "document/!OTES.TXT"));
  EXPECT_NE(result.err.find("!HOTO.partial.JPG: incomplete"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("!OTES.damaged.TXT: damaged: another file starts inside every placement"),
            std::string::npos)
      << result.err;
  EXPECT_NE(test::Sha256Hex(dest / "document/!OTES.damaged.TXT"), expected["NOTES.TXT"].sha256);
}

// scan --check judges a found file as recover does.
TEST(OutOfOrderCard, ScanCheckFailsTheTextFileRecoverFindsDamaged) {
  auto check = test::RunCli({"scan", "--check", "--list", test::TestImage(kImage).string()});
  ASSERT_EQ(check.exitCode, 0) << check.err;
  std::string notes;
  for (const auto& row : test::ListRows(check.out)) {
    if (row.size() > 1 && row[1].substr(1) == "OTES.TXT") notes = row.back();
  }
  EXPECT_EQ(notes, "failed") << check.out;
}

}  // namespace
}  // namespace kestrel
