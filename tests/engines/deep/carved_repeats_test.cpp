#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engines/deep/carved_repeats.h"

namespace kestrel {
namespace {


TEST(CarvedRepeats, OnlyACarvedFileOfTheNamedTypeAtTheNamedFirstSectorRepeatsIt) {
  std::vector<FileStart> named = {
      {1000, "jpg"},  // a photo found by its entry ...
      {2000, "JPEG"}, // ... one named with another spelling of its type
      {3000, "mid"},  // a deleted song whose first cluster a photo took over
      {4000, "pdf"},  // a document with a photo embedded after its start
      {5000, "thm"},  // a camera's thumbnail: a JPEG by content
      {6000, "dat"},  // a type the carver does not know
  };
  std::vector<FileStart> carved = {
      {1000, "jpg"}, {2000, "jpg"}, {3000, "jpg"}, {4008, "jpg"}, {5000, "jpg"}, {6000, "jpg"}, {7000, "png"},
  };
  CarvedRepeats repeats;
  repeats.Build(named, carved);
  std::vector<uint64_t> left;
  for (const FileStart& c : carved) {
    if (!repeats.Repeats(c.sector)) left.push_back(c.sector);
  }
  // The song's sector holds another file now, the photo inside the document
  // may be a file of its own, and nothing says what the .dat holds: all kept.
  EXPECT_EQ(left, (std::vector<uint64_t>{3000, 4008, 6000, 7000}));
  EXPECT_EQ(repeats.count(), 3u);
}

TEST(CarvedRepeats, SeveralNamedRecordsAtOneSectorRepeatTheCarvedFileOnce) {
  // A deleted file and the live one that reused its clusters start at one
  // sector; the carved photo there repeats the one of its own type.
  CarvedRepeats repeats;
  repeats.Build({{800, "mid"}, {800, "jpg"}, {800, "jpg"}}, {{800, "jpg"}});
  EXPECT_TRUE(repeats.Repeats(800));
  EXPECT_EQ(repeats.count(), 1u);
  // Built again from nothing named (a new scan), nothing repeats.
  repeats.Build({}, {{800, "jpg"}});
  EXPECT_FALSE(repeats.Repeats(800));
  EXPECT_EQ(repeats.count(), 0u);
}

// A deep member's tree against the fast pass's deleted files: only a file
// with the same first sector and size is left out, and a folder only when it
// holds entries and every one is left out.
TEST(MemberRepeats, OnlyExactFilesAndFoldersHoldingNothingElseAreLeftOut) {
  const size_t top = SIZE_MAX;
  std::vector<MemberNode> nodes = {
      {1, true, top},           // 0 LostFolder1: every entry repeats
      {2, true, top},           // 1 LostFolder2: one entry differs
      {3, true, top},           // 2 an empty lost folder
      {4, false, 0, 100, 500},  // 3 in 0: the same file
      {5, true, 0},             // 4 in 0: a subfolder whose file repeats
      {6, false, 1, 200, 700},  // 5 in 1: the same file
      {7, false, 1, 300, 999},  // 6 in 1: same start, another size
      {8, false, 1, 408, 100},  // 7 in 1: same size, another start
      {9, false, 1, 0, 0},      // 8 in 1: no first sector
      {10, false, 4, 500, 20},  // 9 in 4: the same file
  };
  MemberRepeats repeats;
  repeats.Build(nodes, {{500, 20}, {300, 1000}, {400, 100}, {200, 700}, {100, 500}, {0, 0}});
  std::vector<uint32_t> out;
  for (const MemberNode& n : nodes) {
    if (repeats.Repeats(n.recordIndex)) out.push_back(n.recordIndex);
  }
  EXPECT_EQ(out, (std::vector<uint32_t>{1, 4, 5, 6, 10}));
  EXPECT_EQ(repeats.fileCount(), 3u);
  // A new scan with nothing from the fast pass leaves everything in.
  repeats.Build(nodes, {});
  EXPECT_FALSE(repeats.Repeats(4));
  EXPECT_EQ(repeats.fileCount(), 0u);
}

}  // namespace
}  // namespace kestrel
