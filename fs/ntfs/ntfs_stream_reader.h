// Reads the content of one NTFS stream piece by piece: resident bytes, runs
// on disk, sparse runs as zeros (never read from disk), bytes past the
// initialised size as zeros, and LZNT1-compressed units decompressed.
// Encrypted streams come out as stored. Shared by the fast and deep engines.
#pragma once

#include <cstdint>
#include <vector>

#include "fs/ntfs/ntfs_attributes.h"

namespace kestrel {

class INtfsClusterReader {
 public:
  virtual ~INtfsClusterReader() = default;
  // count clusters from lcn into out (count × cluster size bytes); an error code.
  virtual int ReadClusters(uint64_t lcn, uint32_t count, uint8_t* out) = 0;
};

inline constexpr uint32_t kNtfsReadPieceBytes = 65536;

class NtfsStreamReader {
 public:
  NtfsStreamReader(const NtfsStream& stream, uint32_t clusterBytes, INtfsClusterReader& clusters);

  uint64_t size() const { return stream_.realSize; }
  uint64_t position() const { return position_; }

  // The next piece of content into piece (at most 64 KiB, or one compression
  // unit); an empty piece once the whole size was delivered. Errors: 38 when
  // the runs end before the size (the record lost part of its run list),
  // 30 for a compressed unit that does not decode, 87 for a compression unit
  // we refuse to hold, or the cluster reader's error.
  int Next(std::vector<uint8_t>& piece);

 private:
  int NextPlain(std::vector<uint8_t>& piece);
  int NextCompressed(std::vector<uint8_t>& piece);
  void ZeroPastInitialized(std::vector<uint8_t>& piece, uint64_t pieceStart) const;

  const NtfsStream& stream_;
  uint32_t clusterBytes_;
  INtfsClusterReader& clusters_;
  uint64_t position_ = 0;
  std::vector<uint8_t> unitIn_;
  std::vector<uint8_t> unitOut_;
};

}  // namespace kestrel
