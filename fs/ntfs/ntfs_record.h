// One MFT record: its header and the update-sequence fix-up that makes its
// bytes whole again. Pure parsing over caller-owned bytes; shared by the fast
// and the deep NTFS engines.
#pragma once

#include <cstdint>
#include <span>

#include "platform/byte_view.h"

namespace kestrel {

// Fix-ups protect every 512 bytes of a record, whatever the sector size.
inline constexpr uint32_t kNtfsFixupStride = 512;

inline constexpr uint16_t kNtfsRecordInUse = 0x0001;
inline constexpr uint16_t kNtfsRecordDirectory = 0x0002;

// The system files $MFT .. $Extend and the reserved records up to 11 are never user files.
inline constexpr uint64_t kNtfsFirstUserRecord = 12;
inline constexpr uint64_t kNtfsRootRecord = 5;

struct NtfsRecordHeader {
  uint16_t usaOffset = 0;
  uint16_t usaCount = 0;       // 1 (the sequence number) + one slot per 512-byte stride
  uint16_t sequence = 0;
  uint16_t linkCount = 0;
  uint16_t firstAttribute = 0;
  uint16_t flags = 0;          // kNtfsRecordInUse, kNtfsRecordDirectory
  uint32_t bytesInUse = 0;     // already clipped to the record
  uint32_t bytesAllocated = 0;
  uint64_t baseRecord = 0;     // 0 in a base record; the base's number in an extension record
  uint32_t number = 0;         // the record's own number (NTFS 3.1 headers only)
  bool hasNumber = false;

  bool InUse() const { return (flags & kNtfsRecordInUse) != 0; }
  bool IsDirectory() const { return (flags & kNtfsRecordDirectory) != 0; }
};

enum class NtfsRecordStatus {
  kOk,
  kNoSignature,  // not "FILE" (free space, "BAAD", zeros)
  kBadHeader,    // offsets that do not fit the record
  kTorn,         // a stride's tail did not carry the sequence number: part of the record is stale
};

// Reads the header fields. kBadHeader when the update sequence array or the
// first attribute lies outside the record.
NtfsRecordStatus ParseRecordHeader(ByteView record, NtfsRecordHeader& header);

// Checks the signature and header, then puts back the saved last two bytes of
// every 512-byte stride, comparing each tail with the update sequence number
// first. A torn stride is still restored (the rest of the record may be good)
// and the result says kTorn, so the caller can treat the content as damaged.
NtfsRecordStatus ApplyFixups(std::span<uint8_t> record, NtfsRecordHeader* header = nullptr);

}  // namespace kestrel
