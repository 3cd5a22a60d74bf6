// Reading found NTFS files back: recovery to a folder, preview extraction,
// and the used-cluster map for the deep scan.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <system_error>

#include "engines/fast/fast_ntfs_recovery.h"
#include "engines/common/preview_file.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel {

namespace {

// A name from the volume used as one path component, never as a way out of the folder.
std::string SafeComponent(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return "_";
  return std::string(name);
}

int32_t Percent(uint64_t done, uint64_t total) { return total ? int32_t(done * 100 / total) : 100; }

}  // namespace

int CFastNtfsRecovery::FindData(const FoundFileRecord& record, NtfsStream& stream) {
  if (!opened_) return kErrInvalidParameter;
  std::vector<uint8_t> bytes;
  NtfsRecordHeader header;
  NtfsRecordStatus status = LoadRecord(VolumeOffsetOf(record), bytes, header);
  if (status != NtfsRecordStatus::kOk && status != NtfsRecordStatus::kTorn) return kErrFileNotFound;
  // The record now holds another file (or was moved): its runs are not ours to copy.
  if (header.hasNumber && header.number != record.itemKey) return kErrFileNotFound;
  if (header.InUse() && !record.IsDirectory()) return kErrFileNotFound;
  FindStream(*this, record.itemKey, ByteView(bytes.data(), bytes.size()), header, kNtfsAttrData, u"", stream);
  return stream.found ? kSuccess : kErrFileNotFound;
}

int CFastNtfsRecovery::WriteFile(const FoundFileRecord& record, const std::filesystem::path& path) {
  auto finish = [&](int error) {
    if (item_) item_(user_, 100, 100, error, path);
    return error;
  };
  NtfsStream stream;
  if (int error = FindData(record, stream); error != kSuccess) return finish(error);
  // Written over from the start and cut to the file's size, so an older,
  // longer file of the same name leaves no tail behind.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return finish(LastError(IoDirection::kWrite));
  NtfsStreamReader reader(stream, geometry_.clusterBytes, *this);
  std::vector<uint8_t> piece;
  int result = kSuccess;
  while (true) {
    result = reader.Next(piece);
    if (result != kSuccess || piece.empty()) break;
    result = WriteAll(fd, piece.data(), piece.size());
    if (result != kSuccess) break;
    if (!stream.nonResident || reader.position() == reader.size()) continue;
    if (item_) {
      int answer = item_(user_, Percent(reader.position(), reader.size()), 100, 0, path);
      if (answer != 0) {
        ::close(fd);
        return answer;
      }
    }
  }
  if (::close(fd) != 0 && result == kSuccess) result = LastError(IoDirection::kWrite);
  return finish(result);
}

int CFastNtfsRecovery::WriteFolder(const FoundFileRecord& record, const std::filesystem::path& destination,
                                   int32_t rootDepth) {
  if (int error = CreateFolders(destination); error != kSuccess) return error;
  struct Pending {
    FoundFileRecord folder;
    std::filesystem::path path;
  };
  std::deque<Pending> queue{{record, destination}};
  int result = kSuccess;
  // Each folder record is listed once: a damaged index cannot send us round in circles.
  std::vector<uint32_t> seen;
  while (!queue.empty()) {
    Pending current = std::move(queue.front());
    queue.pop_front();
    if (std::find(seen.begin(), seen.end(), current.folder.recordIndex) != seen.end()) continue;
    seen.push_back(current.folder.recordIndex);
    int32_t level = CountSeparators(current.path.string()) - rootDepth;
    std::vector<FoundFileRecord> children;
    if (int error = ListChildren(&current.folder, level, children); error != kSuccess) {
      result = error;
      continue;
    }
    for (const auto& child : children) {
      std::filesystem::path path = current.path / SafeComponent(child.Name());
      if (child.IsDirectory()) {
        result = CreateFolders(path);
        queue.push_back({child, path});
        continue;
      }
      result = WriteFile(child, path);
      if (result == kCancelled) return result;
    }
  }
  return result;
}

int CFastNtfsRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                   int32_t rootDepth) {
  return Guarded([&] { return RecoverUnguarded(record, destination, rootDepth); });
}

int CFastNtfsRecovery::RecoverUnguarded(const FoundFileRecord* record, const std::filesystem::path& destination,
                                        int32_t rootDepth) {
  if (!record) return kErrInvalidParameter;
  if (record->IsDirectory()) return WriteFolder(*record, destination, rootDepth);
  if (int error = CreateFolders(destination.parent_path()); error != kSuccess) {
    if (item_) item_(user_, 100, 100, error, destination);
    return error;
  }
  return WriteFile(*record, destination);
}

int CFastNtfsRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                      std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                      PreviewProgressCallback callback, void* user) {
  return Guarded([&] { return PreviewUnguarded(record, tempPath, buffer, bufferSize, callback, user); });
}

int CFastNtfsRecovery::PreviewUnguarded(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                        std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                        PreviewProgressCallback callback, void* user) {
  uint32_t capacity = bufferSize;
  bufferSize = 0;
  auto report = [&](int32_t percent, int32_t result) { return callback ? callback(user, percent, result) : 0; };
  if (!record) {
    report(100, kErrInvalidParameter);
    return kErrInvalidParameter;
  }
  const char* tempName = PreviewFileName(record->Name());
  int fd = -1;
  std::filesystem::path target;
  if (tempName) {
    if (int error = OpenPreviewFile(tempName, target, fd); error != kSuccess) {
      report(100, error);
      return error;
    }
    tempPath = target;
  }
  auto fail = [&](int error) {
    if (fd >= 0) {
      ::close(fd);
      std::error_code ec;
      std::filesystem::remove(target, ec);
      tempPath.clear();
    }
    if (error > 0) report(100, error);
    return error;
  };

  NtfsStream stream;
  if (int error = FindData(*record, stream); error != kSuccess) return fail(error);
  uint64_t wanted = fd >= 0 ? stream.realSize : std::min<uint64_t>(stream.realSize, capacity);
  if (fd < 0 && buffer.size() < wanted) buffer.resize(size_t(wanted));
  if (wanted == 0) {
    if (fd >= 0) ::close(fd);
    report(100, 0);
    return kSuccess;
  }
  NtfsStreamReader reader(stream, geometry_.clusterBytes, *this);
  std::vector<uint8_t> piece;
  uint64_t delivered = 0;
  while (delivered < wanted) {
    int error = reader.Next(piece);
    if (error != kSuccess) return fail(error);
    if (piece.empty()) break;
    size_t n = size_t(std::min<uint64_t>(piece.size(), wanted - delivered));
    if (fd >= 0) {
      if (int werror = WriteAll(fd, piece.data(), n); werror != kSuccess) return fail(werror);
    } else {
      std::copy(piece.begin(), piece.begin() + n, buffer.begin() + delivered);
    }
    delivered += n;
    if (!stream.nonResident) break;
    int answer = report(Percent(delivered, wanted), 0);
    if (answer != 0) return fail(answer);
  }
  if (fd >= 0) {
    if (::close(fd) != 0) {
      fd = -1;
      return fail(LastError(IoDirection::kWrite));
    }
  } else {
    bufferSize = uint32_t(delivered);
  }
  if (!stream.nonResident) report(100, 0);
  return kSuccess;
}

uint32_t CFastNtfsRecovery::ItemFlags(const FoundFileRecord& record) {
  if (record.IsDirectory()) return 0;
  try {
    NtfsStream stream;
    if (FindData(record, stream) != kSuccess) return 0;
    uint32_t flags = 0;
    if (stream.Encrypted()) flags |= kItemEncrypted;
    if (stream.Compressed()) flags |= kItemCompressed;
    if (stream.Sparse()) flags |= kItemSparse;
    return flags;
  } catch (const std::exception&) {
    return 0;
  }
}

int CFastNtfsRecovery::BuildClusterMap() {
  return Guarded([&] { return BuildClusterMapUnguarded(); });
}

int CFastNtfsRecovery::BuildClusterMapUnguarded() {
  clusterMap_.clear();
  if (!opened_) return kErrInvalidParameter;
  constexpr uint64_t kBitmapRecord = 6;
  std::vector<uint8_t> bytes;
  if (!ReadRecord(kBitmapRecord, bytes)) return kErrReadFault;
  NtfsRecordHeader header;
  ParseRecordHeader(ByteView(bytes.data(), bytes.size()), header);
  NtfsStream stream;
  FindStream(*this, kBitmapRecord, ByteView(bytes.data(), bytes.size()), header, kNtfsAttrData, u"", stream);
  if (!stream.found) return kErrFileNotFound;
  // One bit per cluster: anything longer than the volume needs is damage.
  uint64_t needed = (ClusterCount() + 7) / 8;
  if (stream.realSize > needed + geometry_.clusterBytes) stream.realSize = needed;
  std::vector<uint8_t> map;
  map.reserve(size_t(stream.realSize));
  NtfsStreamReader reader(stream, geometry_.clusterBytes, *this);
  std::vector<uint8_t> piece;
  while (true) {
    if (int error = reader.Next(piece); error != kSuccess) return error;
    if (piece.empty()) break;
    map.insert(map.end(), piece.begin(), piece.end());
  }
  clusterMap_ = std::move(map);
  return kSuccess;
}

int CFastNtfsRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
  length = 0;
  // Without a map nothing is known to be in use: the caller reads everything.
  if (clusterMap_.empty() || geometry_.sectorsPerCluster == 0) return 0;
  const uint64_t spc = geometry_.sectorsPerCluster;
  const uint64_t sectors = volumeBytes_ / bytesPerSector_;
  if (start >= sectors) {
    start = sectors;
    return 1;
  }
  const uint64_t bits = std::min<uint64_t>(uint64_t(clusterMap_.size()) * 8, ClusterCount());
  auto used = [&](uint64_t c) { return (clusterMap_[size_t(c / 8)] >> (c % 8)) & 1; };
  uint64_t cluster = start / spc;
  uint64_t first = cluster;
  while (first < bits) {
    if (first % 8 == 0 && first + 8 <= bits && clusterMap_[size_t(first / 8)] == 0xFF) {
      first += 8;
      continue;
    }
    if (!used(first)) break;
    ++first;
  }
  if (first >= bits) {
    start = std::min(sectors, bits * spc);
    return 1;
  }
  if (first != cluster) start = first * spc;
  uint64_t end = first;
  while (end < bits) {
    if (end % 8 == 0 && end + 8 <= bits && clusterMap_[size_t(end / 8)] == 0) {
      end += 8;
      continue;
    }
    if (used(end)) break;
    ++end;
  }
  uint64_t stop = std::min(end * spc, sectors);
  length = stop > start ? stop - start : 0;
  return 1;
}

}  // namespace kestrel
