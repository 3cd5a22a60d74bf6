#include "fs/volume_probe.h"

#include "fs/exfat/exfat_boot.h"

namespace kestrel {

namespace {

bool IsPowerOfTwoClusterSize(uint8_t sectorsPerCluster) {
  return sectorsPerCluster != 0 && (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
}

bool HasBootSignature(ByteView b) { return b.u8(0x1FE) == 0x55 && b.u8(0x1FF) == 0xAA; }

}  // namespace

bool IsNtfsBootSector(ByteView b) {
  if (!b.Has(0, 512)) return false;
  if (!b.Matches(3, "NTFS    ")) return false;
  if (b.le16(0x0B) % 512 != 0) return false;
  if (b.le16(0x0E) != 0) return false;
  if (!IsPowerOfTwoClusterSize(b.u8(0x0D))) return false;
  if (b.le64(0x28) == 0) return false;
  for (size_t offset = 0x10; offset <= 0x14; ++offset) {
    if (b.u8(offset) != 0) return false;
  }
  if (b.u8(0x16) != 0 || b.u8(0x17) != 0) return false;
  if (b.le32(0x20) != 0) return false;
  return HasBootSignature(b);
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

bool IsFat1216Bpb(ByteView b) {
  return b.u8(0x10) != 0 && (b.le16(0x13) != 0 || b.le32(0x20) != 0) && IsPowerOfTwoClusterSize(b.u8(0x0D)) &&
         b.le16(0x16) >= 1 && HasBootSignature(b);
}

bool IsFat32Bpb(ByteView b) {
  return b.Matches(0x52, "FAT32   ") && b.u8(0x10) != 0 && b.le32(0x20) != 0 &&
         IsPowerOfTwoClusterSize(b.u8(0x0D)) && b.le32(0x24) != 0 && HasBootSignature(b);
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

bool IsExtSuperblock(ByteView s) {
  if (!s.Has(0, 1024) || s.le16(0x38) != 0xEF53) return false;
  uint32_t inodes = s.le32(0x00), blocks = s.le32(0x04), firstDataBlock = s.le32(0x14);
  uint32_t blocksPerGroup = s.le32(0x20), inodesPerGroup = s.le32(0x28), firstInode = s.le32(0x54);
  if (blocks == 0 || inodes == 0 || blocksPerGroup == 0 || inodesPerGroup == 0) return false;
  if (firstInode <= 2) return false;
  if ((blocks - firstDataBlock - 1) / blocksPerGroup + 1 != (inodes - 1) / inodesPerGroup + 1) return false;
  uint32_t expectedFirstDataBlock = (s.le32(0x18) & 0x1F) == 0 ? 1 : 0;
  if (firstDataBlock != expectedFirstDataBlock) return false;
  return inodes > firstInode;
}

FileSystemKind ClassifyVolume(ByteView probe) {
  if (IsNtfsBootSector(probe)) return FileSystemKind::kNtfs;
  if (IsFatBootSector(probe)) return FileSystemKind::kFat;
  if (IsExfatBootSector(probe)) return FileSystemKind::kExfat;
  if (IsExtSuperblock(probe.Sub(1024, 1024))) return FileSystemKind::kExt;
  return FileSystemKind::kUnrecognised;
}

std::string FileSystemKindName(FileSystemKind kind) {
  switch (kind) {
    case FileSystemKind::kFat: return "FAT";
    case FileSystemKind::kNtfs: return "NTFS";
    case FileSystemKind::kExfat: return "exFAT";
    case FileSystemKind::kExt: return "ext";
    case FileSystemKind::kUnrecognised: break;
  }
  return "unrecognised";
}

}  // namespace kestrel
