// Where the bytes of a found file go: a recovered file, the preview's
// temporary file, or the caller's preview buffer (up to its size). One type
// for the three, so every engine's reader writes the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <vector>

#include "platform/unique_fd.h"

namespace kestrel {

class DataSink {
 public:
  // Writes to fd, an open file the sink now owns (a recovered file's
  // temporary, a preview file).
  void UseFile(UniqueFd fd);
  // Up to capacity bytes into buffer (grown to capacity if smaller).
  void UseBuffer(std::vector<uint8_t>* buffer, uint32_t capacity);
  // Hands every piece to take, whose non-zero answer is what Write returns
  // (a consumer that wants no more, or a stop).
  void UseCallback(std::function<int(const uint8_t* data, size_t count)> take);

  // Takes at most room() bytes; 0 or the write error.
  int Write(const uint8_t* data, size_t count);
  uint64_t written() const { return written_; }
  // Bytes still wanted: unlimited for a file.
  uint64_t room() const {
    if (!toBuffer_) return std::numeric_limits<uint64_t>::max();
    return written_ < capacity_ ? capacity_ - written_ : 0;
  }
  bool full() const { return room() == 0; }
  // Closes a file sink: 0 or the delayed write error the close reports.
  int Close() { return fd_.Close(); }
  // Gives the file back unclosed (to flush and publish it).
  UniqueFd ReleaseFile() { return std::move(fd_); }

 private:
  UniqueFd fd_;
  bool toBuffer_ = false;
  std::vector<uint8_t>* buffer_ = nullptr;
  std::function<int(const uint8_t*, size_t)> take_;
  uint32_t capacity_ = 0;
  uint64_t written_ = 0;
};

}  // namespace kestrel
