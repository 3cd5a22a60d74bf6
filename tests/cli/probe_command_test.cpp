#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"

namespace kestrel {
namespace {

using test::RunCli;

TEST(ProbeCommand, PrintsKindOfEveryTestImage) {
  struct Case { const char* image; const char* kind; };
  for (auto c : {Case{"probe-fat12.img", "FAT\n"}, Case{"probe-fat32.img", "FAT\n"}, Case{"probe-ntfs.img", "NTFS\n"},
                 Case{"probe-ext4.img", "ext\n"}, Case{"probe-random.img", "unrecognised\n"}}) {
    auto result = RunCli({"probe", test::TestImage(c.image).string()});
    EXPECT_EQ(result.exitCode, 0) << c.image << result.err;
    EXPECT_EQ(result.out, c.kind) << c.image;
  }
}

TEST(ProbeCommand, BitLockerVolumeIsUnrecognisedWithReason) {
  test::TempDir dir;
  auto bytes = test::ReadFile(test::TestImage("probe-fat16.img"));
  std::memcpy(&bytes[3], "-FVE-FS-", 8);
  test::WriteFile(dir / "bitlocker.img", bytes);
  auto result = RunCli({"probe", (dir / "bitlocker.img").string()});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(result.out.starts_with("unrecognised\nBitLocker")) << result.out;
}

TEST(ProbeCommand, UnusableSourcesGiveClearErrorAndExit2) {
  test::TempDir dir;
  test::WriteFile(dir / "small.img", std::vector<uint8_t>(8192));
  test::WriteFile(dir / "empty.img", {});
  struct Case { std::string path; std::string message; };
  for (const auto& c : {Case{(dir / "missing.img").string(), "The system cannot find the file specified. (2)"},
                        Case{(dir / "small.img").string(), "is too small to hold a file system (8192 bytes) (38)"},
                        Case{(dir / "empty.img").string(), "is empty (38)"},
                        Case{dir.path().string(), "is a folder, not a disk, a partition or an image file (5)"}}) {
    auto result = RunCli({"probe", c.path});
    EXPECT_EQ(result.exitCode, 2) << c.path;
    EXPECT_EQ(result.err, "kestrel-cli: " + c.path + ": " + c.message + "\n");
    EXPECT_EQ(result.out, "");
  }
}

TEST(ProbeCommand, MissingArgumentIsUsageError) {
  EXPECT_EQ(RunCli({"probe"}).exitCode, 2);
  EXPECT_EQ(RunCli({}).exitCode, 2);
}

}  // namespace
}  // namespace kestrel
