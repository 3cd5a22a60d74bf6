#include "fs/fat/fat_dir.h"

#include <cstring>

#include "platform/utf8.h"

namespace kestrel {

namespace {

// Code page 437, bytes 0x80..0xFF: how DOS and most cameras store non-ASCII short names.
constexpr char16_t kCp437High[129] =
    u"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐"
    u"└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0";

constexpr int64_t kDaysFrom1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsForbiddenShortNameByte(uint8_t b) {
  if (b < 0x20) return true;
  if (b >= 'a' && b <= 'z') return true;
  return std::strchr("\"*./:<>?\\|", b) != nullptr && b != 0;
}

// 1990-01-01 and 2050-01-01 as FILETIMEs: dates outside them are garbage.
const uint64_t kEarliest = *CalendarToFileTime(1990, 1, 1, 0, 0, 0, 0);
const uint64_t kLatest = *CalendarToFileTime(2050, 1, 1, 0, 0, 0, 0);

bool InPlausibleRange(std::optional<uint64_t> t) { return t && *t >= kEarliest && *t <= kLatest; }

}  // namespace

std::optional<uint64_t> CalendarToFileTime(int year, int month, int day, int hour, int minute, int second,
                                           int millisecond) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  if (hour > 23 || minute > 59 || second > 59 || millisecond < 0 || millisecond > 999) return std::nullopt;
  int64_t days = DaysFromCivil(year, unsigned(month), unsigned(day)) + kDaysFrom1601To1970;
  int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>(seconds) * 10000000ull + static_cast<uint64_t>(millisecond) * 10000ull;
}

std::optional<uint64_t> DosTimeToFileTime(uint16_t date, uint16_t time, uint8_t hundredths) {
  int day = date & 0x1F;
  int month = (date >> 5) & 0x0F;
  int year = (date >> 9) + 1980;
  int second = (time & 0x1F) * 2;
  int minute = (time >> 5) & 0x3F;
  int hour = time >> 11;
  // The creation time keeps odd seconds and hundredths in one byte (0..199).
  second += hundredths / 100;
  int millisecond = (hundredths % 100) * 10;
  return CalendarToFileTime(year, month, day, hour, minute, second, millisecond);
}

FatDirEntry ParseFatDirEntry(ByteView e, bool isFat32) {
  FatDirEntry d;
  d.first = e.u8(0);
  d.attributes = e.u8(11);
  d.clusterHigh = e.le16(20);
  d.clusterLow = e.le16(26);
  d.cluster = isFat32 ? (uint32_t(d.clusterHigh) << 16) | d.clusterLow : d.clusterLow;
  d.size = e.le32(28);
  d.created = DosTimeToFileTime(e.le16(16), e.le16(14), e.u8(13)).value_or(0);
  d.accessed = DosTimeToFileTime(e.le16(18), 0).value_or(0);
  d.modified = DosTimeToFileTime(e.le16(24), e.le16(22)).value_or(0);
  return d;
}

bool IsDotEntry(ByteView e) {
  return e.Matches(0, ".          ") && (e.u8(11) & kFatAttrDirectory) && e.u8(11) != kFatAttrLongName;
}

bool IsDotDotEntry(ByteView e) {
  return e.Matches(0, "..") && (e.u8(11) & kFatAttrDirectory) && e.u8(11) != kFatAttrLongName;
}

bool StartsLikeDirectory(ByteView cluster) {
  return cluster.Matches(0, ". ") && (cluster.u8(11) & kFatAttrDirectory) && cluster.Matches(32, "..");
}

bool IsPlausibleEntry(ByteView e, ByteView next, bool isFat32) {
  if (!e.Has(0, kFatEntryBytes)) return false;
  FatDirEntry d = ParseFatDirEntry(e, isFat32);
  bool deleted = d.IsDeleted();
  if (IsDotEntry(e) && d.size == 0 && IsDotDotEntry(next) && next.le32(28) == 0) return true;
  if (d.IsLongNamePart()) {
    int sequence = d.first & ~0x40;
    // Twenty parts hold the longest name (255 characters).
    if (!deleted && (sequence == 0 || sequence > 20)) return false;
    return d.clusterLow == 0;
  }
  if (d.size == 0 && !d.IsDirectory() && d.cluster != 0 && !d.IsVolumeLabel()) return false;
  if (d.IsVolumeLabel()) return d.size == 0 && d.cluster == 0;
  if (d.attributes & kFatAttrVolume) return false;
  if (d.attributes >= 0x40) return false;
  if (d.IsDirectory() && (d.attributes & kFatAttrReadOnly)) return false;
  if (!deleted && !d.IsDirectory()) {
    // Creation time and access date are optional in FAT: an empty (zero)
    // field is no sign of garbage. The write time is always kept.
    bool createdEmpty = e.le16(16) == 0 && e.le16(14) == 0 && e.u8(13) == 0;
    bool accessedEmpty = e.le16(18) == 0;
    if (!createdEmpty && !InPlausibleRange(DosTimeToFileTime(e.le16(16), e.le16(14), e.u8(13)))) return false;
    if (!accessedEmpty && !InPlausibleRange(DosTimeToFileTime(e.le16(18), 0))) return false;
    if (!InPlausibleRange(DosTimeToFileTime(e.le16(24), e.le16(22)))) return false;
  }
  // 0x05 in the first byte stands for a real 0xE5 (a Kanji lead byte).
  size_t from = (deleted || d.first == 0x05) ? 1 : 0;
  for (size_t i = from; i < 11; ++i) {
    if (IsForbiddenShortNameByte(e.u8(i))) return false;
  }
  if (!deleted && d.IsDirectory() && d.size != 0) return false;
  return d.attributes == kFatAttrVolume || (d.attributes & (kFatAttrDirectory | kFatAttrArchive)) != 0;
}

bool IsWellFormedEntry(ByteView e) {
  if (!e.Has(0, kFatEntryBytes)) return false;
  uint8_t first = e.u8(0);
  uint8_t attributes = e.u8(11);
  if (attributes == kFatAttrLongName) {
    uint8_t order = first & 0x3F;
    bool sequence = first == kFatDeletedMark || ((first & ~0x40) == order && order >= 1 && order <= 20);
    return sequence && e.u8(12) == 0 && e.le16(26) == 0;
  }
  if (attributes & 0xC0) return false;
  // Case flags, creation hundredths and the modified time and date are
  // checked too: runs of one repeated byte would otherwise pass as entries.
  if (e.u8(12) & ~0x18) return false;
  if (e.u8(13) > 199) return false;
  uint16_t time = e.le16(22), date = e.le16(24);
  if ((time & 0x1F) > 29 || ((time >> 5) & 0x3F) > 59 || (time >> 11) > 23) return false;
  if (date != 0) {
    uint16_t month = (date >> 5) & 0x0F, day = date & 0x1F;
    if (month < 1 || month > 12 || day < 1) return false;
  }
  if (first == '.') {
    bool dot = e.Matches(0, ".          ");
    bool dotDot = e.Matches(0, "..         ");
    return (dot || dotDot) && (attributes & kFatAttrDirectory);
  }
  if (first == ' ') return false;
  for (size_t i = (first == kFatDeletedMark || first == 0x05) ? 1 : 0; i < 11; ++i) {
    // Beyond what IsPlausibleEntry refuses: the characters that short names
    // may not hold but that a scan lets through for old writers.
    if (IsForbiddenShortNameByte(e.u8(i)) || std::strchr("+,;=[]", e.u8(i)) != nullptr) return false;
  }
  return true;
}

uint8_t ShortNameChecksum(ByteView e) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + e.u8(i));
  return sum;
}

std::string ShortNameText(ByteView e) {
  // Windows NT and Linux keep an all-lowercase base or extension as flags in
  // byte 12; without them the stored upper case is the name's case.
  const uint8_t caseFlags = e.u8(12);
  auto piece = [&](size_t from, size_t count) {
    bool lower = from == 0 ? (caseFlags & 0x08) != 0 : (caseFlags & 0x10) != 0;
    std::string text;
    size_t end = from + count;
    while (end > from && e.u8(end - 1) == ' ') --end;
    for (size_t i = from; i < end; ++i) {
      uint8_t b = e.u8(i);
      if (i == 0 && b == kFatDeletedMark) {
        text += '!';
      } else if (i == 0 && b == 0x05) {
        AppendUtf8(text, kCp437High[0xE5 - 0x80]);
      } else if (lower && b >= 'A' && b <= 'Z') {
        text += char(b - 'A' + 'a');
      } else if (b >= 0x80) {
        AppendUtf8(text, kCp437High[b - 0x80]);
      } else {
        text += char(b);
      }
    }
    return text;
  };
  std::string name = piece(0, 8);
  if (e.u8(8) != ' ') name += "." + piece(8, 3);
  return name;
}

void LongNameAssembler::AddPart(ByteView e) {
  uint8_t first = e.u8(0);
  uint8_t checksum = e.u8(13);
  bool startsRun = first != kFatDeletedMark && (first & 0x40);
  // A new run, parts of another name, or more parts than any name has: start over.
  if (count_ > 0 && (startsRun || checksum != checksum_ || count_ == kMaxParts)) Reset();
  if (count_ == 0) checksum_ = checksum;
  static constexpr size_t kCharOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  char16_t* slot = chars_ + (kMaxParts - 1 - count_) * 13;
  for (size_t i = 0; i < 13; ++i) slot[i] = char16_t(e.le16(kCharOffsets[i]));
  ++count_;
}

namespace {

// A byte that may begin a short name (0x05 stands for a leading 0xE5).
bool LegalShortFirstByte(uint8_t b) {
  if (b == 0x05) return true;
  if (b <= 0x20 || b == kFatDeletedMark || (b >= 'a' && b <= 'z')) return false;
  return std::string_view("\"*+,./:;<=>?[\\]|").find(char(b)) == std::string_view::npos;
}

// The first name byte that gives checksum: the checksum runs through a
// bijection for each byte after the first, so exactly one value fits.
uint8_t FirstByteForChecksum(ByteView shortEntry, uint8_t checksum) {
  uint8_t bytes[32] = {};
  for (size_t i = 0; i < 32; ++i) bytes[i] = shortEntry.u8(i);
  for (int b = 0; b < 256; ++b) {
    bytes[0] = uint8_t(b);
    if (ShortNameChecksum(ByteView(bytes, 32)) == checksum) return uint8_t(b);
  }
  return 0;
}

// False when the long name cannot be the one the short entry was made from:
// Windows and Linux derive the short extension from the first three
// characters of the long one, so a long name missing that extension lost its
// last parts to newer entries.
bool ExtensionsAgree(std::string_view longName, ByteView shortEntry) {
  std::string shortExtension;
  for (size_t i = 8; i < 11; ++i)
    if (shortEntry.u8(i) != ' ') shortExtension += char(shortEntry.u8(i));
  if (shortExtension.empty()) return true;
  size_t dot = longName.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string longExtension;
  for (char c : longName.substr(dot + 1)) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;  // mapped through a code page: not compared
    if (c == ' ') continue;
    longExtension += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    if (longExtension.size() == shortExtension.size()) break;
  }
  for (size_t i = 0; i < longExtension.size() && i < shortExtension.size(); ++i) {
    char expected = shortExtension[i];
    bool replaced = expected == '_';  // characters a short name cannot hold become '_'
    if (longExtension[i] != expected && !replaced) return false;
  }
  return longExtension.size() >= shortExtension.size();
}

}  // namespace

std::string LongNameAssembler::Take(ByteView shortEntry) {
  if (count_ == 0) return {};
  bool live = shortEntry.u8(0) != kFatDeletedMark;
  // A live entry's checksum must match. A deleted one lost the first byte
  // the checksum covers, but only one value of that byte fits the checksum,
  // and it must be one a short name can start with.
  uint8_t firstByte = live ? shortEntry.u8(0) : FirstByteForChecksum(shortEntry, checksum_);
  bool belongs = live ? ShortNameChecksum(shortEntry) == checksum_ : LegalShortFirstByte(firstByte);
  const char16_t* start = chars_ + (kMaxParts - count_) * 13;
  size_t length = 0;
  size_t available = size_t(count_) * 13;
  while (length < available && start[length] != 0 && start[length] != 0xFFFF) ++length;
  std::string name = belongs ? Utf16ToUtf8(std::u16string_view(start, length)) : std::string();
  Reset();
  if (name.empty() || ExtensionsAgree(name, shortEntry)) return name;
  // The long name was cut: the short name is whole, and the checksum gave
  // back its first byte.
  uint8_t restored[32] = {};
  for (size_t i = 0; i < 32; ++i) restored[i] = shortEntry.u8(i);
  restored[0] = firstByte;
  return ShortNameText(ByteView(restored, 32));
}

void LongNameAssembler::Reset() {
  count_ = 0;
  checksum_ = 0;
}

std::string SafeFileName(std::string name) {
  for (char& c : name) {
    if (c == '/' || c == '\\' || (static_cast<unsigned char>(c) < 0x20)) c = '_';
  }
  if (name.empty() || name == "." || name == "..") return "_";
  return name;
}

}  // namespace kestrel
