// Shared pieces of the per-format content checks: the checker signature,
// bounded reads and the wording of results. Private to carve/integrity.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carve/integrity/integrity_check.h"

namespace kestrel::integrity {

// The largest piece any check reads at once.
inline constexpr size_t kChunkBytes = 256 * 1024;

// What a format checker gets: the bytes and the format's display name.
struct CheckInput {
  IntegritySource& source;
  uint64_t size;
  std::string_view format;
};

using FormatChecker = IntegrityResult (*)(CheckInput& input);

IntegrityResult Intact(std::string what);
// "not a valid <format> after <offset> bytes: <detail>".
IntegrityResult Damaged(const CheckInput& input, uint64_t offset, std::string_view detail);
// 45056 -> "45,056".
std::string GroupedNumber(uint64_t value);

// Reads count bytes at offset into out (resized); false when the file is
// shorter or the read fails. count must be bounded by the caller.
bool ReadBytes(CheckInput& input, uint64_t offset, size_t count, std::vector<uint8_t>& out);

// Calls consume(bytes) for [offset, offset + length) in pieces of at most
// kChunkBytes; false when a read fails or consume returns false.
template <typename Consume>
bool ForEachPiece(CheckInput& input, uint64_t offset, uint64_t length, Consume&& consume) {
  std::vector<uint8_t> piece;
  while (length > 0) {
    size_t count = length < kChunkBytes ? static_cast<size_t>(length) : kChunkBytes;
    if (!ReadBytes(input, offset, count, piece)) return false;
    if (!consume(ByteView(piece.data(), piece.size()))) return false;
    offset += count;
    length -= count;
  }
  return true;
}

// One row per format: its checker. Each lives in the file for its family.
IntegrityResult CheckJpeg(CheckInput& input);
IntegrityResult CheckPng(CheckInput& input);
IntegrityResult CheckGif(CheckInput& input);
IntegrityResult CheckBmp(CheckInput& input);
IntegrityResult CheckZip(CheckInput& input);
IntegrityResult CheckPdf(CheckInput& input);
IntegrityResult CheckMp3(CheckInput& input);
IntegrityResult CheckRiff(CheckInput& input);
IntegrityResult CheckOle(CheckInput& input);
IntegrityResult CheckIsoMedia(CheckInput& input);
IntegrityResult CheckMidi(CheckInput& input);
IntegrityResult CheckSevenZip(CheckInput& input);

}  // namespace kestrel::integrity

namespace kestrel::integrity {

// Forward reading through a kChunkBytes buffer, for formats walked byte by
// byte (JPEG entropy data, GIF sub-blocks, MP3 frames).
class ForwardReader {
 public:
  ForwardReader(CheckInput& input, uint64_t start = 0) : input_(input), position_(start) {}
  uint64_t position() const { return position_; }
  bool AtEnd() const { return position_ >= input_.size; }
  // False at the end of the file or when the read fails.
  bool Byte(uint8_t& out);
  bool Skip(uint64_t count);
  // Positions the reader anywhere in the file.
  void Seek(uint64_t position) { position_ = position; }

 private:
  CheckInput& input_;
  uint64_t position_;
  std::vector<uint8_t> buffer_;
  uint64_t bufferStart_ = 0;
};

}  // namespace kestrel::integrity
