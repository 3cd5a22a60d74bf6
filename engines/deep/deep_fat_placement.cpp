// Files the deep scan finds on a volume whose allocation table the fast pass
// read: placed at the finish by the same rules as the fast engine's deleted
// files (engines/common/fat_placement), and read back from those clusters.
#include <unordered_set>

#include "engines/deep/deep_fat_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

void CProfessionalFatRecovery::PlaceOnVolume(const FatPlacement& volume) { placement_ = volume; }

void CProfessionalFatRecovery::ClaimStoredFinds() {
  if (placement_.attached() && log_) placement_.ClaimStore(*log_);
}

void CProfessionalFatRecovery::PlaceFoundFiles() {
  if (!placement_.attached() || !log_) return;
  // The claims of this scan's own finds join the fast pass's before any
  // file is placed, so that the choice does not depend on the order of finds.
  ClaimStoredFinds();
  std::unordered_set<uint32_t> placed;
  std::vector<FoundFileRecord> records;
  for (const auto& [key, numbers] : log_->relations()) {
    records.clear();
    if (log_->ListFolder(key, records) != kSuccess) continue;
    for (FoundFileRecord& record : records) {
      if (record.IsDirectory() || !placement_.OnVolume(record) || !placed.insert(record.recordIndex).second) continue;
      Tallied(damage_, record.entrySector * uint64_t(sectorBytes_), false, [&] {
        // The chain a deep find's first cluster leads into belongs to a file
        // written since: it is read as before, from its first cluster on.
        if (placement_.Note(record) == FatPlacement::Need::kPlacing) placement_.Place(record);
        return log_->RewriteRecord(record) == kSuccess;
      });
    }
  }
}

int CProfessionalFatRecovery::WritePlacedData(const FoundFileRecord& record, DataSink& sink,
                                              const std::function<int(uint64_t)>& report) {
  std::vector<uint32_t> clusters;
  bool whole = false;
  if (!placement_.PlacedClusters(record, clusters, whole)) return kErrHandleEof;
  const uint64_t clusterBytes = uint64_t(record.clusterBytes);
  const uint64_t spc = clusterBytes / sectorBytes_;
  std::vector<uint8_t> buffer(clusterBytes);
  uint64_t left = record.size;
  uint64_t done = 0;
  for (size_t i = 0; left > 0 && !sink.full(); ++i) {
    if (i == clusters.size()) return kErrHandleEof;  // the placement ends before the file does
    uint64_t sector = record.partitionStart + record.dataStart + uint64_t(clusters[i] - 2) * spc;
    int32_t got = 0;
    int error = ReadSectors(int32_t(spc), device_, buffer.data(), sector, int32_t(sectorBytes_), &got);
    if (got <= 0) return error != kSuccess ? error : kErrReadFault;
    uint64_t take = std::min<uint64_t>(uint64_t(got) * sectorBytes_, left);
    if (int written = sink.Write(buffer.data(), size_t(take)); written != kSuccess) return written;
    left -= take;
    done += take;
    // A bad sector inside the cluster: keep what was read, say it is incomplete.
    if (uint64_t(got) < spc && left > 0) return error != kSuccess ? error : kErrReadFault;
    if (int answer = report(done); answer != 0) return answer;
  }
  return whole ? kSuccess : kErrHandleEof;
}

}  // namespace kestrel
