// Run lists: where the clusters of a non-resident attribute lie. Decoding is
// bounded by the bytes of the attribute it comes from; shared by the fast and
// the deep NTFS engines.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/byte_view.h"

namespace kestrel {

// One run, already resolved to an absolute cluster (the encoded offsets are
// relative to the previous allocated run). A sparse run has no clusters on
// disk: it reads as zeros.
struct NtfsRun {
  uint64_t length = 0;  // clusters
  uint64_t lcn = 0;     // first cluster on the volume; meaningless when sparse
  bool sparse = false;
};

enum class NtfsRunListStatus {
  kOk,         // ended by its terminating 0 byte
  kTruncated,  // the attribute ended before the terminator: runs so far are kept
  kCorrupt,    // a field that cannot be right (length 0, field width above 8, negative cluster); runs so far are kept
};

// Decodes the run list that starts at offset and may use every byte of
// mapping up to its end (pass the attribute's bytes, already clipped to the
// record). Appends to runs. clusterCount, when non-zero, refuses runs that
// end past the volume's last cluster.
NtfsRunListStatus DecodeRunList(ByteView mapping, size_t offset, std::vector<NtfsRun>& runs,
                                uint64_t clusterCount = 0);

uint64_t TotalClusters(const std::vector<NtfsRun>& runs);

// The run holding virtual cluster vcn and the clusters left in it from there;
// false past the end.
struct NtfsVcnPlace {
  uint64_t lcn = 0;     // cluster on the volume for vcn (meaningless when sparse)
  uint64_t left = 0;    // clusters of this run from vcn on
  bool sparse = false;
};
bool LocateVcn(const std::vector<NtfsRun>& runs, uint64_t vcn, NtfsVcnPlace& place);

}  // namespace kestrel
