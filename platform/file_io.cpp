#include "platform/file_io.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/error_codes.h"

namespace kestrel {

int WriteAll(int fd, const uint8_t* data, size_t count) {
  while (count > 0) {
    ssize_t written = ::write(fd, data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? LastError(IoDirection::kWrite) : kErrWriteFault;
    data += written;
    count -= size_t(written);
  }
  return kSuccess;
}

int CreateFolders(const std::filesystem::path& folder) {
  if (folder.empty()) return kSuccess;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec && !std::filesystem::is_directory(folder)) return ErrorFromErrno(ec.value(), IoDirection::kWrite);
  return kSuccess;
}

}  // namespace kestrel
