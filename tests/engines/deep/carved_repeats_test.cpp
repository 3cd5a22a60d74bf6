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

}  // namespace
}  // namespace kestrel
