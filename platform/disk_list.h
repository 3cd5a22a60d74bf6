// The list of things a user can scan: every volume on every disk with its
// position, file system, label and sizes; every unallocated stretch longer
// than one cylinder; and every disk without a volume as one whole-disk entry.
// Image files holding a partition table are listed as disks of their own.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "platform/volume_identity.h"

namespace kestrel {

enum class EntryKind { kVolume, kGap, kWholeDisk };

struct PartitionDescriptor {
  // Linux volumes carry no drive letter: every entry is numbered across the
  // whole list, disk by disk, once it is finished. 0 while the list is built.
  uint32_t entryNumber = 0;
  EntryKind kind = EntryKind::kVolume;
  uint8_t type = 0;               // 7 NTFS, 11 FAT32, 6 FAT, else the MBR type byte; 0 gaps and whole disks
  int32_t diskNumber = -1;
  int32_t partitionNumber = -1;   // as the partition table numbers it; 0 for gaps, whole disks and
                                  // a file system written onto the whole device
  uint64_t totalBytes = 0;
  uint64_t usedBytes = 0;
  uint64_t freeBytes = 0;
  uint64_t firstSector = 0;       // in the disk's sectors
  uint64_t sectorCount = 0;
  std::string fileSystemName;     // "NTFS", "FAT32", "FAT", "ext4", ...; empty for gaps and whole disks
  std::filesystem::path mountPoint;  // empty when not mounted
  std::string label;
  std::filesystem::path device;   // /dev/sdb1; the disk's device or image for gaps and whole disks
};

struct DiskDetails {
  int32_t number = -1;
  std::filesystem::path device;   // /dev/NAME, or the image file
  std::string model;              // from sysfs when it has one
  uint64_t bytes = 0;
  uint32_t sectorBytes = 512;
  bool removable = false;
  bool isImage = false;
  std::string tableKind;          // "dos", "gpt" or empty
};

// How the list is read; tests point the paths at a fake tree and replace the
// volume identification.
struct EnumerationSettings {
  std::filesystem::path sysBlock = "/sys/block";
  std::filesystem::path mountInfo = "/proc/self/mountinfo";
  std::function<VolumeIdentity(const std::filesystem::path& node, dev_t devnum)> identify = IdentifyVolume;
  std::vector<std::filesystem::path> images;   // image files listed as disks of their own
};

class DiskList {
 public:
  // disk number -> its entries by first sector
  std::map<int32_t, std::vector<PartitionDescriptor>> entries;
  std::map<int32_t, DiskDetails> disks;
  // Images that could not be read: path and Win32-numbered error.
  std::vector<std::pair<std::filesystem::path, int>> imageErrors;

 private:
  friend bool RefreshDiskList(DiskList&, const EnumerationSettings&);
  friend bool NextDescriptor(DiskList&, PartitionDescriptor&);
  int32_t cursorDisk_ = std::numeric_limits<int32_t>::min();
  size_t cursorIndex_ = 0;
};

// Rebuilds the list from nothing. False (and an empty list) only when the
// mount table cannot be read; a device that cannot be opened never fails it.
bool RefreshDiskList(DiskList& list, const EnumerationSettings& settings = {});
// The list of one disk only, entries numbered as if it were the only disk:
// a whole-disk block device or an image file. 87 for a partition node, 2
// when the path names neither.
int ListSingleDisk(const std::filesystem::path& source, DiskList& list, const EnumerationSettings& settings = {});
// Each entry once, disk by disk in ascending number; false at the end.
bool NextDescriptor(DiskList& list, PartitionDescriptor& out);
void CopyAllDescriptors(const DiskList& list, std::vector<PartitionDescriptor>& out);
// Refreshes the list and appends to removed every old entry that no new entry
// matches by disk number and first sector.
void FindRemovedDescriptors(DiskList& list, const std::vector<PartitionDescriptor>& oldDescriptors,
                            std::vector<PartitionDescriptor>& removed,
                            const EnumerationSettings& settings = {});

// The sysfs removable flag, or a device path that runs through a USB or MMC
// bus (card readers often report fixed media).
bool IsRemovableDisk(int32_t driveNumber, const std::filesystem::path& sysBlock = "/sys/block");
// Win32-numbered error; the byte length of disk N (or of a registered image).
int GetDiskLengthBytes(int32_t driveNumber, uint64_t& out);
// Free bytes of the file system mounted at mountPoint (all free blocks, not
// only those an ordinary user may fill).
int GetVolumeFreeBytes(const std::filesystem::path& mountPoint, uint64_t& out);
// "NTFS", "FAT32", "FAT", ... of the file system mounted at mountPoint.
int GetVolumeFileSystemName(const std::filesystem::path& mountPoint, std::string& out,
                            const EnumerationSettings& settings = {});

}  // namespace kestrel
