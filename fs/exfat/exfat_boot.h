// The exFAT boot region: recognising the main boot sector, its checksum
// sector, and the geometry every other exFAT structure is addressed by.
#pragma once

#include <cstdint>

#include "platform/byte_view.h"

namespace kestrel {

// Sectors 0..10 of a boot region are covered by the checksum in sector 11.
inline constexpr uint32_t kExfatChecksummedSectors = 11;
// A cluster number at or above this is an end mark, bad mark or reserved.
inline constexpr uint32_t kExfatFirstReservedCluster = 0xFFFFFFF6u;
inline constexpr uint32_t kExfatEndOfChain = 0xFFFFFFFFu;

struct ExfatGeometry {
  uint32_t bytesPerSectorShift = 9;
  uint32_t sectorsPerClusterShift = 0;
  uint64_t volumeLength = 0;       // sectors
  uint32_t fatOffset = 0;          // sectors from the volume start
  uint32_t fatLength = 0;          // sectors
  uint32_t clusterHeapOffset = 0;  // sectors from the volume start
  uint32_t clusterCount = 0;
  uint32_t rootCluster = 0;
  uint8_t numberOfFats = 1;

  uint32_t BytesPerSector() const { return 1u << bytesPerSectorShift; }
  uint32_t SectorsPerCluster() const { return 1u << sectorsPerClusterShift; }
  uint64_t ClusterBytes() const { return uint64_t(1) << (bytesPerSectorShift + sectorsPerClusterShift); }
  bool IsValidCluster(uint64_t cluster) const { return cluster >= 2 && cluster < uint64_t(clusterCount) + 2; }
  // Volume-relative first sector of a cluster (which must be valid).
  uint64_t ClusterSector(uint32_t cluster) const {
    return clusterHeapOffset + (uint64_t(cluster - 2) << sectorsPerClusterShift);
  }
  // The cluster holding a volume-relative sector; 0 when it is outside the heap.
  uint32_t ClusterOfSector(uint64_t sector) const;
};

// "EXFAT   " with the zeroed legacy BPB and sane, self-consistent fields.
bool IsExfatBootSector(ByteView bootSector);

// Reads the geometry of a sector that passes IsExfatBootSector; false otherwise.
bool ParseExfatBoot(ByteView bootSector, ExfatGeometry& out);

// The checksum over sectors 0..10 of a boot region (flags and percent-in-use
// bytes of sector 0 left out, as they change while the volume is mounted).
uint32_t ExfatBootChecksum(ByteView region, uint32_t bytesPerSector);

// True when region holds 12 sectors and sector 11 repeats the checksum of
// sectors 0..10 throughout.
bool ExfatBootChecksumMatches(ByteView region, uint32_t bytesPerSector);

}  // namespace kestrel
