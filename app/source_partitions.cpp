#include "app/source_partitions.h"

#include <sys/stat.h>

#include "app/source.h"
#include "platform/error_codes.h"
#include "platform/source_kind.h"

namespace kestrel {

namespace {

int FindVolume(const SourceVolumes& listed, int32_t number, const PartitionDescriptor*& found) {
  if (!listed.partitioned) return kErrInvalidParameter;
  for (const auto& volume : listed.volumes) {
    if (volume.partitionNumber == number) {
      found = &volume;
      return kSuccess;
    }
  }
  return kErrFileNotFound;
}

}  // namespace

int ListSourceVolumes(const std::filesystem::path& path, SourceVolumes& out) {
  out = SourceVolumes{};
  // Refused before the disk list opens it: an open of a FIFO would wait for a writer.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (int refused = RefusedSourceError(st.st_mode); refused != kSuccess) return refused;
  }
  DiskList list;
  int error = ListSingleDisk(path, list);
  // A partition node is a volume of its own, not a disk to take apart.
  if (error == kErrInvalidParameter) return kSuccess;
  if (error != kSuccess) return error;
  if (list.disks.empty()) return kSuccess;
  out.disk = list.disks.begin()->second;
  for (const auto& entry : list.entries.begin()->second) {
    if (entry.kind == EntryKind::kVolume && entry.partitionNumber > 0) out.volumes.push_back(entry);
  }
  out.partitioned = !out.disk.tableKind.empty() || !out.volumes.empty();
  return kSuccess;
}

void ResolveListedVolume(const std::filesystem::path& path, const DiskDetails& disk,
                         const PartitionDescriptor& volume, ScanSource& out) {
  out = ScanSource{};
  out.path = path;
  out.isImage = false;
  out.partition = {disk.number, volume.firstSector, volume.sectorCount, false};
  ProbeDiskPartition(out);
  ClassifyProbe(out);
}

int ResolveSourcePartition(const std::filesystem::path& path, int32_t number, ScanSource& out) {
  SourceVolumes listed;
  if (int error = ListSourceVolumes(path, listed); error != kSuccess) return error;
  const PartitionDescriptor* volume = nullptr;
  if (int error = FindVolume(listed, number, volume); error != kSuccess) return error;
  ResolveListedVolume(path, listed.disk, *volume, out);
  return kSuccess;
}

int ResolvePartitionByteRange(const std::filesystem::path& path, int32_t number, SourceByteRange& out) {
  SourceVolumes listed;
  if (int error = ListSourceVolumes(path, listed); error != kSuccess) return error;
  const PartitionDescriptor* volume = nullptr;
  if (int error = FindVolume(listed, number, volume); error != kSuccess) return error;
  out.file = listed.disk.device;
  out.offset = volume->firstSector * uint64_t(listed.disk.sectorBytes);
  out.length = volume->sectorCount * uint64_t(listed.disk.sectorBytes);
  return kSuccess;
}

}  // namespace kestrel
