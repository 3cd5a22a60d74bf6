// One exFAT volume read through a caller's reader: its geometry from the boot
// region (the backup region when the main one fails its checksum), the FAT
// read through a window, the allocation bitmap, and the rule that turns a
// file's first cluster and length into the clusters that hold its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fs/exfat/exfat_boot.h"
#include "fs/exfat/exfat_dir.h"

namespace kestrel {

// Reads count bytes at a volume-relative byte offset; got is what arrived.
using ExfatReader = std::function<int(uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got)>;

inline constexpr uint32_t kExfatFatWindowBytes = 4u * 1024 * 1024;
// Directories are at most 256 MiB; anything longer is damage.
inline constexpr uint64_t kExfatMaxDirectoryBytes = 256ull * 1024 * 1024;

struct ExfatClusterRun {
  uint32_t first = 0;
  uint32_t count = 0;
};

// How a file's clusters are to be found.
struct ExfatDataSpec {
  uint32_t firstCluster = 0;
  uint64_t length = 0;        // bytes
  bool noFatChain = false;    // one contiguous run
  // The file was deleted: its clusters should be free. A cluster the bitmap
  // shows in use belongs to another file now and is not taken; a cleared
  // FAT entry means the chain was wiped and the file goes on in the next
  // free cluster.
  bool deleted = false;
  // A directory read whole along its chain (the root has no length).
  bool wholeChain = false;
  // Clusters known to belong to other files although the bitmap says free
  // (after a format wiped it): a wiped chain is not taken through them.
  const std::vector<uint8_t>* claimed = nullptr;
};

class ExfatVolume {
 public:
  // Reads and checks the boot region. 87 when neither the main nor the
  // backup region holds an exFAT boot sector.
  int Open(ExfatReader reader, uint64_t volumeBytes);
  const ExfatGeometry& geometry() const { return geometry_; }
  bool IsOpen() const { return open_; }
  // False when the main boot region failed its checksum (the geometry then
  // comes from the backup region, or from the main one when both fail).
  bool bootChecksumOk() const { return bootChecksumOk_; }

  // The FAT entry of a cluster: 87 outside the FAT, a read error as it came.
  int FatEntry(uint32_t cluster, uint32_t& value);

  // Reads the allocation bitmap named in the root directory. 0 when loaded;
  // a volume without one (damaged root) answers the error and the bitmap
  // stays empty: every cluster then counts as free.
  int LoadBitmap();
  bool HasBitmap() const { return !bitmap_.empty(); }
  bool IsClusterUsed(uint32_t cluster) const;
  const std::vector<uint8_t>& bitmap() const { return bitmap_; }

  // The clusters of a file in order. 0 when they cover spec.length; 38 when
  // fewer could be found (out holds what was found).
  int ResolveClusters(const ExfatDataSpec& spec, std::vector<ExfatClusterRun>& out);

  // Reads the bytes of a list of runs (at most maxBytes). 0, or the read
  // error; bytes holds what was read.
  int ReadRuns(const std::vector<ExfatClusterRun>& runs, uint64_t maxBytes, std::vector<uint8_t>& bytes);

  // Streams a file's bytes (at most wanted) into sink, one cluster at a time;
  // bytes past validLength read as zeros, as the file showed them. progress
  // gets the bytes done after each cluster. 0; 38 when the clusters ran out
  // first; a read error; or sink's or progress's non-zero answer.
  using ByteSink = std::function<int(const uint8_t* data, size_t count)>;
  int ReadFile(const ExfatDataSpec& spec, uint64_t validLength, uint64_t wanted, const ByteSink& sink,
               const std::function<int(uint64_t done)>& progress);

  // The file entry set that starts in the sector at sectorOffset (bytes,
  // volume-relative) and names firstCluster and dataLength; the set may run
  // into the next sector. False when none there matches any more.
  bool FindSetInSector(uint64_t sectorOffset, uint32_t firstCluster, uint64_t dataLength, ExfatEntrySet& out);

  // A volume-relative read in bytes through the reader.
  int Read(uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got);

 private:
  int TryBootRegion(uint64_t firstSectorBytes, uint32_t sectorBytesGuess, ExfatGeometry& out, bool& checksumOk);
  void Append(std::vector<ExfatClusterRun>& runs, uint32_t cluster);
  static bool IsClaimed(const ExfatDataSpec& spec, uint32_t cluster);

  ExfatReader reader_;
  uint64_t volumeBytes_ = 0;
  ExfatGeometry geometry_;
  bool open_ = false;
  bool bootChecksumOk_ = false;
  std::vector<uint8_t> fatWindow_;
  uint64_t fatWindowStart_ = 0;  // byte offset within the FAT
  bool fatWindowValid_ = false;
  std::vector<uint8_t> bitmap_;
};

}  // namespace kestrel
