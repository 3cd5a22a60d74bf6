// The selection rules: globs over found paths, size and date bounds, and the
// words users type for sizes and dates.
#include "app/selection.h"

#include <gtest/gtest.h>

#include "fs/fat/fat_dir.h"

namespace kestrel {
namespace {

FoundFileRecord File(uint64_t size, uint64_t modified) {
  FoundFileRecord record;
  record.size = size;
  record.modified = modified;
  return record;
}

uint64_t At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return *CalendarToFileTime(year, month, day, hour, minute, second, 0);
}

TEST(GlobMatches, StarsStayInOneFolderAndDoubleStarsCrossThem) {
  EXPECT_TRUE(GlobMatches("*.jpg", "beach.jpg"));
  EXPECT_FALSE(GlobMatches("*.jpg", "Photos/beach.jpg"));
  EXPECT_TRUE(GlobMatches("**/*.jpg", "Photos/Holiday 2024/beach.jpg"));
  EXPECT_TRUE(GlobMatches("**/*.jpg", "beach.jpg"));  // "**/" may stand for no folder
  EXPECT_TRUE(GlobMatches("Photos/**", "Photos/a/b/c.png"));
  EXPECT_FALSE(GlobMatches("Photos/*", "Photos/a/b.png"));
  EXPECT_TRUE(GlobMatches("DCIM/???CANON", "DCIM/100CANON"));
  EXPECT_FALSE(GlobMatches("a?b", "a/b"));
  EXPECT_FALSE(GlobMatches("Photo", "Photos"));
  EXPECT_TRUE(GlobMatches("/Photos/", "Photos"));  // leading and trailing slashes are not part of a path
}

TEST(GlobMatches, CaseIsIgnoredBeyondAscii) {
  EXPECT_TRUE(GlobMatches("photos/CAFÉ CRÈME ☕.JPG", "Photos/Café crème ☕.jpg"));
  EXPECT_TRUE(GlobMatches("documents/БЕЗ*", "Documents/Без названия.bmp"));
  EXPECT_FALSE(GlobMatches("ΑΛΦΑ.txt", "άλφα.txt"));  // accented forms are other letters
  EXPECT_TRUE(GlobMatches("ΑΛΦΑ.TXT", "αλφα.txt"));
  EXPECT_FALSE(GlobMatches("café.jpg", "cafe.jpg"));
}

TEST(Selection, MatchedFolderBringsItsWholeSubtree) {
  Selection selection;
  selection.patterns = {"Photos"};
  FoundFileRecord file = File(10, At(2024, 7, 1));
  EXPECT_TRUE(selection.Takes("Photos/Holiday 2024/Beach Day.jpg", file));
  EXPECT_TRUE(selection.Takes("Photos/x.png", file));
  EXPECT_FALSE(selection.Takes("Photos2/x.png", file));
  EXPECT_FALSE(selection.Takes("Old/Photos.txt", file));
  selection.patterns = {"**/Holiday*"};
  EXPECT_TRUE(selection.Takes("Photos/Holiday 2024/Beach Day.jpg", file));
  EXPECT_FALSE(selection.Takes("Photos/Beach Day.jpg", file));
  selection.patterns = {"*.txt", "DCIM"};  // any pattern may take a file
  EXPECT_TRUE(selection.Takes("notes.txt", file));
  EXPECT_TRUE(selection.Takes("DCIM/100CANON/IMG_1.JPG", file));
  EXPECT_FALSE(selection.Takes("Music/notes.txt", file));
}

TEST(Selection, SizeBoundsAreInclusiveAndDateBoundsHalfOpen) {
  Selection selection;
  selection.minSize = 4096;
  selection.maxSize = 10240;
  EXPECT_FALSE(selection.Takes("a", File(4095, 0)));
  EXPECT_TRUE(selection.Takes("a", File(4096, 0)));
  EXPECT_TRUE(selection.Takes("a", File(10240, 0)));
  EXPECT_FALSE(selection.Takes("a", File(10241, 0)));

  Selection july;
  july.modifiedAfter = At(2025, 7, 1);
  july.modifiedBefore = At(2025, 8, 1);
  EXPECT_TRUE(july.Takes("a", File(1, At(2025, 7, 1))));
  EXPECT_TRUE(july.Takes("a", File(1, At(2025, 7, 31, 23, 59, 59))));
  EXPECT_FALSE(july.Takes("a", File(1, At(2025, 8, 1))));
  EXPECT_FALSE(july.Takes("a", File(1, At(2025, 6, 30, 23, 59, 59))));
  // A carved file has no recorded time: no date bound takes it.
  EXPECT_FALSE(july.Takes("a", File(1, 0)));
  Selection none;
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(none.Takes("a", File(1, 0)));
}

TEST(ParseByteCount, SuffixesArePowersOf1024) {
  uint64_t bytes = 0;
  ASSERT_TRUE(ParseByteCount("7", bytes));
  EXPECT_EQ(bytes, 7u);
  ASSERT_TRUE(ParseByteCount("10K", bytes));
  EXPECT_EQ(bytes, 10240u);
  ASSERT_TRUE(ParseByteCount("12kib", bytes));
  EXPECT_EQ(bytes, 12288u);
  ASSERT_TRUE(ParseByteCount("1.5M", bytes));
  EXPECT_EQ(bytes, 1572864u);
  ASSERT_TRUE(ParseByteCount("2GB", bytes));
  EXPECT_EQ(bytes, 2147483648u);
  for (const char* bad : {"", "K", "1.2", "-1", "1..2K", "10X", "1 K", "99999999999999999999", "17179869184G"}) {
    EXPECT_FALSE(ParseByteCount(bad, bytes)) << bad;
  }
}

TEST(ParseIsoTime, DatesAndTimesAsRecordsStoreThem) {
  uint64_t time = 0;
  ASSERT_TRUE(ParseIsoTime("2026-12-08", time));
  EXPECT_EQ(time, At(2026, 12, 8));
  ASSERT_TRUE(ParseIsoTime("2026-12-08T19:17:10", time));
  EXPECT_EQ(time, At(2026, 12, 8, 19, 17, 10));
  ASSERT_TRUE(ParseIsoTime("2024-02-29 07:05", time));
  EXPECT_EQ(time, At(2024, 2, 29, 7, 5));
  for (const char* bad : {"2026-13-01", "2025-02-29", "2026-1-1", "2026-12-08T25:00", "2026-12-08T10:00x",
                          "2026-12-08T10", "08.12.2026", ""}) {
    EXPECT_FALSE(ParseIsoTime(bad, time)) << bad;
  }
}

}  // namespace
}  // namespace kestrel
