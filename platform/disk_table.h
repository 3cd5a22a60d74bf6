// Disk numbers: disk N is the Nth whole-disk block device in the name-sorted
// list of /sys/block (loop devices with a backing file included, ram and zram
// left out). Partitions resolve to (disk number, first sector, sector count).
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

std::vector<DiskEntry> ListWholeDisks(const std::filesystem::path& sysBlock = "/sys/block");
// /dev/NAME of disk N; empty when there is no such disk.
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
