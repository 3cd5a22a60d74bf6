// Byte buffers laid out as small source images for the signature and carving tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "carve/signatures.h"
#include "support/test_support.h"

namespace kestrel::test {

inline std::vector<uint8_t> SampleFile(const std::string& name) {
  return ReadFile(std::filesystem::path(KESTREL_TEST_DATA_DIR) / "samples" / name);
}

inline void Put(std::vector<uint8_t>& bytes, size_t offset, std::string_view text) {
  if (bytes.size() < offset + text.size()) bytes.resize(offset + text.size());
  for (size_t i = 0; i < text.size(); ++i) bytes[offset + i] = static_cast<uint8_t>(text[i]);
}
inline void Put(std::vector<uint8_t>& bytes, size_t offset, const std::vector<uint8_t>& data) {
  if (bytes.size() < offset + data.size()) bytes.resize(offset + data.size());
  std::copy(data.begin(), data.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
}

// A structurally whole PNG of exactly total bytes (at least 57): signature,
// IHDR, one private ancillary chunk of filler, IEND. CRCs are not checked by
// the size rule, so they are left zero.
inline std::vector<uint8_t> PngOfSize(size_t total, uint8_t filler = 0x5C) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto chunk = [&](std::string_view type, size_t length, uint8_t fill) {
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<uint8_t>(length >> shift));
    png.insert(png.end(), type.begin(), type.end());
    png.insert(png.end(), length, fill);
    png.insert(png.end(), 4, 0);
  };
  chunk("IHDR", 13, 1);
  chunk("kEsT", total - 57, filler);
  chunk("IEND", 0, 0);
  return png;
}

// content written to an image file padded with zeros to whole 512-byte
// sectors; the source ends at content's exact length, as a file would.
class ImageSource {
 public:
  explicit ImageSource(const std::vector<uint8_t>& content, bool exactEnd = true) : content_(content) {
    std::vector<uint8_t> padded = content;
    padded.resize((content.size() + 511) / 512 * 512);
    path_ = dir_ / "source.img";
    WriteFile(path_, padded);
    OpenImageFile(path_, device_);
    source_ = SignatureSource{&device_, 512, exactEnd ? content.size() : 0};
  }
  const SignatureSource& source() const { return source_; }
  SectorDevice& device() { return device_; }
  const std::filesystem::path& path() const { return path_; }
  ByteView Sector(uint64_t n) const { return ByteView(content_.data() + n * 512, std::min<size_t>(512, content_.size() - n * 512)); }
  std::vector<uint8_t> SectorCopy(uint64_t n) const {
    std::vector<uint8_t> s(512, 0);
    for (size_t i = 0; i < 512 && n * 512 + i < content_.size(); ++i) s[i] = content_[n * 512 + i];
    return s;
  }

 private:
  TempDir dir_;
  std::filesystem::path path_;
  std::vector<uint8_t> content_;
  SectorDevice device_;
  SignatureSource source_;
};

// Identifies and sizes the file starting at sector hit of the image.
inline IdentifyResult IdentifyAt(ImageSource& image, uint64_t hit, int* answer = nullptr) {
  CarveContext context;
  IdentifyResult result;
  std::vector<uint8_t> sector = image.SectorCopy(hit);
  int rc = IdentifyAndSize(context, image.source(), ByteView(sector), hit, CarveProgress{}, result);
  if (answer) *answer = rc;
  return result;
}

}  // namespace kestrel::test
