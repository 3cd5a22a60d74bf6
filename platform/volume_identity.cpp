#include "platform/volume_identity.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <strings.h>

#include <cstdlib>
#include <memory>

namespace kestrel {

namespace {

struct ProbeDeleter {
  void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using ProbePtr = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

std::string Value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  if (blkid_probe_lookup_value(probe, name, &data, nullptr) != 0 || !data) return {};
  return data;
}

// Superblocks and, for a partition node, the entry that describes it.
VolumeIdentity Probe(int fd, uint64_t offset, uint64_t byteCount) {
  VolumeIdentity identity;
  ProbePtr probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), fd, blkid_loff_t(offset), blkid_loff_t(byteCount)) != 0) {
    return identity;
  }
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(),
                                    BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
  // 1 (nothing found) and -2 (ambiguous) leave the fields empty; that is an answer too.
  if (blkid_do_safeprobe(probe.get()) != 0) return identity;
  identity.type = Value(probe.get(), "TYPE");
  identity.version = Value(probe.get(), "VERSION");
  identity.label = Value(probe.get(), "LABEL");
  identity.partEntryType = Value(probe.get(), "PART_ENTRY_TYPE");
  return identity;
}

std::string UdevValue(udev_device* device, const char* name) {
  const char* value = udev_device_get_property_value(device, name);
  return value ? value : "";
}

VolumeIdentity FromUdev(dev_t devnum) {
  VolumeIdentity identity;
  udev* context = udev_new();
  if (!context) return identity;
  if (udev_device* device = udev_device_new_from_devnum(context, 'b', devnum)) {
    identity.type = UdevValue(device, "ID_FS_TYPE");
    identity.version = UdevValue(device, "ID_FS_VERSION");
    identity.label = UdevValue(device, "ID_FS_LABEL");
    identity.partEntryType = UdevValue(device, "ID_PART_ENTRY_TYPE");
    udev_device_unref(device);
  }
  udev_unref(context);
  return identity;
}

bool EqualsNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

VolumeIdentity IdentifyVolume(const std::filesystem::path& deviceNode, dev_t devnum) {
  int fd = ::open(deviceNode.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return FromUdev(devnum);
  VolumeIdentity identity = Probe(fd, 0, 0);
  ::close(fd);
  return identity;
}

VolumeIdentity IdentifyVolumeAt(int fd, uint64_t offset, uint64_t byteCount) {
  return Probe(fd, offset, byteCount);
}

std::string FileSystemDisplayName(const VolumeIdentity& identity) {
  if (identity.type == "ntfs") return "NTFS";
  if (identity.type == "exfat") return "exFAT";
  if (identity.type == "vfat" || identity.type == "msdos") {
    return EqualsNoCase(identity.version, "FAT32") ? "FAT32" : "FAT";
  }
  return identity.type;
}

uint8_t FileSystemTypeCode(const std::string& fileSystemName, uint8_t mbrType) {
  if (EqualsNoCase(fileSystemName, "NTFS")) return 7;
  if (EqualsNoCase(fileSystemName, "FAT32")) return 11;
  if (EqualsNoCase(fileSystemName, "FAT")) return 6;
  return mbrType;
}

uint8_t MbrTypeFromEntryType(const std::string& partEntryType) {
  if (partEntryType.size() < 3 || partEntryType.size() > 4 || !partEntryType.starts_with("0x")) return 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(partEntryType.c_str() + 2, &end, 16);
  return end && *end == '\0' && value <= 0xFF ? uint8_t(value) : 0;
}

}  // namespace kestrel
