#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

#include "platform/error_codes.h"

namespace kestrel {

ReplacementFile::ReplacementFile(std::filesystem::path target, std::filesystem::path temporary, mode_t mode)
    : target_(std::move(target)), temporary_(std::move(temporary)) {
  fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  openError_ = fd_ < 0 ? LastError(IoDirection::kWrite) : kSuccess;
}

ReplacementFile::~ReplacementFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temporary_.c_str());
  }
}

int ReplacementFile::Commit() {
  if (fd_ < 0) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  // The rename must not reach the disk before the bytes do (a power cut).
  int result = ::fdatasync(fd_) == 0 ? kSuccess : LastError(IoDirection::kWrite);
  if (::close(fd_) != 0 && result == kSuccess) result = LastError(IoDirection::kWrite);
  fd_ = -1;
  if (result == kSuccess && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    result = LastError(IoDirection::kWrite);
  }
  if (result != kSuccess) ::unlink(temporary_.c_str());
  return result;
}

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

int PwriteAll(int fd, const uint8_t* data, size_t count, uint64_t offset) {
  while (count > 0) {
    ssize_t written = ::pwrite(fd, data, count, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? LastError(IoDirection::kWrite) : kErrWriteFault;
    data += written;
    count -= size_t(written);
    offset += uint64_t(written);
  }
  return kSuccess;
}

int PreadAll(int fd, uint8_t* data, size_t count, uint64_t offset, size_t& got) {
  got = 0;
  while (got < count) {
    ssize_t n = ::pread(fd, data + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) break;
    got += size_t(n);
  }
  return kSuccess;
}

int ReadWholeFile(int fd, std::vector<uint8_t>& out) {
  out.clear();
  struct stat st{};
  if (::fstat(fd, &st) != 0) return LastError();
  try {
    out.resize(static_cast<size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  size_t got = 0;
  int result = PreadAll(fd, out.data(), out.size(), 0, got);
  out.resize(got);
  return result;
}

int CreateFolders(const std::filesystem::path& folder) {
  if (folder.empty()) return kSuccess;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec && !std::filesystem::is_directory(folder)) return ErrorFromErrno(ec.value(), IoDirection::kWrite);
  return kSuccess;
}

}  // namespace kestrel
