// The fast NTFS engine on volumes made by mkntfs and ntfs-3g (see
// tools/images/make-ntfs-images.sh): what a scan lists, and what comes back.
#include <gtest/gtest.h>

#include <map>

#include "engines/fast/fast_ntfs_recovery.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::TestImage;

struct Listed {
  FoundFileRecord record;
  int32_t level = 0;  // the level its children are listed with (folders)
};

// Every record reachable from the root, by its path.
void Walk(CFastNtfsRecovery& engine, const FoundFileRecord* dir, int32_t level, const std::string& prefix,
          std::map<std::string, Listed>& out) {
  std::vector<FoundFileRecord> children;
  ASSERT_EQ(engine.ListChildren(dir, level, children), kSuccess);
  for (const auto& child : children) {
    std::string path = prefix + std::string(child.Name());
    out[path] = {child, level + 1};
    if (child.IsDirectory() && level < 64) Walk(engine, &child, level + 1, path + "/", out);
  }
}

class ScannedImage {
 protected:
  void ScanImage(const std::string& name) {
    ASSERT_EQ(engine_.OpenImage(TestImage(name + ".img"), 0), kSuccess);
    ASSERT_EQ(engine_.Scan(std::nullopt), kSuccess);
    Walk(engine_, nullptr, 0, "", listed_);
  }
  CFastNtfsRecovery engine_;
  std::map<std::string, Listed> listed_;
};

class FastNtfsImage : public ::testing::TestWithParam<std::string>, public ScannedImage {
 protected:
  void SetUp() override { ScanImage(GetParam()); }
};

TEST_P(FastNtfsImage, ListsEveryDeletedFileUnderItsFolderPath) {
  for (const auto& [path, sha] : test::ExpectedHashes(GetParam())) {
    EXPECT_TRUE(listed_.count(path)) << path;
  }
}

TEST_P(FastNtfsImage, NeverListsSystemRecordsOrLiveFiles) {
  for (const auto& [path, item] : listed_) {
    if (item.record.IsDirectory()) continue;
    EXPECT_GE(item.record.itemKey, 12u) << path;
    // Besides the expected files only those deleted (and written over) while the image was made.
    EXPECT_TRUE(test::ExpectedHashes(GetParam()).count(path) || path.find("filler") != std::string::npos ||
                path == "keep/ballast.bin")
        << path;
  }
}

TEST_P(FastNtfsImage, RecoversEveryFileByteExact) {
  TempDir out;
  auto expected = test::ExpectedHashes(GetParam());
  for (const auto& [path, sha] : expected) {
    auto it = listed_.find(path);
    if (it == listed_.end()) continue;  // reported by the listing test
    fs::path target = out.path() / path;
    EXPECT_EQ(engine_.RecoverItem(&it->second.record, target, 0), kSuccess) << path;
    EXPECT_EQ(test::Sha256Hex(target), sha) << path;
  }
}

TEST_P(FastNtfsImage, RecoversAFolderWithItsSubfolders) {
  // The top folder of the first expected path that has one.
  std::string top;
  for (const auto& [path, sha] : test::ExpectedHashes(GetParam())) {
    if (auto slash = path.find('/'); slash != std::string::npos) {
      top = path.substr(0, slash);
      break;
    }
  }
  ASSERT_TRUE(listed_.count(top));
  TempDir out;
  fs::path target = out.path() / top;
  // The recovery root is out: a folder in the root is listed at level separators(target) - separators(out).
  int32_t rootDepth = CountSeparators(out.path().string() + "/x") - 1;
  ASSERT_EQ(engine_.RecoverItem(&listed_[top].record, target, rootDepth), kSuccess);
  for (const auto& [path, sha] : test::ExpectedHashes(GetParam())) {
    if (path.rfind(top + "/", 0) != 0) continue;
    EXPECT_EQ(test::Sha256Hex(out.path() / path), sha) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FastNtfsImage, ::testing::Values("ntfs-main", "ntfs-4k", "ntfs-512"));

class FastNtfsMain : public ::testing::Test, public ScannedImage {
 protected:
  void SetUp() override { ScanImage("ntfs-main"); }
};

TEST_F(FastNtfsMain, ShowsTheWin32NameNotTheDosName) {
  EXPECT_TRUE(listed_.count("docs/longfilename document.txt"));
  for (const auto& [path, item] : listed_) EXPECT_EQ(path.find("LONGFI~1"), std::string::npos) << path;
}

TEST_F(FastNtfsMain, PutsAFileWhoseFolderRecordWasReusedIntoALostFolder) {
  const Listed* lost = nullptr;
  for (const auto& [path, item] : listed_) {
    if (path.rfind("LostFolder", 0) == 0 && path.find('/') == std::string::npos) lost = &item;
  }
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(lost->record.clusterBytes, -1);
  EXPECT_EQ(std::string(lost->record.Name()), "LostFolder" + std::to_string(lost->record.itemKey));
  EXPECT_TRUE(listed_.count(std::string(lost->record.Name()) + "/victim.bin"));
}

TEST_F(FastNtfsMain, SaysHowEachFileIsStored) {
  EXPECT_EQ(engine_.ItemFlags(listed_.at("docs/secret.txt").record), kItemEncrypted);
  EXPECT_EQ(engine_.ItemFlags(listed_.at("packed/text.txt").record), kItemCompressed);
  EXPECT_EQ(engine_.ItemFlags(listed_.at("docs/sparse.bin").record), kItemSparse);
  EXPECT_EQ(engine_.ItemFlags(listed_.at("docs/notes.txt").record), 0u);
}

TEST_F(FastNtfsMain, GivesPathsOfNestedFiles) {
  std::string path;
  ASSERT_EQ(engine_.GetItemPath(&listed_.at("docs/deep/er/nested.txt").record, path), kSuccess);
  EXPECT_EQ(path, "docs/deep/er/");
  ASSERT_EQ(engine_.GetItemPath(&listed_.at("docs/notes.txt").record, path), kSuccess);
  EXPECT_EQ(path, "docs/");
}

TEST_F(FastNtfsMain, PreviewsPicturesIntoAFileAndTextIntoTheBuffer) {
  auto expected = test::ExpectedHashes("ntfs-main");
  fs::path temp;
  std::vector<uint8_t> buffer;
  uint32_t size = 0;
  ASSERT_EQ(engine_.ExtractPreview(&listed_.at("photos/big.jpg").record, temp, buffer, size, nullptr, nullptr),
            kSuccess);
  EXPECT_EQ(temp.filename(), "tmp.jpg");
  EXPECT_EQ(test::Sha256Hex(temp), expected.at("photos/big.jpg"));
  EXPECT_EQ(size, 0u);

  // A compressed text file, cut to the buffer's size.
  fs::path none;
  size = 100000;
  ASSERT_EQ(engine_.ExtractPreview(&listed_.at("packed/text.txt").record, none, buffer, size, nullptr, nullptr),
            kSuccess);
  EXPECT_TRUE(none.empty());
  ASSERT_EQ(size, 100000u);
  std::string start(buffer.begin(), buffer.begin() + 20);
  EXPECT_EQ(start, "packed line 0: the q");
}

TEST_F(FastNtfsMain, MapsFreeClustersWhereDeletedFilesLie) {
  ASSERT_EQ(engine_.BuildClusterMap(), kSuccess);
  const auto& g = engine_.geometry();
  std::vector<std::pair<uint64_t, uint64_t>> free;
  uint64_t start = 0, length = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    ASSERT_EQ(engine_.NextFreeExtent(start, length), 1);
    if (length == 0) break;
    free.emplace_back(start, length);
    start += length;
  }
  ASSERT_FALSE(free.empty());
  auto isFree = [&](uint64_t sector) {
    for (auto [s, l] : free) {
      if (sector >= s && sector < s + l) return true;
    }
    return false;
  };
  uint64_t spc = g.sectorsPerCluster;
  EXPECT_FALSE(isFree(g.mftCluster * spc));  // the MFT is in use
  EXPECT_FALSE(isFree(0));                   // so is the boot sector
  uint64_t volumeSectors = g.totalSectors;
  for (size_t i = 0; i < free.size(); ++i) {
    EXPECT_EQ(free[i].first % spc, 0u);
    EXPECT_LE(free[i].first + free[i].second, volumeSectors + 1);
    // Runs are maximal: two never touch.
    if (i > 0) {
      EXPECT_GT(free[i].first, free[i - 1].first + free[i - 1].second);
    }
  }
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// A copy of ntfs-main with damage put in by hand.
class FastNtfsDamaged : public ::testing::Test, public ScannedImage {
 protected:
  void SetUp() override { ScanImage("ntfs-main"); }

  // Offset of a listed file's record in the image.
  size_t RecordAt(const std::string& path) { return size_t(listed_.at(path).record.entrySector * 512); }

  std::map<std::string, Listed> Rescan(const std::vector<uint8_t>& bytes) {
    test::WriteFile(dir_ / "damaged.img", bytes);
    CFastNtfsRecovery engine;
    std::map<std::string, Listed> listed;
    EXPECT_EQ(engine.OpenImage(dir_ / "damaged.img", 0), kSuccess);
    EXPECT_EQ(engine.Scan(std::nullopt), kSuccess);
    Walk(engine, nullptr, 0, "", listed);
    return listed;
  }
  TempDir dir_;
};

TEST_F(FastNtfsDamaged, SystemRecordsStayUnlistedEvenWhenMarkedFree) {
  auto bytes = test::ReadFile(TestImage("ntfs-main.img"));
  const auto& g = engine_.geometry();
  size_t mft = size_t(engine_.mftRuns().at(0).lcn * g.clusterBytes);
  for (size_t n = 1; n < 12; ++n) bytes[mft + n * g.recordBytes + 22] = 0;  // neither in use nor a folder
  for (const auto& [path, item] : Rescan(bytes)) {
    if (!item.record.IsDirectory()) {
      EXPECT_GE(item.record.itemKey, 12u) << path;
    }
    EXPECT_NE(path.find("$"), 0u) << path;
  }
}

TEST_F(FastNtfsDamaged, ATornRecordIsListedAsDamagedContent) {
  auto bytes = test::ReadFile(TestImage("ntfs-main.img"));
  size_t at = RecordAt("docs/notes.txt");
  bytes[at + 1022] ^= 0xFF;  // the second stride's tail no longer carries the sequence number
  auto listed = Rescan(bytes);
  EXPECT_EQ(listed_.at("docs/notes.txt").record.contentValid, 1u);
  ASSERT_TRUE(listed.count("docs/notes.txt"));
  EXPECT_EQ(listed.at("docs/notes.txt").record.contentValid, 0u);
  EXPECT_EQ(listed.at("docs/longfilename document.txt").record.contentValid, 1u);
}

TEST_F(FastNtfsDamaged, ACorruptRecordEndsOnlyItself) {
  auto bytes = test::ReadFile(TestImage("ntfs-main.img"));
  size_t at = RecordAt("docs/notes.txt");
  uint16_t first = uint16_t(bytes[at + 20] | (bytes[at + 21] << 8));
  // The first attribute claims to run far past the record.
  bytes[at + first + 4] = 0x00;
  bytes[at + first + 5] = 0x00;
  bytes[at + first + 6] = 0x01;
  auto listed = Rescan(bytes);
  EXPECT_EQ(listed.size(), listed_.size() - 1);
  EXPECT_FALSE(listed.count("docs/notes.txt"));
  EXPECT_TRUE(listed.count("docs/deep/er/nested.txt"));
}

TEST(FastNtfsGeometry, TakesSectorAndRecordSizesFromTheBootSector) {
  CFastNtfsRecovery large, small;
  ASSERT_EQ(large.OpenImage(TestImage("ntfs-4k.img"), 0), kSuccess);
  EXPECT_EQ(large.geometry().bytesPerSector, 4096u);
  EXPECT_EQ(large.geometry().recordBytes, 4096u);  // one sector per record
  ASSERT_EQ(small.OpenImage(TestImage("ntfs-512.img"), 0), kSuccess);
  EXPECT_EQ(small.geometry().clusterBytes, 512u);
  EXPECT_EQ(small.geometry().recordBytes, 1024u);  // two clusters per record
  EXPECT_GT(small.mftRecordCount(), 64u);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

int CancelAtOnce(void* user, int32_t, int32_t, int32_t, uint64_t, uint64_t, uint64_t, int32_t) {
  ++*static_cast<int*>(user);
  return kCancelled;
}

TEST(FastNtfsScan, ACancelStopsTheScanAndKeepsWhatWasFoundBrowsable) {
  CFastNtfsRecovery engine;
  ASSERT_EQ(engine.OpenImage(TestImage("ntfs-main.img"), 0), kSuccess);
  int calls = 0;
  engine.SetCallbacks(CancelAtOnce, nullptr, &calls, 100);
  EXPECT_EQ(engine.Scan(std::nullopt), kCancelled);
  EXPECT_EQ(calls, 1);
  // The small MFT fits one chunk: everything was parsed before the first report.
  std::map<std::string, Listed> listed;
  Walk(engine, nullptr, 0, "", listed);
  EXPECT_TRUE(listed.count("docs/deep/er/nested.txt"));
}

TEST(FastNtfsScan, ReopensASavedStoreWithoutTheSource) {
  CFastNtfsRecovery first;
  ASSERT_EQ(first.OpenImage(TestImage("ntfs-4k.img"), 0), kSuccess);
  ASSERT_EQ(first.Scan(std::nullopt), kSuccess);
  std::map<std::string, Listed> before;
  Walk(first, nullptr, 0, "", before);
  std::string name = first.log()->recordsPath().filename().string();

  CFastNtfsRecovery reopened;  // never opened on a source
  ASSERT_EQ(reopened.Scan(name), kSuccess);
  std::map<std::string, Listed> after;
  Walk(reopened, nullptr, 0, "", after);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [path, item] : before) EXPECT_TRUE(after.count(path)) << path;
  EXPECT_EQ(reopened.GetFoundCount(), 0u);
}

TEST(FastNtfsScan, NullFolderWithALevelIsRefused) {
  CFastNtfsRecovery engine;
  std::vector<FoundFileRecord> out;
  EXPECT_EQ(engine.GetFoundCount(), 0u);
  EXPECT_EQ(engine.ListChildren(nullptr, 1, out), kErrInvalidParameter);
  EXPECT_TRUE(out.empty());
  std::filesystem::path temp;
  std::vector<uint8_t> buffer;
  uint32_t size = 10;
  EXPECT_EQ(engine.ExtractPreview(nullptr, temp, buffer, size, nullptr, nullptr), kErrInvalidParameter);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(engine.RecoverItem(nullptr, "x", 0), kErrInvalidParameter);
}

// Like the FAT engine: before any scan there is no store to give a path from.
TEST(FastNtfsScan, BeforeAScanPathsAreRefusedAndTheRootIsEmpty) {
  CFastNtfsRecovery engine;
  FoundFileRecord record;
  std::string path = "stale";
  EXPECT_EQ(engine.GetItemPath(&record, path), kErrInvalidParameter);
  EXPECT_TRUE(path.empty());
  std::vector<FoundFileRecord> out;
  EXPECT_EQ(engine.ListChildren(nullptr, 0, out), kSuccess);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace kestrel
