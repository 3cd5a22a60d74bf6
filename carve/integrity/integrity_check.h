// Whole-file content checks: does a recovered or carved file still hold a
// complete, consistent file of the type its extension names? Each format is
// checked where it allows an exact answer (CRCs, chunk chains, a full decode);
// other types get "unknown" rather than a guess.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/byte_view.h"

namespace kestrel {

enum class IntegrityVerdict { kIntact, kDamaged, kUnknown };

struct IntegrityResult {
  IntegrityVerdict verdict = IntegrityVerdict::kUnknown;
  // Damaged: the byte offset where the file stops being valid (the first bad
  // structure, or the file's length when it ends too early). 0 otherwise.
  uint64_t offset = 0;
  // Damaged: "not a valid JPEG after 45,056 bytes: ..."; intact: what was
  // verified; unknown: why no check ran. Plain English, never empty.
  std::string reason;

  bool damaged() const { return verdict == IntegrityVerdict::kDamaged; }
};

// Random access to one file's bytes. Checks read in bounded pieces (at most a
// few hundred KiB at a time, whatever the file's size), so a source may be a
// file on disk, a buffer, or a stream of a scanned device.
class IntegritySource {
 public:
  virtual ~IntegritySource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly count bytes at offset; false when they cannot all be read.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t count) = 0;
};

// A buffer already in memory.
class MemoryIntegritySource final : public IntegritySource {
 public:
  explicit MemoryIntegritySource(ByteView bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override;

 private:
  ByteView bytes_;
};

// The formats with a check, by the lower-case extensions that name them.
enum class IntegrityFormat {
  kNone, kJpeg, kPng, kGif, kBmp, kZip, kPdf, kMp3, kRiff, kOle, kIsoMedia, kMidi, kSevenZip
};

// The format an extension ("jpg", ".JPG", "docx") is checked as; kNone when none.
IntegrityFormat IntegrityFormatFor(std::string_view extension);
// "JPEG", "PNG", ... as used in the reasons.
std::string_view IntegrityFormatName(IntegrityFormat format);

// Checks the bytes of source as a file of the given extension.
IntegrityResult CheckIntegrity(IntegritySource& source, std::string_view extension);
IntegrityResult CheckIntegrity(ByteView bytes, std::string_view extension);
// Opens path read-only and checks it; a file that cannot be read is unknown.
IntegrityResult CheckFileIntegrity(const std::filesystem::path& path, std::string_view extension);

// "intact", "damaged" or "unknown": the words used in reports and JSON.
std::string_view IntegrityVerdictWord(IntegrityVerdict verdict);

}  // namespace kestrel
