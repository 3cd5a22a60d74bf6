// Reading found NTFS files back: recovery to a folder, preview extraction,
// and the used-cluster map for the deep scan.
#include <algorithm>

#include "engines/common/no_throw.h"
#include "engines/fast/fast_ntfs_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

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

int CFastNtfsRecovery::ReadStream(NtfsStream& stream, DataSink& sink, const std::function<int(uint64_t)>& report) {
  NtfsStreamReader reader(stream, geometry_.clusterBytes, *this);
  std::vector<uint8_t> piece;
  uint64_t done = 0;
  while (!sink.full()) {
    if (int error = reader.Next(piece); error != kSuccess) return error;
    if (piece.empty()) break;
    size_t count = size_t(std::min<uint64_t>(piece.size(), sink.room()));
    if (int error = sink.Write(piece.data(), count); error != kSuccess) return error;
    done += count;
    if (int answer = report(done); answer != 0) return answer;
  }
  return kSuccess;
}

int CFastNtfsRecovery::RefuseRecord(const FoundFileRecord& record) {
  NtfsStream stream;
  return FindData(record, stream);
}

int CFastNtfsRecovery::ReadRecord(const FoundFileRecord& record, DataSink& sink,
                                  const std::function<int(uint64_t)>& report) {
  NtfsStream stream;
  if (int error = FindData(record, stream); error != kSuccess) return error;
  return ReadStream(stream, sink, report);
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
  return NoThrow([&] { return BuildClusterMapUnguarded(); });
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
