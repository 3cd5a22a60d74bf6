// What can be scanned or imaged, as the window lists it: whole disks with
// their volumes and gaps (from the disk list) and image files the user loaded,
// an image with a partition table together with its partitions. Each entry
// keeps what its last scan left (the engine and the outcome).
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/jobs/scan_job.h"
#include "platform/disk_list.h"

namespace kestrel::ui {

struct SourceItem {
  enum class Kind { kPartition, kDisk, kImage };
  Kind kind = Kind::kPartition;
  int32_t disk = -1;                 // disk number (disk partitions and disks)
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
  // The disk or partitioned image a partition row belongs to; null for top rows.
  SourceItem* parent = nullptr;
  // Where a listed volume lies, for resolving it like the CLI does.
  DiskDetails diskDetails;
  PartitionDescriptor volume;
  bool listedVolume = false;         // volume/diskDetails are set
  ScanEntry scan;                    // the resolved source, the last scan's engine and outcome

  bool InImage() const { return kind == Kind::kImage || (parent && parent->kind == Kind::kImage); }
  IFileRecoveryParse* engine() const { return scan.engine.get(); }
};

// Disks (kind kDisk, each followed by its volumes and unallocated stretches),
// numbered as the disk list numbers them. sysBlock is replaceable for tests.
std::vector<std::unique_ptr<SourceItem>> EnumerateDisks(const std::filesystem::path& sysBlock = "/sys/block");

// An image file as a source: its length and the file system at its start;
// an image with a partition table comes first, followed by one partition row
// per volume of its table.
std::vector<std::unique_ptr<SourceItem>> MakeImageSources(const std::filesystem::path& image);

// Resolves item into item.scan.source (located, measured and probed), ready
// for the scan job. Win32-numbered error when the source is gone.
int ResolveForScan(SourceItem& item);

}  // namespace kestrel::ui
