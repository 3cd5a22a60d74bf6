#include "app/jobs/preview_job.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(NextPhotoIndex, StepsOverOtherFilesAndWrapsAtEitherEnd) {
  // Three photos and a text file, as a results list might hold them.
  const std::vector<std::string_view> names = {"a.jpg", "b.PNG", "notes.txt", "c.gif"};
  EXPECT_EQ(NextPhotoIndex(names, 0, true), 1);
  EXPECT_EQ(NextPhotoIndex(names, 1, true), 3);   // the text file is passed over
  EXPECT_EQ(NextPhotoIndex(names, 3, true), 0);   // last photo wraps to the first
  EXPECT_EQ(NextPhotoIndex(names, 0, false), 3);  // first photo wraps to the last
  EXPECT_EQ(NextPhotoIndex(names, 3, false), 1);
  EXPECT_EQ(NextPhotoIndex(names, 2, true), 3);   // from a text file shown as text
  EXPECT_EQ(NextPhotoIndex(names, 2, false), 1);
  EXPECT_EQ(NextPhotoIndex(names, -1, true), 0);  // nothing shown yet: the first photo
}

TEST(NextPhotoIndex, NothingToGoToGivesMinusOne) {
  EXPECT_EQ(NextPhotoIndex({"notes.txt", "song.mp3"}, 0, true), -1);
  EXPECT_EQ(NextPhotoIndex({"notes.txt", "song.mp3"}, -1, false), -1);
  EXPECT_EQ(NextPhotoIndex({"only.jpg", "notes.txt"}, 0, true), -1);  // only the one shown
  EXPECT_EQ(NextPhotoIndex({}, -1, true), -1);
}

}  // namespace
}  // namespace kestrel
