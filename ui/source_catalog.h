// What can be scanned or imaged, as the window lists it: whole disks with
// their volumes and gaps (from the disk list) and image files the user loaded.
// Each entry keeps the engine of its last scan.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "engines/file_recovery_parse.h"

namespace kestrel::ui {

struct SourceItem {
  enum class Kind { kPartition, kDisk, kImage };
  Kind kind = Kind::kPartition;
  int32_t disk = -1;                 // disk number (partitions and disks)
  int32_t entryNumber = 0;           // number shown for a partition (it has no letter)
  uint64_t firstSector = 0;          // in the disk's logical sectors
  uint64_t sectorCount = 0;
  uint64_t totalBytes = 0;
  uint64_t usedBytes = 0;
  uint64_t freeBytes = 0;
  bool spaceKnown = false;           // used/free are known (a mounted volume)
  bool removable = false;
  std::filesystem::path path;        // /dev node or the image file
  std::filesystem::path mountPoint;  // empty when not mounted
  QString fileSystem;                // "FAT", "NTFS", "ext", "" unknown
  QString label;
  QString model;
  std::unique_ptr<IFileRecoveryParse> engine;  // from the last scan of this source
};

// Disks (kind kDisk, each followed by its volumes and unallocated stretches),
// numbered as the disk list numbers them. sysBlock is replaceable for tests.
std::vector<std::unique_ptr<SourceItem>> EnumerateDisks(const std::filesystem::path& sysBlock = "/sys/block");

// An image file as a source: its length and the file system at its start.
std::unique_ptr<SourceItem> MakeImageSource(const std::filesystem::path& image);

}  // namespace kestrel::ui
