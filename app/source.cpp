#include "app/source.h"

#include <sys/stat.h>

#include "engines/engine_factory.h"
#include "platform/block_device.h"
#include "platform/source_kind.h"
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

}  // namespace

void ProbeDiskPartition(ScanSource& source) {
  const PartitionLocation& partition = source.partition;
  FlushVolume(partition.driveNumber, partition.firstSector);
  UniqueFd disk(OpenDriveHandle(partition.driveNumber));
  if (!disk.valid()) {
    source.probeError = LastError();
    return;
  }
  source.sectorBytes = QueryBytesPerSector(disk.get());
  source.length = partition.sectorCount * uint64_t(source.sectorBytes);
  // A partition table may promise more than a cut-short image holds.
  uint64_t start = partition.firstSector * uint64_t(source.sectorBytes);
  if (auto held = DeviceByteLength(disk.get()); held && *held < start + source.length) {
    source.length = *held > start ? *held - start : 0;
  }
  source.probeError = ReadVolumeProbeAt(disk.get(), partition.firstSector * uint64_t(source.sectorBytes),
                                        source.length, uint32_t(source.sectorBytes), source.probe, &source.boot);
}

int ResolveSource(const std::filesystem::path& path, ScanSource& out) {
  out = ScanSource{};
  out.path = path;
  struct stat st {};
  // stat never blocks, so a FIFO or a socket is refused before anything opens it.
  if (stat(path.c_str(), &st) != 0) return LastError();
  if (int refused = RefusedSourceError(st.st_mode); refused != kSuccess) return refused;
  if (S_ISBLK(st.st_mode)) {
    out.isImage = false;
    if (int error = ResolveBlockDevice(path, out.partition); error != kSuccess) return error;
    ProbeDiskPartition(out);
  } else {
    out.length = static_cast<uint64_t>(st.st_size);
    ReadImage(out);
  }
  if (out.probeError == kSuccess) out.kind = ClassifyVolume(ByteView(out.probe));
  return kSuccess;
}

void ClassifyProbe(ScanSource& source) {
  source.kind = source.probeError == kSuccess ? ClassifyVolume(ByteView(source.probe)) : FileSystemKind::kUnrecognised;
}

std::string SourceProblemText(const std::filesystem::path& path, int code) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  if (const char* kind = RefusedSourceKind(st.st_mode)) {
    return std::string("is ") + kind + ", not a disk, a partition or an image file";
  }
  if (code != kErrHandleEof || !S_ISREG(st.st_mode)) return {};
  if (st.st_size == 0) return "is empty";
  if (uint64_t(st.st_size) < kProbeBytes) {
    return "is too small to hold a file system (" + std::to_string(st.st_size) + " bytes)";
  }
  return {};
}

}  // namespace kestrel
