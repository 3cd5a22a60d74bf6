#include "engines/engine_factory.h"

#include <fcntl.h>
#include <unistd.h>

#include "engines/fast/fast_exfat_recovery.h"
#include "engines/fast/fast_ext_recovery.h"
#include "engines/deep/deep_recovery.h"
#include "engines/fast/fast_fat_recovery.h"
#include "engines/fast/fast_ntfs_recovery.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "storage/sector_device.h"

namespace kestrel {

int ReadProbeAt(int fd, uint64_t offset, std::vector<uint8_t>& probe) {
  probe.assign(kProbeBytes, 0);
  size_t got = 0;
  if (int error = PreadAll(fd, probe.data(), kProbeBytes, offset, got); error != kSuccess) return error;
  return got == kProbeBytes ? kSuccess : kErrHandleEof;
}

int ReadVolumeProbeAt(int fd, uint64_t start, uint64_t volumeBytes, uint32_t sectorBytes,
                      std::vector<uint8_t>& probe, BootSectorChoice* boot) {
  if (int error = ReadProbeAt(fd, start, probe); error != kSuccess) return error;
  auto read = [&](uint64_t offset, size_t count, uint8_t* out) {
    size_t got = 0;
    return PreadAll(fd, out, count, start + offset, got) == kSuccess && got == count;
  };
  BootSectorChoice choice = ChooseBootSector(probe.data(), volumeBytes, sectorBytes, read);
  if (boot) *boot = choice;
  return kSuccess;
}

int ReadImageProbe(const std::filesystem::path& image, std::vector<uint8_t>& probe) {
  SectorDevice device;
  int error = OpenImageFile(image, device);
  if (error != kSuccess) return error;
  return ReadVolumeProbeAt(device.fd(), 0, device.totalSectors * kImageSectorBytes, kImageSectorBytes, probe);
}

int ReadPartitionProbe(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                       std::vector<uint8_t>& probe) {
  UniqueFd fd(OpenDriveHandle(driveNumber));
  if (!fd.valid()) return LastError();
  uint32_t sectorBytes = uint32_t(QueryBytesPerSector(fd.get()));
  return ReadVolumeProbeAt(fd.get(), firstSector * sectorBytes, sectorCount * sectorBytes, sectorBytes, probe);
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForKind(FileSystemKind kind, bool deep) {
  // Every deep scan gets the composite, whatever the volume holds (an
  // unformatted, damaged or encrypted one included).
  if (deep) return std::make_unique<CProfessionalRecovery>();
  switch (kind) {
    case FileSystemKind::kNtfs: return std::make_unique<CFastNtfsRecovery>();
    case FileSystemKind::kFat: return std::make_unique<CFastFatRecovery>();
    case FileSystemKind::kExfat: return std::make_unique<CFastExfatRecovery>();
    case FileSystemKind::kExt: return std::make_unique<CFastExtRecovery>();
    case FileSystemKind::kUnrecognised: break;
  }
  return nullptr;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForPartition(int32_t driveNumber, uint64_t firstSector,
                                                             uint64_t sectorCount, uint16_t letter, bool deep) {
  FlushVolume(driveNumber, firstSector);
  std::vector<uint8_t> probe;
  if (ReadPartitionProbe(driveNumber, firstSector, sectorCount, probe) != kSuccess) return nullptr;
  auto engine = CreateEngineForKind(ClassifyVolume(ByteView(probe)), deep);
  if (engine) engine->OpenPartition(driveNumber, firstSector, sectorCount, letter);
  return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForImage(const std::filesystem::path& image, uint16_t letter,
                                                         bool deep) {
  std::vector<uint8_t> probe;
  if (ReadImageProbe(image, probe) != kSuccess) return nullptr;
  auto engine = CreateEngineForKind(ClassifyVolume(ByteView(probe)), deep);
  if (engine) engine->OpenImage(image, letter);
  return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForSource(const ScanSource& source, bool deep) {
  if (source.probeError != kSuccess) return nullptr;
  auto engine = CreateEngineForKind(source.kind, deep);
  if (!engine) return nullptr;
  if (source.isImage) {
    engine->OpenImage(source.path, 0);
  } else {
    engine->OpenPartition(source.partition.driveNumber, source.partition.firstSector, source.partition.sectorCount,
                          0);
  }
  return engine;
}

}  // namespace kestrel
