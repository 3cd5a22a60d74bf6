#include "app/jobs/image_destination.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

#include "app/same_device.h"

namespace kestrel {

namespace {

// The nearest existing folder at or above path.
std::filesystem::path ExistingFolder(const std::filesystem::path& path) {
  std::filesystem::path probe = std::filesystem::absolute(path).parent_path();
  std::error_code ec;
  while (!std::filesystem::is_directory(probe, ec)) {
    if (!probe.has_parent_path() || probe.parent_path() == probe) break;
    probe = probe.parent_path();
  }
  return probe;
}

// Type of the file system mounted with this device number, from mountinfo
// (the field after the " - " separator).
std::string MountedType(dev_t device) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor;
    if (!(fields >> id >> parent >> majorMinor) || majorMinor != wanted) continue;
    size_t separator = line.find(" - ");
    if (separator == std::string::npos) continue;
    std::istringstream rest(line.substr(separator + 3));
    std::string type;
    rest >> type;
    return type;
  }
  return {};
}

}  // namespace

ImageDestinationFacts InspectImageDestination(const std::filesystem::path& source, bool sourceIsImage,
                                              const std::filesystem::path& destination) {
  ImageDestinationFacts facts;
  std::error_code ec;
  struct stat target {};
  bool exists = ::stat(destination.c_str(), &target) == 0;
  if (exists && S_ISBLK(target.st_mode)) facts.isBlockDevice = true;
  if (exists && S_ISREG(target.st_mode)) facts.existingBytes = uint64_t(target.st_size);
  // The very file (or device) being read, under whatever name: also a
  // whole-disk image read as a disk for one of its partitions.
  facts.sameDevice = exists && std::filesystem::equivalent(source, destination, ec);
  if (!sourceIsImage && !facts.sameDevice) {
    struct stat disk {};
    facts.sameDevice = OnSameDisk(source, destination) ||
                       (facts.isBlockDevice && ::stat(source.c_str(), &disk) == 0 && disk.st_rdev == target.st_rdev);
  }
  if (facts.isBlockDevice) return facts;
  std::filesystem::path folder = ExistingFolder(destination);
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) facts.fileSystem = MountedType(st.st_dev);
  struct statvfs vfs {};
  if (::statvfs(folder.c_str(), &vfs) == 0) {
    facts.knowFree = true;
    facts.freeBytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
  }
  return facts;
}

std::string ImageDestinationProblem(const ImageDestinationFacts& facts, uint64_t imageBytes) {
  if (facts.sameDevice) return "MSG0218";
  if (facts.isBlockDevice) return {};
  if (facts.fileSystem == "vfat" && imageBytes > kFat32FileLimit) return "MSG0220";
  if ((facts.fileSystem == "msdos" || facts.fileSystem == "umsdos") && imageBytes > kFatFileLimit) return "MSG0219";
  // What the destination already holds counts as room: a resumed image keeps
  // it, a fresh one is truncated first and frees it.
  if (facts.knowFree && facts.existingBytes < imageBytes && facts.freeBytes + facts.existingBytes <= imageBytes) {
    return "MSG0221";
  }
  return {};
}

}  // namespace kestrel
