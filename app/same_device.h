// The recovery-to-the-scanned-drive check: files written to the disk being
// recovered from can overwrite the very clusters they are read from.
#pragma once

#include <filesystem>

#include "engines/scan_source.h"

namespace kestrel {

// True when destination (or, if it does not exist yet, its nearest existing
// folder) lies on the same disk as the block device source: the same device,
// or two partitions of one disk, or a partition and its whole disk.
bool OnSameDisk(const std::filesystem::path& blockDevice, const std::filesystem::path& destination);

// Whether recovering source into destination must be refused unless the user
// insists: a block device whose disk also holds destination. An image file
// is never refused (it is read, not the disk it lies on).
bool DestinationOnSourceDisk(const ScanSource& source, const std::filesystem::path& destination);

}  // namespace kestrel
