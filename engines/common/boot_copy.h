// A volume's boot sector, or its backup copy when the first sector passes
// neither the FAT nor the NTFS test: FAT32 keeps one in its reserved area,
// NTFS one in the volume's last sector. A volume whose first sector was
// overwritten is then still read the fast way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrel {

enum class BootCopy { kPrimary, kFatBackup, kNtfsBackup, kNone };

struct BootSectorChoice {
  BootCopy copy = BootCopy::kNone;
  uint64_t byteOffset = 0;   // of the copy used, from the volume's start
};

// Reads count bytes at a volume-relative byte offset; false when they could not be read.
using VolumeBytesReader = std::function<bool(uint64_t offset, size_t count, uint8_t* out)>;

inline constexpr size_t kBootSectorBytes = 512;

// bootSector holds the volume's first 512 bytes. When they pass the FAT or
// the NTFS test, the primary is kept. Otherwise the backup copies are tried
// (FAT32's by the sector unit sectorBytes, NTFS's at the end of volumeBytes),
// and the first that passes its own test is copied over bootSector.
BootSectorChoice ChooseBootSector(uint8_t* bootSector, uint64_t volumeBytes, uint32_t sectorBytes,
                                  const VolumeBytesReader& read);

// "the FAT32 backup boot sector at sector 6" for a note to the user; empty for the primary.
std::string DescribeBootCopy(const BootSectorChoice& choice, uint32_t sectorBytes);

}  // namespace kestrel
