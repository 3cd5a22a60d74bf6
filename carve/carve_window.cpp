#include "carve/carve_window.h"

#include <algorithm>

#include "carve/signature_internal.h"
#include "platform/error_codes.h"

namespace kestrel::sig {

CarveWindow::CarveWindow(CarveContext& c, ByteView hit, uint64_t cap)
    : context_(c), hit_(hit), sectorBytes_(static_cast<uint64_t>(std::max(c.source.sectorBytes, 1))) {
  uint64_t end = c.source.EffectiveEndByte();
  uint64_t start = c.hitSector * sectorBytes_;
  uint64_t available = c.source.device == nullptr ? hit.size() : (end > start ? end - start : 0);
  limit_ = std::min(cap, available);
  if (c.source.device != nullptr) buffer_ = c.walkBuffer();
}

bool CarveWindow::Load(uint64_t offset) {
  if (buffer_ == nullptr || cancelled()) return false;
  const uint64_t first = offset / sectorBytes_;
  const uint64_t perWindow = std::max<uint64_t>(1, kSignatureScratchBytes / sectorBytes_);
  const uint64_t lastSector = (limit_ + sectorBytes_ - 1) / sectorBytes_;
  if (first >= lastSector) return false;
  // As the sector walks do: once before the first read, then every 64 KiB further on.
  if (context_.progress != nullptr && (!reportedOnce_ || offset >= reported_ + kSignatureScratchBytes)) {
    reportedOnce_ = true;
    reported_ = offset;
    uint64_t position = context_.values.position + first;
    const CarveProgress& v = context_.values;
    int32_t percent = v.total ? static_cast<int32_t>(position * 100 / v.total + 10) : 10;
    int answer = context_.progress(context_.user, percent, context_.scale, v.remaining, position, v.total, v.found, 0);
    if (answer != 0) {
      context_.cancelResult = answer;
      return false;
    }
  }
  uint64_t count = std::min(perWindow, lastSector - first);
  int32_t sectorsRead = 0;
  int error = ReadSectors(static_cast<int32_t>(count), *context_.source.device, buffer_, context_.hitSector + first,
                          static_cast<int32_t>(sectorBytes_), &sectorsRead);
  if (error == kSuccess) sectorsRead = static_cast<int32_t>(count);
  else if (error != kErrReadFault) sectorsRead = 0;
  windowStart_ = first * sectorBytes_;
  windowBytes_ = static_cast<uint64_t>(sectorsRead) * sectorBytes_;
  return windowBytes_ > offset - windowStart_;
}

ByteView CarveWindow::Read(uint64_t offset, size_t length) {
  if (length > kMaxRead || offset > limit_ || length > limit_ - offset) return {};
  ByteView got = ReadSome(offset, length);
  return got.size() == length ? got : ByteView{};
}

ByteView CarveWindow::ReadSome(uint64_t offset, size_t maxLength) {
  if (offset >= limit_ || cancelled()) return {};
  maxLength = static_cast<size_t>(std::min<uint64_t>({maxLength, kMaxRead, limit_ - offset}));
  if (buffer_ == nullptr) return hit_.Sub(static_cast<size_t>(offset), maxLength);
  bool inside = windowBytes_ > 0 && offset >= windowStart_ && offset - windowStart_ < windowBytes_;
  // Reload when the window lacks part of the request and a window starting at
  // the request's sector would hold more of it.
  bool partial = inside && windowStart_ + windowBytes_ - offset < maxLength && windowStart_ + windowBytes_ < limit_ &&
                windowStart_ != offset / sectorBytes_ * sectorBytes_;
  if (!inside || partial) {
    if (!Load(offset)) return {};
  }
  ByteView window(buffer_, static_cast<size_t>(windowBytes_));
  return window.Sub(static_cast<size_t>(offset - windowStart_), maxLength);
}

}  // namespace kestrel::sig
