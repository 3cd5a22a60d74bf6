#include "fs/ntfs/ntfs_boot.h"

namespace kestrel {

namespace {

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool Refuse(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

}  // namespace

bool IsNtfsBootSector(ByteView b) {
  if (!b.Has(0, 512)) return false;
  if (!b.Matches(3, "NTFS    ")) return false;
  if (b.le16(0x0B) % 512 != 0) return false;
  if (b.le16(0x0E) != 0) return false;
  if (!IsPowerOfTwo(b.u8(0x0D))) return false;
  if (b.le64(0x28) == 0) return false;
  for (size_t offset = 0x10; offset <= 0x14; ++offset) {
    if (b.u8(offset) != 0) return false;
  }
  if (b.u8(0x16) != 0 || b.u8(0x17) != 0) return false;
  if (b.le32(0x20) != 0) return false;
  return b.u8(0x1FE) == 0x55 && b.u8(0x1FF) == 0xAA;
}

uint32_t NtfsRecordSizeField(int8_t value, uint32_t clusterBytes) {
  if (value < 0) {
    int shift = -int(value);
    return shift < 31 ? (uint32_t(1) << shift) : 0;
  }
  uint64_t bytes = uint64_t(uint8_t(value)) * clusterBytes;
  return bytes <= UINT32_MAX ? uint32_t(bytes) : 0;
}

bool ParseNtfsBoot(ByteView boot, NtfsGeometry& g, std::string* why) {
  if (!boot.Has(0, 512)) return Refuse(why, "boot sector too short");
  if (!boot.Matches(3, "NTFS    ")) return Refuse(why, "no NTFS signature");
  g = NtfsGeometry{};
  g.bytesPerSector = boot.le16(0x0B);
  if (g.bytesPerSector == 0) g.bytesPerSector = 512;
  if (!IsPowerOfTwo(g.bytesPerSector) || g.bytesPerSector < 512 || g.bytesPerSector > 4096) {
    return Refuse(why, "sector size");
  }
  // Cluster sizes above 64 KiB are stored as a negative power of two.
  uint8_t spc = boot.u8(0x0D);
  if (spc > 0x80) {
    int shift = 256 - spc;
    if (shift > 24) return Refuse(why, "cluster size");
    uint64_t clusterBytes = uint64_t(1) << shift;
    if (clusterBytes < g.bytesPerSector) return Refuse(why, "cluster size");
    g.sectorsPerCluster = uint32_t(clusterBytes / g.bytesPerSector);
  } else {
    g.sectorsPerCluster = spc;
  }
  if (!IsPowerOfTwo(g.sectorsPerCluster)) return Refuse(why, "cluster size");
  uint64_t clusterBytes = uint64_t(g.sectorsPerCluster) * g.bytesPerSector;
  if (clusterBytes > (uint64_t(1) << 24)) return Refuse(why, "cluster size");
  g.clusterBytes = uint32_t(clusterBytes);

  g.totalSectors = boot.le64(0x28);
  g.mftCluster = boot.le64(0x30);
  g.mftMirrorCluster = boot.le64(0x38);
  g.recordBytes = NtfsRecordSizeField(static_cast<int8_t>(boot.u8(0x40)), g.clusterBytes);
  g.indexBlockBytes = NtfsRecordSizeField(static_cast<int8_t>(boot.u8(0x44)), g.clusterBytes);
  if (!IsPowerOfTwo(g.recordBytes) || g.recordBytes < 512 || g.recordBytes > 65536) {
    return Refuse(why, "MFT record size");
  }
  if (g.mftCluster == 0) return Refuse(why, "MFT location");
  uint64_t clusters = g.totalSectors / g.sectorsPerCluster;
  if (g.totalSectors != 0 && g.mftCluster >= clusters) return Refuse(why, "MFT beyond the volume");
  return true;
}

uint64_t NtfsBackupBootOffset(uint64_t volumeBytes, uint32_t sectorBytes) {
  if (sectorBytes == 0 || volumeBytes < 2 * uint64_t(sectorBytes)) return 0;
  return (volumeBytes / sectorBytes - 1) * sectorBytes;
}

}  // namespace kestrel
