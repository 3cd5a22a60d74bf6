// The fast FAT engine on a card whose free space was fragmented before files
// were written and deleted (tools/images/make-fat-fragmented-images.sh):
// files written around live files come back byte-exact, the placement each
// was read by is marked, and a file that lost its clusters is not passed off
// as recovered.
#include <gtest/gtest.h>

#include <map>

#include "engines/fast/fast_fat_recovery.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

// A deleted short name lost its first letter: files are keyed by the rest.
std::string Key(std::string_view name) { return std::string(name.substr(1)); }

class FragmentedCard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(engine_.OpenImage(test::TestImage("fat16-fragmented.img"), 0), kSuccess);
    ASSERT_EQ(engine_.Scan(std::nullopt), kSuccess);
    std::vector<FoundFileRecord> folders;
    ASSERT_EQ(engine_.ListChildren(nullptr, 0, folders), kSuccess);
    for (const FoundFileRecord& folder : folders) {
      std::vector<FoundFileRecord> files;
      ASSERT_EQ(engine_.ListChildren(&folder, 1, files), kSuccess);
      for (const FoundFileRecord& file : files) {
        files_[std::string(folder.Name()) + "/" + Key(file.Name())] = file;
      }
    }
  }

  CFastFatRecovery engine_;
  std::map<std::string, FoundFileRecord> files_;
  test::TempDir dest_;
};

TEST_F(FragmentedCard, EveryFileTheAllocationAllowsComesBackExact) {
  int intact = 0;
  for (const test::ExpectedFile& e : test::ExpectedFiles("fat-fragmented-expected.txt", "fat16-fragmented.img")) {
    std::string key = e.path.substr(0, e.path.find('/') + 1) + Key(e.path.substr(e.path.find('/') + 1));
    auto found = files_.find(key);
    if (e.status != "intact") {
      // Listed or not, it must never come back as a good copy.
      if (found == files_.end()) continue;
      auto path = dest_.path() / Key(found->second.Name());
      int result = engine_.RecoverItem(&found->second, path, 0);
      EXPECT_TRUE(result != kSuccess || test::Sha256Hex(path) != e.sha256) << e.path;
      continue;
    }
    ASSERT_NE(found, files_.end()) << e.path;
    auto path = dest_.path() / Key(found->second.Name());
    ASSERT_EQ(engine_.RecoverItem(&found->second, path, 0), kSuccess) << e.path;
    EXPECT_EQ(test::Sha256Hex(path), e.sha256) << e.path;
    ++intact;
  }
  EXPECT_EQ(intact, 5);
}

TEST_F(FragmentedCard, EachFileSaysHowItWasPlacedAndWhatItsCheckSaid) {
  struct Want {
    const char* key;
    DataLayout layout;
    WholeFileCheck check;
  };
  for (const Want& want : {Want{"DCIM/OT.PNG", DataLayout::kContiguous, WholeFileCheck::kNotRun},
                           Want{"DCIM/ARBOUR.JPG", DataLayout::kAroundLive, WholeFileCheck::kPassed},
                           Want{"DCIM/KY.PNG", DataLayout::kAroundLive, WholeFileCheck::kPassed},
                           Want{"Notes/IARY.TXT", DataLayout::kAroundLive, WholeFileCheck::kNotRun},
                           // A deleted filler's run lies between its pieces: only
                           // the content tells that run is not the market's.
                           Want{"DCIM/ARKET.JPG", DataLayout::kInferred, WholeFileCheck::kPassed}}) {
    auto found = files_.find(want.key);
    ASSERT_NE(found, files_.end()) << want.key;
    EXPECT_EQ(found->second.layout(), want.layout) << want.key;
    EXPECT_EQ(found->second.wholeFileCheck(), want.check) << want.key;
    EXPECT_TRUE(found->second.FirstBlockValid()) << want.key;
  }
}

TEST(FragmentedCardList, ListAndJsonShowThePlacementAndTheCheck) {
  auto list = test::RunCli({"scan", "--list", test::TestImage("fat16-fragmented.img").string()});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("ARKET.JPG\t3427\t"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\t-\tinferred\tpassed\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\t-\taround-live\t-\n"), std::string::npos) << list.out;
  auto json = test::RunCli({"scan", "--json", "--list", test::TestImage("fat16-fragmented.img").string()});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_NE(json.out.find("\"layout\": \"inferred\",\n      \"check\": \"passed\""), std::string::npos) << json.out;
}

}  // namespace
}  // namespace kestrel
