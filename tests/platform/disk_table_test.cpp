#include "platform/disk_table.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {
namespace fs = std::filesystem;

void MakeDisk(const fs::path& sys, const std::string& name, const std::string& backing = "") {
  fs::create_directories(sys / name);
  if (name.starts_with("loop")) {
    fs::create_directories(sys / name / "loop");
    std::ofstream(sys / name / "loop" / "backing_file") << backing;
  }
}

TEST(DiskTable, NumbersWholeDisksByNameLeavingOutRamAndIdleLoops) {
  test::TempDir sys;
  MakeDisk(sys.path(), "sdb");
  MakeDisk(sys.path(), "sda");
  MakeDisk(sys.path(), "nvme0n1");
  MakeDisk(sys.path(), "ram0");
  MakeDisk(sys.path(), "zram0");
  MakeDisk(sys.path(), "loop0");
  MakeDisk(sys.path(), "loop1", "/home/u/card.img");

  auto disks = ListWholeDisks(sys.path());
  ASSERT_EQ(disks.size(), 4u);
  EXPECT_EQ(disks[0].name, "loop1");
  EXPECT_EQ(disks[1].name, "nvme0n1");
  EXPECT_EQ(disks[2].name, "sda");
  EXPECT_EQ(disks[3].device, "/dev/sdb");
  EXPECT_EQ(disks[3].number, 3);
  EXPECT_EQ(DiskDevicePath(2, sys.path()), "/dev/sda");
  EXPECT_TRUE(DiskDevicePath(4, sys.path()).empty());
  EXPECT_TRUE(DiskDevicePath(-1, sys.path()).empty());
}

TEST(DiskTable, PartitionStartIsConvertedFromSysfsUnitsToDeviceSectors) {
  test::TempDir sys;
  MakeDisk(sys.path(), "sda");
  fs::create_directories(sys / "sda" / "queue");
  std::ofstream(sys / "sda" / "queue" / "logical_block_size") << "4096\n";
  fs::create_directories(sys / "sda" / "sda1");
  std::ofstream(sys / "sda" / "sda1" / "partition") << "1\n";
  std::ofstream(sys / "sda" / "sda1" / "start") << "2048\n";  // 512-byte units: 1 MiB
  EXPECT_EQ(PartitionDevicePath(0, 256, sys.path()), "/dev/sda1");
  EXPECT_TRUE(PartitionDevicePath(0, 2048, sys.path()).empty());
}

TEST(DiskTable, RegularFileIsNotABlockDevice) {
  test::TempDir dir;
  test::WriteFile(dir / "x.img", std::vector<uint8_t>(512));
  PartitionLocation location;
  EXPECT_EQ(ResolveBlockDevice(dir / "x.img", location), kErrFileNotFound);
  EXPECT_EQ(ResolveBlockDevice(dir / "missing", location), kErrFileNotFound);
}

}  // namespace
}  // namespace kestrel
