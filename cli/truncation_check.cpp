#include "cli/truncation_check.h"

#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "fs/fat/fat_boot.h"
#include "fs/ntfs/ntfs_boot.h"
#include "fs/volume_probe.h"
#include "storage/sector_device.h"

namespace kestrel::cli {

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
    default: return std::nullopt;
  }
}

namespace {

std::optional<uint64_t> SourceBytes(const Source& source) {
  if (source.isImage) {
    std::error_code ec;
    uint64_t size = std::filesystem::file_size(source.path, ec);
    return ec ? std::nullopt : std::optional<uint64_t>(size);
  }
  int fd = OpenDriveHandle(source.partition.driveNumber);
  if (fd < 0) return std::nullopt;
  uint64_t bytes = source.partition.sectorCount * uint64_t(QueryBytesPerSector(fd));
  ::close(fd);
  return bytes;
}

}  // namespace

void WarnIfShorterThanVolume(const Source& source) {
  std::vector<uint8_t> probe;
  if (ReadSourceProbe(source, probe) != 0) return;
  auto declared = DeclaredVolumeBytes(ByteView(probe));
  auto available = SourceBytes(source);
  if (!declared || !available || *available >= *declared) return;
  std::fprintf(stderr,
               "kestrel-cli: warning: %s holds %llu of the %llu bytes its file system spans "
               "(a partial copy?); files stored past its end cannot be recovered\n",
               source.path.c_str(), static_cast<unsigned long long>(*available),
               static_cast<unsigned long long>(*declared));
}

}  // namespace kestrel::cli
