// The deep FAT member's geometry: candidates from boot sectors and from pairs
// of directory start sectors, the lookups that place a sector in a cluster,
// and the reads that follow ".." entries for folder depths.
#include <algorithm>
#include <unordered_set>

#include "fs/fat/fat_boot.h"
#include "fs/fat/fat_dir.h"
#include "engines/deep/deep_fat_recovery.h"
#include "platform/error_codes.h"
#include "fs/volume_probe.h"

namespace kestrel {

namespace {
constexpr uint32_t kFat1216RootSectors = 32;
}

uint64_t FatGeometryCandidate::ClusterSector(uint64_t cluster) const {
  if (cluster < 2) return partitionStart + (dataStart >= kFat1216RootSectors ? dataStart - kFat1216RootSectors : 0);
  return partitionStart + dataStart + (cluster - 2) * sectorsPerCluster;
}

bool FatGeometryCandidate::ClusterAt(uint64_t sector, uint64_t& cluster) const {
  uint64_t data = partitionStart + dataStart;
  if (sector >= data) {
    if ((sector - data) % sectorsPerCluster != 0) return false;
    cluster = (sector - data) / sectorsPerCluster + 2;
    return true;
  }
  // Two clusters before the data area: the FAT12/16 root region, cluster 0.
  if (data - sector == 2ull * sectorsPerCluster) {
    cluster = 0;
    return true;
  }
  return false;
}

bool FatGeometryCandidate::ClusterHolding(uint64_t sector, uint64_t& cluster) const {
  uint64_t data = partitionStart + dataStart;
  if (sector < data || sectorsPerCluster == 0) return false;
  cluster = (sector - data) / sectorsPerCluster + 2;
  return true;
}

int CProfessionalFatRecovery::AddCandidate(const FatGeometryCandidate& candidate) {
  for (size_t i = 0; i < candidates_.size(); ++i) {
    const FatGeometryCandidate& c = candidates_[i];
    if (c.sectorsPerCluster == candidate.sectorsPerCluster &&
        c.partitionStart + c.dataStart == candidate.partitionStart + candidate.dataStart) {
      return int(i);
    }
  }
  if (candidates_.size() >= kFatCandidateLimit) return kNone;
  candidates_.push_back(candidate);
  return int(candidates_.size() - 1);
}

int CProfessionalFatRecovery::CandidateStartingAt(uint64_t cluster, uint64_t sector) const {
  for (size_t i = 0; i < candidates_.size(); ++i) {
    if (cluster >= 2 && candidates_[i].ClusterSector(cluster) == sector) return int(i);
  }
  return kNone;
}

int CProfessionalFatRecovery::CandidateAtClusterBoundary(uint64_t sector, uint64_t& cluster) const {
  for (size_t i = 0; i < candidates_.size(); ++i) {
    if (candidates_[i].ClusterAt(sector, cluster)) return int(i);
  }
  return kNone;
}

// With two candidates or more: the nearest data area at or before the sector,
// boot candidates aside; otherwise (or when none qualifies) the first.
int CProfessionalFatRecovery::CandidateBySector(uint64_t sector) const {
  if (candidates_.empty()) return kNone;
  if (candidates_.size() < 2) return 0;
  int best = kNone;
  uint64_t bestStart = 0;
  for (size_t i = 0; i < candidates_.size(); ++i) {
    const FatGeometryCandidate& c = candidates_[i];
    if (c.fromBoot) continue;
    uint64_t start = c.partitionStart + c.dataStart;
    if (start <= sector && (best == kNone || start > bestStart)) {
      best = int(i);
      bestStart = start;
    }
  }
  return best == kNone ? 0 : best;
}

int CProfessionalFatRecovery::TryPairs(uint64_t cluster, uint64_t sector) {
  for (const StartSector& other : unplacedStarts_) {
    if (other.cluster == cluster) continue;
    uint64_t smallCluster = std::min(cluster, other.cluster), bigCluster = std::max(cluster, other.cluster);
    uint64_t smallSector = cluster < other.cluster ? sector : other.sector;
    uint64_t bigSector = cluster < other.cluster ? other.sector : sector;
    if (bigSector <= smallSector) continue;
    uint64_t sectorDiff = bigSector - smallSector, clusterDiff = bigCluster - smallCluster;
    if (sectorDiff % clusterDiff != 0) continue;
    uint64_t spc = sectorDiff / clusterDiff;
    if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) continue;
    if (smallCluster < 2 || spc * (smallCluster - 2) > smallSector) continue;
    uint64_t data = smallSector - spc * (smallCluster - 2);
    if (bigSector - spc * (bigCluster - 2) != data || data < firstSector_) continue;
    FatGeometryCandidate candidate;
    candidate.sectorsPerCluster = uint32_t(spc);
    candidate.dataStart = data - firstSector_;
    candidate.partitionStart = firstSector_;
    return AddCandidate(candidate);
  }
  return kNone;
}

int CProfessionalFatRecovery::ReadBootSector() {
  std::vector<uint8_t> boot(4096);
  int32_t got = 0;
  int error = ReadSectors(int32_t(4096 / sectorBytes_), device_, boot.data(), firstSector_, int32_t(sectorBytes_), &got);
  if (got <= 0) return error != kSuccess ? error : kErrReadFault;
  ByteView view(boot.data(), size_t(got) * sectorBytes_);
  if (!IsFatBootSector(view)) return kSuccess;
  FatGeometry geometry;
  if (ParseFatBoot(view, geometry) != kSuccess || geometry.sectorsPerCluster == 0) return kSuccess;
  FatGeometryCandidate candidate;
  candidate.sectorsPerCluster = geometry.sectorsPerCluster;
  candidate.dataStart = geometry.firstDataSector;
  candidate.partitionStart = firstSector_;
  candidate.fromBoot = true;
  if (geometry.IsFat32()) rootCluster_ = geometry.rootCluster;
  else rootCluster_ = 0;
  for (const FatGeometryCandidate& c : candidates_) {
    if (c.fromBoot && c.partitionStart == firstSector_ && c.dataStart == candidate.dataStart) return kSuccess;
  }
  // The boot candidate goes first in the list.
  candidates_.insert(candidates_.begin(), candidate);
  if (candidates_.size() > kFatCandidateLimit) candidates_.pop_back();
  return kSuccess;
}

// A boot sector found inside the source (a partition of a whole-disk image, or
// a volume whose table is lost). Only trusted when the FAT it describes begins
// where it says, with the media byte and end marks, so a stray copy (the
// FAT32 backup at sector 6) does not add a false volume.
void CProfessionalFatRecovery::OnBootSector(const uint8_t* sector, uint64_t sectorNumber) {
  ByteView view(sector, sectorBytes_);
  if (!IsFatBootSector(view)) return;
  FatGeometry geometry;
  if (ParseFatBoot(view, geometry) != kSuccess || geometry.sectorsPerCluster == 0) return;
  if (geometry.bytesPerSector != sectorBytes_) return;
  std::vector<uint8_t> fat(sectorBytes_);
  int32_t got = 0;
  ReadSectors(1, device_, fat.data(), sectorNumber + geometry.reservedSectors, int32_t(sectorBytes_), &got);
  if (got != 1) return;
  uint8_t media = view.u8(21);
  if (fat[0] != media || fat[1] != 0xFF) return;
  if (geometry.type != FatType::kFat12 && fat[2] != 0xFF) return;
  FatGeometryCandidate candidate;
  candidate.sectorsPerCluster = geometry.sectorsPerCluster;
  candidate.dataStart = geometry.firstDataSector;
  candidate.partitionStart = sectorNumber;
  candidate.fromBoot = true;
  if (AddCandidate(candidate) != kNone && geometry.IsFat32() && geometry.rootCluster >= 2) {
    rootCluster_ = geometry.rootCluster;
  }
}

bool CProfessionalFatRecovery::ReadClusterStart(int candidate, uint64_t cluster, uint8_t* out, uint32_t bytes) {
  if (candidate == kNone || size_t(candidate) >= candidates_.size()) return false;
  uint64_t sector = candidates_[candidate].ClusterSector(cluster);
  uint32_t sectors = std::max<uint32_t>(1, bytes / sectorBytes_);
  if (BeyondEnd(sector)) return false;
  if (BeyondEnd(sector + sectors - 1)) sectors = uint32_t(firstSector_ + sectorCount_ - sector);
  int32_t got = 0;
  ReadSectors(int32_t(sectors), device_, out, sector, int32_t(sectorBytes_), &got);
  if (got <= 0) return false;
  if (uint32_t(got) * sectorBytes_ < bytes) std::fill(out + size_t(got) * sectorBytes_, out + bytes, 0);
  return true;
}

// The ".." cluster of a directory whose first cluster is given (0 = the
// root); isDirectory says whether the cluster still begins with "." and "..".
uint32_t CProfessionalFatRecovery::DotDotOf(int candidate, uint64_t cluster, bool& isDirectory) {
  isDirectory = false;
  std::vector<uint8_t> bytes(std::max<uint32_t>(sectorBytes_, 64));
  if (!ReadClusterStart(candidate, cluster, bytes.data(), uint32_t(bytes.size()))) return 0;
  ByteView view(bytes.data(), bytes.size());
  if (!StartsLikeDirectory(view)) return 0;
  isDirectory = true;
  return uint32_t(view.le16(32 + 20)) << 16 | view.le16(32 + 26);
}

uint32_t CProfessionalFatRecovery::DirectoryDepth(int candidate, uint32_t cluster) {
  uint64_t cacheKey = (uint64_t(uint32_t(candidate + 1)) << 32) | cluster;
  if (auto it = depthCache_.find(cacheKey); it != depthCache_.end()) return it->second;
  uint32_t depth = 0;
  std::unordered_set<uint32_t> visited;
  uint32_t current = cluster;
  std::vector<uint8_t> bytes(std::max<uint32_t>(sectorBytes_, 64));
  while (current != rootCluster_ && depth < 512) {
    visited.insert(current);
    if (!ReadClusterStart(candidate, current, bytes.data(), uint32_t(bytes.size()))) break;
    ByteView view(bytes.data(), bytes.size());
    if (view.u8(11) == kFatAttrVolume) break;
    ++depth;
    if (!StartsLikeDirectory(view)) break;
    uint32_t parent = uint32_t(view.le16(32 + 20)) << 16 | view.le16(32 + 26);
    if (parent == 0 || visited.count(parent)) break;
    current = parent;
  }
  if (depthCache_.size() < 1000000) depthCache_[cacheKey] = depth;
  return depth;
}

}  // namespace kestrel
