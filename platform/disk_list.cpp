#include "platform/disk_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/block_device.h"
#include "platform/disk_table.h"
#include "platform/error_codes.h"
#include "platform/partition_table.h"
#include "platform/source_kind.h"

namespace kestrel {
namespace fs = std::filesystem;

namespace {

struct MountedVolume {
  fs::path mountPoint;
  std::string fileSystemType;
};

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && std::isdigit(uint8_t(field[i + 1])) && std::isdigit(uint8_t(field[i + 2])) &&
        std::isdigit(uint8_t(field[i + 3]))) {
      out += char(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// "major:minor" -> where it is mounted. The first mount of a device wins
// (the later ones are bind mounts of its subfolders or repeats).
std::optional<std::map<std::string, MountedVolume>> ReadMountInfo(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::map<std::string, MountedVolume> mounts;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, devnum, root, mountPoint, field;
    if (!(fields >> id >> parent >> devnum >> root >> mountPoint)) continue;
    while (fields >> field && field != "-") {}
    std::string fileSystemType;
    fields >> fileSystemType;
    if (root != "/") continue;
    mounts.emplace(devnum, MountedVolume{UnescapeMountField(mountPoint), fileSystemType});
  }
  return mounts;
}

std::string ReadSysText(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

uint64_t ReadSysNumber(const fs::path& file) {
  std::ifstream in(file);
  uint64_t value = 0;
  in >> value;
  return value;
}

dev_t ParseDevnum(const std::string& text) {
  unsigned major = 0, minor = 0;
  if (std::sscanf(text.c_str(), "%u:%u", &major, &minor) != 2) return 0;
  return makedev(major, minor);
}

bool PathRunsThroughRemovableBus(const fs::path& diskDir) {
  std::error_code ec;
  fs::path real = fs::canonical(diskDir, ec);
  if (ec) return false;
  for (const auto& part : real) {
    std::string name = part.string();
    if (name.starts_with("usb") || name.starts_with("mmc")) return true;
  }
  return false;
}

bool SysfsRemovable(const fs::path& diskDir) {
  return ReadSysNumber(diskDir / "removable") == 1 || PathRunsThroughRemovableBus(diskDir);
}

// What the gap rule measures with: the device's geometry where it can be
// opened, else 255 x 63 over the length sysfs gives.
DiskGeometry GeometryOf(const DiskDetails& disk) {
  int fd = ::open(disk.device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    auto geometry = QueryGeometry(fd);
    ::close(fd);
    if (geometry) return *geometry;
  }
  DiskGeometry geometry;
  geometry.bytesPerSector = disk.sectorBytes;
  geometry.tracksPerCylinder = 255;
  geometry.sectorsPerTrack = 63;
  geometry.cylinders = disk.bytes / disk.sectorBytes / (255 * 63);
  return geometry;
}

// The /dev node of the disk or partition whose sysfs "dev" reads devText.
fs::path DeviceNodeOf(const std::string& devText, const fs::path& sysBlock) {
  std::error_code ec;
  for (const auto& disk : fs::directory_iterator(sysBlock, ec)) {
    if (ReadSysText(disk.path() / "dev") == devText) return fs::path("/dev") / disk.path().filename();
    std::error_code inner;
    for (const auto& child : fs::directory_iterator(disk.path(), inner)) {
      if (fs::exists(child.path() / "partition") && ReadSysText(child.path() / "dev") == devText) {
        return fs::path("/dev") / child.path().filename();
      }
    }
  }
  return fs::path("/dev/block") / devText;
}

PartitionDescriptor BlankEntry(const DiskDetails& disk, EntryKind kind, uint64_t first, uint64_t count) {
  PartitionDescriptor entry;
  entry.kind = kind;
  entry.diskNumber = disk.number;
  entry.partitionNumber = 0;
  entry.firstSector = first;
  entry.sectorCount = count;
  entry.totalBytes = entry.freeBytes = count * disk.sectorBytes;
  entry.device = disk.device;
  return entry;
}

// Sizes as the mounted file system reports them; an unmounted volume counts
// its whole length as used, since nothing says how much of it is free.
void FillSizes(PartitionDescriptor& entry, uint32_t sectorBytes) {
  uint64_t length = entry.sectorCount * sectorBytes;
  struct statvfs st {};
  if (!entry.mountPoint.empty() && statvfs(entry.mountPoint.c_str(), &st) == 0) {
    entry.totalBytes = uint64_t(st.f_blocks) * st.f_frsize;
    entry.freeBytes = uint64_t(st.f_bfree) * st.f_frsize;
  } else {
    entry.totalBytes = length;
    entry.freeBytes = 0;
  }
  entry.usedBytes = entry.totalBytes - std::min(entry.freeBytes, entry.totalBytes);
}

void ApplyIdentity(PartitionDescriptor& entry, const VolumeIdentity& identity, uint8_t mbrType) {
  entry.fileSystemName = FileSystemDisplayName(identity);
  entry.label = identity.label;
  if (mbrType == 0) mbrType = MbrTypeFromEntryType(identity.partEntryType);
  entry.type = FileSystemTypeCode(entry.fileSystemName, mbrType);
}

bool IsContainerType(uint8_t mbrType) { return mbrType == 0x05 || mbrType == 0x0F || mbrType == 0x85; }

void AddGapsAndWholeDisk(const DiskDetails& disk, std::vector<PartitionDescriptor>& entries) {
  if (disk.bytes == 0) return;  // a reader without a card: nothing to scan
  DiskGeometry geometry = GeometryOf(disk);
  uint64_t perCylinder = uint64_t(geometry.tracksPerCylinder) * geometry.sectorsPerTrack;
  uint64_t diskSectors = geometry.cylinders * perCylinder;
  if (entries.empty()) {
    // A disk too short for one whole cylinder is still a disk.
    uint64_t sectors = diskSectors ? diskSectors : disk.bytes / disk.sectorBytes;
    entries.push_back(BlankEntry(disk, EntryKind::kWholeDisk, 0, sectors));
    return;
  }
  std::vector<PartitionDescriptor> gaps;
  uint64_t expected = geometry.sectorsPerTrack;
  for (const auto& entry : entries) {
    if (entry.firstSector > expected && entry.firstSector - expected > perCylinder) {
      gaps.push_back(BlankEntry(disk, EntryKind::kGap, expected, entry.firstSector - expected));
    }
    expected = std::max(expected, entry.firstSector + entry.sectorCount);
  }
  if (diskSectors > expected && diskSectors - expected > perCylinder) {
    gaps.push_back(BlankEntry(disk, EntryKind::kGap, expected, diskSectors - expected));
  }
  entries.insert(entries.end(), gaps.begin(), gaps.end());
}

void SortByFirstSector(std::vector<PartitionDescriptor>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.firstSector < b.firstSector; });
}

void CollectSystemDisk(const DiskEntry& listed, const EnumerationSettings& settings,
                       const std::map<std::string, MountedVolume>& mounts, DiskList& list) {
  fs::path diskDir = settings.sysBlock / listed.name;
  DiskDetails disk;
  disk.number = listed.number;
  disk.device = listed.device;
  disk.sectorBytes = std::max<uint32_t>(512, uint32_t(ReadSysNumber(diskDir / "queue" / "logical_block_size")));
  disk.bytes = ReadSysNumber(diskDir / "size") * 512;  // sysfs counts 512-byte units
  disk.model = ReadSysText(diskDir / "device" / "model");
  if (disk.model.empty()) disk.model = ReadSysText(diskDir / "device" / "name");
  disk.removable = SysfsRemovable(diskDir);

  auto toSectors = [&](uint64_t units512) { return units512 * 512 / disk.sectorBytes; };
  auto describe = [&](PartitionDescriptor& entry, const std::string& devText) {
    VolumeIdentity identity = settings.identify(entry.device, ParseDevnum(devText));
    ApplyIdentity(entry, identity, 0);
    if (auto mount = mounts.find(devText); mount != mounts.end()) entry.mountPoint = mount->second.mountPoint;
    FillSizes(entry, disk.sectorBytes);
    return identity;
  };

  std::vector<PartitionDescriptor> entries;
  std::error_code ec;
  for (const auto& child : fs::directory_iterator(diskDir, ec)) {
    if (!fs::exists(child.path() / "partition")) continue;
    PartitionDescriptor entry;
    entry.diskNumber = disk.number;
    entry.partitionNumber = int32_t(ReadSysNumber(child.path() / "partition"));
    entry.firstSector = toSectors(ReadSysNumber(child.path() / "start"));
    uint64_t size512 = ReadSysNumber(child.path() / "size");
    entry.sectorCount = toSectors(size512);
    entry.device = fs::path("/dev") / child.path().filename();
    VolumeIdentity identity = describe(entry, ReadSysText(child.path() / "dev"));
    // An extended partition shows in sysfs as a stub of one or two sectors;
    // its logical partitions are listed on their own.
    if (IsContainerType(MbrTypeFromEntryType(identity.partEntryType)) ||
        (size512 <= 2 && entry.fileSystemName.empty())) {
      continue;
    }
    entries.push_back(std::move(entry));
  }
  if (entries.empty() && disk.bytes > 0) {
    // A file system written onto the whole device (a "superfloppy" card).
    PartitionDescriptor whole;
    whole.diskNumber = disk.number;
    whole.partitionNumber = 0;
    whole.sectorCount = disk.bytes / disk.sectorBytes;
    whole.device = disk.device;
    describe(whole, ReadSysText(diskDir / "dev"));
    if (!whole.fileSystemName.empty()) entries.push_back(std::move(whole));
  }
  SortByFirstSector(entries);
  AddGapsAndWholeDisk(disk, entries);
  SortByFirstSector(entries);
  list.entries[disk.number] = std::move(entries);
  list.disks[disk.number] = std::move(disk);
}

void CollectImageDisk(const fs::path& image, DiskList& list) {
  // A FIFO named as an image would block a plain open; it is refused first.
  int openError = kSuccess;
  int fd = OpenSourceFd(image, openError).Release();
  if (fd < 0) {
    list.imageErrors.emplace_back(image, openError);
    return;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    list.imageErrors.emplace_back(image, kErrInvalidParameter);
    ::close(fd);
    return;
  }
  DiskDetails disk;
  disk.number = RegisterImageDisk(image);
  disk.device = image;
  disk.isImage = true;
  disk.bytes = uint64_t(st.st_size);
  std::vector<PartitionDescriptor> entries;
  auto addVolume = [&](int32_t number, uint64_t first, uint64_t count, uint8_t mbrType) {
    PartitionDescriptor entry;
    entry.diskNumber = disk.number;
    entry.partitionNumber = number;
    entry.firstSector = first;
    entry.sectorCount = count;
    entry.device = image;
    ApplyIdentity(entry, IdentifyVolumeAt(fd, first * 512, count * 512), mbrType);
    FillSizes(entry, 512);
    return entry;
  };
  if (auto table = ReadPartitionTable(fd)) {
    disk.tableKind = table->kind;
    for (const auto& part : table->entries) {
      entries.push_back(addVolume(part.number, part.firstSector, part.sectorCount, part.mbrType));
    }
  } else {
    auto whole = addVolume(0, 0, disk.bytes / 512, 0);
    if (!whole.fileSystemName.empty()) entries.push_back(std::move(whole));
  }
  ::close(fd);
  SortByFirstSector(entries);
  AddGapsAndWholeDisk(disk, entries);
  SortByFirstSector(entries);
  list.entries[disk.number] = std::move(entries);
  list.disks[disk.number] = std::move(disk);
}


// Entries are numbered across the whole list, disk by disk, as the user sees them.
void NumberEntries(DiskList& list) {
  uint32_t counter = 0;
  for (auto& [number, entries] : list.entries) {
    for (auto& entry : entries) entry.entryNumber = ++counter;
  }
}

}  // namespace

bool RefreshDiskList(DiskList& list, const EnumerationSettings& settings) {
  list = DiskList{};
  auto mounts = ReadMountInfo(settings.mountInfo);
  if (!mounts) return false;
  for (const auto& disk : ListWholeDisks(settings.sysBlock)) CollectSystemDisk(disk, settings, *mounts, list);
  for (const auto& image : settings.images) CollectImageDisk(image, list);
  NumberEntries(list);
  return true;
}

int ListSingleDisk(const fs::path& source, DiskList& list, const EnumerationSettings& settings) {
  list = DiskList{};
  struct stat st {};
  if (stat(source.c_str(), &st) != 0) return LastError();
  if (S_ISBLK(st.st_mode)) {
    PartitionLocation location;
    if (int error = ResolveBlockDevice(source, location, settings.sysBlock); error != kSuccess) return error;
    if (!location.wholeDisk) return kErrInvalidParameter;
    // Without a mount table the volumes are still listed, only not as mounted.
    auto mounts = ReadMountInfo(settings.mountInfo).value_or(std::map<std::string, MountedVolume>{});
    for (const auto& disk : ListWholeDisks(settings.sysBlock)) {
      if (disk.number == location.driveNumber) CollectSystemDisk(disk, settings, mounts, list);
    }
  } else {
    CollectImageDisk(source, list);
    if (!list.imageErrors.empty()) return list.imageErrors.front().second;
  }
  NumberEntries(list);
  return kSuccess;
}

bool NextDescriptor(DiskList& list, PartitionDescriptor& out) {
  for (auto disk = list.entries.lower_bound(list.cursorDisk_); disk != list.entries.end(); ++disk) {
    if (disk->first != list.cursorDisk_) {
      list.cursorDisk_ = disk->first;
      list.cursorIndex_ = 0;
    }
    if (list.cursorIndex_ < disk->second.size()) {
      out = disk->second[list.cursorIndex_++];
      return true;
    }
  }
  return false;
}

void CopyAllDescriptors(const DiskList& list, std::vector<PartitionDescriptor>& out) {
  out.clear();
  for (const auto& [number, entries] : list.entries) out.insert(out.end(), entries.begin(), entries.end());
}

void FindRemovedDescriptors(DiskList& list, const std::vector<PartitionDescriptor>& oldDescriptors,
                            std::vector<PartitionDescriptor>& removed, const EnumerationSettings& settings) {
  RefreshDiskList(list, settings);
  for (const auto& old : oldDescriptors) {
    auto disk = list.entries.find(old.diskNumber);
    bool present = disk != list.entries.end() &&
                   std::any_of(disk->second.begin(), disk->second.end(),
                               [&](const auto& now) { return now.firstSector == old.firstSector; });
    if (!present) removed.push_back(old);
  }
}

bool IsRemovableDisk(int32_t driveNumber, const fs::path& sysBlock) {
  if (IsImageDiskNumber(driveNumber)) return false;
  auto disks = ListWholeDisks(sysBlock);
  if (driveNumber < 0 || size_t(driveNumber) >= disks.size()) return false;
  return SysfsRemovable(sysBlock / disks[driveNumber].name);
}

int GetDiskLengthBytes(int32_t driveNumber, uint64_t& out) {
  fs::path path = DiskDevicePath(driveNumber);
  if (path.empty()) return kErrFileNotFound;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return LastError();
  auto bytes = DeviceByteLength(fd);
  int error = bytes ? kSuccess : LastError();
  ::close(fd);
  if (bytes) out = *bytes;
  return error;
}

int GetVolumeFreeBytes(const fs::path& mountPoint, uint64_t& out) {
  struct statvfs st {};
  if (statvfs(mountPoint.c_str(), &st) != 0) return LastError();
  out = uint64_t(st.f_bfree) * st.f_frsize;
  return kSuccess;
}

int GetVolumeFileSystemName(const fs::path& mountPoint, std::string& out, const EnumerationSettings& settings) {
  auto mounts = ReadMountInfo(settings.mountInfo);
  if (!mounts) return LastError();
  std::error_code ec;
  fs::path wanted = fs::weakly_canonical(mountPoint, ec);
  for (const auto& [devText, mount] : *mounts) {
    if (mount.mountPoint != wanted && mount.mountPoint != mountPoint) continue;
    // The device says FAT32 or FAT where the mount table only says vfat.
    out = FileSystemDisplayName(settings.identify(DeviceNodeOf(devText, settings.sysBlock), ParseDevnum(devText)));
    if (out.empty()) out = FileSystemDisplayName(VolumeIdentity{mount.fileSystemType, "", "", ""});
    return kSuccess;
  }
  return kErrFileNotFound;
}

}  // namespace kestrel
