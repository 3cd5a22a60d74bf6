#include "platform/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/error_codes.h"

namespace kestrel {

int UniqueFd::Close(bool writing) {
  if (fd_ < 0) return kSuccess;
  int fd = std::exchange(fd_, -1);
  // Linux frees the descriptor even when close fails: never retry it.
  if (::close(fd) != 0) return LastError(writing ? IoDirection::kWrite : IoDirection::kRead);
  return kSuccess;
}

void UniqueFd::Reset(int fd) {
  // Nothing was written through a descriptor dropped this way, or its writer
  // already learnt the outcome from Close.
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

UniqueFd OpenFd(const char* path, int flags, int mode, int& error) {
  int fd = ::open(path, flags | O_CLOEXEC, mode);
  bool writing = (flags & (O_WRONLY | O_RDWR)) != 0;
  error = fd < 0 ? LastError(writing ? IoDirection::kWrite : IoDirection::kRead) : kSuccess;
  return UniqueFd(fd);
}

}  // namespace kestrel
