#include "platform/disk_table.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <mutex>

#include "platform/error_codes.h"

namespace kestrel {
namespace fs = std::filesystem;

namespace {

bool ReadSysValue(const fs::path& file, uint64_t& value) {
  std::ifstream in(file);
  return static_cast<bool>(in >> value);
}

std::string ReadSysText(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  return text;
}

bool IsListedDisk(const fs::path& dir) {
  std::string name = dir.filename().string();
  if (name.starts_with("ram") || name.starts_with("zram")) return false;
  if (name.starts_with("loop")) return !ReadSysText(dir / "loop" / "backing_file").empty();
  return true;
}

// sysfs counts partition start and size in 512-byte units whatever the device's sector size.
uint32_t SysfsSectorSize(const fs::path& diskDir) {
  uint64_t size = 0;
  if (ReadSysValue(diskDir / "queue" / "logical_block_size", size) && size >= 512) return uint32_t(size);
  return 512;
}

// Registered image disks, index i holding number kFirstImageDiskNumber + i.
// Entries are never removed, so a number stays valid for the whole process.
std::mutex imageDisksLock;
std::vector<fs::path> imageDisks;

}  // namespace

int32_t RegisterImageDisk(const fs::path& image) {
  std::error_code ec;
  fs::path absolute = fs::absolute(image, ec).lexically_normal();
  if (ec) absolute = image;
  std::lock_guard lock(imageDisksLock);
  auto found = std::find(imageDisks.begin(), imageDisks.end(), absolute);
  if (found == imageDisks.end()) found = imageDisks.insert(imageDisks.end(), absolute);
  return kFirstImageDiskNumber + int32_t(found - imageDisks.begin());
}

bool IsImageDiskNumber(int32_t driveNumber) { return driveNumber >= kFirstImageDiskNumber; }

std::vector<DiskEntry> ListWholeDisks(const fs::path& sysBlock) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
    if (IsListedDisk(entry.path())) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<DiskEntry> disks;
  for (size_t i = 0; i < names.size(); ++i) {
    disks.push_back({static_cast<int32_t>(i), names[i], fs::path("/dev") / names[i]});
  }
  return disks;
}

fs::path DiskDevicePath(int32_t driveNumber, const fs::path& sysBlock) {
  if (IsImageDiskNumber(driveNumber)) {
    std::lock_guard lock(imageDisksLock);
    size_t index = size_t(driveNumber - kFirstImageDiskNumber);
    return index < imageDisks.size() ? imageDisks[index] : fs::path();
  }
  auto disks = ListWholeDisks(sysBlock);
  if (driveNumber < 0 || static_cast<size_t>(driveNumber) >= disks.size()) return {};
  return disks[driveNumber].device;
}

int ResolveBlockDevice(const fs::path& device, PartitionLocation& out, const fs::path& sysBlock) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return LastError();
  if (!S_ISBLK(st.st_mode)) return kErrFileNotFound;
  std::string wanted = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));

  for (const auto& disk : ListWholeDisks(sysBlock)) {
    fs::path diskDir = sysBlock / disk.name;
    uint32_t sectorSize = SysfsSectorSize(diskDir);
    uint64_t size512 = 0;
    if (ReadSysText(diskDir / "dev") == wanted) {
      ReadSysValue(diskDir / "size", size512);
      out = {disk.number, 0, size512 * 512 / sectorSize, true};
      return kSuccess;
    }
    std::error_code ec;
    for (const auto& child : fs::directory_iterator(diskDir, ec)) {
      if (!fs::exists(child.path() / "partition") || ReadSysText(child.path() / "dev") != wanted) continue;
      uint64_t start512 = 0;
      ReadSysValue(child.path() / "start", start512);
      ReadSysValue(child.path() / "size", size512);
      out = {disk.number, start512 * 512 / sectorSize, size512 * 512 / sectorSize, false};
      return kSuccess;
    }
  }
  return kErrFileNotFound;
}

fs::path PartitionDevicePath(int32_t driveNumber, uint64_t firstSector, const fs::path& sysBlock) {
  auto disks = ListWholeDisks(sysBlock);
  if (driveNumber < 0 || static_cast<size_t>(driveNumber) >= disks.size()) return {};
  fs::path diskDir = sysBlock / disks[driveNumber].name;
  uint32_t sectorSize = SysfsSectorSize(diskDir);
  std::error_code ec;
  for (const auto& child : fs::directory_iterator(diskDir, ec)) {
    uint64_t start512 = 0;
    if (!fs::exists(child.path() / "partition") || !ReadSysValue(child.path() / "start", start512)) continue;
    if (start512 * 512 / sectorSize == firstSector) return fs::path("/dev") / child.path().filename();
  }
  return {};
}

}  // namespace kestrel
