// The per-scan damage tally and its guard: a throwing record is counted with
// its offset and reason and the caller goes on; the count never stops at the
// sites kept.
#include "engines/common/damage_tally.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

TEST(DamageTally, ThrowingRecordsAreCountedWithOffsetAndReasonAndTheCallerGoesOn) {
  DamageTally tally;
  int parsed = 0;
  for (uint64_t i = 0; i < 20; ++i) {
    int result = Tallied(tally, i * 512, -1, [&] {
      if (i % 2) throw std::out_of_range("entry past its sector");
      if (i == 4) throw std::bad_alloc();
      return ++parsed;
    });
    if (i % 2 || i == 4) EXPECT_EQ(result, -1);
  }
  EXPECT_EQ(parsed, 9);
  ScanDamage damage = tally.damage();
  EXPECT_EQ(damage.count, 11u);
  ASSERT_EQ(damage.first.size(), ScanDamage::kSitesKept);
  EXPECT_EQ(damage.first[0].offset, 512u);
  EXPECT_EQ(damage.first[0].reason, "entry past its sector");
  EXPECT_EQ(damage.first[2].offset, 4u * 512);
  EXPECT_EQ(damage.first[2].reason, "out of memory");
}

TEST(DamageTally, LongReasonsAreCutAndTalliesAddUpAcrossMembers) {
  DamageTally a, b;
  a.Note(7, std::string(500, 'x'));
  b.Note(9, "b");
  b.Note(10, "c");
  ScanDamage all = a.damage();
  EXPECT_LT(all.first[0].reason.size(), 500u);
  EXPECT_GT(all.first[0].reason.size(), 0u);
  AppendDamage(all, b.damage());
  EXPECT_EQ(all.count, 3u);
  ASSERT_EQ(all.first.size(), 3u);
  EXPECT_EQ(all.first[2].offset, 10u);
  a.Clear();
  EXPECT_EQ(a.damage().count, 0u);
  EXPECT_TRUE(a.damage().first.empty());
}

}  // namespace
}  // namespace kestrel
