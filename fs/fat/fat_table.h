// The file allocation table of one FAT volume, read through a window of at
// most 16 MiB so that a scan touches the FAT in large sequential reads, and
// the chain rules built on it. Shared by the fast and the deep FAT engines.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "fs/fat/fat_boot.h"
#include "storage/sector_device.h"

namespace kestrel {

inline constexpr uint32_t kFatWindowBytes = 16u * 1024 * 1024;

class FatTable {
 public:
  // Reads the first window of the first FAT. The device must outlive the
  // table; deviceBytes is its readable length (a truncated image holds less
  // than its boot sector claims). A failed first fill is reported but the
  // table stays usable: the next lookup retries the read.
  int Open(SectorDevice& device, uint64_t deviceBytes, const FatGeometry& geometry, uint64_t partitionStart,
           uint32_t windowBytes = kFatWindowBytes);
  void Close();
  bool IsOpen() const { return device_ != nullptr; }

  // The entry of cluster n: 12, 16 or 28 bits (the FAT32 top nibble is
  // reserved and masked off). 87 when n lies outside the FAT, 30 when the FAT
  // sector holding it cannot be read.
  int Entry(uint32_t n, uint32_t& value);

  // True when an entry value ends a chain: an end mark, a bad-cluster mark or
  // anything that is no cluster of this volume.
  bool EndsChain(uint32_t value) const;

  // The next cluster after n, or 0 at the end. A live entry gives its value.
  // A zero entry means the chain was cleared when its file was deleted: the
  // file is assumed to go on in n + 1 as long as that cluster is free too.
  int NextCluster(uint32_t n, uint32_t& next);

 private:
  int Fill(uint64_t fatSector);

  SectorDevice* device_ = nullptr;
  FatGeometry geometry_;
  uint64_t deviceBytes_ = 0;
  uint64_t fatStart_ = 0;           // absolute first sector of the first FAT
  std::vector<uint8_t> window_;
  uint64_t windowSector_ = 0;       // FAT-relative sector of window_[0]
  uint64_t windowValidBytes_ = 0;   // bytes of window_ that were read
};

// Walks one chain with the rules of FatTable::NextCluster and stops when it
// meets a cluster twice, so a looping FAT cannot make a walk run forever.
class FatChainCursor {
 public:
  FatChainCursor(FatTable& table, uint32_t first);
  uint32_t cluster() const { return current_; }
  bool AtEnd() const { return current_ == 0; }
  // Moves to the next cluster (0 at the end or on a loop). A FAT read error
  // ends the chain and is returned.
  int Advance();

 private:
  FatTable& table_;
  uint32_t current_;
  std::unordered_set<uint32_t> seen_;
};

}  // namespace kestrel
