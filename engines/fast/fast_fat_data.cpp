// Reading found files back: recovery to a folder, preview extraction, and the
// used-cluster map with its free-extent queries for the deep scan.
#include <fcntl.h>
#include <unistd.h>

#include <deque>
#include <set>

#include "engines/fast/fast_fat_recovery.h"
#include "fs/fat/fat_dir.h"
#include "engines/common/preview_file.h"
#include "platform/file_io.h"

namespace kestrel {

template <typename Sink, typename Progress>
int CFastFatRecovery::ReadRecordData(const FoundFileRecord& record, uint64_t wanted, Sink&& sink,
                                     Progress&& progress) {
  if (record.clusterBytes > kMaxClusterBytes) return kErrWriteFault;
  if (record.clusterBytes <= 0 || record.clusterBytes % bytesPerSector_ != 0) return kErrInvalidParameter;
  if (!device_.IsOpen() || !geometryValid_) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  if (wanted == 0) return kSuccess;
  uint32_t sectorsPerCluster = uint32_t(record.clusterBytes / bytesPerSector_);
  std::vector<uint8_t> buffer(size_t(record.clusterBytes));
  uint64_t left = wanted;
  FatChainCursor chain(fat_, record.itemKey);
  while (left > 0) {
    // The chain ended (or ran into used clusters) before the file did: only
    // part of it can be had.
    if (chain.AtEnd() || !geometry_.IsValidCluster(chain.cluster())) return kErrHandleEof;
    uint64_t sector =
        record.partitionStart + record.dataStart + uint64_t(chain.cluster() - 2) * sectorsPerCluster;
    uint32_t got = 0;
    int error = ReadAbsolute(sector, sectorsPerCluster, buffer.data(), got);
    if (got == 0) return error != kSuccess ? error : kErrReadFault;
    uint64_t piece = std::min<uint64_t>(got, left);
    int written = sink(buffer.data(), size_t(piece));
    if (written != kSuccess) return written;
    left -= piece;
    // A bad sector inside the cluster: keep what was read, say it is incomplete.
    if (error != kSuccess) return error;
    int answer = progress(int32_t((wanted - left) * 100 / wanted));
    if (answer != 0) return answer;
    if (left == 0) break;
    error = chain.Advance();
    if (error != kSuccess) return error;
  }
  return kSuccess;
}

int CFastFatRecovery::WriteFileRecord(const FoundFileRecord& record, const std::filesystem::path& path) {
  auto finish = [&](int error) {
    if (itemProgress_) itemProgress_(user_, 100, 100, error, path);
    return error;
  };
  if (record.clusterBytes > kMaxClusterBytes) return finish(kErrWriteFault);
  // An existing file is replaced whole: writing over it without truncation
  // would leave the old file's tail behind a shorter recovered one.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return finish(LastError(IoDirection::kWrite));
  if (record.size == 0) {
    ::close(fd);
    return finish(kSuccess);
  }
  bool stopped = false;
  int result = ReadRecordData(
      record, record.size, [&](const uint8_t* data, size_t count) { return WriteAll(fd, data, count); },
      [&](int32_t percent) {
        int answer = itemProgress_ ? itemProgress_(user_, percent, 100, 0, path) : 0;
        stopped = answer != 0;
        return answer;
      });
  if (::close(fd) != 0 && result == kSuccess) result = LastError(IoDirection::kWrite);
  if (stopped) return result;
  // Success was reported by the last progress call; failures get their own 100 % call.
  if (result != kSuccess) finish(result);
  return result;
}

int CFastFatRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                  int32_t rootDepth) {
  if (!record) return kErrInvalidParameter;
  if (!record->IsDirectory()) {
    int error = CreateFolders(destination.parent_path());
    if (error != kSuccess) {
      if (itemProgress_) itemProgress_(user_, 100, 100, error, destination);
      return error;
    }
    return WriteFileRecord(*record, destination);
  }
  int error = CreateFolders(destination);
  if (error != kSuccess) return error;
  struct Pending {
    FoundFileRecord record;
    std::filesystem::path folder;
  };
  std::deque<Pending> queue{{*record, destination}};
  std::set<uint64_t> seen;
  int result = kSuccess;
  bool first = true;
  while (!queue.empty()) {
    Pending entry = std::move(queue.front());
    queue.pop_front();
    std::filesystem::path current = first ? entry.folder : entry.folder / SafeFileName(std::string(entry.record.Name()));
    first = false;
    int32_t level = CountSeparators(current.string()) - rootDepth;
    // Folder keys carry their depth, so a key met twice means a loop in the index.
    if (!seen.insert(DirectoryKey{entry.record.itemKey, uint32_t(level)}.Packed()).second) continue;
    std::vector<FoundFileRecord> children;
    error = ListChildren(&entry.record, level, children);
    if (error != kSuccess) {
      if (result == kSuccess) result = error;
      continue;
    }
    for (const FoundFileRecord& child : children) {
      std::filesystem::path path = current / SafeFileName(std::string(child.Name()));
      if (child.IsDirectory()) {
        CreateFolders(path);
        queue.push_back({child, current});
        continue;
      }
      int written = WriteFileRecord(child, path);
      if (written == kCancelled || (written != kSuccess && written < 0)) return written;
      if (written != kSuccess && result == kSuccess) result = written;
    }
  }
  return result;
}

int CFastFatRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                     std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                     PreviewProgressCallback callback, void* user) {
  uint32_t capacity = bufferSize;
  bufferSize = 0;
  auto report = [&](int32_t percent, int32_t result) { return callback ? callback(user, percent, result) : 0; };
  if (!record) {
    report(100, kErrInvalidParameter);
    return kErrInvalidParameter;
  }
  if (record->clusterBytes > kMaxClusterBytes) {
    report(100, kErrWriteFault);
    return kErrWriteFault;
  }
  auto progress = [&](int32_t percent) { return report(percent, 0); };
  const char* tempName = PreviewFileName(record->Name());
  if (!tempName) {
    buffer.clear();
    if (record->size == 0) {
      report(100, 0);
      return kSuccess;
    }
    uint64_t wanted = std::min<uint64_t>(record->size, capacity);
    int result = ReadRecordData(
        *record, wanted,
        [&](const uint8_t* data, size_t count) {
          buffer.insert(buffer.end(), data, data + count);
          return kSuccess;
        },
        progress);
    bufferSize = uint32_t(buffer.size());
    // A preview shows what there is, even when the file's end was lost.
    return result == kErrHandleEof ? kSuccess : result;
  }
  int fd = -1;
  if (int error = OpenPreviewFile(tempName, tempPath, fd); error != kSuccess) {
    report(100, error);
    return error;
  }
  const std::filesystem::path path = tempPath;
  if (record->size == 0) {
    ::close(fd);
    report(100, 0);
    return kSuccess;
  }
  int result = ReadRecordData(
      *record, record->size, [&](const uint8_t* data, size_t count) { return WriteAll(fd, data, count); },
      progress);
  if (result == kErrHandleEof) result = kSuccess;
  if (::close(fd) != 0 && result == kSuccess) result = LastError(IoDirection::kWrite);
  if (result != kSuccess) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  return result;
}

int CFastFatRecovery::BuildClusterMap() {
  if (!geometryValid_) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  uint32_t clusters = geometry_.clusterCount;
  try {
    clusterMap_.assign((size_t(clusters) + 7) / 8, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  auto mark = [&](uint32_t cluster) {
    uint32_t bit = cluster - 2;
    clusterMap_[bit / 8] |= uint8_t(1u << (bit % 8));
  };
  for (uint32_t c = 2; c < clusters + 2; ++c) {
    uint32_t value = 0;
    if (fat_.Entry(c, value) != kSuccess || value == 0) continue;
    mark(c);
    if (!fat_.EndsChain(value)) mark(value);
  }
  return kSuccess;
}

int CFastFatRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
  if (clusterMap_.empty() || !geometryValid_) return 0;
  length = 0;
  if (start >= sectorCount_) {
    start = sectorCount_;
    return 1;
  }
  const uint64_t spc = geometry_.sectorsPerCluster;
  const uint64_t clusters = geometry_.clusterCount;
  uint64_t relative = start > geometry_.firstDataSector ? start - geometry_.firstDataSector : 0;
  uint64_t index = relative / spc;
  auto used = [&](uint64_t i) { return (clusterMap_[i / 8] >> (i % 8)) & 1; };
  uint64_t i = index;
  while (i < clusters) {
    if ((i % 8) == 0 && clusterMap_[i / 8] == 0xFF) {
      i += 8;
      continue;
    }
    if (!used(i)) break;
    ++i;
  }
  if (i >= clusters) {
    start = sectorCount_;
    return 1;
  }
  if (i > index) relative = i * spc;
  uint64_t j = i;
  while (j < clusters && !used(j)) ++j;
  uint64_t endRelative = j * spc;
  length = endRelative - relative;
  uint64_t absoluteStart = relative + geometry_.firstDataSector;
  if (absoluteStart >= sectorCount_) {
    length = 0;
  } else if (absoluteStart + length > sectorCount_) {
    length = sectorCount_ - absoluteStart;
  }
  start = absoluteStart;
  return 1;
}

}  // namespace kestrel
