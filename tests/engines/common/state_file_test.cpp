// The deep members' state files: one field list per struct saves and loads
// it; damage (short files, counts above their limits) is refused whole.
#include "engines/common/state_file.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "engines/deep/deep_fat_recovery.h"
#include "engines/deep/deep_ntfs_recovery.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;
using test::WriteFile;

struct Sample {
  uint32_t id = 0;
  bool flag = false;
  std::vector<uint8_t> blob;
};

// One field list, as the members write theirs.
template <typename Io, typename Parts>
void SampleFields(Io& io, Parts& p) {
  io.Expect(0x4B534D50);
  io.List(p.first, 4, [](auto& f, auto& s) {
    f(s.id);
    f(s.flag);
    f.Blob(s.blob, 8);
  });
  io.Map(p.second, 4, [](auto& f, auto& value) { f(value); });
}

struct SampleState {
  std::deque<Sample> first;
  std::map<uint64_t, int32_t> second;
};

TEST(StateFile, OneFieldListWritesAndReadsBackTheSameState) {
  SampleState saved{{{7, true, {1, 2, 3}}, {9, false, {}}}, {{5, -3}, {uint64_t{1} << 40, 12}}};
  deep::StateWriter writer;
  SampleFields(writer, saved);

  deep::StateReader reader;
  reader.Assign(writer.bytes());
  SampleState loaded;
  SampleFields(reader, loaded);
  ASSERT_TRUE(reader.ok());
  EXPECT_TRUE(reader.AtEnd());
  ASSERT_EQ(loaded.first.size(), 2u);
  EXPECT_EQ(loaded.first[0].id, 7u);
  EXPECT_TRUE(loaded.first[0].flag);
  EXPECT_EQ(loaded.first[0].blob, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(loaded.first[1].id, 9u);
  EXPECT_EQ(loaded.second, saved.second);
}

TEST(StateFile, CountsAndBlobsAboveTheirLimitsAreDamageNotClipped) {
  for (int damaged = 0; damaged < 3; ++damaged) {
    SampleState saved;
    saved.first.resize(damaged == 0 ? 5 : 1);  // list limit 4
    if (damaged == 1) saved.first[0].blob.assign(9, 0);  // blob limit 8
    for (uint64_t k = 0; k < (damaged == 2 ? 5u : 1u); ++k) saved.second[k] = 1;  // map limit 4
    deep::StateWriter writer;
    SampleFields(writer, saved);
    deep::StateReader reader;
    reader.Assign(writer.bytes());
    SampleState loaded;
    SampleFields(reader, loaded);
    EXPECT_FALSE(reader.ok()) << "case " << damaged;
  }
}

TEST(StateFile, ShortAndWrongFilesAreRefused) {
  SampleState saved{{{7, true, {1}}}, {}};
  deep::StateWriter writer;
  SampleFields(writer, saved);
  std::vector<uint8_t> bytes = writer.bytes();
  for (size_t cut : {size_t(0), size_t(3), bytes.size() - 1}) {
    deep::StateReader reader;
    reader.Assign(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    SampleState loaded;
    SampleFields(reader, loaded);
    EXPECT_FALSE(reader.ok()) << "cut at " << cut;
  }
  bytes[0] ^= 1;  // the magic
  deep::StateReader reader;
  reader.Assign(bytes);
  SampleState loaded;
  SampleFields(reader, loaded);
  EXPECT_FALSE(reader.ok());
}

TEST(StateFile, SavedFileReadsBackThroughLoadAndSections) {
  TempDir dir;
  deep::StateWriter inner;
  inner.U32(0xCAFEF00D);
  deep::StateWriter writer;
  writer.U8(7);
  writer.U64(0x0102030405060708ull);
  writer.Section(inner);
  ASSERT_EQ(writer.Save(dir / "x.state"), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.state.tmp"));

  deep::StateReader reader;
  ASSERT_EQ(reader.Load(dir / "x.state"), kSuccess);
  EXPECT_EQ(reader.U8(), 7);
  EXPECT_EQ(reader.U64(), 0x0102030405060708ull);
  deep::StateReader section;
  ASSERT_TRUE(reader.Section(section));
  EXPECT_EQ(section.U32(), 0xCAFEF00Du);
  EXPECT_TRUE(reader.ok());
  EXPECT_TRUE(reader.AtEnd());

  WriteFile(dir / "a.bin", {1});
  EXPECT_NE(reader.Load(dir.path()), kSuccess);  // a folder
  EXPECT_FALSE(reader.ok());
  EXPECT_NE(reader.Load(dir / "missing.state"), kSuccess);
  EXPECT_FALSE(reader.ok());
}

// The members' own files: what one saves the other loads and saves again
// byte for byte; one more geometry candidate than the limit is refused.
TEST(StateFile, MemberStatesRoundTripAndRefuseTooManyCandidates) {
  CProfessionalFatRecovery fat;
  deep::StateWriter fatState;
  fat.SaveState(fatState, true);
  deep::StateReader reader;
  reader.Assign(fatState.bytes());
  ASSERT_TRUE(fat.LoadState(reader));
  deep::StateWriter again;
  fat.SaveState(again, true);
  EXPECT_EQ(again.bytes(), fatState.bytes());

  CProfessionalNtfsRecovery ntfs;
  deep::StateWriter ntfsState;
  ntfs.SaveState(ntfsState, true);
  reader.Assign(ntfsState.bytes());
  EXPECT_TRUE(ntfs.LoadState(reader));

  // magic, version, root cluster, then the candidate count.
  std::vector<uint8_t> bytes = fatState.bytes();
  PutLe32(&bytes[12], uint32_t(kFatCandidateLimit + 1));
  reader.Assign(bytes);
  EXPECT_FALSE(fat.LoadState(reader));
}

}  // namespace
}  // namespace kestrel
