#include "engines/common/store_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <deque>

#include "fs/fat/fat_dir.h"
#include "catalogue/fresh_store_name.h"
#include "catalogue/scan_log_paths.h"
#include "platform/byte_view.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel::deep {

int OpenNewStore(ScanLog& log, const std::string& base) {
  std::filesystem::path folder = CurrentScanFolder();
  return log.Open(FreshStoreName(base, folder), folder);
}


int ListFromLog(ScanLog* log, const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) {
  if (!dir && level != 0) return kErrInvalidParameter;
  if (!log || !log->IsOpen()) return kSuccess;
  log->SaveIndex();
  uint64_t key = dir ? DirectoryKey{dir->itemKey, uint32_t(level)}.Packed() : 0;
  return log->ListFolder(key, out);
}

int CountFromLog(ScanLog* log, const FoundFileRecord* dir, int32_t level, int64_t& count) {
  count = 0;
  if (!dir && level != 0) return kErrInvalidParameter;
  if (!log || !log->IsOpen()) return kSuccess;
  log->SaveIndex();
  uint64_t key = dir ? DirectoryKey{dir->itemKey, uint32_t(level)}.Packed() : 0;
  return log->CountFilesUnder(key, count);
}

int PathFromLog(ScanLog* log, const FoundFileRecord* record, std::string& out) {
  out.clear();
  if (!record || !log || !log->IsOpen()) return kErrInvalidParameter;
  log->SaveIndex();
  return log->GetItemPath(*record, out);
}

int SearchLog(ScanLog* log, std::string_view extensions, std::vector<FoundFileRecord>& out) {
  if (!log || !log->IsOpen()) return 0;
  return log->SearchByExtension(extensions, out);
}

DataSink::~DataSink() { CloseFile(); }

int DataSink::OpenFile(const std::filesystem::path& path) {
  CloseFile();
  toBuffer_ = false;
  written_ = 0;
  // Truncated: a longer file left there before must not keep its old tail.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd_ < 0 ? LastError(IoDirection::kWrite) : kSuccess;
}

void DataSink::UseFile(int fd) {
  CloseFile();
  toBuffer_ = false;
  written_ = 0;
  fd_ = fd;
}

void DataSink::UseBuffer(std::vector<uint8_t>* buffer, uint32_t capacity) {
  CloseFile();
  toBuffer_ = true;
  buffer_ = buffer;
  capacity_ = capacity;
  written_ = 0;
  if (buffer_ && buffer_->size() < capacity) buffer_->resize(capacity);
}

void DataSink::CloseFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int DataSink::Write(const uint8_t* data, size_t count) {
  if (toBuffer_) {
    if (!buffer_) return kErrInvalidParameter;
    size_t room = written_ < capacity_ ? capacity_ - written_ : 0;
    size_t n = count < room ? count : room;
    std::copy(data, data + n, buffer_->begin() + static_cast<std::ptrdiff_t>(written_));
    written_ += n;
    return kSuccess;
  }
  if (int error = WriteAll(fd_, data, count); error != kSuccess) return error;
  written_ += count;
  return kSuccess;
}

int CreateParentFolders(const std::filesystem::path& path) {
  if (!path.has_parent_path()) return kSuccess;
  return CreateFolders(path.parent_path());
}

int RecoverTree(IFileRecoveryParse& engine, const FoundFileRecord& record, const std::filesystem::path& destination,
                int32_t rootDepth, const FileWriter& writeFile) {
  if (!record.IsDirectory()) {
    int error = CreateParentFolders(destination);
    if (error != kSuccess) return error;
    return writeFile(record, destination);
  }
  // No folder to put the tree in (CreateFolders takes an empty path as done).
  if (destination.empty()) return kErrInvalidParameter;
  int error = CreateFolders(destination);
  if (error != kSuccess) return error;
  struct Pending {
    FoundFileRecord folder;
    std::filesystem::path path;
  };
  std::deque<Pending> queue{{record, destination}};
  int result = kSuccess;
  // A folder tree read from a damaged volume may loop (a folder listed below
  // itself); bound the walk by the folders it can visit.
  size_t visits = 0;
  while (!queue.empty() && visits++ < 1000000) {
    Pending entry = std::move(queue.front());
    queue.pop_front();
    int32_t level = CountSeparators(entry.path.string()) - rootDepth;
    if (level < 0 || level > 4096) continue;
    std::vector<FoundFileRecord> children;
    engine.ListChildren(&entry.folder, level, children);
    for (const FoundFileRecord& child : children) {
      std::filesystem::path path = entry.path / SafeFileName(std::string(child.Name()));
      if (child.IsDirectory()) {
        if (CreateFolders(path) == kSuccess) queue.push_back({child, path});
        continue;
      }
      result = writeFile(child, path);
      if (result == kCancelled) return result;
    }
  }
  return result;
}

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
void StateWriter::Blob(const std::vector<uint8_t>& bytes) {
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
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastError();
  // A state file that cannot be read whole is no state to go on with.
  int error = ReadWholeFile(fd, bytes_);
  ::close(fd);
  if (error != kSuccess) {
    bytes_.clear();
    return error;
  }
  ok_ = true;
  return kSuccess;
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
std::vector<uint8_t> StateReader::Blob(size_t limit) {
  uint32_t size = U32();
  std::vector<uint8_t> out;
  if (!ok_ || size > limit || bytes_.size() - pos_ < size) {
    ok_ = false;
    return out;
  }
  out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
             bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + size));
  pos_ += size;
  return out;
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
