#include "app/truncation_check.h"

#include "fs/exfat/exfat_boot.h"
#include "fs/fat/fat_boot.h"
#include "fs/ntfs/ntfs_boot.h"
#include "fs/volume_probe.h"

namespace kestrel {

std::optional<uint64_t> DeclaredVolumeBytes(ByteView probe) {
  switch (ClassifyVolume(probe)) {
    case FileSystemKind::kFat: {
      FatGeometry geometry;
      if (ParseFatBoot(probe, geometry) != 0) return std::nullopt;
      return geometry.totalSectors * geometry.bytesPerSector;
    }
    case FileSystemKind::kNtfs: {
      NtfsGeometry geometry;
      if (!ParseNtfsBoot(probe, geometry)) return std::nullopt;
      return geometry.totalSectors * geometry.bytesPerSector;
    }
    case FileSystemKind::kExfat: {
      ExfatGeometry geometry;
      if (!ParseExfatBoot(probe, geometry)) return std::nullopt;
      return geometry.volumeLength << geometry.bytesPerSectorShift;
    }
    default: return std::nullopt;
  }
}

std::optional<ShortSource> FindShortSource(const ScanSource& source) {
  if (source.probeError != kSuccess) return std::nullopt;
  auto declared = DeclaredVolumeBytes(ByteView(source.probe));
  if (!declared || source.length >= *declared) return std::nullopt;
  return ShortSource{source.length, *declared};
}

}  // namespace kestrel
