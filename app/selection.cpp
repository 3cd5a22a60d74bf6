#include "app/selection.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

#include "app/found_item_reader.h"
#include "app/recovered_file_outcome.h"
#include "fs/fat/fat_dir.h"

namespace kestrel {

namespace {

// Lower case for the letters found names use most (ASCII, Latin-1, Greek,
// Cyrillic), so "café.JPG" matches "CAFÉ.jpg" as the file systems that hold
// them would.
char32_t FoldCase(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

// UTF-8 as folded code points; a byte that starts no valid sequence stands for itself.
std::u32string Folded(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(b);
      ++i;
      continue;
    }
    out.push_back(FoldCase(c));
    i += length;
  }
  return out;
}

bool Match(std::u32string_view p, std::u32string_view s) {
  while (!p.empty()) {
    if (p.substr(0, 2) == U"**") {
      std::u32string_view rest = p.substr(2);
      // "**/" also stands for no folder at all: "**/x" matches "x".
      if (!rest.empty() && rest.front() == U'/') {
        if (Match(rest.substr(1), s)) return true;
      }
      for (size_t i = 0; i <= s.size(); ++i) {
        if (Match(rest, s.substr(i))) return true;
      }
      return false;
    }
    if (p.front() == U'*') {
      for (size_t i = 0; i <= s.size(); ++i) {
        if (Match(p.substr(1), s.substr(i))) return true;
        if (i < s.size() && s[i] == U'/') break;
      }
      return false;
    }
    if (s.empty()) return false;
    if (p.front() == U'?' ? s.front() == U'/' : p.front() != s.front()) return false;
    p.remove_prefix(1);
    s.remove_prefix(1);
  }
  return s.empty();
}

bool ReadNumber(std::string_view text, size_t& at, int digits, int& value) {
  if (at + size_t(digits) > text.size()) return false;
  auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + digits, value);
  if (ec != std::errc() || end != text.data() + at + digits) return false;
  at += size_t(digits);
  return true;
}

bool Expect(std::string_view text, size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

// Reads a found file through its engine for the content check, remembering
// whether any part could not be read (a damaged source or a lost end).
class StreamedItemSource final : public IntegritySource {
 public:
  StreamedItemSource(FoundItemReader& reader, uint64_t size) : reader_(reader), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override {
    size_t got = 0;
    if (reader_.ReadAt(offset, out, count, got) != 0 && !failed_) {
      failed_ = true;
      failedAt_ = offset + got;
    }
    return got == count;
  }
  bool failed() const { return failed_; }
  uint64_t failedAt() const { return failedAt_; }

 private:
  FoundItemReader& reader_;
  uint64_t size_;
  bool failed_ = false;
  uint64_t failedAt_ = 0;
};

}  // namespace

bool GlobMatches(std::string_view pattern, std::string_view path) {
  while (!pattern.empty() && pattern.front() == '/') pattern.remove_prefix(1);
  while (!pattern.empty() && pattern.back() == '/') pattern.remove_suffix(1);
  return Match(Folded(pattern), Folded(path));
}

bool Selection::Takes(std::string_view path, const FoundFileRecord& record) const {
  if (minSize && record.size < *minSize) return false;
  if (maxSize && record.size > *maxSize) return false;
  if ((modifiedAfter || modifiedBefore) && record.modified == 0) return false;
  if (modifiedAfter && record.modified < *modifiedAfter) return false;
  if (modifiedBefore && record.modified >= *modifiedBefore) return false;
  if (patterns.empty()) return true;
  // The file itself, then every folder above it: a matched folder brings its subtree.
  for (size_t end = path.size(); end != std::string_view::npos && end > 0; end = path.rfind('/', end - 1)) {
    std::string_view prefix = path.substr(0, end);
    for (const std::string& pattern : patterns) {
      if (GlobMatches(pattern, prefix)) return true;
    }
  }
  return false;
}

bool ParseByteCount(std::string_view text, uint64_t& bytes) {
  size_t digitsEnd = 0;
  while (digitsEnd < text.size() && ((text[digitsEnd] >= '0' && text[digitsEnd] <= '9') || text[digitsEnd] == '.')) {
    ++digitsEnd;
  }
  std::string number(text.substr(0, digitsEnd));
  std::string unit(text.substr(digitsEnd));
  for (char& c : unit) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (number.empty() || number == "." || number.find('.') != number.rfind('.')) return false;
  int shift = 0;
  if (unit == "K" || unit == "KB" || unit == "KIB") {
    shift = 10;
  } else if (unit == "M" || unit == "MB" || unit == "MIB") {
    shift = 20;
  } else if (unit == "G" || unit == "GB" || unit == "GIB") {
    shift = 30;
  } else if (!unit.empty() && unit != "B") {
    return false;
  }
  if (number.find('.') == std::string::npos) {
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size()) return false;
    if (shift > 0 && value > (UINT64_MAX >> shift)) return false;
    bytes = value << shift;
    return true;
  }
  // A fraction needs a unit to make whole bytes of it ("1.5M").
  if (shift == 0) return false;
  double value = std::stod(number) * double(uint64_t(1) << shift);
  if (!(value < 18446744073709551616.0)) return false;
  bytes = uint64_t(std::llround(value));
  return true;
}

bool ParseIsoTime(std::string_view text, uint64_t& filetime) {
  size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadNumber(text, at, 4, year) || !Expect(text, at, '-') || !ReadNumber(text, at, 2, month) ||
      !Expect(text, at, '-') || !ReadNumber(text, at, 2, day)) {
    return false;
  }
  if (at < text.size()) {
    if (text[at] != 'T' && text[at] != ' ') return false;
    ++at;
    if (!ReadNumber(text, at, 2, hour) || !Expect(text, at, ':') || !ReadNumber(text, at, 2, minute)) return false;
    if (at < text.size() && (!Expect(text, at, ':') || !ReadNumber(text, at, 2, second))) return false;
    if (at != text.size()) return false;
  }
  auto time = CalendarToFileTime(year, month, day, hour, minute, second, 0);
  if (!time) return false;
  filetime = *time;
  return true;
}

IntegrityResult CheckFoundContent(IFileRecoveryParse& engine, const FoundFileRecord& record, bool* unread) {
  if (unread) *unread = false;
  std::string_view name = record.Name();
  size_t dot = name.rfind('.');
  std::string_view extension = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  // A type without a check needs no reading: its answer names why.
  if (IntegrityFormatFor(extension) == IntegrityFormat::kNone) {
    return WithPlacementVerdict(CheckIntegrity(ByteView(), extension), record);
  }
  auto* stream = dynamic_cast<IFoundItemStream*>(&engine);
  if (!stream) return IntegrityResult{IntegrityVerdict::kDamaged, 0, "its bytes cannot be read from this scan"};
  ItemStreamGate gate;
  FoundItemReader reader(*stream, gate, record);
  StreamedItemSource source(reader, record.size);
  IntegrityResult result = CheckIntegrity(source, extension);
  if (unread) *unread = source.failed();
  if (!source.failed()) return result;
  if (source.failedAt() > 0) {
    // Recovery writes the bytes before the unreadable point and checks that
    // file: the same bytes judged here give the same reason and offset (a
    // check of the whole length would stop at its first failed read instead,
    // perhaps before anything was looked at).
    FoundItemReader prefixReader(*stream, gate, record);
    StreamedItemSource prefix(prefixReader, source.failedAt());
    result = CheckIntegrity(prefix, extension);
    if (result.damaged()) return result;
  }
  return IntegrityResult{IntegrityVerdict::kDamaged, source.failedAt(), "its bytes could not all be read from the source"};
}

bool ContentIntact(IFileRecoveryParse& engine, const FoundFileRecord& record) {
  return !CheckFoundContent(engine, record).damaged();
}

std::vector<FoundItem> SelectFound(IFileRecoveryParse& engine, const std::vector<FoundItem>& found,
                                   const Selection& selection) {
  std::vector<FoundItem> out;
  for (const FoundItem& item : found) {
    if (item.record.IsDirectory()) continue;
    if (!selection.Takes(item.folder + std::string(item.record.Name()), item.record)) continue;
    if (selection.onlyIntact && !ContentIntact(engine, item.record)) continue;
    out.push_back(item);
  }
  return out;
}

}  // namespace kestrel
