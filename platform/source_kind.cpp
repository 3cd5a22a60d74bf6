#include "platform/source_kind.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/error_codes.h"

namespace kestrel {

const char* RefusedSourceKind(mode_t mode) {
  if (S_ISREG(mode) || S_ISBLK(mode)) return nullptr;
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  return "not a regular file or a block device";
}

int RefusedSourceError(mode_t mode) {
  if (!RefusedSourceKind(mode)) return kSuccess;
  return S_ISDIR(mode) ? kErrAccessDenied : kErrNotSupported;
}

UniqueFd OpenSourceFd(const std::filesystem::path& path, int& error) {
  UniqueFd fd = OpenFd(path.c_str(), O_RDONLY | O_NONBLOCK, 0, error);
  if (error != kSuccess) return fd;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    error = LastError();
    return UniqueFd();
  }
  if (int refused = RefusedSourceError(st.st_mode); refused != kSuccess) {
    error = refused;
    return UniqueFd();
  }
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = LastError();
    return UniqueFd();
  }
  return fd;
}

}  // namespace kestrel
