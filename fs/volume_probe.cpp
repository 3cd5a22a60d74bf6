#include "fs/volume_probe.h"

#include "fs/exfat/exfat_boot.h"
#include "fs/fat/fat_boot.h"
#include "fs/ntfs/ntfs_boot.h"

namespace kestrel {

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
