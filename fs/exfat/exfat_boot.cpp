#include "fs/exfat/exfat_boot.h"

namespace kestrel {

namespace {

constexpr size_t kLegacyBpbStart = 11;
constexpr size_t kLegacyBpbEnd = 64;

}  // namespace

uint32_t ExfatGeometry::ClusterOfSector(uint64_t sector) const {
  if (sector < clusterHeapOffset) return 0;
  uint64_t cluster = ((sector - clusterHeapOffset) >> sectorsPerClusterShift) + 2;
  return IsValidCluster(cluster) ? uint32_t(cluster) : 0;
}

bool IsExfatBootSector(ByteView b) {
  ExfatGeometry ignored;
  return ParseExfatBoot(b, ignored);
}

bool ParseExfatBoot(ByteView b, ExfatGeometry& out) {
  if (!b.Has(0, 512) || !b.Matches(3, "EXFAT   ")) return false;
  if (b.u8(0x1FE) != 0x55 || b.u8(0x1FF) != 0xAA) return false;
  // The legacy FAT BPB must be zero, so that FAT drivers refuse the volume.
  for (size_t i = kLegacyBpbStart; i < kLegacyBpbEnd; ++i) {
    if (b.u8(i) != 0) return false;
  }
  ExfatGeometry g;
  g.volumeLength = b.le64(72);
  g.fatOffset = b.le32(80);
  g.fatLength = b.le32(84);
  g.clusterHeapOffset = b.le32(88);
  g.clusterCount = b.le32(92);
  g.rootCluster = b.le32(96);
  g.bytesPerSectorShift = b.u8(108);
  g.sectorsPerClusterShift = b.u8(109);
  g.numberOfFats = b.u8(110);
  if (g.bytesPerSectorShift < 9 || g.bytesPerSectorShift > 12) return false;
  // Clusters are at most 32 MiB.
  if (g.sectorsPerClusterShift > 25 - g.bytesPerSectorShift) return false;
  if (g.numberOfFats != 1 && g.numberOfFats != 2) return false;
  if (g.fatOffset < 24 || g.fatLength == 0) return false;
  if (uint64_t(g.fatOffset) + uint64_t(g.fatLength) * g.numberOfFats > g.clusterHeapOffset) return false;
  if (g.clusterCount == 0 || g.clusterCount > kExfatFirstReservedCluster - 2) return false;
  // The FAT must hold an entry for every cluster, and the heap must fit the volume.
  if ((uint64_t(g.clusterCount) + 2) * 4 > (uint64_t(g.fatLength) << g.bytesPerSectorShift)) return false;
  if (g.clusterHeapOffset + (uint64_t(g.clusterCount) << g.sectorsPerClusterShift) > g.volumeLength) return false;
  if (!g.IsValidCluster(g.rootCluster)) return false;
  out = g;
  return true;
}

uint32_t ExfatBootChecksum(ByteView region, uint32_t bytesPerSector) {
  uint32_t sum = 0;
  size_t length = size_t(bytesPerSector) * kExfatChecksummedSectors;
  for (size_t i = 0; i < length && i < region.size(); ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region.u8(i);
  }
  return sum;
}

bool ExfatBootChecksumMatches(ByteView region, uint32_t bytesPerSector) {
  size_t checksumSector = size_t(bytesPerSector) * kExfatChecksummedSectors;
  if (!region.Has(checksumSector, bytesPerSector)) return false;
  uint32_t sum = ExfatBootChecksum(region, bytesPerSector);
  for (size_t i = 0; i < bytesPerSector; i += 4) {
    if (region.le32(checksumSector + i) != sum) return false;
  }
  return true;
}

}  // namespace kestrel
