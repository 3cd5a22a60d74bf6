#include "app/type_filter.h"

#include <gtest/gtest.h>

#include "catalogue/categories.h"

namespace kestrel {
namespace {

std::string Extensions(std::string_view words) {
  TypeFilter filter;
  EXPECT_TRUE(ParseTypeFilter(words, filter)) << words;
  EXPECT_FALSE(filter.all) << words;
  return filter.extensions;
}

TEST(TypeFilter, ExtensionWordsBecomeSearchPatterns) {
  EXPECT_EQ(Extensions("jpg,png"), "*.jpg|*.png|");
  // Case, leading dots and empty words between commas do not matter.
  EXPECT_EQ(Extensions(".JPG,,..Png,"), "*.jpg|*.png|");
  EXPECT_EQ(Extensions("photo"), kPhotoExtensions);
  EXPECT_EQ(Extensions("Audio,mkv"), std::string(kAudioExtensions) + "*.mkv|");
}

TEST(TypeFilter, NoWordsMeansPhotoAudioAndVideo) {
  EXPECT_EQ(Extensions(""),
            std::string(kPhotoExtensions) + std::string(kAudioExtensions) + std::string(kVideoExtensions));
}

TEST(TypeFilter, AllTakesEveryFileEvenAmongOtherWords) {
  TypeFilter filter;
  ASSERT_TRUE(ParseTypeFilter("jpg,ALL", filter));
  EXPECT_TRUE(filter.all);
  ASSERT_TRUE(ParseTypeFilter("all", filter));
  EXPECT_TRUE(filter.all);
  EXPECT_EQ(filter.extensions, "");
}

TEST(TypeFilter, WordsThatWouldBreakThePatternListAreRefused) {
  TypeFilter filter;
  // Each of these would widen or split a "*.ext|" pattern.
  for (const char* words : {"jp*g", "jpg|png", "a/b", "jp g", ",", "..", "photo,*"}) {
    EXPECT_FALSE(ParseTypeFilter(words, filter)) << words;
  }
}

}  // namespace
}  // namespace kestrel
