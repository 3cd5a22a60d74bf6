#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/test_support.h"

namespace kestrel {
namespace {

std::string Text(const std::filesystem::path& path) {
  auto bytes = test::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

class ImageCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_.resize(2000 * 512);
    for (size_t i = 0; i < source_.size(); ++i) source_[i] = uint8_t(i * 31 + i / 512);
    test::WriteFile(dir_ / "disk.img", source_);
  }
  test::TempDir dir_;
  std::vector<uint8_t> source_;
};

TEST_F(ImageCommandTest, CopiesAnImageFileAndResumesFromItsMap) {
  auto first = test::RunCli({"image", (dir_ / "disk.img").string(), (dir_ / "copy.img").string()});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, "copied 1024000 bytes to " + (dir_ / "copy.img").string() + "; map " +
                           (dir_ / "copy.img").string() + ".map\n");
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
  std::string map = Text(dir_ / "copy.img.map");
  EXPECT_NE(map.find("\n0x00000000  0x000FA000  +\n"), std::string::npos) << map;

  // The same command again finds the map finished and copies nothing more.
  auto again = test::RunCli({"image", (dir_ / "disk.img").string(), (dir_ / "copy.img").string(), "--map",
                             (dir_ / "copy.img.map").string(), "--retry", "2"});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.out.find("(resumed)"), std::string::npos) << again.out;
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
}

TEST_F(ImageCommandTest, FailuresExitTwoWithThePathAndTheReason) {
  auto onItself = test::RunCli({"image", (dir_ / "disk.img").string(), (dir_ / "disk.img").string()});
  EXPECT_EQ(onItself.exitCode, 2);
  EXPECT_NE(onItself.err.find((dir_ / "disk.img").string() + ": The image cannot be written to the device"),
            std::string::npos)
      << onItself.err;
  EXPECT_EQ(test::ReadFile(dir_ / "disk.img"), source_);

  auto noFolder = test::RunCli({"image", (dir_ / "disk.img").string(), (dir_ / "none" / "copy.img").string()});
  EXPECT_EQ(noFolder.exitCode, 2);
  EXPECT_EQ(noFolder.err,
            "kestrel-cli: " + (dir_ / "none" / "copy.img").string() + ": The system cannot find the file specified.\n");

  auto noSource = test::RunCli({"image", (dir_ / "absent.img").string(), (dir_ / "copy.img").string()});
  EXPECT_EQ(noSource.exitCode, 2);
  EXPECT_NE(noSource.err.find("absent.img"), std::string::npos);

  auto badRetry = test::RunCli({"image", (dir_ / "disk.img").string(), (dir_ / "copy.img").string(), "--retry", "-1"});
  EXPECT_EQ(badRetry.exitCode, 2);
}

// End to end over real bad sectors: a loop device behind a device-mapper table
// whose middle eight sectors are the "error" target.
TEST_F(ImageCommandTest, PartitionOfAWholeDiskImageIsCutOutExactlyAndNeverWrittenOverItsSource) {
  // disk-mbr.img: partition 5 is NTFS at sector 98304, 8192 sectors long.
  std::filesystem::path disk = dir_ / "disk-mbr.img";
  std::filesystem::copy_file(test::TestImage("disk-mbr.img"), disk);
  std::string before = test::Sha256Hex(disk);
  auto cut = test::RunCli({"image", disk.string(), (dir_ / "p5.img").string(), "--partition", "5"});
  ASSERT_EQ(cut.exitCode, 0) << cut.err;
  std::vector<uint8_t> expected(8192 * 512);
  std::ifstream in(disk, std::ios::binary);
  in.seekg(98304 * 512);
  in.read(reinterpret_cast<char*>(expected.data()), std::streamsize(expected.size()));
  EXPECT_TRUE(test::ReadFile(dir_ / "p5.img") == expected);

  auto onItself = test::RunCli({"image", disk.string(), disk.string(), "--partition", "5"});
  EXPECT_EQ(onItself.exitCode, 2);
  EXPECT_NE(onItself.err.find("The image cannot be written to the device"), std::string::npos) << onItself.err;
  EXPECT_EQ(test::Sha256Hex(disk), before);

  auto missing = test::RunCli({"image", disk.string(), (dir_ / "p9.img").string(), "--partition", "9"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("no partition 9"), std::string::npos) << missing.err;
  auto noTable = test::RunCli({"image", (dir_ / "disk.img").string(), (dir_ / "p.img").string(), "--partition", "1"});
  EXPECT_EQ(noTable.exitCode, 2);
  EXPECT_NE(noTable.err.find("holds no partition table"), std::string::npos) << noTable.err;
}

TEST_F(ImageCommandTest, DeviceMapperErrorTargetGivesZeroedSectorsAndExitOne) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a loop device and device-mapper";
  if (std::system("dmsetup targets 2>/dev/null | grep -q '^error'") != 0) {
    GTEST_SKIP() << "device-mapper's error target is not available here";
  }
  std::string loop;
  {
    FILE* pipe = popen(("losetup -f --show " + (dir_ / "disk.img").string()).c_str(), "r");
    char line[128] = {};
    if (pipe && fgets(line, sizeof line, pipe)) loop = line;
    if (pipe) pclose(pipe);
  }
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  if (loop.empty()) GTEST_SKIP() << "no loop device";
  std::string name = "kestrel-test-" + std::to_string(getpid());
  std::string table = "0 1000 linear " + loop + " 0\n1000 8 error\n1008 992 linear " + loop + " 1008\n";
  std::ofstream(dir_ / "table") << table;
  bool made = std::system(("dmsetup create " + name + " " + (dir_ / "table").string()).c_str()) == 0;
  test::CliResult result;
  if (made) result = test::RunCli({"image", "/dev/mapper/" + name, (dir_ / "copy.img").string()});
  if (made) std::system(("dmsetup remove " + name).c_str());
  std::system(("losetup -d " + loop).c_str());
  if (!made) GTEST_SKIP() << "dmsetup create failed";

  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(result.out.find("8 unreadable sectors (4096 bytes) written as zeros, in 1 area:\n"
                            "  bytes 512000-516095 (sectors 1000-1007)\n"),
            std::string::npos)
      << result.out;
  std::vector<uint8_t> expected = source_;
  std::fill(expected.begin() + 1000 * 512, expected.begin() + 1008 * 512, 0);
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), expected);
  EXPECT_NE(Text(dir_ / "copy.img.map").find("0x0007D000  0x00001000  -"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
