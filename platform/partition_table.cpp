#include "platform/partition_table.h"

#include <blkid/blkid.h>

#include <unistd.h>

#include <cstring>
#include <memory>

#include "platform/block_device.h"

namespace kestrel {

namespace {

struct ProbeDeleter {
  void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};

bool StartsWithFileSystemName(int fd) {
  char oem[8] = {};
  if (::pread(fd, oem, sizeof oem, 3) != ssize_t(sizeof oem)) return false;
  return std::memcmp(oem, "EXFAT   ", 8) == 0 || std::memcmp(oem, "NTFS    ", 8) == 0;
}

}  // namespace

std::optional<PartitionTable> ReadPartitionTable(int fd) {
  std::unique_ptr<blkid_struct_probe, ProbeDeleter> probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), fd, 0, 0) != 0) return std::nullopt;
  // Image files count 512-byte sectors; a block device says its own size.
  uint32_t sectorBytes = LogicalSectorSize(fd).value_or(512);
  blkid_probe_set_sectorsize(probe.get(), sectorBytes);
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_partlist list = blkid_probe_get_partitions(probe.get());
  if (!list) return std::nullopt;
  blkid_parttable root = blkid_partlist_get_table(list);
  if (!root) return std::nullopt;

  PartitionTable table;
  table.kind = blkid_parttable_get_type(root) ? blkid_parttable_get_type(root) : "";
  // An exFAT or NTFS boot sector ends in 55 AA as an MBR does, and libblkid
  // may report an (empty) DOS table over it; the file system is what is there.
  if (table.kind == "dos" && StartsWithFileSystemName(fd)) return std::nullopt;
  table.sectorBytes = sectorBytes;
  int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    blkid_partition part = blkid_partlist_get_partition(list, i);
    if (!part || blkid_partition_is_extended(part)) continue;
    blkid_loff_t start = blkid_partition_get_start(part);
    blkid_loff_t size = blkid_partition_get_size(part);
    if (start < 0 || size <= 0) continue;
    PartitionTableEntry entry;
    entry.number = blkid_partition_get_partno(part);
    // libblkid counts start and size in 512-byte units whatever the sector size.
    entry.firstSector = uint64_t(start) * 512 / sectorBytes;
    entry.sectorCount = uint64_t(size) * 512 / sectorBytes;
    if (table.kind == "dos") {
      entry.mbrType = uint8_t(blkid_partition_get_type(part));
    } else {
      if (const char* guid = blkid_partition_get_type_string(part)) entry.typeGuid = guid;
      if (const char* name = blkid_partition_get_name(part)) entry.name = name;
    }
    table.entries.push_back(std::move(entry));
  }
  if (table.entries.empty()) return std::nullopt;
  return table;
}

}  // namespace kestrel
