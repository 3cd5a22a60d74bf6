// The partitions of a whole disk or of a whole-disk image: which volumes a
// source holds, and one of them, by the number its partition table gives it,
// as a source of its own that every job (scan, recover, probe, image) takes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engines/scan_source.h"
#include "platform/disk_list.h"

namespace kestrel {

struct SourceVolumes {
  DiskDetails disk;
  // The volumes with a partition number, in the order of the disk.
  std::vector<PartitionDescriptor> volumes;
  bool partitioned = false;   // the source holds a partition table
};

// Lists the volumes of a whole-disk device or an image file. A partition
// node, or an image holding one file system without a table, comes back
// with partitioned false (it is scanned as one volume). Win32-numbered error.
int ListSourceVolumes(const std::filesystem::path& path, SourceVolumes& out);

// The partition numbered number on the disk or image at path, resolved and
// probed like any source (path stays as given, for messages). 2 when the
// source has no such partition, 87 when it holds no partition table.
int ResolveSourcePartition(const std::filesystem::path& path, int32_t number, ScanSource& out);
// The same for an entry of a listed disk.
void ResolveListedVolume(const std::filesystem::path& path, const DiskDetails& disk,
                         const PartitionDescriptor& volume, ScanSource& out);

// Where the bytes of a partition lie: the file to open read-only (the disk's
// device or the image) and the byte range in it.
struct SourceByteRange {
  std::filesystem::path file;
  uint64_t offset = 0;
  uint64_t length = 0;
};
int ResolvePartitionByteRange(const std::filesystem::path& path, int32_t number, SourceByteRange& out);

}  // namespace kestrel
