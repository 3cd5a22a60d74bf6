// UTF-16 <-> UTF-8 for the names file systems and stored formats keep in UTF-16:
// one decoder, so FAT long names, NTFS names and stored paths agree on odd input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/byte_view.h"

namespace kestrel {

// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, uint32_t codePoint);

// UTF-16 code units as UTF-8; a surrogate without its partner becomes U+FFFD.
// NUL units are kept: callers that stop at NUL cut the units first.
std::string Utf16ToUtf8(std::u16string_view units);

// The same over UTF-16LE bytes; an odd last byte is ignored.
std::string Utf16LeToUtf8(ByteView bytes);

// UTF-8 to UTF-16 code units; false on invalid UTF-8 (overlong forms,
// surrogates, past U+10FFFF, cut-short sequences).
bool Utf8ToUtf16(std::string_view in, std::u16string& out);

}  // namespace kestrel
