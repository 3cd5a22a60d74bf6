#include "platform/utf8.h"

namespace kestrel {

namespace {

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// unitAt(i) gives the i-th of count UTF-16 code units.
template <typename UnitAt>
std::string DecodeUtf16(size_t count, UnitAt unitAt) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t unit = unitAt(i);
    if (IsHighSurrogate(unit) && i + 1 < count) {
      uint32_t low = unitAt(i + 1);
      if (IsLowSurrogate(low)) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    AppendUtf8(out, unit);
  }
  return out;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

std::string Utf16ToUtf8(std::u16string_view units) {
  return DecodeUtf16(units.size(), [&](size_t i) { return uint32_t(units[i]); });
}

std::string Utf16LeToUtf8(ByteView bytes) {
  return DecodeUtf16(bytes.size() / 2, [&](size_t i) { return uint32_t(bytes.le16(2 * i)); });
}

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    const uint8_t b0 = static_cast<uint8_t>(in[i]);
    uint32_t cp;
    size_t len;
    if (b0 < 0x80) { cp = b0; len = 1; }
    else if ((b0 & 0xE0) == 0xC0) { cp = b0 & 0x1F; len = 2; }
    else if ((b0 & 0xF0) == 0xE0) { cp = b0 & 0x0F; len = 3; }
    else if ((b0 & 0xF8) == 0xF0) { cp = b0 & 0x07; len = 4; }
    else return false;
    if (i + len > in.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      const uint8_t b = static_cast<uint8_t>(in[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return true;
}

}  // namespace kestrel
