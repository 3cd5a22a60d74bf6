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
  EXPECT_EQ(Extensions("Audio,mkv"), "*.mkv|");
}

TEST(TypeFilter, CategoryWordsTakeWhatTheSummaryCountsUnderThem) {
  TypeFilter filter;
  ASSERT_TRUE(ParseTypeFilter("document", filter));
  // Every name the summary counts as a document, and nothing else.
  for (const char* name : {"a.pdf", "b.DOCX", "c.txt", "d.xls"}) EXPECT_TRUE(filter.Takes(name)) << name;
  for (const char* name : {"a.jpg", "b.zip", "c.exe", "noext"}) EXPECT_FALSE(filter.Takes(name)) << name;
  ASSERT_TRUE(ParseTypeFilter("others", filter));
  EXPECT_TRUE(filter.Takes("c.exe"));
  EXPECT_FALSE(filter.Takes("a.pdf"));
}

TEST(TypeFilter, NoWordsMeansPhotoAudioAndVideo) {
  TypeFilter filter;
  ASSERT_TRUE(ParseTypeFilter("", filter));
  EXPECT_TRUE(filter.IsDefault());
  EXPECT_TRUE(filter.Takes("x.jpg"));
  EXPECT_TRUE(filter.Takes("x.mid"));
  EXPECT_TRUE(filter.Takes("x.avi"));
  EXPECT_FALSE(filter.Takes("x.pdf"));
  ASSERT_TRUE(ParseTypeFilter("photo,audio,video", filter));
  EXPECT_TRUE(filter.IsDefault());
}

TEST(TypeFilter, AllTakesEveryFileEvenAmongOtherWords) {
  TypeFilter filter;
  ASSERT_TRUE(ParseTypeFilter("jpg,ALL", filter));
  EXPECT_TRUE(filter.all);
  ASSERT_TRUE(ParseTypeFilter("all", filter));
  EXPECT_TRUE(filter.all);
  EXPECT_EQ(filter.extensions, "");
}

TEST(TypeFilter, UnknownWordsAndWordsThatWouldBreakThePatternListAreRefused) {
  TypeFilter filter;
  std::string unknown;
  EXPECT_FALSE(ParseTypeFilter("jpg,foo", filter, &unknown));
  EXPECT_EQ(unknown, "foo");
  // Each of these would widen or split a "*.ext|" pattern.
  for (const char* words : {"jp*g", "jpg|png", "a/b", "jp g", ",", "..", "photo,*"}) {
    EXPECT_FALSE(ParseTypeFilter(words, filter)) << words;
  }
}

}  // namespace
}  // namespace kestrel
