// kestrel-cli identify FILE...: what type of file starts at the first sector
// of each named file or device, and how long the type's size rule says it is.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/messages.h"
#include "carve/signatures.h"
#include "platform/error_codes.h"
#include "platform/source_kind.h"

namespace kestrel::cli {

namespace {

// A file is treated as a source padded with zeros to a whole sector, as its
// last sector would be on a freshly written disk; sizes stay within its length.
ssize_t ReadPaddedAtEnd(int fd, void* buffer, size_t count, off_t offset) {
  ssize_t got = pread(fd, buffer, count, offset);
  if (got < 0) return got;
  if (static_cast<size_t>(got) < count) std::memset(static_cast<uint8_t*>(buffer) + got, 0, count - got);
  return static_cast<ssize_t>(count);
}

// Prints one line for path; returns a Win32 error when it could not be read.
int IdentifyOne(const std::string& path) {
  // A FIFO would block in open; it, a device like /dev/zero and a folder are refused first.
  int error = kSuccess;
  SectorDevice device;
  device.Adopt(OpenSourceFd(path, error));
  if (error != kSuccess) return error;
  int fd = device.fd();
  struct stat st {};
  if (fstat(fd, &st) != 0) return LastError();
  int32_t sectorBytes = kImageSectorBytes;
  uint64_t length = static_cast<uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    sectorBytes = QueryBytesPerSector(fd);
    if (ioctl(fd, BLKGETSIZE64, &length) != 0) return LastError();
  } else {
    device.read = ReadPaddedAtEnd;
  }
  device.totalSectors = (length + sectorBytes - 1) / sectorBytes;
  if (length == 0) {
    std::printf("%s\tunrecognised\n", path.c_str());
    return kSuccess;
  }
  std::vector<uint8_t> first(sectorBytes);
  int32_t sectorsRead = 0;
  if (int error = ReadSectors(1, device, first.data(), 0, sectorBytes, &sectorsRead); error != kSuccess) return error;

  SignatureSource source{&device, sectorBytes, length};
  CarveContext context;
  IdentifyResult result;
  int answer = IdentifyAndSize(context, source, ByteView(first), 0, CarveProgress{}, result);
  if (result.code == kTypeUnrecognised) {
    std::printf("%s\tunrecognised\n", path.c_str());
  } else if (answer == kSuccess) {
    std::printf("%s\t%s\t%llu\n", path.c_str(), result.extension.c_str(), static_cast<unsigned long long>(result.size));
  } else {
    std::printf("%s\t%s\t-\n", path.c_str(), result.extension.c_str());
  }
  return kSuccess;
}

}  // namespace

void AddIdentifyCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("identify", "Tell which file type starts each file, and its carved size");
  auto files = std::make_shared<std::vector<std::string>>();
  command->add_option("FILE", *files, "Files or block devices")->required();
  command->callback([files, &exitCode] {
    size_t failed = 0;
    for (const std::string& path : *files) {
      if (int error = IdentifyOne(path); error != kSuccess) {
        PrintSourceError(path, error);
        ++failed;
      }
    }
    std::fflush(stdout);
    if (failed == 0) exitCode = kExitOk;
    else exitCode = failed == files->size() ? kExitUsage : kExitPartial;
  });
}

}  // namespace kestrel::cli
