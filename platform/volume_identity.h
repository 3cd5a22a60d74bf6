// What a volume calls itself: file-system type, version and label, read with
// libblkid from the device, or from the udev database when the device cannot
// be opened (an ordinary user may not read /dev/sdX, but udev has probed it).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrel {

struct VolumeIdentity {
  std::string type;            // libblkid TYPE: "vfat", "ntfs", "exfat", "ext4", ...
  std::string version;         // libblkid VERSION: "FAT32", "FAT16", ...
  std::string label;
  std::string partEntryType;   // "0x83" on MBR, a type GUID on GPT; empty when unknown
};

// blkid on the device node first; the udev record of devnum when the node
// cannot be opened. Empty fields for whatever neither source knows.
VolumeIdentity IdentifyVolume(const std::filesystem::path& deviceNode, dev_t devnum);
// blkid over byteCount bytes at offset of the disk or image open on fd.
VolumeIdentity IdentifyVolumeAt(int fd, uint64_t offset, uint64_t byteCount);

// The file-system name as Kestrel shows it: "NTFS", "FAT32", "FAT" (FAT12 and
// FAT16), "exFAT", otherwise the libblkid type ("ext4"); empty when unknown.
std::string FileSystemDisplayName(const VolumeIdentity& identity);
// The list's type code: 7 for "NTFS", 11 for "FAT32", 6 for "FAT" (names
// compared without regard to case), else the MBR type byte, else 0.
uint8_t FileSystemTypeCode(const std::string& fileSystemName, uint8_t mbrType);
// "0x83" -> 0x83; 0 for a GPT type GUID or anything else.
uint8_t MbrTypeFromEntryType(const std::string& partEntryType);

}  // namespace kestrel
