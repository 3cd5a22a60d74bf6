#include "storage/sector_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>

#include "platform/block_device.h"
#include "platform/disk_table.h"
#include "platform/source_kind.h"
#include "platform/error_codes.h"

namespace kestrel {

SectorDevice::SectorDevice(SectorDevice&& other) noexcept
    : totalSectors(std::exchange(other.totalSectors, 0)), read(other.read), fd_(std::move(other.fd_)) {}

SectorDevice& SectorDevice::operator=(SectorDevice&& other) noexcept {
  if (this != &other) {
    fd_ = std::move(other.fd_);
    totalSectors = std::exchange(other.totalSectors, 0);
    read = other.read;
  }
  return *this;
}

namespace {

std::mutex g_grantedMutex;
std::map<std::filesystem::path, int> g_granted;  // device path -> owned descriptor

}  // namespace

void GrantDriveDescriptor(const std::filesystem::path& devicePath, int fd) {
  std::lock_guard lock(g_grantedMutex);
  auto [it, added] = g_granted.try_emplace(devicePath, fd);
  if (!added) {
    ::close(it->second);
    it->second = fd;
  }
}

int OpenDriveHandle(int32_t driveNumber) {
  auto path = DiskDevicePath(driveNumber);
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0 || (errno != EACCES && errno != EPERM)) return fd;
  const int refused = errno;
  std::lock_guard lock(g_grantedMutex);
  auto it = g_granted.find(path);
  if (it == g_granted.end()) {
    errno = refused;
    return -1;
  }
  return ::fcntl(it->second, F_DUPFD_CLOEXEC, 0);
}

int OpenPhysicalDrive(SectorDevice& device, int32_t driveNumber) {
  CloseDevice(device);
  device.Adopt(UniqueFd(OpenDriveHandle(driveNumber)));
  if (!device.IsOpen()) return LastError();
  auto geometry = QueryGeometry(device.fd());
  if (!geometry) return LastError();
  if (auto bytes = DeviceByteLength(device.fd())) device.totalSectors = *bytes / geometry->bytesPerSector;
  if (device.totalSectors == 0) {
    device.totalSectors =
        geometry->cylinders * uint64_t(geometry->tracksPerCylinder * geometry->sectorsPerTrack);
  }
  return kSuccess;
}

int OpenImageFile(const std::filesystem::path& path, SectorDevice& device) {
  CloseDevice(device);
  int error = kSuccess;
  // A folder, FIFO or character device is refused here, before any read.
  device.Adopt(OpenSourceFd(path, error));
  if (error != kSuccess) return error;
  auto bytes = DeviceByteLength(device.fd());
  if (!bytes) return LastError();
  device.totalSectors = *bytes / kImageSectorBytes;
  return kSuccess;
}

int ReadSectors(int32_t count, SectorDevice& device, uint8_t* buffer, uint64_t firstSector,
                int32_t bytesPerSector, int32_t* sectorsRead) {
  if (count < 0 || bytesPerSector <= 0 || !device.IsOpen()) return kErrInvalidParameter;
  if (firstSector > device.totalSectors || uint64_t(count) > device.totalSectors - firstSector) {
    return kErrInvalidParameter;
  }
  uint64_t offset = firstSector * uint64_t(bytesPerSector);
  if (offset > uint64_t(INT64_MAX)) return kErrInvalidParameter;
  uint64_t wanted = uint64_t(count) * uint64_t(bytesPerSector);
  if (wanted > UINT32_MAX) return kErrInvalidParameter;

  PositionalReadFn readFn = device.read ? device.read : ::pread;
  uint32_t remaining = static_cast<uint32_t>(wanted);
  uint32_t done = 0;
  uint32_t piece = kMaxReadPiece;
  int result = kSuccess;
  while (remaining > 0) {
    if (remaining < piece) piece = remaining;
    ssize_t got = readFn(device.fd(), buffer + done, piece, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      result = kErrReadFault;
      break;
    }
    done += static_cast<uint32_t>(got);
    remaining -= static_cast<uint32_t>(got);
  }
  if (sectorsRead) *sectorsRead = static_cast<int32_t>(done / uint32_t(bytesPerSector));
  return result;
}

void CloseDevice(SectorDevice& device) {
  device.Close();
}

int32_t QueryBytesPerSector(int fd) {
  auto size = LogicalSectorSize(fd);
  return size ? static_cast<int32_t>(*size) : 512;
}

namespace {

// mountinfo writes space, tab, newline and backslash in paths as \ooo octal.
std::string UnescapeMountPath(const std::string& text) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) && octal(text[i + 2]) && octal(text[i + 3])) {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += text[i];
  }
  return out;
}

// The mount point of the device with this major:minor, from /proc/self/mountinfo.
std::string MountPointOf(dev_t device) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint;
    if (fields >> id >> parent >> majorMinor >> root >> mountPoint && majorMinor == wanted) {
      return UnescapeMountPath(mountPoint);
    }
  }
  return {};
}

}  // namespace

std::filesystem::path PartitionMountPoint(int32_t driveNumber, uint64_t firstSector) {
  auto partition = PartitionDevicePath(driveNumber, firstSector);
  struct stat st {};
  if (partition.empty() || stat(partition.c_str(), &st) != 0) return {};
  return MountPointOf(st.st_rdev);
}

void FlushVolume(int32_t driveNumber, uint64_t firstSector) {
  auto partition = PartitionDevicePath(driveNumber, firstSector);
  if (partition.empty()) return;
  auto mountPoint = PartitionMountPoint(driveNumber, firstSector);
  if (!mountPoint.empty()) {
    UniqueFd dir(::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) syncfs(dir.get());
  }
  UniqueFd fd(::open(partition.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.valid()) ioctl(fd.get(), BLKFLSBUF, 0);
}

int ReadFully(int fd, uint8_t* buffer, uint32_t byteCount, uint32_t* bytesRead) {
  uint32_t done = 0;
  int result = kSuccess;
  while (done < byteCount) {
    uint32_t piece = std::min<uint32_t>(kMaxReadPiece, byteCount - done);
    ssize_t got = ::read(fd, buffer + done, piece);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      result = kErrReadFault;
      break;
    }
    done += static_cast<uint32_t>(got);
  }
  if (bytesRead) *bytesRead = done;
  return result;
}

int ReadSectorsHere(int32_t count, int fd, uint8_t* buffer, int32_t bytesPerSector, int32_t* sectorsRead) {
  if (count < 0 || bytesPerSector <= 0) return kErrInvalidParameter;
  uint64_t wanted = uint64_t(count) * uint64_t(bytesPerSector);
  if (wanted > UINT32_MAX) return kErrInvalidParameter;
  uint32_t got = 0;
  int result = ReadFully(fd, buffer, static_cast<uint32_t>(wanted), &got);
  if (sectorsRead) *sectorsRead = static_cast<int32_t>(got / uint32_t(bytesPerSector));
  return result;
}

}  // namespace kestrel
