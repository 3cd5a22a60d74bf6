#include "engines/common/data_sink.h"

#include <algorithm>

#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel {

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
