// Disk numbers: disk N is the Nth whole-disk block device in the name-sorted
// list of /sys/block (loop devices with a backing file included, ram and zram
// left out); whole-disk image files registered as disks follow from 128.
// Partitions resolve to (disk number, first sector, sector count).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel {

struct DiskEntry {
  int32_t number = 0;
  std::string name;               // "sda", "nvme0n1", "loop3"
  std::filesystem::path device;   // /dev/NAME
};

struct PartitionLocation {
  int32_t driveNumber = -1;
  uint64_t firstSector = 0;   // in the disk's logical sectors
  uint64_t sectorCount = 0;
  bool wholeDisk = false;
};

// Image files read as disks (a whole-disk image with a partition table) take
// numbers from here up: above every number a system disk is probed under, so
// an image keeps its number while devices come and go.
inline constexpr int32_t kFirstImageDiskNumber = 128;

// The disk number of an image file for this process; the same file (by its
// absolute path) always gets the same number. The engines then read its
// partitions as they read a partition of a system disk.
int32_t RegisterImageDisk(const std::filesystem::path& image);
bool IsImageDiskNumber(int32_t driveNumber);

std::vector<DiskEntry> ListWholeDisks(const std::filesystem::path& sysBlock = "/sys/block");
// /dev/NAME of disk N (the image path for a registered image); empty when
// there is no such disk.
std::filesystem::path DiskDevicePath(int32_t driveNumber,
                                     const std::filesystem::path& sysBlock = "/sys/block");
// Locates a block device (whole disk or partition) in the disk table. Returns a
// Win32-numbered error: 2 when it is not a known block device.
int ResolveBlockDevice(const std::filesystem::path& device, PartitionLocation& out,
                       const std::filesystem::path& sysBlock = "/sys/block");
// The /dev path of the partition of disk N that starts at firstSector, if any.
std::filesystem::path PartitionDevicePath(int32_t driveNumber, uint64_t firstSector,
                                          const std::filesystem::path& sysBlock = "/sys/block");

}  // namespace kestrel
