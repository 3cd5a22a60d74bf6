// Reads of a carved file's bytes by offset from its first sector, through one
// 64 KiB window, for the size rules that follow a format's own structure.
// Never reads past the source's end or the rule's cap, and reports progress as
// the sector walks do.
#pragma once

#include <cstdint>

#include "carve/signatures.h"

namespace kestrel::sig {

class CarveWindow {
 public:
  // The largest read one call may ask for: two of them fit in the window.
  static constexpr size_t kMaxRead = kSignatureScratchBytes / 2;

  // hit: the bytes given with the hit sector, used when there is no device.
  CarveWindow(CarveContext& c, ByteView hit, uint64_t cap);

  // The bytes [offset, offset + length) when all of them can be read and lie
  // below limit(); empty otherwise. length at most kMaxRead. The view stays
  // valid until the next call.
  ByteView Read(uint64_t offset, size_t length);
  // From offset, whatever the window holds or can load, up to maxLength bytes
  // (at least one byte unless offset is at or past the limit or unreadable).
  ByteView ReadSome(uint64_t offset, size_t maxLength = kMaxRead);

  // The bytes a size may reach: the cap or the source's end, the lower.
  uint64_t limit() const { return limit_; }
  // The progress callback asked to stop: every read fails from then on.
  bool cancelled() const { return context_.cancelResult != 0; }

 private:
  bool Load(uint64_t offset);

  CarveContext& context_;
  ByteView hit_;
  uint64_t limit_ = 0;
  uint64_t sectorBytes_ = 512;
  uint8_t* buffer_ = nullptr;
  uint64_t windowStart_ = 0;
  uint64_t windowBytes_ = 0;  // 0: nothing loaded
  uint64_t reported_ = 0;     // the furthest offset progress was reported for
  bool reportedOnce_ = false;
};

}  // namespace kestrel::sig
