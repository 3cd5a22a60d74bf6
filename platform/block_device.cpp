#include "platform/block_device.h"

#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace kestrel {

bool IsBlockDevice(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
}

std::optional<uint32_t> LogicalSectorSize(int fd) {
  int size = 0;
  if (!IsBlockDevice(fd) || ioctl(fd, BLKSSZGET, &size) != 0 || size <= 0) return std::nullopt;
  return static_cast<uint32_t>(size);
}

std::optional<uint64_t> DeviceByteLength(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
  uint64_t bytes = 0;
  if (S_ISBLK(st.st_mode) && ioctl(fd, BLKGETSIZE64, &bytes) == 0) return bytes;
  return std::nullopt;
}

std::optional<DiskGeometry> QueryGeometry(int fd) {
  // An image file read as a disk counts 512-byte sectors.
  struct stat st {};
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  auto sectorSize = regular ? std::optional<uint32_t>(512) : LogicalSectorSize(fd);
  if (!sectorSize) return std::nullopt;
  DiskGeometry geometry;
  geometry.bytesPerSector = *sectorSize;
  hd_geometry hd {};
  if (!regular && ioctl(fd, HDIO_GETGEO, &hd) == 0 && hd.heads != 0 && hd.sectors != 0) {
    geometry.tracksPerCylinder = hd.heads;
    geometry.sectorsPerTrack = hd.sectors;
  } else {
    geometry.tracksPerCylinder = 255;
    geometry.sectorsPerTrack = 63;
  }
  // The kernel's cylinder field is 16 bits wide; derive it from the length instead.
  if (auto bytes = DeviceByteLength(fd)) {
    uint64_t perCylinder = uint64_t(geometry.tracksPerCylinder) * geometry.sectorsPerTrack;
    geometry.cylinders = *bytes / geometry.bytesPerSector / perCylinder;
  }
  return geometry;
}

}  // namespace kestrel
