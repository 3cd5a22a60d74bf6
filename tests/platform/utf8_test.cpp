#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestrel {
namespace {

TEST(Utf8, SurrogatePairsJoinAndLoneSurrogatesBecomeReplacement) {
  EXPECT_EQ(Utf16ToUtf8(u"a\u00e9\u20ac\U0001F4F7"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xB7");
  const char16_t lowFirst[] = {0xDC00, 0xD800, u'x'};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(lowFirst, 3)), "\xEF\xBF\xBD\xEF\xBF\xBDx");
  const char16_t highLast[] = {u'x', 0xD83D};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(highLast, 2)), "x\xEF\xBF\xBD");
}

TEST(Utf8, LittleEndianBytesDecodeAndAnOddLastByteIsIgnored) {
  std::vector<uint8_t> bytes = {0x3D, 0xD8, 0xF7, 0xDC, 'a', 0x00, 'b'};
  EXPECT_EQ(Utf16LeToUtf8(ByteView(bytes)), "\xF0\x9F\x93\xB7" "a");
}

TEST(Utf8, RoundTripsThroughUtf16) {
  std::u16string units;
  ASSERT_TRUE(Utf8ToUtf16("Fotos/\xC3\xA9t\xC3\xA9/\xF0\x9F\x93\xB7.jpg", units));
  EXPECT_EQ(units, u"Fotos/\u00e9t\u00e9/\U0001F4F7.jpg");
  EXPECT_EQ(Utf16ToUtf8(units), "Fotos/\xC3\xA9t\xC3\xA9/\xF0\x9F\x93\xB7.jpg");
}

TEST(Utf8, InvalidUtf8IsRefused) {
  std::u16string units;
  EXPECT_FALSE(Utf8ToUtf16("\xC0\xAF", units));          // overlong '/'
  EXPECT_FALSE(Utf8ToUtf16("\xED\xA0\x80", units));      // an encoded surrogate
  EXPECT_FALSE(Utf8ToUtf16("\xF4\x90\x80\x80", units));  // past U+10FFFF
  EXPECT_FALSE(Utf8ToUtf16("a\xE2\x82", units));         // cut short
  EXPECT_FALSE(Utf8ToUtf16("\x80", units));              // a stray continuation byte
  EXPECT_FALSE(Utf8ToUtf16("\xFF", units));
}

}  // namespace
}  // namespace kestrel
