#include "app/same_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>

namespace kestrel {

namespace {

// The sysfs folder of the whole disk a device number belongs to, or "" when
// sysfs does not know it.
std::filesystem::path WholeDiskOf(dev_t device) {
  std::error_code ec;
  std::filesystem::path link =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::filesystem::path real = std::filesystem::canonical(link, ec);
  if (ec) return {};
  if (std::filesystem::exists(real / "partition", ec)) return real.parent_path();
  return real;
}

}  // namespace

bool OnSameDisk(const std::filesystem::path& blockDevice, const std::filesystem::path& destination) {
  struct stat source {};
  if (stat(blockDevice.c_str(), &source) != 0 || !S_ISBLK(source.st_mode)) return false;
  std::filesystem::path probe = std::filesystem::absolute(destination);
  struct stat target {};
  while (stat(probe.c_str(), &target) != 0) {
    if (!probe.has_parent_path() || probe.parent_path() == probe) return false;
    probe = probe.parent_path();
  }
  if (target.st_dev == source.st_rdev) return true;
  std::filesystem::path sourceDisk = WholeDiskOf(source.st_rdev);
  return !sourceDisk.empty() && sourceDisk == WholeDiskOf(target.st_dev);
}

bool DestinationOnSourceDisk(const ScanSource& source, const std::filesystem::path& destination) {
  return !source.isImage && OnSameDisk(source.path, destination);
}

}  // namespace kestrel
