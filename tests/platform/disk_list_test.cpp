#include "platform/disk_list.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "platform/partition_table.h"
#include "support/test_support.h"

namespace kestrel {
namespace {
namespace fs = std::filesystem;

constexpr uint64_t kCylinder = 255 * 63;

// A /sys/block tree the way the kernel lays it out, with the disks' device
// folders under a devices/ tree so that bus names show in their real paths.
class FakeSystem {
 public:
  FakeSystem() {
    fs::create_directories(root_ / "block");
    settings.sysBlock = root_.path() / "block";
    settings.mountInfo = root_.path() / "mountinfo";
    std::ofstream(settings.mountInfo) << "";
    settings.identify = [this](const fs::path& node, dev_t) {
      auto found = identities.find(node.filename().string());
      return found == identities.end() ? VolumeIdentity{} : found->second;
    };
  }

  // bus: a folder the device hangs under, such as "usb1/1-1" or "ata1".
  void AddDisk(const std::string& name, uint64_t sectors512, const std::string& bus = "ata1",
               const std::string& model = "") {
    fs::path real = root_.path() / "devices" / "pci0000:00" / bus / "block" / name;
    fs::create_directories(real / "queue");
    fs::create_directories(real / "device");
    std::ofstream(real / "size") << sectors512 << "\n";
    std::ofstream(real / "dev") << "8:" << nextMinor_ << "\n";
    nextMinor_ += 16;
    if (!model.empty()) std::ofstream(real / "device" / "model") << model << "   \n";
    fs::create_directory_symlink(real, settings.sysBlock / name);
  }

  void AddPartition(const std::string& disk, int number, uint64_t start512, uint64_t size512) {
    fs::path dir = settings.sysBlock / disk / (disk + std::to_string(number));
    fs::create_directories(dir);
    std::ofstream(dir / "partition") << number << "\n";
    std::ofstream(dir / "start") << start512 << "\n";
    std::ofstream(dir / "size") << size512 << "\n";
    std::ofstream(dir / "dev") << "8:" << nextMinor_++ << "\n";
  }

  void Mount(const std::string& partition, const fs::path& where) {
    std::string dev;
    std::ifstream(settings.sysBlock / partition.substr(0, 3) / partition / "dev") >> dev;
    std::ofstream(settings.mountInfo, std::ios::app)
        << "36 1 " << dev << " / " << where.string() << " rw,relatime shared:1 - vfat /dev/" << partition
        << " rw\n";
  }

  EnumerationSettings settings;
  std::map<std::string, VolumeIdentity> identities;

 private:
  test::TempDir root_;
  int nextMinor_ = 0;
};

std::vector<PartitionDescriptor> All(const DiskList& list) {
  std::vector<PartitionDescriptor> all;
  CopyAllDescriptors(list, all);
  return all;
}

TEST(DiskList, GapsLongerThanOneCylinderOnlyAndWholeDisksNumberedAcrossDisks) {
  FakeSystem system;
  uint64_t p3 = 2048 + 10000 + 5000 + kCylinder;       // a hole of exactly one cylinder before it
  uint64_t p4 = p3 + 1000 + kCylinder + 1;             // a hole one sector longer
  uint64_t diskA = (p4 + 1000) / kCylinder * kCylinder + 5 * kCylinder;
  system.AddDisk("sda", diskA, "ata1", "Fixed Disk");
  system.AddPartition("sda", 1, 2048, 10000);          // 2048 - 63 is below one cylinder: no leading gap
  system.AddPartition("sda", 2, 12048, 5000);          // adjacent: no gap
  system.AddPartition("sda", 3, p3, 1000);
  system.AddPartition("sda", 4, p4, 1000);
  system.AddDisk("sdb", 400 * kCylinder);               // no volume: one whole-disk entry
  system.AddDisk("sdc", 400 * kCylinder);
  system.AddPartition("sdc", 1, 20000, 100 * kCylinder);  // leading gap from sector 63
  system.identities["sda1"] = {"ntfs", "", "System", ""};
  system.identities["sda2"] = {"vfat", "FAT32", "CARD", ""};
  system.identities["sda3"] = {"vfat", "FAT16", "", ""};
  system.identities["sda4"] = {"ext4", "1.0", "home", "0x83"};

  DiskList list;
  ASSERT_TRUE(RefreshDiskList(list, system.settings));
  auto all = All(list);
  ASSERT_EQ(all.size(), 10u);
  // Disk 0: four volumes, one gap after the third (the one-sector-longer hole), one trailing.
  EXPECT_EQ(all[0].type, 7);
  EXPECT_EQ(all[0].fileSystemName, "NTFS");
  EXPECT_EQ(all[0].label, "System");
  EXPECT_EQ(all[1].type, 11);
  EXPECT_EQ(all[2].type, 6);
  EXPECT_EQ(all[2].fileSystemName, "FAT");
  EXPECT_EQ(all[3].kind, EntryKind::kGap);
  EXPECT_EQ(all[3].firstSector, p3 + 1000);
  EXPECT_EQ(all[3].sectorCount, kCylinder + 1);
  EXPECT_EQ(all[3].freeBytes, (kCylinder + 1) * 512);
  EXPECT_EQ(all[3].partitionNumber, 0);
  EXPECT_EQ(all[4].type, 0x83);   // neither NTFS nor FAT: the MBR type byte
  EXPECT_EQ(all[4].partitionNumber, 4);
  EXPECT_EQ(all[5].kind, EntryKind::kGap);
  EXPECT_EQ(all[5].firstSector, p4 + 1000);
  EXPECT_EQ(all[5].firstSector + all[5].sectorCount, diskA);
  // Disk 1: whole disk.
  EXPECT_EQ(all[6].kind, EntryKind::kWholeDisk);
  EXPECT_EQ(all[6].diskNumber, 1);
  EXPECT_EQ(all[6].sectorCount, 400 * kCylinder);
  EXPECT_EQ(all[6].device, "/dev/sdb");
  // Disk 2: leading gap from the first track's end.
  EXPECT_EQ(all[7].kind, EntryKind::kGap);
  EXPECT_EQ(all[7].firstSector, 63u);
  EXPECT_EQ(all[7].sectorCount, 20000u - 63);
  EXPECT_EQ(all[8].firstSector, 20000u);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].entryNumber, i + 1) << i;
  EXPECT_EQ(list.disks.at(0).model, "Fixed Disk");

  PartitionDescriptor next;
  size_t walked = 0;
  while (NextDescriptor(list, next)) EXPECT_EQ(next.entryNumber, ++walked);
  EXPECT_EQ(walked, all.size());
}

TEST(DiskList, ExtendedStubsAreLeftOutAndAFileSystemOnTheWholeDeviceIsAVolume) {
  FakeSystem system;
  system.AddDisk("sda", 200 * kCylinder);
  system.AddPartition("sda", 1, 2048, 4096);
  system.AddPartition("sda", 2, 8192, 2);               // extended container: a 1 KiB stub
  system.AddPartition("sda", 5, 10240, 4096);
  system.identities["sda2"] = {"", "", "", "0x5"};
  system.AddDisk("sdb", 100 * kCylinder, "usb1/1-1");   // a card formatted without a table
  system.identities["sdb"] = {"vfat", "FAT32", "NOTABLE", ""};

  DiskList list;
  ASSERT_TRUE(RefreshDiskList(list, system.settings));
  const auto& disk0 = list.entries.at(0);
  std::vector<int32_t> numbers;
  for (const auto& entry : disk0) {
    if (entry.kind == EntryKind::kVolume) numbers.push_back(entry.partitionNumber);
  }
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 5}));
  const auto& disk1 = list.entries.at(1);
  ASSERT_EQ(disk1.size(), 1u);
  EXPECT_EQ(disk1[0].kind, EntryKind::kVolume);
  EXPECT_EQ(disk1[0].partitionNumber, 0);
  EXPECT_EQ(disk1[0].type, 11);
  EXPECT_EQ(disk1[0].label, "NOTABLE");
}

TEST(DiskList, RemovableByFlagOrByUsbOrMmcBus) {
  FakeSystem system;
  system.AddDisk("mmcblk0", 1000, "mmc_host/mmc0/mmc0:0001");
  system.AddDisk("sda", 1000, "ata1");
  system.AddDisk("sdb", 1000, "usb2/2-1/2-1:1.0/host6");
  system.AddDisk("sdc", 1000, "ata2");
  std::ofstream(system.settings.sysBlock / "sdc" / "removable") << "1\n";
  std::ofstream(system.settings.sysBlock / "sda" / "removable") << "0\n";
  EXPECT_TRUE(IsRemovableDisk(0, system.settings.sysBlock));
  EXPECT_FALSE(IsRemovableDisk(1, system.settings.sysBlock));
  EXPECT_TRUE(IsRemovableDisk(2, system.settings.sysBlock));
  EXPECT_TRUE(IsRemovableDisk(3, system.settings.sysBlock));
  EXPECT_FALSE(IsRemovableDisk(4, system.settings.sysBlock));
}

TEST(DiskList, MountedVolumeTakesSizesFromItsFileSystemAndRemovedEntriesAreFound) {
  FakeSystem system;
  test::TempDir mounted;
  system.AddDisk("sda", 300 * kCylinder);
  system.AddPartition("sda", 1, 2048, 100 * kCylinder);
  system.AddPartition("sda", 2, 2048 + 100 * kCylinder, 100 * kCylinder);
  system.AddDisk("sdb", 100 * kCylinder);
  system.identities["sda1"] = {"vfat", "FAT32", "", ""};
  system.Mount("sda1", mounted.path());

  DiskList list;
  ASSERT_TRUE(RefreshDiskList(list, system.settings));
  auto before = All(list);
  const auto& first = before[0];
  EXPECT_EQ(first.mountPoint, mounted.path());
  uint64_t free = 0;
  ASSERT_EQ(GetVolumeFreeBytes(mounted.path(), free), kSuccess);
  EXPECT_GT(first.totalBytes, 0u);
  EXPECT_EQ(first.usedBytes, first.totalBytes - first.freeBytes);
  // An unmounted volume: nothing says what is free.
  EXPECT_EQ(before[1].totalBytes, 100 * kCylinder * 512);
  EXPECT_EQ(before[1].freeBytes, 0u);
  std::string name;
  ASSERT_EQ(GetVolumeFileSystemName(mounted.path(), name, system.settings), kSuccess);
  EXPECT_EQ(name, "FAT32");
  EXPECT_EQ(GetVolumeFileSystemName(mounted / "elsewhere", name, system.settings), kErrFileNotFound);

  // Entries match by disk and first sector: the first partition's place now
  // starts a gap at sector 63, and the second disk is gone.
  fs::remove_all(system.settings.sysBlock / "sda" / "sda1");
  fs::remove(system.settings.sysBlock / "sdb");
  std::vector<PartitionDescriptor> removed;
  FindRemovedDescriptors(list, before, removed, system.settings);
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0].partitionNumber, 1);
  EXPECT_EQ(removed[1].kind, EntryKind::kWholeDisk);
  EXPECT_EQ(removed[1].diskNumber, 1);

  // No mount table: the refresh fails and leaves nothing behind.
  system.settings.mountInfo = mounted / "missing";
  EXPECT_FALSE(RefreshDiskList(list, system.settings));
  EXPECT_TRUE(list.entries.empty());
}

TEST(DiskList, ImagesWithPartitionTablesAreDisksOfTheirOwn) {
  FakeSystem system;
  system.AddDisk("sda", 0);   // an empty card reader: nothing to list
  system.settings.images = {test::TestImage("disk-mbr.img"), test::TestImage("disk-gpt.img"),
                            test::TestImage("fat16-deleted.img"), "/nonexistent/card.img"};
  DiskList list;
  ASSERT_TRUE(RefreshDiskList(list, system.settings));
  EXPECT_TRUE(list.entries.at(0).empty());
  ASSERT_EQ(list.imageErrors.size(), 1u);
  EXPECT_EQ(list.imageErrors[0].second, kErrFileNotFound);

  int32_t mbr = RegisterImageDisk(test::TestImage("disk-mbr.img"));
  EXPECT_GE(mbr, kFirstImageDiskNumber);
  EXPECT_EQ(list.disks.at(mbr).tableKind, "dos");
  std::vector<std::string> mbrEntries;
  for (const auto& e : list.entries.at(mbr)) {
    mbrEntries.push_back(std::to_string(e.partitionNumber) + ":" + e.fileSystemName + ":" + e.label);
  }
  // Primary FAT32, the 10 MiB hole before the extended partition, logical NTFS and FAT32.
  EXPECT_EQ(mbrEntries, (std::vector<std::string>{"1:FAT32:MBRFAT", "0::", "5:NTFS:MBRNTFS", "6:FAT32:MBRLOGICAL"}));
  EXPECT_EQ(list.entries.at(mbr)[1].kind, EntryKind::kGap);

  int32_t gpt = RegisterImageDisk(test::TestImage("disk-gpt.img"));
  EXPECT_EQ(list.disks.at(gpt).tableKind, "gpt");
  const auto& gptEntries = list.entries.at(gpt);
  ASSERT_EQ(gptEntries.size(), 2u);
  EXPECT_EQ(gptEntries[0].type, 11);
  EXPECT_EQ(gptEntries[1].type, 7);
  EXPECT_EQ(gptEntries[1].partitionNumber, 2);

  // A bare file system is one volume over the whole image.
  int32_t bare = RegisterImageDisk(test::TestImage("fat16-deleted.img"));
  ASSERT_EQ(list.entries.at(bare).size(), 1u);
  EXPECT_EQ(list.entries.at(bare)[0].partitionNumber, 0);
  EXPECT_EQ(list.entries.at(bare)[0].fileSystemName, "FAT");
  EXPECT_TRUE(list.disks.at(bare).tableKind.empty());
  EXPECT_EQ(DiskDevicePath(bare), test::TestImage("fat16-deleted.img"));
  uint64_t length = 0;
  ASSERT_EQ(GetDiskLengthBytes(bare, length), kSuccess);
  EXPECT_EQ(length, fs::file_size(test::TestImage("fat16-deleted.img")));
}

TEST(PartitionTable, FatBootSectorIsNotTakenForAnMbr) {
  int fd = ::open(test::TestImage("fat32-deleted.img").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(ReadPartitionTable(fd).has_value());
  ::close(fd);
  fd = ::open(test::TestImage("disk-mbr.img").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  auto table = ReadPartitionTable(fd);
  ::close(fd);
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->entries.size(), 3u);
  EXPECT_EQ(table->entries[0].mbrType, 0x0C);
  EXPECT_EQ(table->entries[1].number, 5);
  EXPECT_EQ(table->entries[1].mbrType, 0x07);
  EXPECT_EQ(table->entries[2].number, 6);
  EXPECT_GT(table->entries[2].firstSector, table->entries[1].firstSector + table->entries[1].sectorCount);
}

}  // namespace
}  // namespace kestrel
