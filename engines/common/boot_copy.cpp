#include "engines/common/boot_copy.h"

#include <cstring>
#include <vector>

#include "fs/fat/fat_boot.h"
#include "fs/ntfs/ntfs_boot.h"
#include "fs/volume_probe.h"

namespace kestrel {

BootSectorChoice ChooseBootSector(uint8_t* bootSector, uint64_t volumeBytes, uint32_t sectorBytes,
                                  const VolumeBytesReader& read) {
  ByteView primary(bootSector, kBootSectorBytes);
  if (IsNtfsBootSector(primary) || IsFatBootSector(primary)) return {BootCopy::kPrimary, 0};
  if (sectorBytes == 0) return {};

  std::vector<uint8_t> copy(kBootSectorBytes);
  auto tryCopy = [&](uint64_t offset, bool (*passes)(ByteView)) {
    if (offset + kBootSectorBytes > volumeBytes || !read(offset, kBootSectorBytes, copy.data())) return false;
    return passes(ByteView(copy));
  };
  // Only a FAT32 volume has a backup; FAT12/16 boot sectors have none.
  auto isFat32 = [](ByteView boot) { return IsFatBootSector(boot) && IsFat32Bpb(boot); };
  for (uint32_t sector : FatBackupBootSectors(primary)) {
    uint64_t offset = uint64_t(sector) * sectorBytes;
    if (tryCopy(offset, isFat32)) {
      std::memcpy(bootSector, copy.data(), kBootSectorBytes);
      return {BootCopy::kFatBackup, offset};
    }
  }
  uint64_t ntfsOffset = NtfsBackupBootOffset(volumeBytes, sectorBytes);
  if (ntfsOffset != 0 && tryCopy(ntfsOffset, IsNtfsBootSector)) {
    std::memcpy(bootSector, copy.data(), kBootSectorBytes);
    return {BootCopy::kNtfsBackup, ntfsOffset};
  }
  return {};
}

std::string DescribeBootCopy(const BootSectorChoice& choice, uint32_t sectorBytes) {
  std::string sector = std::to_string(sectorBytes ? choice.byteOffset / sectorBytes : 0);
  switch (choice.copy) {
    case BootCopy::kFatBackup: return "the FAT32 backup boot sector at sector " + sector;
    case BootCopy::kNtfsBackup: return "the NTFS backup boot sector at sector " + sector;
    case BootCopy::kPrimary:
    case BootCopy::kNone: break;
  }
  return {};
}

}  // namespace kestrel
