// An owned file descriptor: move-only, closed exactly once (by Close, which
// reports the close error a write may surface, or by the destructor).
#pragma once

#include <utility>

namespace kestrel {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes now; 0, or the errno-mapped code of a failed close (a delayed
  // write error). Closing nothing is no error.
  int Close(bool writing = true);
  // Closes (ignoring the result: used where nothing was written) and takes fd.
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// open(2) with O_CLOEXEC added; the descriptor is invalid on failure, with
// error set to the mapped code.
UniqueFd OpenFd(const char* path, int flags, int mode, int& error);

}  // namespace kestrel
