#include "fs/ntfs/ntfs_record.h"

namespace kestrel {

NtfsRecordStatus ParseRecordHeader(ByteView r, NtfsRecordHeader& h) {
  if (!r.Matches(0, "FILE")) return NtfsRecordStatus::kNoSignature;
  if (!r.Has(0, 48)) return NtfsRecordStatus::kBadHeader;
  h = NtfsRecordHeader{};
  h.usaOffset = r.le16(4);
  h.usaCount = r.le16(6);
  h.sequence = r.le16(16);
  h.linkCount = r.le16(18);
  h.firstAttribute = r.le16(20);
  h.flags = r.le16(22);
  h.bytesInUse = r.le32(24);
  h.bytesAllocated = r.le32(28);
  h.baseRecord = r.le64(32) & 0x0000FFFFFFFFFFFFull;
  // NTFS 3.1 puts the record's own number before the update sequence array.
  if (h.usaOffset >= 48) {
    h.number = r.le32(44);
    h.hasNumber = true;
  }
  size_t size = r.size();
  if (h.usaOffset < 42 || h.usaOffset % 2 != 0 || h.usaCount < 2) return NtfsRecordStatus::kBadHeader;
  if (!r.Has(h.usaOffset, size_t(h.usaCount) * 2)) return NtfsRecordStatus::kBadHeader;
  if (h.firstAttribute < h.usaOffset + size_t(h.usaCount) * 2 || h.firstAttribute % 8 != 0 ||
      h.firstAttribute >= size) {
    return NtfsRecordStatus::kBadHeader;
  }
  if (h.bytesInUse > size || h.bytesInUse < h.firstAttribute) h.bytesInUse = uint32_t(size);
  return NtfsRecordStatus::kOk;
}

NtfsRecordStatus ApplyFixups(std::span<uint8_t> record, NtfsRecordHeader* out) {
  NtfsRecordHeader h;
  NtfsRecordStatus status = ParseRecordHeader(ByteView(record), h);
  if (out) *out = h;
  if (status != NtfsRecordStatus::kOk) return status;
  size_t strides = record.size() / kNtfsFixupStride;
  // The array must cover every stride of the buffer; a shorter one would
  // leave strides unverified, a longer one names bytes that are not here.
  if (strides == 0 || size_t(h.usaCount) - 1 != strides) return NtfsRecordStatus::kBadHeader;
  uint8_t* usa = record.data() + h.usaOffset;
  bool torn = false;
  for (size_t i = 1; i <= strides; ++i) {
    uint8_t* tail = record.data() + i * kNtfsFixupStride - 2;
    if (tail[0] != usa[0] || tail[1] != usa[1]) torn = true;
    tail[0] = usa[2 * i];
    tail[1] = usa[2 * i + 1];
  }
  return torn ? NtfsRecordStatus::kTorn : NtfsRecordStatus::kOk;
}

}  // namespace kestrel
