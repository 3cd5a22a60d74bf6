#include "catalogue/categories.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(SizeText, SwitchesUnitAtEachPowerOf1024) {
  EXPECT_EQ(SizeText(0), "0 Bytes");
  EXPECT_EQ(SizeText(1023), "1023 Bytes");
  EXPECT_EQ(SizeText(1024), "1.00 KB");
  EXPECT_EQ(SizeText(1536), "1.50 KB");
  EXPECT_EQ(SizeText(1048575), "1024.00 KB");
  EXPECT_EQ(SizeText(1048576), "1.00 MB");
  EXPECT_EQ(SizeText(int64_t(5) << 30), "5.00 GB");
  EXPECT_EQ(SizeText(int64_t(3) << 40), "3.00 TB");
  EXPECT_EQ(SizeText(-5), "-5 Bytes");
}

TEST(DurationText, HoursMinutesSeconds) {
  EXPECT_EQ(DurationText(59), "59 Sec");
  EXPECT_EQ(DurationText(60), "1 Min 0 Sec");
  EXPECT_EQ(DurationText(3599), "59 Min 59 Sec");
  EXPECT_EQ(DurationText(3600), "1 Hour 0 Min");
  EXPECT_EQ(DurationText(7322), "2 Hour 2 Min");
  EXPECT_EQ(DurationText(-3), "-3 Sec");
}

TEST(TimeText, WritesStoredFiletimeWithoutPaddingTheDate) {
  // 2014-03-07 09:05:00 UTC is Unix 1394183100.
  const uint64_t filetime = (1394183100ULL + 11644473600ULL) * 10000000ULL;
  EXPECT_EQ(TimeText(filetime), "2014-3-7 09:05:00");
  EXPECT_EQ(TimeText(0), "1601-1-1 00:00:00");
  // Leap day and end of year.
  EXPECT_EQ(TimeText((951782400ULL + 11644473600ULL) * 10000000ULL + 59 * 10000000ULL), "2000-2-29 00:00:59");
  EXPECT_EQ(TimeText((1609459199ULL + 11644473600ULL) * 10000000ULL), "2020-12-31 23:59:59");
  // Garbage from a damaged record still gives a text, not a crash.
  EXPECT_FALSE(TimeText(UINT64_MAX).empty());
}

TEST(TimeText, IsoStylePadsMonthAndDay) {
  const uint64_t filetime = (1394183100ULL + 11644473600ULL) * 10000000ULL;
  EXPECT_EQ(TimeText(filetime, DateStyle::kIso), "2014-03-07 09:05:00");
  EXPECT_EQ(TimeText((1609459199ULL + 11644473600ULL) * 10000000ULL, DateStyle::kIso), "2020-12-31 23:59:59");
}

TEST(FileCategory, TriesListsInOrderWithSubstringRule) {
  EXPECT_EQ(FileCategory("photo.JPG"), "photo");
  EXPECT_EQ(FileCategory("notes"), "others");
  EXPECT_EQ(FileCategory("clip.rm"), "audio");  // audio is tried before video
  EXPECT_EQ(FileCategory("movie.MKV"), "video");
  EXPECT_EQ(FileCategory("report.docx"), "document");
  EXPECT_EQ(FileCategory("backup.tar.gz"), "archive");
  EXPECT_EQ(FileCategory("song.wa"), "audio");  // "wa" occurs inside "*.wav|"
  EXPECT_EQ(FileCategory("song.mp"), "photo");  // "mp" occurs inside "*.bmp|", tried first
  EXPECT_EQ(FileCategory("trailing."), "others");
  EXPECT_EQ(FileCategory("data.bin"), "others");
}

TEST(FileIconName, FollowsTheIconTestOrder) {
  EXPECT_EQ(FileIconName("folder", true), "folder.png");
  EXPECT_EQ(FileIconName("folder", false), "folder.png");
  EXPECT_EQ(FileIconName("exe", false), "exe_error.png");
  EXPECT_EQ(FileIconName("jpg", true), "image.png");
  EXPECT_EQ(FileIconName("jpg", false), "image_error.png");
  EXPECT_EQ(FileIconName("rm", true), "music.png");
  EXPECT_EQ(FileIconName("txt", true), "doc.png");
  // "od" occurs in "*.odt|" and in "*.mod|": icons try documents first,
  // categories try video first.
  EXPECT_EQ(FileIconName("od", true), "doc.png");
  EXPECT_EQ(FileCategory("x.od"), "video");
  EXPECT_EQ(FileIconName("avi", false), "video_error.png");
  EXPECT_EQ(FileIconName("zip", true), "zip.png");
  EXPECT_EQ(FileIconName("", true), "default.png");
  EXPECT_EQ(FileIconName("xyz", false), "default_error.png");
  EXPECT_EQ(FileIconPath("png", true), "FileIcon/image.png");
}

TEST(FileTypeGroups, HoldTheOptionsAsOffered) {
  auto groups = FileTypeGroups();
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].name, "FileTypePhoto");
  EXPECT_EQ(groups[0].groupTick, "OptPhotoFile");
  EXPECT_EQ(groups[0].options.size(), 38u);
  EXPECT_EQ(groups[1].groupTick, "OptAudioFile");
  EXPECT_EQ(groups[1].options.size(), 19u);
  EXPECT_EQ(groups[2].groupTick, "OptVideoFile");
  EXPECT_EQ(groups[2].options.size(), 29u);

  int cr2 = 0;
  for (const auto& option : groups[0].options) {
    if (option.key == "cr2") ++cr2;
    if (option.label == "Kodak (.k25)" || option.label == "Minolta (.mrw)" ||
        option.label == "DNG Photo Files (.dng)") {
      EXPECT_EQ(option.key, "cr2") << option.label;
    }
  }
  EXPECT_EQ(cr2, 4);
  EXPECT_EQ(groups[0].options[15].key, "djvu");
  EXPECT_EQ(groups[0].options[2].label, "JPG/JPEG (.jpg .jpeg)");
  EXPECT_EQ(groups[1].options[9].label, "Real Media (.rm)");
  EXPECT_EQ(groups[2].options[1].label, "RM Video Files (.rm)");
  EXPECT_EQ(groups[2].options[21].key, "mvq");
  EXPECT_EQ(groups[2].options[21].label, "MQV Files (.mqv)");
  EXPECT_EQ(groups[2].options[14].label, "AVCHD Video File (.mts)");
}

}  // namespace
}  // namespace kestrel
