// Chooses the check for an extension and runs it; the format checks
// themselves live in one file per family (images, archives, media).
#include "carve/integrity/integrity_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "carve/integrity/integrity_internal.h"
#include "platform/file_io.h"

namespace kestrel {
namespace {

using integrity::FormatChecker;

struct FormatRow {
  IntegrityFormat format;
  std::string_view name;
  FormatChecker check;
  std::array<std::string_view, 14> extensions;
};

// One row per checked format; extensions are lower case, without the dot.
constexpr FormatRow kFormats[] = {
    {IntegrityFormat::kJpeg, "JPEG", integrity::CheckJpeg, {"jpg", "jpeg", "jpe", "jfif"}},
    {IntegrityFormat::kPng, "PNG", integrity::CheckPng, {"png"}},
    {IntegrityFormat::kGif, "GIF", integrity::CheckGif, {"gif"}},
    {IntegrityFormat::kBmp, "BMP", integrity::CheckBmp, {"bmp", "dib"}},
    {IntegrityFormat::kZip, "ZIP", integrity::CheckZip,
     {"zip", "docx", "docm", "xlsx", "xlsm", "pptx", "pptm", "odt", "ods", "odp", "odg", "epub", "jar", "apk"}},
    {IntegrityFormat::kPdf, "PDF", integrity::CheckPdf, {"pdf"}},
    {IntegrityFormat::kMp3, "MP3", integrity::CheckMp3, {"mp3"}},
    {IntegrityFormat::kRiff, "RIFF", integrity::CheckRiff, {"wav", "avi", "webp"}},
    {IntegrityFormat::kOle, "OLE compound document", integrity::CheckOle,
     {"doc", "dot", "xls", "xlt", "ppt", "pps", "pot", "msg", "msi", "vsd", "pub"}},
    {IntegrityFormat::kIsoMedia, "MP4/QuickTime", integrity::CheckIsoMedia,
     {"mp4", "m4a", "m4v", "m4b", "mov", "qt", "3gp", "3g2"}},
    {IntegrityFormat::kMidi, "MIDI", integrity::CheckMidi, {"mid", "midi"}},
    {IntegrityFormat::kSevenZip, "7z", integrity::CheckSevenZip, {"7z"}},
};

const FormatRow* RowFor(IntegrityFormat format) {
  for (const FormatRow& row : kFormats)
    if (row.format == format) return &row;
  return nullptr;
}

std::string LowerExtension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  std::string lower(extension);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// An open file read with pread; the descriptor is closed with the source.
class FileIntegritySource final : public IntegritySource {
 public:
  FileIntegritySource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~FileIntegritySource() override { ::close(fd_); }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override {
    size_t got = 0;
    return PreadAll(fd_, out, count, offset, got) == 0 && got == count;
  }

 private:
  int fd_;
  uint64_t size_;
};

}  // namespace

bool MemoryIntegritySource::ReadAt(uint64_t offset, uint8_t* out, size_t count) {
  if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
  if (count > 0) std::memcpy(out, bytes_.data() + offset, count);
  return true;
}

IntegrityFormat IntegrityFormatFor(std::string_view extension) {
  std::string lower = LowerExtension(extension);
  if (lower.empty()) return IntegrityFormat::kNone;
  for (const FormatRow& row : kFormats)
    for (std::string_view known : row.extensions)
      if (!known.empty() && known == lower) return row.format;
  return IntegrityFormat::kNone;
}

std::string_view IntegrityFormatName(IntegrityFormat format) {
  const FormatRow* row = RowFor(format);
  return row ? row->name : std::string_view("unknown");
}

std::string_view IntegrityVerdictWord(IntegrityVerdict verdict) {
  switch (verdict) {
    case IntegrityVerdict::kIntact: return "intact";
    case IntegrityVerdict::kDamaged: return "damaged";
    case IntegrityVerdict::kUnknown: break;
  }
  return "unknown";
}

IntegrityResult CheckIntegrity(IntegritySource& source, std::string_view extension) {
  const FormatRow* row = RowFor(IntegrityFormatFor(extension));
  if (!row) {
    IntegrityResult result;
    std::string lower = LowerExtension(extension);
    result.reason = lower.empty() ? "no content check for files without an extension"
                                  : "no content check for ." + lower + " files";
    return result;
  }
  integrity::CheckInput input{source, source.Size(), row->name};
  if (input.size == 0) return integrity::Damaged(input, 0, "the file is empty");
  return row->check(input);
}

IntegrityResult CheckIntegrity(ByteView bytes, std::string_view extension) {
  MemoryIntegritySource source(bytes);
  return CheckIntegrity(source, extension);
}

IntegrityResult CheckFileIntegrity(const std::filesystem::path& path, std::string_view extension) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return IntegrityResult{IntegrityVerdict::kUnknown, 0, "the file could not be opened for checking"};
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    ::close(fd);
    return IntegrityResult{IntegrityVerdict::kUnknown, 0, "the file's length could not be read for checking"};
  }
  FileIntegritySource source(fd, static_cast<uint64_t>(end));
  return CheckIntegrity(source, extension);
}

namespace integrity {

IntegrityResult Intact(std::string what) { return IntegrityResult{IntegrityVerdict::kIntact, 0, std::move(what)}; }

IntegrityResult Damaged(const CheckInput& input, uint64_t offset, std::string_view detail) {
  std::string reason = "not a valid " + std::string(input.format) + " after " + GroupedNumber(offset) + " bytes";
  if (!detail.empty()) reason += ": " + std::string(detail);
  return IntegrityResult{IntegrityVerdict::kDamaged, offset, std::move(reason)};
}

std::string GroupedNumber(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

bool ReadBytes(CheckInput& input, uint64_t offset, size_t count, std::vector<uint8_t>& out) {
  out.resize(count);
  if (offset > input.size || count > input.size - offset) return false;
  return count == 0 || input.source.ReadAt(offset, out.data(), count);
}

}  // namespace integrity
}  // namespace kestrel

namespace kestrel::integrity {

bool ForwardReader::Byte(uint8_t& out) {
  if (position_ >= input_.size) return false;
  if (position_ < bufferStart_ || position_ >= bufferStart_ + buffer_.size()) {
    uint64_t left = input_.size - position_;
    size_t count = left < kChunkBytes ? static_cast<size_t>(left) : kChunkBytes;
    if (!ReadBytes(input_, position_, count, buffer_)) {
      buffer_.clear();
      return false;
    }
    bufferStart_ = position_;
  }
  out = buffer_[position_ - bufferStart_];
  ++position_;
  return true;
}

bool ForwardReader::Skip(uint64_t count) {
  if (count > input_.size - std::min(position_, input_.size)) {
    position_ = input_.size;
    return false;
  }
  position_ += count;
  return true;
}

}  // namespace kestrel::integrity
