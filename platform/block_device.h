// Queries on Linux block devices: sector size, length and CHS geometry.
#pragma once

#include <cstdint>
#include <optional>

namespace kestrel {

struct DiskGeometry {
  uint64_t cylinders = 0;
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t bytesPerSector = 0;
};

bool IsBlockDevice(int fd);
// BLKSSZGET; nothing when fd is not a block device or the query fails.
std::optional<uint32_t> LogicalSectorSize(int fd);
// BLKGETSIZE64 for block devices, fstat size for regular files.
std::optional<uint64_t> DeviceByteLength(int fd);
// HDIO_GETGEO where the driver answers, else 255 heads x 63 sectors over the
// length; an image file has 512-byte sectors.
std::optional<DiskGeometry> QueryGeometry(int fd);

}  // namespace kestrel
