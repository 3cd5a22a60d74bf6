#include "fs/ntfs/ntfs_stream_reader.h"

#include <algorithm>
#include <cstring>

#include "fs/ntfs/ntfs_lznt1.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

// Compression units above this are not something NTFS writes.
constexpr uint64_t kMaxUnitBytes = 4u << 20;

}  // namespace

NtfsStreamReader::NtfsStreamReader(const NtfsStream& stream, uint32_t clusterBytes, INtfsClusterReader& clusters)
    : stream_(stream), clusterBytes_(clusterBytes), clusters_(clusters) {}

int NtfsStreamReader::Next(std::vector<uint8_t>& piece) {
  piece.clear();
  if (position_ >= stream_.realSize) return kSuccess;
  if (!stream_.nonResident) {
    size_t n = size_t(std::min<uint64_t>(stream_.realSize, stream_.residentValue.size()));
    piece.assign(stream_.residentValue.begin(), stream_.residentValue.begin() + n);
    position_ = stream_.realSize;
    return n == stream_.realSize ? kSuccess : kErrHandleEof;
  }
  if (clusterBytes_ == 0) return kErrInvalidParameter;
  if (stream_.Compressed() && stream_.compressionUnit != 0) return NextCompressed(piece);
  return NextPlain(piece);
}

void NtfsStreamReader::ZeroPastInitialized(std::vector<uint8_t>& piece, uint64_t pieceStart) const {
  uint64_t init = stream_.initializedSize;
  if (pieceStart + piece.size() <= init) return;
  size_t from = init > pieceStart ? size_t(init - pieceStart) : 0;
  std::fill(piece.begin() + from, piece.end(), uint8_t(0));
}

int NtfsStreamReader::NextPlain(std::vector<uint8_t>& piece) {
  uint64_t vcn = position_ / clusterBytes_;
  NtfsVcnPlace place;
  if (!LocateVcn(stream_.runs, vcn, place)) return kErrHandleEof;
  uint64_t left = stream_.realSize - position_;
  uint64_t maxClusters = std::max<uint64_t>(1, kNtfsReadPieceBytes / clusterBytes_);
  uint64_t wanted = (left + clusterBytes_ - 1) / clusterBytes_;
  uint32_t count = uint32_t(std::min({maxClusters, wanted, place.left}));
  size_t bytes = size_t(count) * clusterBytes_;
  piece.assign(bytes, 0);
  // Clusters past the initialised size were never written: zeros, no read.
  bool initialized = position_ < stream_.initializedSize;
  if (!place.sparse && initialized) {
    int error = clusters_.ReadClusters(place.lcn, count, piece.data());
    if (error != kSuccess) {
      piece.clear();
      return error;
    }
  }
  uint64_t start = position_;
  piece.resize(size_t(std::min<uint64_t>(bytes, left)));
  ZeroPastInitialized(piece, start);
  position_ += piece.size();
  return kSuccess;
}

int NtfsStreamReader::NextCompressed(std::vector<uint8_t>& piece) {
  uint64_t unitClusters = uint64_t(1) << stream_.compressionUnit;
  uint64_t unitBytes = unitClusters * clusterBytes_;
  if (unitBytes > kMaxUnitBytes) return kErrInvalidParameter;
  uint64_t unitIndex = position_ / unitBytes;
  uint64_t unitStart = unitIndex * unitBytes;
  uint64_t firstVcn = unitIndex * unitClusters;

  // Gather the unit's allocated clusters in VCN order; compressed data fills
  // the first clusters of the unit and a sparse run stands for the rest.
  unitIn_.assign(size_t(unitBytes), 0);
  uint64_t allocated = 0;
  uint64_t sparse = 0;
  uint64_t vcn = firstVcn;
  while (vcn < firstVcn + unitClusters) {
    NtfsVcnPlace place;
    if (!LocateVcn(stream_.runs, vcn, place)) break;
    uint64_t take = std::min(place.left, firstVcn + unitClusters - vcn);
    if (place.sparse) {
      sparse += take;
    } else {
      int error = clusters_.ReadClusters(place.lcn, uint32_t(take), unitIn_.data() + allocated * clusterBytes_);
      if (error != kSuccess) return error;
      allocated += take;
    }
    vcn += take;
  }
  uint64_t fileLeft = stream_.realSize - unitStart;
  uint64_t neededClusters = std::min(unitClusters, (fileLeft + clusterBytes_ - 1) / clusterBytes_);
  if (allocated + sparse < neededClusters) return kErrHandleEof;

  if (allocated == 0) {
    unitOut_.assign(size_t(unitBytes), 0);
  } else if (sparse == 0) {
    unitOut_ = unitIn_;  // the unit did not compress and is stored whole
  } else {
    unitOut_.assign(size_t(unitBytes), 0);
    size_t produced = 0;
    std::span<const uint8_t> in(unitIn_.data(), size_t(allocated * clusterBytes_));
    if (DecompressLznt1(in, unitOut_, produced) != Lznt1Status::kOk) return kErrReadFault;
  }
  size_t from = size_t(position_ - unitStart);
  size_t to = size_t(std::min<uint64_t>(unitBytes, fileLeft));
  piece.assign(unitOut_.begin() + from, unitOut_.begin() + to);
  uint64_t start = position_;
  ZeroPastInitialized(piece, start);
  position_ += piece.size();
  return kSuccess;
}

}  // namespace kestrel
