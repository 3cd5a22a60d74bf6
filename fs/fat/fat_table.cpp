#include "fs/fat/fat_table.h"

#include <algorithm>

#include "platform/error_codes.h"

namespace kestrel {

int FatTable::Open(SectorDevice& device, uint64_t deviceBytes, const FatGeometry& geometry,
                   uint64_t partitionStart, uint32_t windowBytes) {
  device_ = &device;
  deviceBytes_ = deviceBytes;
  geometry_ = geometry;
  fatStart_ = partitionStart + geometry.reservedSectors;
  uint64_t fatBytes = uint64_t(geometry.fatSectors) * geometry.bytesPerSector;
  uint64_t size = std::min<uint64_t>(windowBytes, fatBytes);
  size -= size % geometry.bytesPerSector;
  if (size < geometry.bytesPerSector) size = geometry.bytesPerSector;
  try {
    window_.assign(size, 0);
  } catch (const std::bad_alloc&) {
    device_ = nullptr;
    return kErrNotEnoughMemory;
  }
  return Fill(0);
}

void FatTable::Close() {
  device_ = nullptr;
  window_.clear();
  window_.shrink_to_fit();
  windowValidBytes_ = 0;
}

int FatTable::Fill(uint64_t fatSector) {
  windowSector_ = fatSector;
  windowValidBytes_ = 0;
  uint64_t sectors = window_.size() / geometry_.bytesPerSector;
  if (fatSector + sectors > geometry_.fatSectors) sectors = geometry_.fatSectors - fatSector;
  // A device shorter than its boot sector claims: read what exists.
  uint64_t absolute = fatStart_ + fatSector;
  uint64_t deviceSectors = deviceBytes_ / geometry_.bytesPerSector;
  if (absolute >= deviceSectors) return kErrReadFault;
  sectors = std::min(sectors, deviceSectors - absolute);
  int32_t got = 0;
  int error = ReadSectors(static_cast<int32_t>(sectors), *device_, window_.data(), absolute,
                          static_cast<int32_t>(geometry_.bytesPerSector), &got);
  if (error != kSuccess && error != kErrReadFault) return error;
  windowValidBytes_ = uint64_t(std::max(got, 0)) * geometry_.bytesPerSector;
  if (error == kSuccess) windowValidBytes_ = sectors * geometry_.bytesPerSector;
  return windowValidBytes_ == 0 ? kErrReadFault : kSuccess;
}

int FatTable::Entry(uint32_t n, uint32_t& value) {
  if (!device_) return kErrInvalidParameter;
  uint64_t offset, width;
  switch (geometry_.type) {
    case FatType::kFat12: offset = uint64_t(n) + n / 2; width = 2; break;
    case FatType::kFat16: offset = uint64_t(n) * 2; width = 2; break;
    default: offset = uint64_t(n) * 4; width = 4; break;
  }
  uint64_t fatBytes = uint64_t(geometry_.fatSectors) * geometry_.bytesPerSector;
  if (offset + width > fatBytes) return kErrInvalidParameter;
  uint64_t begin = windowSector_ * geometry_.bytesPerSector;
  if (offset < begin || offset + width > begin + windowValidBytes_) {
    // A FAT12 entry may straddle a sector: start the window at the entry's sector.
    int error = Fill(offset / geometry_.bytesPerSector);
    if (error != kSuccess) return error;
    begin = windowSector_ * geometry_.bytesPerSector;
    if (offset + width > begin + windowValidBytes_) return kErrReadFault;
  }
  ByteView view(window_.data(), windowValidBytes_);
  size_t at = static_cast<size_t>(offset - begin);
  switch (geometry_.type) {
    case FatType::kFat12: {
      uint32_t pair = view.le16(at);
      value = (n & 1) ? (pair >> 4) : (pair & 0x0FFF);
      break;
    }
    case FatType::kFat16: value = view.le16(at); break;
    default: value = view.le32(at) & 0x0FFFFFFF; break;
  }
  return kSuccess;
}

bool FatTable::EndsChain(uint32_t value) const {
  switch (geometry_.type) {
    case FatType::kFat12: if (value >= 0xFF7) return true; break;
    case FatType::kFat16: if (value >= 0xFFF7) return true; break;
    default: if (value >= 0x0FFFFFF7) return true; break;
  }
  return !geometry_.IsValidCluster(value);
}

int FatTable::NextCluster(uint32_t n, uint32_t& next) {
  next = 0;
  uint32_t value = 0;
  int error = Entry(n, value);
  if (error != kSuccess) return error;
  if (value != 0) {
    if (!EndsChain(value)) next = value;
    return kSuccess;
  }
  uint32_t following = n + 1;
  if (!geometry_.IsValidCluster(following)) return kSuccess;
  uint32_t followingValue = 0;
  error = Entry(following, followingValue);
  if (error != kSuccess) return error;
  if (followingValue == 0) next = following;
  return kSuccess;
}

FatChainCursor::FatChainCursor(FatTable& table, uint32_t first) : table_(table), current_(first) {
  if (current_ != 0) seen_.insert(current_);
}

int FatChainCursor::Advance() {
  if (current_ == 0) return kSuccess;
  uint32_t next = 0;
  int error = table_.NextCluster(current_, next);
  if (error != kSuccess || next == 0 || !seen_.insert(next).second) {
    current_ = 0;
    return error;
  }
  current_ = next;
  return kSuccess;
}

}  // namespace kestrel
