#include "engines/common/data_sink.h"

#include <fcntl.h>

#include <algorithm>

#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel {

int DataSink::OpenFile(const std::filesystem::path& path) {
  toBuffer_ = false;
  take_ = nullptr;
  written_ = 0;
  int error = kSuccess;
  // Truncated: a longer file left there before must not keep its old tail.
  fd_ = OpenFd(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644, error);
  return error;
}

void DataSink::UseFile(UniqueFd fd) {
  toBuffer_ = false;
  take_ = nullptr;
  written_ = 0;
  fd_ = std::move(fd);
}

void DataSink::UseBuffer(std::vector<uint8_t>* buffer, uint32_t capacity) {
  fd_.Reset();
  take_ = nullptr;
  toBuffer_ = true;
  buffer_ = buffer;
  capacity_ = capacity;
  written_ = 0;
  if (buffer_ && buffer_->size() < capacity) buffer_->resize(capacity);
}

void DataSink::UseCallback(std::function<int(const uint8_t* data, size_t count)> take) {
  fd_.Reset();
  toBuffer_ = false;
  take_ = std::move(take);
  written_ = 0;
}

int DataSink::Write(const uint8_t* data, size_t count) {
  if (take_) {
    if (int answer = take_(data, count); answer != kSuccess) return answer;
    written_ += count;
    return kSuccess;
  }
  if (toBuffer_) {
    if (!buffer_) return kErrInvalidParameter;
    size_t n = size_t(std::min<uint64_t>(count, room()));
    std::copy(data, data + n, buffer_->begin() + static_cast<std::ptrdiff_t>(written_));
    written_ += n;
    return kSuccess;
  }
  if (!fd_.valid()) return kErrInvalidParameter;
  if (int error = WriteAll(fd_.get(), data, count); error != kSuccess) return error;
  written_ += count;
  return kSuccess;
}

}  // namespace kestrel
