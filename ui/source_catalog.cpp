#include "ui/source_catalog.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/source.h"
#include "app/source_partitions.h"
#include "fs/volume_probe.h"

namespace kestrel::ui {
namespace fs = std::filesystem;

namespace {

// The file system at the start of a volume, when we may read it.
QString ProbeFileSystem(const fs::path& path, uint64_t offset) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::vector<uint8_t> probe(kProbeBytes);
  const ssize_t got = ::pread(fd, probe.data(), probe.size(), static_cast<off_t>(offset));
  ::close(fd);
  if (got != static_cast<ssize_t>(probe.size())) return {};
  const FileSystemKind kind = ClassifyVolume(ByteView(probe.data(), probe.size()));
  if (kind == FileSystemKind::kUnrecognised) return QStringLiteral("Unknown");
  return QString::fromStdString(FileSystemKindName(kind)).replace(QLatin1String("ext"), QLatin1String("EXT"));
}

std::unique_ptr<SourceItem> VolumeRow(const DiskDetails& details, const PartitionDescriptor& entry, SourceItem* parent) {
  auto part = std::make_unique<SourceItem>();
  part->kind = SourceItem::Kind::kPartition;
  part->disk = details.number;
  part->entryNumber = static_cast<int32_t>(entry.entryNumber);
  part->firstSector = entry.firstSector;
  part->sectorCount = entry.sectorCount;
  part->totalBytes = entry.totalBytes;
  part->usedBytes = entry.usedBytes;
  part->freeBytes = entry.freeBytes;
  part->spaceKnown = !entry.mountPoint.empty();
  part->removable = details.removable;
  part->path = entry.device;
  part->mountPoint = entry.mountPoint;
  part->label = QString::fromStdString(entry.label);
  part->fileSystem = entry.kind == EntryKind::kGap ? QStringLiteral("Unallocated")
                                                   : QString::fromStdString(entry.fileSystemName);
  part->parent = parent;
  part->diskDetails = details;
  part->volume = entry;
  part->listedVolume = true;
  return part;
}

}  // namespace

std::vector<std::unique_ptr<SourceItem>> EnumerateDisks(const fs::path& sysBlock) {
  std::vector<std::unique_ptr<SourceItem>> out;
  DiskList list;
  EnumerationSettings settings;
  settings.sysBlock = sysBlock;
  RefreshDiskList(list, settings);
  for (const auto& [number, details] : list.disks) {
    if (details.isImage) continue;
    auto disk = std::make_unique<SourceItem>();
    disk->kind = SourceItem::Kind::kDisk;
    disk->disk = number;
    disk->path = details.device;
    disk->removable = details.removable;
    disk->totalBytes = details.bytes;
    disk->sectorCount = details.bytes / (details.sectorBytes ? details.sectorBytes : 512);
    disk->model = QString::fromStdString(details.model).trimmed();
    disk->diskDetails = details;
    SourceItem* parent = disk.get();
    out.push_back(std::move(disk));
    auto entries = list.entries.find(number);
    if (entries == list.entries.end()) continue;
    for (const PartitionDescriptor& entry : entries->second) {
      // A disk without volumes is scanned from its own row.
      if (entry.kind == EntryKind::kWholeDisk) continue;
      out.push_back(VolumeRow(details, entry, parent));
    }
  }
  return out;
}

std::vector<std::unique_ptr<SourceItem>> MakeImageSources(const fs::path& image) {
  std::vector<std::unique_ptr<SourceItem>> out;
  auto item = std::make_unique<SourceItem>();
  item->kind = SourceItem::Kind::kImage;
  item->path = image;
  std::error_code ec;
  item->totalBytes = fs::file_size(image, ec);
  if (ec) item->totalBytes = 0;
  item->sectorCount = item->totalBytes / 512;
  SourceVolumes listed;
  const bool partitioned = ListSourceVolumes(image, listed) == kSuccess && listed.partitioned;
  item->fileSystem = partitioned ? QString::fromStdString(listed.disk.tableKind).toUpper()
                                 : ProbeFileSystem(image, 0);
  if (partitioned && item->fileSystem.isEmpty()) item->fileSystem = QStringLiteral("Partitioned");
  SourceItem* parent = item.get();
  out.push_back(std::move(item));
  if (partitioned) {
    int shown = 0;
    for (const PartitionDescriptor& volume : listed.volumes) {
      auto row = VolumeRow(listed.disk, volume, parent);
      // Numbered as the table numbers them: that is what "--partition N" takes.
      row->entryNumber = volume.partitionNumber;
      row->path = image;
      out.push_back(std::move(row));
      ++shown;
    }
  }
  return out;
}

int ResolveForScan(SourceItem& item) {
  if (item.listedVolume) {
    // A listed volume (or gap) is read through the disk (or image) holding it.
    ResolveListedVolume(item.diskDetails.device, item.diskDetails, item.volume, item.scan.source);
    item.scan.source.path = item.InImage() ? item.parent->path : item.path;
    return kSuccess;
  }
  return ResolveSource(item.path, item.scan.source);
}

}  // namespace kestrel::ui
