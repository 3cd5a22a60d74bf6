// The deep scan on the fragmented card whose DCIM folder was deleted
// (tools/images/make-fat-fragmented-images.sh): the deep FAT member finds the
// pictures in the lost folder's own sectors and, since the card's allocation
// table is readable, reads them from the clusters the fast engine chooses.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "catalogue/scan_log_paths.h"
#include "engines/deep/deep_recovery.h"
#include "engines/engine_factory.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

struct LeaveAFreshScanFolder {
  ~LeaveAFreshScanFolder() { StartNewScanFolder(); }
};

// Every file the engine lists, by engine and by its name without the first
// letter (a deleted short name lost it).
std::map<std::pair<uint32_t, std::string>, FoundFileRecord> FilesByEngine(IFileRecoveryParse& engine) {
  std::map<std::pair<uint32_t, std::string>, FoundFileRecord> out;
  struct Folder {
    const FoundFileRecord* record;
    int32_t level;
  };
  std::deque<FoundFileRecord> seen;  // keeps each folder's record in place while it waits
  std::deque<Folder> queue{{nullptr, 0}};
  for (size_t guard = 0; !queue.empty() && guard < 1000; ++guard) {
    Folder folder = queue.front();
    queue.pop_front();
    std::vector<FoundFileRecord> children;
    engine.ListChildren(folder.record, folder.level, children);
    for (const FoundFileRecord& r : children) {
      if (r.IsDirectory()) {
        seen.push_back(r);
        queue.push_back({&seen.back(), folder.level + 1});
      } else {
        out[{r.engineKind, std::string(r.Name().substr(1))}] = r;
      }
    }
  }
  return out;
}

TEST(DeepFragmentedCard, PicturesOfALostFolderAreReadAroundLiveFilesLikeTheFastEnginesOwn) {
  LeaveAFreshScanFolder fresh;
  auto engine = CreateEngineForImage(test::TestImage("fat16-fragmented-folder.img"), 0, true);
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(std::nullopt), kSuccess);
  // The scan lists the pictures once, by the fast pass's records; the deep
  // member's own copies are read from the member.
  auto* composite = dynamic_cast<CProfessionalRecovery*>(engine.get());
  ASSERT_NE(composite, nullptr);
  auto files = FilesByEngine(*composite->fastEngine());
  files.merge(FilesByEngine(composite->fatMember()));
  test::TempDir dest;
  int exact = 0;
  for (const test::ExpectedFile& e : test::ExpectedFiles("fat-fragmented-expected.txt", "fat16-fragmented.img")) {
    if (e.path.rfind("DCIM/", 0) != 0) continue;
    std::string key = e.path.substr(6);
    auto deep = files.find({uint32_t(EngineKind::kDeepFat), key});
    if (e.status != "intact") {
      if (deep == files.end()) continue;
      auto path = dest.path() / ("lost-" + key);
      int result = engine->RecoverItem(&deep->second, path, 0);
      EXPECT_TRUE(result != kSuccess || test::Sha256Hex(path) != e.sha256) << e.path;
      continue;
    }
    ASSERT_NE(deep, files.end()) << e.path;
    auto path = dest.path() / key;
    ASSERT_EQ(engine->RecoverItem(&deep->second, path, 0), kSuccess) << e.path;
    EXPECT_EQ(test::Sha256Hex(path), e.sha256) << e.path;
    exact += test::Sha256Hex(path) == e.sha256;
    // The fast pass found the same file through the deleted folder's entry:
    // both chose one placement, with one check result.
    auto fast = files.find({uint32_t(EngineKind::kFastFat), key});
    ASSERT_NE(fast, files.end()) << e.path;
    EXPECT_EQ(deep->second.contentValid, fast->second.contentValid) << e.path;
  }
  EXPECT_EQ(exact, 4);
  // The market photo has a deleted filler's run between its pieces: only
  // its content tells the placement.
  auto market = files.find({uint32_t(EngineKind::kDeepFat), "ARKET.JPG"});
  ASSERT_NE(market, files.end());
  EXPECT_EQ(market->second.layout(), DataLayout::kInferred);
  EXPECT_EQ(market->second.wholeFileCheck(), WholeFileCheck::kPassed);
}

}  // namespace
}  // namespace kestrel
