#include "fs/ntfs/ntfs_runlist.h"

namespace kestrel {

NtfsRunListStatus DecodeRunList(ByteView m, size_t offset, std::vector<NtfsRun>& runs, uint64_t clusterCount) {
  int64_t lcn = 0;
  size_t pos = offset;
  while (true) {
    if (!m.Has(pos, 1)) return NtfsRunListStatus::kTruncated;
    uint8_t header = m.u8(pos);
    if (header == 0) return NtfsRunListStatus::kOk;
    unsigned lengthBytes = header & 0x0F;
    unsigned offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) return NtfsRunListStatus::kCorrupt;
    if (!m.Has(pos + 1, lengthBytes + offsetBytes)) return NtfsRunListStatus::kTruncated;

    uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i) length |= uint64_t(m.u8(pos + 1 + i)) << (8 * i);
    // A length that does not fit 63 bits, or 0, is garbage, not a run.
    if (length == 0 || length > (uint64_t(1) << 62)) return NtfsRunListStatus::kCorrupt;

    NtfsRun run;
    run.length = length;
    if (offsetBytes == 0) {
      run.sparse = true;
    } else {
      uint64_t raw = 0;
      for (unsigned i = 0; i < offsetBytes; ++i) raw |= uint64_t(m.u8(pos + 1 + lengthBytes + i)) << (8 * i);
      // Sign-extend from the top bit of the last byte.
      if (offsetBytes < 8 && (raw & (uint64_t(1) << (8 * offsetBytes - 1)))) raw |= ~uint64_t(0) << (8 * offsetBytes);
      int64_t delta = static_cast<int64_t>(raw);
      if ((delta > 0 && lcn > INT64_MAX - delta) || (delta < 0 && lcn < INT64_MIN - delta)) {
        return NtfsRunListStatus::kCorrupt;
      }
      lcn += delta;
      if (lcn < 0) return NtfsRunListStatus::kCorrupt;
      if (clusterCount != 0 && (uint64_t(lcn) >= clusterCount || length > clusterCount - uint64_t(lcn))) {
        return NtfsRunListStatus::kCorrupt;
      }
      run.lcn = uint64_t(lcn);
    }
    runs.push_back(run);
    pos += 1 + lengthBytes + offsetBytes;
  }
}

uint64_t TotalClusters(const std::vector<NtfsRun>& runs) {
  uint64_t total = 0;
  for (const auto& run : runs) total += run.length;
  return total;
}

bool LocateVcn(const std::vector<NtfsRun>& runs, uint64_t vcn, NtfsVcnPlace& place) {
  uint64_t first = 0;
  for (const auto& run : runs) {
    if (vcn < first + run.length) {
      uint64_t into = vcn - first;
      place.sparse = run.sparse;
      place.lcn = run.sparse ? 0 : run.lcn + into;
      place.left = run.length - into;
      return true;
    }
    first += run.length;
  }
  return false;
}

}  // namespace kestrel
