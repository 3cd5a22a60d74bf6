// The partition table at the start of a disk or a whole-disk image file, as
// libblkid reads it (MBR with extended and logical partitions, GPT).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

struct PartitionTableEntry {
  int32_t number = 0;         // as the kernel numbers it: 1-4 primary, 5 on logical
  uint64_t firstSector = 0;   // in sectorBytes units, from the start of the disk
  uint64_t sectorCount = 0;
  uint8_t mbrType = 0;        // MBR partition type byte; 0 on GPT
  std::string typeGuid;       // GPT partition type; empty on MBR
  std::string name;           // GPT partition name; empty on MBR
};

struct PartitionTable {
  std::string kind;           // "dos" or "gpt", as libblkid names it
  uint32_t sectorBytes = 512;
  // Volumes only, in table order: MBR extended containers are left out (their
  // logical partitions are listed instead).
  std::vector<PartitionTableEntry> entries;
};

// Reads the partition table of the disk or image file open on fd. Nothing when
// there is none: a file system written straight onto the device (a FAT boot
// sector carries the same 55 AA mark as an MBR), a table without partitions,
// an unknown table, or a device that cannot be read.
std::optional<PartitionTable> ReadPartitionTable(int fd);

}  // namespace kestrel
