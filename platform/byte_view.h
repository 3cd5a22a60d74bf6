// A read-only window on bytes with bounds-checked little-endian reads: every
// on-disk structure is parsed through it, never by casting a struct over a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace kestrel {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  ByteView(std::span<const uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool Has(size_t offset, size_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }

  // Out-of-range reads give 0: a parser sees a zero field and its own
  // validation refuses the structure, instead of reading past the buffer.
  uint8_t u8(size_t offset) const { return Has(offset, 1) ? data_[offset] : 0; }
  uint16_t le16(size_t offset) const {
    if (!Has(offset, 2)) return 0;
    return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  uint32_t le32(size_t offset) const {
    if (!Has(offset, 4)) return 0;
    return static_cast<uint32_t>(data_[offset]) | (static_cast<uint32_t>(data_[offset + 1]) << 8) |
           (static_cast<uint32_t>(data_[offset + 2]) << 16) |
           (static_cast<uint32_t>(data_[offset + 3]) << 24);
  }
  uint64_t le64(size_t offset) const {
    if (!Has(offset, 8)) return 0;
    return static_cast<uint64_t>(le32(offset)) | (static_cast<uint64_t>(le32(offset + 4)) << 32);
  }
  uint32_t be32(size_t offset) const {
    if (!Has(offset, 4)) return 0;
    return (static_cast<uint32_t>(data_[offset]) << 24) | (static_cast<uint32_t>(data_[offset + 1]) << 16) |
           (static_cast<uint32_t>(data_[offset + 2]) << 8) | static_cast<uint32_t>(data_[offset + 3]);
  }
  uint16_t be16(size_t offset) const {
    if (!Has(offset, 2)) return 0;
    return static_cast<uint16_t>((data_[offset] << 8) | data_[offset + 1]);
  }

  // True when the bytes at offset equal text exactly (false when out of range).
  bool Matches(size_t offset, std::string_view text) const {
    return Has(offset, text.size()) && std::memcmp(data_ + offset, text.data(), text.size()) == 0;
  }
  bool Matches(size_t offset, std::span<const uint8_t> bytes) const {
    return Has(offset, bytes.size()) && std::memcmp(data_ + offset, bytes.data(), bytes.size()) == 0;
  }

  // A sub-view clipped to what exists; an offset past the end gives an empty view.
  ByteView Sub(size_t offset, size_t count = SIZE_MAX) const {
    if (offset >= size_) return {};
    size_t available = size_ - offset;
    return ByteView(data_ + offset, count < available ? count : available);
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Little-endian writers for the serialisers of our own file formats.
inline void PutLe16(uint8_t* out, uint16_t v) { out[0] = uint8_t(v); out[1] = uint8_t(v >> 8); }
inline void PutLe32(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(v >> (8 * i));
}
inline void PutLe64(uint8_t* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out[i] = uint8_t(v >> (8 * i));
}

}  // namespace kestrel
