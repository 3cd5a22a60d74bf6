// FAT volume geometry from the boot sector: FAT type, where the FATs, the
// FAT12/16 root region and the data area lie. Pure parsing over a ByteView,
// shared by the fast and the deep FAT engines.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/byte_view.h"

namespace kestrel {

enum class FatType { kFat12, kFat16, kFat32 };

struct FatGeometry {
  FatType type = FatType::kFat16;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t fatCount = 0;
  uint32_t fatSectors = 0;       // sectors of one FAT
  uint32_t rootEntryCount = 0;   // FAT12/16 root region entries; 0 on FAT32
  uint32_t rootDirSectors = 0;   // FAT12/16 root region length; 0 on FAT32
  uint32_t rootCluster = 0;      // FAT32 root directory cluster; 0 means the FAT12/16 root region
  uint64_t totalSectors = 0;     // 32-bit field, the 16-bit one when that is 0
  uint64_t firstDataSector = 0;  // partition-relative
  uint32_t clusterCount = 0;     // data clusters: valid numbers are 2 .. clusterCount + 1

  bool IsFat32() const { return type == FatType::kFat32; }
  uint32_t ClusterBytes() const { return sectorsPerCluster * bytesPerSector; }
  // Partition-relative first sector of the FAT12/16 root region.
  uint64_t RootRegionSector() const { return firstDataSector - rootDirSectors; }
  // Partition-relative first sector of cluster c (c >= 2); cluster 0 is the root region.
  uint64_t ClusterSector(uint32_t c) const {
    if (c < 2) return RootRegionSector();
    return firstDataSector + uint64_t(c - 2) * sectorsPerCluster;
  }
  bool IsValidCluster(uint64_t c) const { return c >= 2 && c < uint64_t(clusterCount) + 2; }
};

// Two tests on purpose, because their callers can afford different errors:
// - IsFatBootSector is strict: it names the file system of a volume (the
//   probe, a deep scan's geometry), so a wrong yes would send a scan through
//   garbage. The BPB must describe a FAT12/16 or FAT32 volume whose cluster
//   count fits, and the sector must end in 55 AA.
// - LooksLikeBootSector is loose: a jump instruction and 55 AA, whatever the
//   OEM name or BPB say, as any FAT, exFAT or NTFS boot sector (or a damaged
//   one) has. It is the cheap gate in front of the deep members' own parsers
//   and the boundary of carving: a carved file never runs across one.
bool IsFatBootSector(ByteView bootSector);
bool LooksLikeBootSector(ByteView sector);
// A BitLocker-encrypted volume: "-FVE-FS-", or the BitLocker To Go sector
// that shows a FAT32 BPB to old readers. IsFatBootSector refuses it.
bool IsBitLockerBootSector(ByteView bootSector);
// The BPB tests inside IsFatBootSector: a FAT12/16 one and a FAT32 one.
bool IsFat1216Bpb(ByteView bootSector);
bool IsFat32Bpb(ByteView bootSector);

// Fills geometry from a FAT boot sector. The type follows the cluster count
// (fewer than 4,085 clusters: FAT12; fewer than 65,525: FAT16) unless the BPB
// is a FAT32 one (16-bit FAT size 0), which is how mkfs and Windows tell them
// apart. 87 when the fields cannot describe a FAT volume.
int ParseFatBoot(ByteView boot, FatGeometry& out);

// FAT32 keeps a copy of its boot sector in the reserved area. Where to look
// when the first sector is damaged, best first: the sector the damaged BPB
// names at 0x32 when that still looks like a reserved-area sector, then
// sector 6, where every formatter puts it.
std::vector<uint32_t> FatBackupBootSectors(ByteView damagedBoot);

}  // namespace kestrel
