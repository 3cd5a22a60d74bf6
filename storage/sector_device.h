// The only way Kestrel reads a scanned source: a disk or an image file opened
// read-only, read in whole sectors at 64-bit addresses, never more than 64 KiB
// per system call. There is no write operation on purpose.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>

#include "platform/unique_fd.h"

namespace kestrel {

// How bytes reach us from the OS; tests substitute a reader that delivers part
// of a request and then fails, which a real disk with a bad sector does.
using PositionalReadFn = ssize_t (*)(int fd, void* buffer, size_t count, off_t offset);

inline constexpr uint32_t kMaxReadPiece = 65536;
inline constexpr int32_t kImageSectorBytes = 512;

class SectorDevice {
 public:
  SectorDevice() = default;
  SectorDevice(SectorDevice&& other) noexcept;
  SectorDevice& operator=(SectorDevice&& other) noexcept;

  uint64_t totalSectors = 0;   // whole disk (not partition), or image size / 512
  PositionalReadFn read = nullptr;  // null: pread(2)

  bool IsOpen() const { return fd_.valid(); }
  // The descriptor to read or query through; the device keeps owning it.
  int fd() const { return fd_.get(); }
  // Takes over an already open read-only descriptor (closing any earlier one).
  void Adopt(UniqueFd fd) { fd_ = std::move(fd); }
  void Close() { fd_.Reset(); }

 private:
  UniqueFd fd_;
};

// Opens disk number N (see DiskDevicePath) and learns its length in sectors.
int OpenPhysicalDrive(SectorDevice& device, int32_t driveNumber);
// Opens an image file; it is counted in 512-byte sectors, a trailing partial sector is not addressable.
int OpenImageFile(const std::filesystem::path& path, SectorDevice& device);
// Reads count sectors from firstSector. 87 when the range passes the device end
// (nothing read, sectorsRead untouched); 30 after a short read, with
// sectorsRead = whole sectors delivered before the fault.
int ReadSectors(int32_t count, SectorDevice& device, uint8_t* buffer, uint64_t firstSector,
                int32_t bytesPerSector, int32_t* sectorsRead);
void CloseDevice(SectorDevice& device);

// The bare read-only descriptor of disk N, or -1 with errno set. When the
// user may not open the disk, a descriptor granted for its /dev path (below)
// is duplicated instead.
int OpenDriveHandle(int32_t driveNumber);
// Keeps fd (a read-only descriptor of the whole disk at devicePath, handed
// out by a broker such as UDisks2 after the user authorised it) for later
// opens of that disk. Takes ownership; a later grant for the path replaces it.
void GrantDriveDescriptor(const std::filesystem::path& devicePath, int fd);
// Logical sector size of a block device; 512 when it is not one or the query fails.
int32_t QueryBytesPerSector(int fd);
// Pushes cached writes of the file system mounted on this partition to the disk
// before raw reading. Failures are ignored: the read goes on regardless.
void FlushVolume(int32_t driveNumber, uint64_t firstSector);
// Where the file system on the partition of disk N starting at firstSector is
// mounted; empty when it is not mounted (or no such partition is known).
std::filesystem::path PartitionMountPoint(int32_t driveNumber, uint64_t firstSector);
// Reads byteCount bytes from the descriptor's current position in pieces of at
// most 64 KiB; 30 when a read fails or returns nothing, bytesRead always set.
int ReadFully(int fd, uint8_t* buffer, uint32_t byteCount, uint32_t* bytesRead);
int ReadSectorsHere(int32_t count, int fd, uint8_t* buffer, int32_t bytesPerSector, int32_t* sectorsRead);

}  // namespace kestrel
