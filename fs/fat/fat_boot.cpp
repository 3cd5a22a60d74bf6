#include "fs/fat/fat_boot.h"

#include "platform/error_codes.h"

namespace kestrel {

namespace {

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool HasBootSignature(ByteView b) { return b.u8(0x1FE) == 0x55 && b.u8(0x1FF) == 0xAA; }

}  // namespace

bool IsFat1216Bpb(ByteView b) {
  return b.u8(0x10) != 0 && (b.le16(0x13) != 0 || b.le32(0x20) != 0) && IsPowerOfTwo(b.u8(0x0D)) &&
         b.le16(0x16) >= 1 && HasBootSignature(b);
}

bool IsFat32Bpb(ByteView b) {
  return b.Matches(0x52, "FAT32   ") && b.u8(0x10) != 0 && b.le32(0x20) != 0 && IsPowerOfTwo(b.u8(0x0D)) &&
         b.le32(0x24) != 0 && HasBootSignature(b);
}

bool IsBitLockerBootSector(ByteView b) {
  if (b.Matches(3, "-FVE-FS-")) return true;
  if (!b.Has(0x1E0, 30)) return false;
  for (size_t i = 0; i < 8; ++i) {
    if (b.u8(0x1E0 + i) != 0x78) return false;
  }
  for (size_t i = 8; i < 27; ++i) {
    if (b.u8(0x1E0 + i) != 0xFF) return false;
  }
  return b.u8(0x1FB) == 0x00 && b.u8(0x1FC) == 0x1F && b.u8(0x1FD) == 0x2C;
}

bool IsFatBootSector(ByteView b) {
  if (!b.Has(0, 512) || IsBitLockerBootSector(b)) return false;
  uint32_t sectorsPerFat = b.le16(0x16) != 0 ? b.le16(0x16) : b.le32(0x24);
  uint32_t totalSectors = b.le32(0x20) != 0 ? b.le32(0x20) : b.le16(0x13);
  uint32_t bytesPerSector = b.le16(0x0B);
  uint32_t sectorsPerCluster = b.u8(0x0D);
  if (bytesPerSector == 0 || sectorsPerCluster == 0 || bytesPerSector % 512 != 0) return false;
  uint32_t rootDirSectors = (uint32_t(b.le16(0x11)) * 32) / bytesPerSector;
  // Unsigned on purpose: a negative difference wraps to a huge count and is refused below.
  uint32_t clusters =
      (totalSectors - rootDirSectors - uint32_t(b.u8(0x10)) * sectorsPerFat - b.le16(0x0E)) / sectorsPerCluster;
  if (clusters >= 0x0FFFFFF0u) return false;
  return IsFat1216Bpb(b) || IsFat32Bpb(b);
}

bool LooksLikeBootSector(ByteView s) {
  return s.Has(0, 512) && HasBootSignature(s) && (s.u8(0) == 0xEB || s.u8(0) == 0xE9);
}

int ParseFatBoot(ByteView boot, FatGeometry& out) {
  FatGeometry g;
  g.bytesPerSector = boot.le16(11);
  g.sectorsPerCluster = boot.u8(13);
  g.reservedSectors = boot.le16(14);
  g.fatCount = boot.u8(16);
  g.rootEntryCount = boot.le16(17);
  uint32_t total16 = boot.le16(19);
  uint32_t fat16Size = boot.le16(22);
  uint32_t total32 = boot.le32(32);
  if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !IsPowerOfTwo(g.bytesPerSector)) {
    return kErrInvalidParameter;
  }
  if (!IsPowerOfTwo(g.sectorsPerCluster) || g.reservedSectors == 0 || g.fatCount == 0) {
    return kErrInvalidParameter;
  }
  bool fat32Bpb = fat16Size == 0;
  g.fatSectors = fat32Bpb ? boot.le32(36) : fat16Size;
  g.totalSectors = total32 != 0 ? total32 : total16;
  if (g.fatSectors == 0 || g.totalSectors == 0) return kErrInvalidParameter;
  if (fat32Bpb) {
    g.rootEntryCount = 0;
    g.rootCluster = boot.le32(44);
  }
  // The root region holds rootEntryCount 32-byte entries, rounded up to whole
  // sectors: 14 sectors on a 1.44 MB floppy, 32 on a usual FAT16 volume.
  g.rootDirSectors = (g.rootEntryCount * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
  g.firstDataSector = uint64_t(g.reservedSectors) + uint64_t(g.fatCount) * g.fatSectors + g.rootDirSectors;
  if (g.firstDataSector >= g.totalSectors) return kErrInvalidParameter;
  uint64_t clusters = (g.totalSectors - g.firstDataSector) / g.sectorsPerCluster;
  // The FAT itself bounds the cluster numbers it can describe.
  if (fat32Bpb) {
    g.type = FatType::kFat32;
    uint64_t fitting = uint64_t(g.fatSectors) * g.bytesPerSector / 4;
    if (fitting < 2) return kErrInvalidParameter;
    if (clusters > fitting - 2) clusters = fitting - 2;
    if (clusters > 0x0FFFFFF5) clusters = 0x0FFFFFF5;
    if (g.rootCluster < 2) return kErrInvalidParameter;
  } else {
    g.type = clusters < 4085 ? FatType::kFat12 : FatType::kFat16;
    uint64_t fatBits = g.type == FatType::kFat12 ? 12 : 16;
    uint64_t fitting = uint64_t(g.fatSectors) * g.bytesPerSector * 8 / fatBits;
    if (fitting < 2) return kErrInvalidParameter;
    if (clusters > fitting - 2) clusters = fitting - 2;
    if (g.rootEntryCount == 0) return kErrInvalidParameter;
  }
  g.clusterCount = static_cast<uint32_t>(clusters);
  out = g;
  return kSuccess;
}

std::vector<uint32_t> FatBackupBootSectors(ByteView damagedBoot) {
  constexpr uint32_t kUsualBackup = 6;
  // Formatters reserve 32 sectors; a copy beyond them, or beyond what the
  // damaged BPB still says is reserved, is garbage in the field.
  constexpr uint32_t kMostReserved = 32;
  std::vector<uint32_t> sectors;
  uint32_t named = damagedBoot.Has(0x32, 2) ? damagedBoot.le16(0x32) : 0;
  uint32_t reserved = damagedBoot.Has(0x0E, 2) ? damagedBoot.le16(0x0E) : 0;
  bool plausible = named != 0 && named < kMostReserved && (reserved < 2 || named < reserved);
  if (plausible && named != kUsualBackup) sectors.push_back(named);
  sectors.push_back(kUsualBackup);
  return sectors;
}

}  // namespace kestrel
