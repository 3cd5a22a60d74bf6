#include "ui/source_catalog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "fs/volume_probe.h"
#include "platform/disk_table.h"

namespace kestrel::ui {
namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

uint64_t ReadNumber(const fs::path& file) {
  try {
    return std::stoull(ReadLine(file));
  } catch (...) {
    return 0;  // a missing or odd sysfs file: the figure stays unknown
  }
}

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

}  // namespace

void FillMountFacts(SourceItem& item) {
  struct stat device {};
  if (::stat(item.path.c_str(), &device) != 0 || !S_ISBLK(device.st_mode)) return;
  std::ifstream mountinfo("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mountinfo, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint;
    fields >> id >> parent >> majorMinor >> root >> mountPoint;
    unsigned major = 0, minor = 0;
    if (std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) != 2) continue;
    if (makedev(major, minor) != device.st_rdev) continue;
    item.mountPoint = mountPoint;
    struct statvfs space {};
    if (::statvfs(mountPoint.c_str(), &space) == 0) {
      item.freeBytes = uint64_t(space.f_bavail) * space.f_frsize;
      const uint64_t total = uint64_t(space.f_blocks) * space.f_frsize;
      item.usedBytes = total > uint64_t(space.f_bfree) * space.f_frsize ? total - uint64_t(space.f_bfree) * space.f_frsize : 0;
      item.spaceKnown = true;
    }
    return;
  }
}

std::vector<std::unique_ptr<SourceItem>> EnumerateDisks(const fs::path& sysBlock) {
  std::vector<std::unique_ptr<SourceItem>> out;
  int32_t entryNumber = 0;
  for (const DiskEntry& disk : ListWholeDisks(sysBlock)) {
    const fs::path sys = sysBlock / disk.name;
    auto whole = std::make_unique<SourceItem>();
    whole->kind = SourceItem::Kind::kDisk;
    whole->disk = disk.number;
    whole->path = disk.device;
    whole->removable = ReadNumber(sys / "removable") != 0;
    // Cards and sticks sit on a usb or mmc bus even when the flag is 0.
    std::error_code ec;
    const std::string devicePath = fs::canonical(sys / "device", ec).string();
    if (devicePath.find("/usb") != std::string::npos || devicePath.find("/mmc") != std::string::npos)
      whole->removable = true;
    whole->totalBytes = ReadNumber(sys / "size") * 512;
    uint64_t logical = ReadNumber(sys / "queue" / "logical_block_size");
    if (logical == 0) logical = 512;
    whole->sectorCount = whole->totalBytes / logical;
    whole->model = QString::fromStdString(ReadLine(sys / "device" / "model")).trimmed();
    const bool removable = whole->removable;
    const int32_t number = whole->disk;
    const fs::path devDir = disk.device.parent_path();
    out.push_back(std::move(whole));

    std::vector<std::unique_ptr<SourceItem>> parts;
    for (const auto& child : fs::directory_iterator(sys, ec)) {
      if (!fs::exists(child.path() / "partition")) continue;
      auto part = std::make_unique<SourceItem>();
      part->kind = SourceItem::Kind::kPartition;
      part->disk = number;
      part->removable = removable;
      part->firstSector = ReadNumber(child.path() / "start") * 512 / logical;
      part->totalBytes = ReadNumber(child.path() / "size") * 512;
      part->sectorCount = part->totalBytes / logical;
      part->path = devDir / child.path().filename();
      part->fileSystem = ProbeFileSystem(part->path, 0);
      FillMountFacts(*part);
      parts.push_back(std::move(part));
    }
    std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a->firstSector < b->firstSector; });
    for (auto& part : parts) {
      part->entryNumber = ++entryNumber;
      out.push_back(std::move(part));
    }
  }
  return out;
}

std::unique_ptr<SourceItem> MakeImageSource(const fs::path& image) {
  auto item = std::make_unique<SourceItem>();
  item->kind = SourceItem::Kind::kImage;
  item->path = image;
  std::error_code ec;
  item->totalBytes = fs::file_size(image, ec);
  if (ec) item->totalBytes = 0;
  item->sectorCount = item->totalBytes / 512;
  item->fileSystem = ProbeFileSystem(image, 0);
  return item;
}

}  // namespace kestrel::ui
