// Placing deleted files whose cluster chain was cleared, during and after the
// walk: each file's claim is noted as its entry is met, and the files that
// span clusters are placed once every claim is known (engines/common/fat_placement).
#include "catalogue/categories.h"
#include "carve/integrity/integrity_check.h"
#include "engines/fast/fast_fat_recovery.h"

namespace kestrel {

bool CFastFatRecovery::ReadCluster(uint32_t cluster, uint8_t* out) {
  uint32_t got = 0;
  uint32_t sectors = geometry_.sectorsPerCluster;
  return ReadRelative(geometry_.ClusterSector(cluster), sectors, out, got) == kSuccess &&
         got == geometry_.ClusterBytes();
}

bool CFastFatRecovery::NoteDeletedFile(FoundFileRecord& record) {
  switch (placement_.Note(record)) {
    case FatPlacement::Need::kNothing: return false;
    case FatPlacement::Need::kPlacing: return true;
    case FatPlacement::Need::kChain: break;
  }
  // Read along the chain, and checked after the walk where its type allows,
  // since a reused cluster holds someone else's data.
  record.SetHowSure(DataLayout::kChain, WholeFileCheck::kNotRun);
  return IntegrityFormatFor(ExtensionOf(record.Name())) != IntegrityFormat::kNone;
}

void CFastFatRecovery::PlaceDeletedFiles() {
  claimsKnown_ = true;
  for (FoundFileRecord& record : unplaced_) {
    Tallied(damage_, record.entrySector * uint64_t(bytesPerSector_), false, [&] {
      placement_.Place(record);
      return store_.log()->RewriteRecord(record) == kSuccess;
    });
  }
  unplaced_.clear();
  unplaced_.shrink_to_fit();
}

void CFastFatRecovery::EnsureClaims() {
  if (claimsKnown_ || !store_.log()) return;
  claimsKnown_ = true;
  placement_.ClaimStore(*store_.log());
}

FatPlacement& CFastFatRecovery::placement() {
  EnsureClaims();
  return placement_;
}

}  // namespace kestrel
