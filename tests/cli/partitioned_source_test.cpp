// Whole-disk images with MBR (extended and logical) and GPT tables: each
// partition scans and recovers as the same partition cut out on its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"

namespace kestrel {
namespace {
namespace fs = std::filesystem;
using test::RunCli;

struct Slice {
  int number;
  uint64_t firstSector;
  uint64_t sectorCount;
};

// The partitions as `probe` prints them after its first line.
std::vector<Slice> ProbedPartitions(const fs::path& image) {
  auto result = RunCli({"probe", image.string()});
  std::istringstream lines(result.out);
  std::string line;
  std::getline(lines, line);
  std::vector<Slice> slices;
  while (std::getline(lines, line)) {
    Slice s {};
    char kind[32] = {};
    if (std::sscanf(line.c_str(), "%d\t%31s\t%lu\t%lu", &s.number, kind, &s.firstSector, &s.sectorCount) == 4) {
      slices.push_back(s);
    }
  }
  return slices;
}

// What `dd bs=512 skip=first count=n` cuts.
fs::path CutOut(const fs::path& image, const Slice& slice, const fs::path& folder) {
  std::ifstream in(image, std::ios::binary);
  in.seekg(std::streamoff(slice.firstSector * 512));
  std::vector<char> bytes(slice.sectorCount * 512);
  in.read(bytes.data(), std::streamsize(bytes.size()));
  fs::path cut = folder / ("p" + std::to_string(slice.number) + ".img");
  std::ofstream(cut, std::ios::binary).write(bytes.data(), in.gcount());
  return cut;
}

// "sha256  relative path" of every file below folder, sorted.
std::vector<std::string> Hashes(const fs::path& folder) {
  std::vector<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().filename() != "recovery-report.json") {
      lines.push_back(test::Sha256Hex(entry.path()) + "  " + fs::relative(entry.path(), folder).string());
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string Section(const std::string& headed, int number) {
  std::istringstream lines(headed);
  std::string line, out;
  bool on = false;
  std::string wanted = "# partition " + std::to_string(number) + ":";
  while (std::getline(lines, line)) {
    if (line.starts_with("# partition ")) {
      on = line.starts_with(wanted);
      continue;
    }
    if (on) out += line + "\n";
  }
  return out;
}

TEST(PartitionedImage, ProbeNamesTheTableAndEveryPartitionWithItsFileSystem) {
  auto mbr = RunCli({"probe", test::TestImage("disk-mbr.img").string()});
  EXPECT_EQ(mbr.exitCode, 0) << mbr.err;
  EXPECT_EQ(mbr.out, "partition table dos\n1\tFAT\t2048\t73728\n5\tNTFS\t98304\t8192\n6\tFAT\t108544\t73728\n");
  auto gpt = RunCli({"probe", test::TestImage("disk-gpt.img").string()});
  EXPECT_EQ(gpt.out, "partition table gpt\n1\tFAT\t2048\t73728\n2\tNTFS\t75776\t8192\n");
  auto one = RunCli({"probe", "--partition", "5", test::TestImage("disk-mbr.img").string()});
  EXPECT_EQ(one.out, "NTFS\n");
}

TEST(PartitionedImage, EachPartitionListsAndRecoversAsItsCutOutCopy) {
  for (const char* name : {"disk-mbr.img", "disk-gpt.img"}) {
    test::TempDir dir;
    fs::path image = test::TestImage(name);
    auto slices = ProbedPartitions(image);
    ASSERT_GE(slices.size(), 2u) << name;
    auto whole = RunCli({"scan", "--list", image.string()}, {"XDG_DATA_HOME=" + (dir / "data").string()});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    auto all = RunCli({"recover", "--types", "all", "--keep-paths", image.string(), (dir / "all").string()},
                      {"XDG_DATA_HOME=" + (dir / "data").string()});
    ASSERT_TRUE(test::RecoveredAllButDamaged(all)) << all.exitCode << all.err;
    for (const Slice& slice : slices) {
      SCOPED_TRACE(std::string(name) + " partition " + std::to_string(slice.number));
      fs::path cut = CutOut(image, slice, dir.path());
      auto expected = RunCli({"scan", "--list", cut.string()});
      auto chosen = RunCli({"scan", "--list", "--partition", std::to_string(slice.number), image.string()});
      ASSERT_EQ(expected.exitCode, 0) << expected.err;
      EXPECT_FALSE(expected.out.empty());
      EXPECT_EQ(chosen.out, expected.out);
      EXPECT_EQ(Section(whole.out, slice.number), expected.out);

      auto cutRecover = RunCli({"recover", "--types", "all", "--keep-paths", cut.string(), (dir / "cut").string()});
      ASSERT_TRUE(test::RecoveredAllButDamaged(cutRecover)) << cutRecover.exitCode << cutRecover.err;
      auto cutHashes = Hashes(dir / "cut");
      EXPECT_FALSE(cutHashes.empty());
      EXPECT_EQ(Hashes(dir / "all" / ("partition-" + std::to_string(slice.number))), cutHashes);
      fs::remove_all(dir / "cut");
    }
  }
}

TEST(PartitionedImage, PartitionThatIsNotThereOrASourceWithoutTableIsRefused) {
  auto missing = RunCli({"scan", "--partition", "3", test::TestImage("disk-mbr.img").string()});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("no partition 3"), std::string::npos) << missing.err;
  auto bare = RunCli({"scan", "--partition", "1", test::TestImage("fat16-deleted.img").string()});
  EXPECT_EQ(bare.exitCode, 2);
  EXPECT_NE(bare.err.find("holds no partition table"), std::string::npos) << bare.err;
}

TEST(PartitionedImage, SourcesListsImagesAsDisksInJson) {
  auto result = RunCli({"sources", "--json", test::TestImage("disk-gpt.img").string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto doc = nlohmann::json::parse(result.out);
  const nlohmann::json* image = nullptr;
  for (const auto& disk : doc) {
    if (disk["image"].get<bool>()) image = &disk;
  }
  ASSERT_NE(image, nullptr);
  EXPECT_EQ((*image)["partitionTable"], "gpt");
  ASSERT_EQ((*image)["entries"].size(), 2u);
  EXPECT_EQ((*image)["entries"][1]["fileSystem"], "NTFS");
  EXPECT_EQ((*image)["entries"][1]["label"], "GPTNTFS");
  EXPECT_EQ((*image)["entries"][1]["firstSector"], 75776);
  auto missing = RunCli({"sources", "/nonexistent/card.img"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("/nonexistent/card.img"), std::string::npos);
}

TEST(DamagedBootSector, ZeroedPrimaryListsTheSameDeletedFilesFromTheBackup) {
  struct Case { const char* image; const char* note; };
  for (auto c : {Case{"fat32-deleted.img", "the FAT32 backup boot sector at sector 6"},
                 Case{"ntfs-main.img", "the NTFS backup boot sector at sector"}}) {
    test::TempDir dir;
    auto bytes = test::ReadFile(test::TestImage(c.image));
    std::fill(bytes.begin(), bytes.begin() + 512, 0);
    test::WriteFile(dir / "damaged.img", bytes);
    auto good = RunCli({"scan", "--list", test::TestImage(c.image).string()});
    auto damaged = RunCli({"scan", "--list", (dir / "damaged.img").string()});
    ASSERT_EQ(damaged.exitCode, 0) << c.image << damaged.err;
    EXPECT_FALSE(good.out.empty());
    EXPECT_EQ(damaged.out, good.out) << c.image;
    EXPECT_NE(damaged.err.find(c.note), std::string::npos) << damaged.err;
    EXPECT_EQ(good.err.find("backup"), std::string::npos);
  }
}

// A loop device with partitions, where the machine lets us make one.
TEST(PartitionedDevice, LoopDeviceWithPartitionsScansLikeTheImage) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to attach a loop device";
  fs::path image = test::TestImage("disk-mbr.img");
  std::string attach = "losetup --find --show --read-only --partscan '" + image.string() + "' 2>/dev/null";
  FILE* pipe = popen(attach.c_str(), "r");
  char buffer[64] = {};
  bool got = pipe && std::fgets(buffer, sizeof buffer, pipe);
  if (pipe) pclose(pipe);
  std::string device(buffer);
  while (!device.empty() && device.back() == '\n') device.pop_back();
  if (!got || device.empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
  struct Detach {
    std::string device;
    ~Detach() { std::system(("losetup -d " + device).c_str()); }
  } detach{device};
  if (!fs::exists(device + "p5")) GTEST_SKIP() << "the kernel made no partition nodes for " << device;

  auto fromImage = RunCli({"scan", "--list", "--partition", "5", image.string()});
  auto fromDevice = RunCli({"scan", "--list", "--partition", "5", device});
  auto fromNode = RunCli({"scan", "--list", device + "p5"});
  ASSERT_EQ(fromDevice.exitCode, 0) << fromDevice.err;
  EXPECT_EQ(fromDevice.out, fromImage.out);
  EXPECT_EQ(fromNode.out, fromImage.out);
  auto listed = RunCli({"sources"});
  EXPECT_NE(listed.out.find("MBRNTFS"), std::string::npos) << listed.out;
}

}  // namespace
}  // namespace kestrel
