#include "app/jobs/image_job.h"

#include <gtest/gtest.h>

#include "app/jobs/image_destination.h"
#include "support/recording_view.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

class ImageJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<uint8_t> bytes(1000 * 512);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i / 512);
    test::WriteFile(dir_ / "disk.img", bytes);
  }
  int RunJob(ImageJobRequest request) {
    ImageJob job(view_, texts_, std::move(request));
    job.Start();
    int result = job.Wait();
    outcome_ = job.outcome();
    return result;
  }
  std::string Msg(const char* id) { return texts_.Text("Messages", id); }

  test::TempDir dir_;
  LanguageTable texts_{dir_ / "config.ini", KESTREL_LANG_DIR};
  test::RecordingView view_;
  ImageCopyOutcome outcome_;
};

TEST_F(ImageJobTest, ShortCopyShowsProgressButNeverAnEstimate) {
  ImageJobRequest request;
  request.source = dir_ / "disk.img";
  request.destination = dir_ / "copy.img";
  ASSERT_EQ(RunJob(request), kJobDone);
  EXPECT_EQ(view_.closed(), std::vector<int>{kJobDone});
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), test::ReadFile(dir_ / "disk.img"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "copy.img.map"));
  EXPECT_EQ(view_.texts("stage").front(), Msg("MSG0302") + " " + (dir_ / "copy.img").string());
  ASSERT_FALSE(view_.values("progress").empty());
  EXPECT_EQ(view_.values("progress").back(), 100);
  EXPECT_EQ(view_.texts("percent").back(), Msg("MSG0301") + " 100%");
  EXPECT_EQ(view_.texts("sectors").back(), Msg("MSG0303") + " 1000 / 1000");
  for (const std::string& time : view_.texts("time")) EXPECT_EQ(time, Msg("MSG0304"));
  EXPECT_FALSE(view_.visible("bad"));
  EXPECT_FALSE(view_.visible("error"));
}

TEST_F(ImageJobTest, RefusesToWriteTheImageOverItsSource) {
  ImageJobRequest request;
  request.source = dir_ / "disk.img";
  request.destination = dir_ / "disk.img";
  EXPECT_EQ(RunJob(request), kJobFailed);
  EXPECT_TRUE(view_.visible("error"));
  EXPECT_NE(view_.texts("error").back().find(Msg("MSG0218")), std::string::npos);
  EXPECT_EQ(outcome_.failedPath, dir_ / "disk.img");
  EXPECT_EQ(test::ReadFile(dir_ / "disk.img").size(), 1000u * 512);  // untouched
}

TEST_F(ImageJobTest, MissingSourceFailsWithItsPathAndReason) {
  ImageJobRequest request;
  request.source = dir_ / "absent.img";
  request.destination = dir_ / "copy.img";
  EXPECT_EQ(RunJob(request), kJobFailed);
  EXPECT_EQ(outcome_.result, kErrFileNotFound);
  EXPECT_EQ(outcome_.failedPath, dir_ / "absent.img");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "copy.img"));
}

TEST(ImageDestinationTest, FileSystemLimitsAndFreeSpace) {
  ImageDestinationFacts vfat{.fileSystem = "vfat", .knowFree = true, .freeBytes = 100ull << 30};
  EXPECT_EQ(ImageDestinationProblem(vfat, kFat32FileLimit), "");
  // A FAT32 file cannot reach 4 GiB: an image of exactly 4 GiB does not fit.
  EXPECT_EQ(ImageDestinationProblem(vfat, 4ull << 30), "MSG0220");
  ImageDestinationFacts msdos = vfat;
  msdos.fileSystem = "msdos";
  EXPECT_EQ(ImageDestinationProblem(msdos, 3ull << 30), "MSG0219");
  EXPECT_EQ(ImageDestinationProblem(msdos, 1ull << 30), "");
  ImageDestinationFacts ext4{.fileSystem = "ext4", .knowFree = true, .freeBytes = 1000};
  EXPECT_EQ(ImageDestinationProblem(ext4, 5ull << 30), "MSG0221");
  EXPECT_EQ(ImageDestinationProblem(ext4, 999), "");
  // Resuming onto a file that already holds most of the image needs only the rest.
  ext4.existingBytes = 4000;
  EXPECT_EQ(ImageDestinationProblem(ext4, 4500), "");
  ImageDestinationFacts same = ext4;
  same.sameDevice = true;
  EXPECT_EQ(ImageDestinationProblem(same, 1), "MSG0218");
}

}  // namespace
}  // namespace kestrel
