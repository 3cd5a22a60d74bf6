// The deep FAT member of a deep scan: rebuilds FAT folders and their files
// from directory sectors found anywhere on a source, without trusting the
// boot sector, the FATs or the root directory. The cluster geometry comes
// from boot sectors or from pairs of directory start sectors; folders whose
// own entry is gone become "LostFolder<cluster>". Driven by CProfessionalRecovery.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engines/common/fat_placement.h"
#include "engines/deep/deep_member.h"
#include "platform/byte_view.h"

namespace kestrel {

// Bounds that keep memory flat on a damaged or hostile source (see the note
// on the deep scan for why these values).
inline constexpr size_t kFatCandidateLimit = 64;
inline constexpr size_t kFatUnplacedStartLimit = 4096;
inline constexpr size_t kFatPendingFileLimit = 65536;
inline constexpr size_t kFatTailLimit = 1024;
inline constexpr size_t kFatLooseSectorBytesLimit = 16u * 1024 * 1024;
inline constexpr size_t kFatFolderMapLimit = 131072;
inline constexpr size_t kFatReferencedLimit = 262144;

// Where the clusters of one FAT volume lie: cluster c >= 2 begins at
// partitionStart + dataStart + (c - 2) x sectorsPerCluster; cluster 0 (the
// FAT12/16 root region) 32 sectors before the data area.
struct FatGeometryCandidate {
  uint32_t sectorsPerCluster = 0;
  uint64_t dataStart = 0;       // relative to partitionStart
  uint64_t partitionStart = 0;  // absolute
  bool fromBoot = false;

  uint64_t ClusterSector(uint64_t cluster) const;
  // The cluster that begins exactly at sector; false when none does.
  bool ClusterAt(uint64_t sector, uint64_t& cluster) const;
  // The cluster holding sector; false before the data area.
  bool ClusterHolding(uint64_t sector, uint64_t& cluster) const;
};

class CProfessionalFatRecovery final : public CProfessionalMember {
 public:
  CProfessionalFatRecovery();
  ~CProfessionalFatRecovery() override;

  int OpenImage(const std::filesystem::path& image, uint16_t letter) override;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) override;

  // --- driven by the deep-scan composite, in this order ---
  // A new store, or the saved one of a resumed scan with its saved state.
  int BeginScan(const std::optional<deep::MemberResume>& resume);
  int ReadBootSector();
  // The allocation table of the volume the fast pass read, with every claim
  // it knows: the files this scan finds on that volume are placed the way
  // the fast engine places its own, and read from those clusters.
  void PlaceOnVolume(const FatPlacement& volume);
  // The claims of the finds in the store join the volume's, as at the finish:
  // a finished scan opened again reads its placed files from the same clusters.
  void ClaimStoredFinds();
  // A FAT boot sector met in the pass: the geometry of a volume that begins there.
  void OnBootSector(const uint8_t* sector, uint64_t sectorNumber);
  void OnDirectoryStart(const uint8_t* sector, uint64_t sectorNumber);
  void OnDirectoryContinuation(const uint8_t* sector, uint64_t sectorNumber);
  int FinishScan();
  // What a resumed scan needs of this one (taken before FinishScan, which
  // empties the folder map). inFlight: also what waits for the finish (a
  // checkpoint, which a crash may follow); without it, what the finish leaves.
  void SaveState(deep::StateWriter& writer, bool inFlight) const;
  // A saved state read back (false: damaged, nothing taken over; a count
  // above its limit is damage). Resuming calls it; the state fuzz target too.
  bool LoadState(deep::StateReader& reader);

  const std::vector<FatGeometryCandidate>& candidates() const { return candidates_; }
  size_t pendingFileCount() const { return pending_.size(); }
  size_t looseSectorCount() const { return loose_.size(); }
  size_t tailCount() const { return tails_.size(); }
  size_t unplacedStartCount() const { return unplacedStarts_.size(); }

 private:
  static constexpr int kNone = -1;
  struct StartSector {
    uint64_t cluster = 0;
    uint64_t sector = 0;
  };
  struct PendingFile {
    FoundFileRecord record;  // recordIndex holds the directory cluster until placed
    bool placed = false;
  };
  // Which sector each byte of a parsed buffer came from: a buffer is one
  // sector, or a long-name tail (from an offset into its sector) joined with
  // the sector that continues it, wherever that lies.
  struct BufferPlace {
    uint64_t firstSector = 0;
    uint32_t startOffset = 0;      // byte of firstSector where the buffer begins
    size_t splitByte = SIZE_MAX;   // from here on the bytes are secondSector's
    uint64_t secondSector = 0;
  };
  struct Tail {
    uint8_t checksum = 0;
    uint32_t dirCluster = 0;
    int candidate = kNone;
    std::vector<uint8_t> bytes;
    BufferPlace place;    // where bytes came from
    uint64_t sector = 0;  // the sector the tail ends in
  };
  struct LooseSector {
    bool used = false;
    std::vector<uint8_t> bytes;
  };
  struct Folder {
    FoundFileRecord record;  // recordIndex holds the parent cluster
    int candidate = kNone;
  };
  struct Reference {
    int candidate = kNone;
    uint64_t sector = 0;
  };
  struct Anchor {
    bool valid = false;
    int candidate = kNone;
    uint32_t dirCluster = 0;
    uint64_t sector = 0;
  };
  struct ParseResult {
    uint32_t dirCluster = 0;
    std::optional<Tail> tail;
  };

  // geometry
  int AddCandidate(const FatGeometryCandidate& candidate);
  int CandidateStartingAt(uint64_t cluster, uint64_t sector) const;
  int CandidateAtClusterBoundary(uint64_t sector, uint64_t& cluster) const;
  int CandidateBySector(uint64_t sector) const;
  int TryPairs(uint64_t cluster, uint64_t sector);
  bool ReadClusterStart(int candidate, uint64_t cluster, uint8_t* out, uint32_t bytes);
  uint32_t DotDotOf(int candidate, uint64_t cluster, bool& isDirectory);
  uint32_t DirectoryDepth(int candidate, uint32_t cluster);
  bool BeyondEnd(uint64_t sector) const { return sector >= firstSector_ + sectorCount_; }

  // parsing
  ParseResult ParseBuffer(const std::vector<uint8_t>& buffer, int candidate, uint32_t dirCluster, const BufferPlace& place);
  uint64_t SectorOf(const BufferPlace& place, size_t byte) const;
  std::vector<uint8_t> JoinTail(const Tail& tail, const uint8_t* sector, uint64_t sectorNumber, BufferPlace& place) const;
  void HandleTail(ParseResult result);
  std::optional<uint64_t> LooseContinuationFor(const Tail& tail);
  bool TailContinues(const Tail& tail, ByteView sector, uint64_t sectorNumber) const;
  uint32_t SearchDirectoryHighWord(int candidate, uint16_t low);
  uint32_t SearchFileHighWord(int candidate, uint16_t low, const std::string& extension);
  void AddFileRecord(FoundFileRecord record, int candidate, uint32_t dirCluster, uint64_t bufferSector);
  void WritePlacedFile(FoundFileRecord record, int candidate, uint32_t dirCluster);
  void ReferenceFolders(uint32_t dirCluster, int candidate, uint64_t sector);
  void PlacePendingExactly();
  void StoreLoose(const uint8_t* sector, uint64_t sectorNumber);
  uint32_t CheckData(const FoundFileRecord& record, int candidate);

  // placement on a volume whose allocation table is known
  void PlaceFoundFiles();
  int WritePlacedData(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& report);

  // finish and output
  void WriteFolder(uint32_t cluster, const Reference& reference);
  int WriteData(const FoundFileRecord& record, DataSink& sink,
                const std::function<int(uint64_t)>& report) override;
  struct SavedState;
  template <typename Io, typename Parts>
  static void StateFields(Io& io, Parts& parts, bool& inFlight, uint32_t sectorBytes);

  uint32_t rootCluster_ = 2;
  FatPlacement placement_;  // attached only when a fast pass read the volume's table

  std::vector<FatGeometryCandidate> candidates_;
  std::deque<StartSector> unplacedStarts_;
  std::vector<PendingFile> pending_;
  std::vector<Tail> tails_;
  std::map<uint64_t, LooseSector> loose_;
  size_t looseBytes_ = 0;
  std::map<uint32_t, Folder> folders_;
  std::map<uint32_t, Reference> referenced_;
  std::set<uint32_t> writtenFolders_;
  std::unordered_map<uint64_t, uint32_t> depthCache_;
  Anchor anchor_;
  Anchor finishAnchor_;
  uint32_t currentDirCluster_ = 0;
  uint64_t currentDirSector_ = 0;
  uint64_t droppedPending_ = 0;
};

}  // namespace kestrel
