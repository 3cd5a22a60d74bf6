#include "app/source.h"

#include <sys/stat.h>

#include "engines/engine_factory.h"
#include "platform/unique_fd.h"

namespace kestrel {

namespace {

void ReadImage(ScanSource& source) {
  SectorDevice device;
  source.probeError = OpenImageFile(source.path, device);
  if (source.probeError == kSuccess) {
    source.probeError = ReadVolumeProbeAt(device.fd(), 0, source.length, kImageSectorBytes, source.probe, &source.boot);
  }
}

void ReadPartition(ScanSource& source) {
  const PartitionLocation& partition = source.partition;
  FlushVolume(partition.driveNumber, partition.firstSector);
  UniqueFd disk(OpenDriveHandle(partition.driveNumber));
  if (!disk.valid()) {
    source.probeError = LastError();
    return;
  }
  source.sectorBytes = QueryBytesPerSector(disk.get());
  source.length = partition.sectorCount * uint64_t(source.sectorBytes);
  source.probeError = ReadVolumeProbeAt(disk.get(), partition.firstSector * uint64_t(source.sectorBytes),
                                        source.length, uint32_t(source.sectorBytes), source.probe, &source.boot);
}

}  // namespace

int ResolveSource(const std::filesystem::path& path, ScanSource& out) {
  out = ScanSource{};
  out.path = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return LastError();
  if (S_ISDIR(st.st_mode)) return kErrAccessDenied;
  if (S_ISBLK(st.st_mode)) {
    out.isImage = false;
    if (int error = ResolveBlockDevice(path, out.partition); error != kSuccess) return error;
    ReadPartition(out);
  } else {
    out.length = static_cast<uint64_t>(st.st_size);
    ReadImage(out);
  }
  if (out.probeError == kSuccess) out.kind = ClassifyVolume(ByteView(out.probe));
  return kSuccess;
}

}  // namespace kestrel
