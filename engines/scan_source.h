// One scan source as a front end resolved it: an image file or a block device
// (whole disk or partition) with its sector size, its length and the first
// bytes of the volume it holds. Resolved once and handed to every step of a
// scan, so the source is located, measured and probed a single time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "engines/common/boot_copy.h"
#include "fs/volume_probe.h"
#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace kestrel {

struct ScanSource {
  std::filesystem::path path;   // as the user named it
  bool isImage = true;
  PartitionLocation partition;  // block devices only
  int32_t sectorBytes = kImageSectorBytes;
  uint64_t length = 0;          // bytes of the image, or of the partition (whole disk) on its disk
  // The first kProbeBytes of the volume. When they could not be read,
  // probeError says why (the source could not be opened, or is shorter than
  // the probe) and kind stays unrecognised.
  std::vector<uint8_t> probe;
  int probeError = kSuccess;
  FileSystemKind kind = FileSystemKind::kUnrecognised;
  // Which boot sector the probe holds: the backup copy when the first sector
  // was damaged, so a front end can say so.
  BootSectorChoice boot;
};

}  // namespace kestrel
