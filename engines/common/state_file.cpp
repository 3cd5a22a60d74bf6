#include "engines/common/state_file.h"

#include <fcntl.h>

#include <algorithm>

#include "platform/byte_view.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace kestrel::deep {

void StateWriter::U32(uint32_t v) {
  uint8_t b[4];
  PutLe32(b, v);
  Bytes(b, 4);
}
void StateWriter::U64(uint64_t v) {
  uint8_t b[8];
  PutLe64(b, v);
  Bytes(b, 8);
}
void StateWriter::Bytes(const uint8_t* data, size_t count) { bytes_.insert(bytes_.end(), data, data + count); }
void StateWriter::Blob(const std::vector<uint8_t>& bytes, size_t) {
  U32(uint32_t(bytes.size()));
  Bytes(bytes.data(), bytes.size());
}
void StateWriter::Section(const StateWriter& inner) {
  U64(inner.bytes_.size());
  Bytes(inner.bytes_.data(), inner.bytes_.size());
}
void StateWriter::Record(const FoundFileRecord& record) {
  uint8_t b[kFoundFileRecordBytes];
  record.Serialize(std::span<uint8_t, kFoundFileRecordBytes>(b, kFoundFileRecordBytes));
  Bytes(b, sizeof b);
}

int StateWriter::Save(const std::filesystem::path& path) const {
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  ReplacementFile file(path, temporary);
  if (file.openError() != kSuccess) return file.openError();
  if (int error = WriteAll(file.fd(), bytes_.data(), bytes_.size()); error != kSuccess) return error;
  return file.Commit();
}

int StateReader::Load(const std::filesystem::path& path) {
  bytes_.clear();
  pos_ = 0;
  ok_ = false;
  int error = kSuccess;
  UniqueFd fd = OpenFd(path.c_str(), O_RDONLY, 0, error);
  if (error != kSuccess) return error;
  // A state file that cannot be read whole is no state to go on with.
  error = ReadWholeFile(fd.get(), bytes_);
  if (error != kSuccess) {
    bytes_.clear();
    return error;
  }
  ok_ = true;
  return kSuccess;
}

void StateReader::Assign(std::vector<uint8_t> bytes) {
  bytes_ = std::move(bytes);
  pos_ = 0;
  ok_ = true;
}

bool StateReader::Bytes(uint8_t* data, size_t count) {
  if (!ok_ || bytes_.size() - pos_ < count) {
    ok_ = false;
    std::fill(data, data + count, 0);
    return false;
  }
  std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
            bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + count), data);
  pos_ += count;
  return true;
}
uint8_t StateReader::U8() {
  uint8_t b = 0;
  Bytes(&b, 1);
  return b;
}
uint32_t StateReader::U32() {
  uint8_t b[4];
  Bytes(b, 4);
  return ByteView(b, 4).le32(0);
}
uint64_t StateReader::U64() {
  uint8_t b[8];
  Bytes(b, 8);
  return ByteView(b, 8).le64(0);
}
void StateReader::Blob(std::vector<uint8_t>& out, size_t limit) {
  out.clear();
  uint32_t size = U32();
  if (!ok_ || size > limit || bytes_.size() - pos_ < size) {
    ok_ = false;
    return;
  }
  out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
             bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + size));
  pos_ += size;
}
bool StateReader::Section(StateReader& out) {
  uint64_t size = U64();
  out.bytes_.clear();
  out.pos_ = 0;
  out.ok_ = false;
  if (!ok_ || bytes_.size() - pos_ < size) {
    ok_ = false;
    return false;
  }
  out.bytes_.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                    bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + size));
  pos_ += size_t(size);
  out.ok_ = true;
  return true;
}
FoundFileRecord StateReader::Record() {
  uint8_t b[kFoundFileRecordBytes];
  Bytes(b, sizeof b);
  return FoundFileRecord::Deserialize(std::span<const uint8_t, kFoundFileRecordBytes>(b, kFoundFileRecordBytes));
}

}  // namespace kestrel::deep
