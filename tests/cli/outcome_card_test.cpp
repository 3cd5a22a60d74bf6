// scan and recover on a FAT16 card whose deleted files were partly
// overwritten the way real cards are (tools/images/make-outcome-images.sh).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <set>

#include "support/test_support.h"

namespace kestrel {
namespace {

TEST(OutcomeCard, ListMarksEveryDeletedFileAndNamesACutLongNameByItsShortName) {
  auto result = test::RunCli({"scan", test::TestImage("fat16-outcomes.img").string(), "--list"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::set<std::string> names;
  for (const auto& fields : test::ListRows(result.out)) {
    ASSERT_GE(fields.size(), 5u);
    // The root holds only the live folders; every file is a deleted one.
    if (fields[0].empty()) continue;
    names.insert(fields[1]);
    EXPECT_EQ(fields[4], "1") << fields[1];  // the deleted column
  }
  EXPECT_TRUE(names.count("!OLIDAY.JPG"));
  // Its first long-name slot went to X.TXT: the cut name "Report Q3 202" is
  // not used, the short name keeps the extension and gets its first letter back.
  EXPECT_TRUE(names.count("REPORT~1.PDF")) << result.out;
  for (const auto& name : names) EXPECT_EQ(name.find("Report Q3"), std::string::npos) << name;
}

}  // namespace
}  // namespace kestrel
