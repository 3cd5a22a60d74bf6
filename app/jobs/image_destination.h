// Checks on where an image may be written, shared by every front end: not on
// the device being imaged, not larger than the destination's file system can
// hold in one file, and not larger than its free space.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrel {

// Largest image a FAT32 (on Linux: vfat) file can hold is 4 GiB - 1 byte; the
// old FAT driver ("msdos") is held to 2 GiB - 1, as FAT16 volumes are.
inline constexpr uint64_t kFat32FileLimit = 4294967295ull;
inline constexpr uint64_t kFatFileLimit = 2147483647ull;

struct ImageDestinationFacts {
  bool sameDevice = false;      // destination lies on the source's device (or is the source file)
  std::string fileSystem;       // mount type of the destination's folder ("vfat", "ext4"), "" unknown
  bool knowFree = false;
  uint64_t freeBytes = 0;
  uint64_t existingBytes = 0;   // destination's current length (counts as room when resuming)
  bool isBlockDevice = false;   // destination is a device, not a file
};

// Learns the facts from the system. sourceIsImage: source is a file, not a block device.
ImageDestinationFacts InspectImageDestination(const std::filesystem::path& source, bool sourceIsImage,
                                              const std::filesystem::path& destination);

// Message id naming why the image cannot go there ("MSG0218" same device,
// "MSG0220" too large for FAT32, "MSG0219" too large for FAT, "MSG0221" not
// enough free space), or "" when it can.
std::string ImageDestinationProblem(const ImageDestinationFacts& facts, uint64_t imageBytes);

}  // namespace kestrel
