// Reading found exFAT files back (recovery and preview) and the map of used
// clusters with its free-run queries for the deep scan.
#include <unistd.h>

#include "engines/common/preview_file.h"
#include "engines/fast/fast_exfat_recovery.h"
#include "platform/file_io.h"

namespace kestrel {

namespace {

// Clusters larger than this are refused when reading back (error 29).
constexpr int64_t kLargestClusterRead = 104857600;

}  // namespace

int CFastExfatRecovery::ReadRecord(const FoundFileRecord& record, uint64_t wanted, const ExfatVolume::ByteSink& sink,
                                   const std::function<int(uint64_t)>& progress) {
  if (record.clusterBytes > kLargestClusterRead) return kErrWriteFault;
  if (!volume_.IsOpen()) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  // Every file this engine records was deleted (or lay in a deleted folder):
  // its clusters are free unless something reused them.
  ExfatDataSpec spec{record.itemKey, record.size, false, true, false};
  uint64_t validLength = record.size;
  // The record keeps where its entry set was; the set says whether the data
  // is one contiguous run and how much of it was ever written.
  ExfatEntrySet set;
  uint64_t sectorOffset = (record.entrySector - record.partitionStart) * uint64_t(deviceSectorBytes_);
  if (record.entrySector >= record.partitionStart &&
      volume_.FindSetInSector(sectorOffset, record.itemKey, record.size, set)) {
    spec.noFatChain = set.noFatChain;
    validLength = set.validDataLength;
  }
  return volume_.ReadFile(spec, validLength, wanted, sink, progress);
}

int CFastExfatRecovery::WriteFileRecord(const FoundFileRecord& record, const std::filesystem::path& path) {
  auto finish = [&](int error) {
    if (itemProgress_) itemProgress_(user_, 100, 100, error, path);
    return error;
  };
  if (record.clusterBytes > kLargestClusterRead) return finish(kErrWriteFault);
  deep::DataSink sink;
  if (int error = sink.OpenFile(path); error != kSuccess) return finish(error);
  if (record.size == 0) return finish(kSuccess);
  bool stopped = false;
  int result = ReadRecord(
      record, record.size, [&](const uint8_t* data, size_t count) { return sink.Write(data, count); },
      [&](uint64_t done) {
        int answer = itemProgress_ ? itemProgress_(user_, int32_t(done * 100 / record.size), 100, 0, path) : 0;
        stopped = answer != 0;
        return answer;
      });
  sink.CloseFile();
  if (stopped) return result;
  // Success was reported by the last progress call; failures get their own 100 % call.
  if (result != kSuccess) finish(result);
  return result;
}

int CFastExfatRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                    int32_t rootDepth) {
  if (!record) return kErrInvalidParameter;
  return deep::RecoverTree(*this, *record, destination, rootDepth,
                           [this](const FoundFileRecord& file, const std::filesystem::path& path) {
                             return WriteFileRecord(file, path);
                           });
}

int CFastExfatRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                       std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                       PreviewProgressCallback callback, void* user) {
  uint32_t capacity = bufferSize;
  bufferSize = 0;
  auto report = [&](int32_t percent, int32_t result) { return callback ? callback(user, percent, result) : 0; };
  if (!record) {
    report(100, kErrInvalidParameter);
    return kErrInvalidParameter;
  }
  if (record->clusterBytes > kLargestClusterRead) {
    report(100, kErrWriteFault);
    return kErrWriteFault;
  }
  if (record->size == 0) {
    report(100, 0);
    return kSuccess;
  }
  const char* tempName = PreviewFileName(record->Name());
  deep::DataSink sink;
  uint64_t wanted = record->size;
  if (tempName) {
    int fd = -1;
    if (int error = OpenPreviewFile(tempName, tempPath, fd); error != kSuccess) {
      report(100, error);
      return error;
    }
    sink.UseFile(fd);
  } else {
    wanted = std::min<uint64_t>(wanted, capacity);
    sink.UseBuffer(&buffer, uint32_t(wanted));
  }
  int result = ReadRecord(
      *record, wanted, [&](const uint8_t* data, size_t count) { return sink.Write(data, count); },
      [&](uint64_t done) { return report(int32_t(done * 100 / wanted), 0); });
  // A preview shows what there is, even when the file's end was lost.
  if (result == kErrHandleEof) result = kSuccess;
  sink.CloseFile();
  if (tempName) {
    if (result != kSuccess) {
      std::error_code ec;
      std::filesystem::remove(tempPath, ec);
    }
  } else {
    bufferSize = uint32_t(sink.written());
    buffer.resize(bufferSize);
  }
  return result;
}

int CFastExfatRecovery::BuildClusterMap() {
  if (!volume_.IsOpen()) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  if (!volume_.HasBitmap()) {
    if (int error = volume_.LoadBitmap(); error != kSuccess) return error;
  }
  clusterMapReady_ = true;
  return kSuccess;
}

int CFastExfatRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
  if (!clusterMapReady_ || !volume_.HasBitmap()) return 0;
  length = 0;
  if (start >= sectorCount_) {
    start = sectorCount_;
    return 1;
  }
  const ExfatGeometry& g = geometry();
  const uint64_t sb = uint64_t(deviceSectorBytes_);
  const uint64_t heapByte = uint64_t(g.clusterHeapOffset) << g.bytesPerSectorShift;
  const uint64_t clusterBytes = g.ClusterBytes();
  const uint64_t clusters = g.clusterCount;
  uint64_t startByte = start * sb;
  // The deep pass covers free clusters only; the boot region and FATs are read by the fast scan.
  uint64_t index = startByte > heapByte ? (startByte - heapByte) / clusterBytes : 0;
  uint64_t i = index;
  const std::vector<uint8_t>& map = volume_.bitmap();
  while (i < clusters) {
    if ((i % 8) == 0 && map[i / 8] == 0xFF) {
      i += 8;
      continue;
    }
    if (!volume_.IsClusterUsed(uint32_t(i + 2))) break;
    ++i;
  }
  if (i >= clusters) {
    start = sectorCount_;
    return 1;
  }
  uint64_t runStart = (i > index || startByte < heapByte) ? heapByte + i * clusterBytes : startByte;
  uint64_t j = i;
  while (j < clusters && !volume_.IsClusterUsed(uint32_t(j + 2))) ++j;
  uint64_t runEnd = heapByte + j * clusterBytes;
  start = runStart / sb;
  length = runEnd / sb - start;
  if (start >= sectorCount_) {
    length = 0;
  } else if (start + length > sectorCount_) {
    length = sectorCount_ - start;
  }
  return 1;
}

}  // namespace kestrel
