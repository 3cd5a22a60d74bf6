#include "catalogue/scan_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <gtest/gtest.h>

#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kRoot = 2;  // FAT32 root cluster at level 0

FoundFileRecord File(std::string_view name, uint32_t contentValid = 1, uint32_t key = 100) {
  FoundFileRecord r;
  r.SetName(name);
  r.contentValid = contentValid;
  r.itemKey = key;
  r.size = 1234;
  return r;
}

FoundFileRecord Folder(std::string_view name, uint32_t key) {
  FoundFileRecord r = File(name, 1, key);
  r.isDirectory = 1;
  r.size = 0;
  return r;
}

uint32_t AddFile(ScanLog& log, uint64_t parent, FoundFileRecord& r) {
  EXPECT_EQ(log.AppendRecord(r), 0);
  log.LinkChild(parent, r.recordIndex);
  return r.recordIndex;
}
uint32_t AddFile(ScanLog& log, uint64_t parent, FoundFileRecord&& r) { return AddFile(log, parent, r); }

uint32_t AddFolder(ScanLog& log, uint64_t parent, FoundFileRecord r) {
  EXPECT_EQ(log.AppendRecord(r), 0);
  log.LinkChild(parent, r.recordIndex, r.itemKey, r.Name());
  return r.recordIndex;
}

std::vector<std::string> Names(const std::vector<FoundFileRecord>& records) {
  std::vector<std::string> names;
  for (const auto& r : records) names.emplace_back(r.Name());
  return names;
}

uintmax_t SizeOf(const fs::path& p) { return fs::file_size(p); }

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// root(2): a.jpg, Sub(3) -> { deep.txt, Inner(4) -> { x.mp3 } }
void BuildTree(ScanLog& log) {
  AddFile(log, kRoot, File("a.jpg"));
  AddFolder(log, kRoot, Folder("Sub", 3));
  const uint64_t sub = DirectoryKey{3, 1}.Packed();
  AddFile(log, sub, File("deep.txt"));
  AddFolder(log, sub, Folder("Inner", 4));
  AddFile(log, DirectoryKey{4, 2}.Packed(), File("x.mp3"));
}

TEST(ScanLog, The201stRecordFlushesExactly69200Bytes) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("Fast_0_20261279 5", dir.path()), 0);
  const fs::path records = dir / "Fast_0_20261279 5";
  for (int i = 0; i < 200; ++i) {
    auto r = File("f" + std::to_string(i) + ".txt");
    ASSERT_EQ(log.AppendRecord(r), 0);
    EXPECT_EQ(r.recordIndex, uint32_t(i + 1));
  }
  EXPECT_EQ(SizeOf(records), 0u);
  auto r = File("f200.txt");
  ASSERT_EQ(log.AppendRecord(r), 0);
  EXPECT_EQ(r.recordIndex, 201u);
  EXPECT_EQ(SizeOf(records), 69200u);
  EXPECT_EQ(log.RecordCount(), 201u);
  ASSERT_EQ(log.SaveIndex(), 0);
  EXPECT_EQ(SizeOf(records), 201u * 346u);
  EXPECT_TRUE(fs::exists(dir / "Fast_0_20261279 5_Relation"));
  EXPECT_TRUE(fs::exists(dir / "Fast_0_20261279 5_DirInfo"));
}

TEST(ScanLog, ReopenedStoreListsSameFoldersWithRecordCountZero) {
  test::TempDir dir;
  std::vector<std::string> rootBefore, subBefore;
  {
    ScanLog log;
    ASSERT_EQ(log.Open("store", dir.path()), 0);
    BuildTree(log);
    std::vector<FoundFileRecord> out;
    ASSERT_EQ(log.ListFolder(0, out), 0);
    rootBefore = Names(out);
    out.clear();
    ASSERT_EQ(log.ListFolder(DirectoryKey{3, 1}.Packed(), out), 0);
    subBefore = Names(out);
    EXPECT_EQ(log.RecordCount(), 5u);
    EXPECT_EQ(log.Close(), 0);
  }
  ScanLog log;
  ASSERT_EQ(log.Open("store", dir.path()), 0);
  EXPECT_EQ(log.RecordCount(), 0u);
  EXPECT_EQ(log.TotalRecords(), 5u);
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.ListFolder(0, out), 0);
  EXPECT_EQ(Names(out), rootBefore);
  EXPECT_EQ(rootBefore, (std::vector<std::string>{"a.jpg", "Sub"}));
  out.clear();
  ASSERT_EQ(log.ListFolder(DirectoryKey{3, 1}.Packed(), out), 0);
  EXPECT_EQ(Names(out), subBefore);
  ASSERT_EQ(log.folderNames().size(), 2u);
  EXPECT_EQ(log.folderNames()[1].name, "Inner");

  // Appending to a reopened store continues the numbering after the stored records,
  // so the new record is read back from its own position.
  auto extra = File("late.png");
  ASSERT_EQ(log.AppendRecord(extra), 0);
  EXPECT_EQ(extra.recordIndex, 6u);
  log.LinkChild(DirectoryKey{4, 2}.Packed(), extra.recordIndex);
  out.clear();
  ASSERT_EQ(log.ListFolder(DirectoryKey{4, 2}.Packed(), out), 0);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"late.png", "x.mp3"}));
}

TEST(ScanLog, KeyZeroListsTheSmallestKey) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.ListFolder(0, out), 0);
  EXPECT_TRUE(out.empty());
  // Linked deeper key first: order of linking must not matter.
  AddFile(log, DirectoryKey{9, 1}.Packed(), File("deep.txt"));
  AddFile(log, 5, File("top.txt"));
  ASSERT_EQ(log.ListFolder(0, out), 0);
  EXPECT_EQ(Names(out), std::vector<std::string>{"top.txt"});
  out.clear();
  ASSERT_EQ(log.ListFolder(77, out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(log.relations().count(77), 0u);  // listing never adds keys
}

TEST(ScanLog, BadPhotosAreHiddenFromListAndSearchButCounted) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  AddFile(log, kRoot, File("good.jpg", 1));
  AddFile(log, kRoot, File("bad.JPG", 0));
  AddFile(log, kRoot, File("bad.mp3", 0));      // not a photo: stays visible
  AddFile(log, kRoot, File("jpg", 0));          // no extension: stays visible
  AddFolder(log, kRoot, Folder("Dir.jpg", 3));  // folders are never filtered
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.ListFolder(0, out), 0);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"bad.mp3", "good.jpg", "jpg", "Dir.jpg"}));
  out.clear();
  ASSERT_EQ(log.SearchByExtension("*.jpg|*.mp3|", out), 1);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"bad.mp3", "good.jpg"}));
  int64_t count = 0;
  ASSERT_EQ(log.CountFilesUnder(0, count), 0);
  EXPECT_EQ(count, 4);
}

TEST(ScanLog, SearchIsASubstringMatchOfTheLowercasedExtension) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  AddFile(log, kRoot, File("song.MP3"));
  AddFile(log, kRoot, File("short.mp"));
  AddFile(log, kRoot, File("voice.wav"));
  AddFile(log, kRoot, File("noext"));
  AddFolder(log, kRoot, Folder("music.mp3", 3));
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.SearchByExtension("*.mp3|", out), 1);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"short.mp", "song.MP3"}));
}

int gCalls = 0;
std::vector<int> gPercents;
int Record(void*, int32_t percent, int32_t) {
  gPercents.push_back(percent);
  return 0;
}
int StopAtOnce(void* user, int32_t, int32_t) {
  ++gCalls;
  return *static_cast<int*>(user);
}

TEST(ScanLog, SearchReportsProgressPerBlockAndStopsWhenAsked) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  for (int i = 0; i < 450; ++i) AddFile(log, kRoot, File("p" + std::to_string(i) + ".png"));
  gPercents.clear();
  log.SetSearchCallback(Record, nullptr);
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.SearchByExtension("*.png|", out), 1);
  EXPECT_EQ(out.size(), 450u);
  // 450 records are three blocks: 200, 200 and 50 records.
  EXPECT_EQ(gPercents, (std::vector<int>{44, 88, 100}));

  int stop = kCancelled;
  gCalls = 0;
  log.SetSearchCallback(StopAtOnce, &stop);
  out.clear();
  EXPECT_EQ(log.SearchByExtension("*.png|", out), kCancelled);
  EXPECT_EQ(gCalls, 1);
  EXPECT_EQ(out.size(), 200u);
}

TEST(ScanLog, ListsFilesBeforeFoldersInCaseInsensitiveStableOrder) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  AddFolder(log, kRoot, Folder("alpha", 3));
  AddFile(log, kRoot, File("B.jpg"));
  AddFolder(log, kRoot, Folder("Zeta", 4));
  AddFile(log, kRoot, File("a.JPG"));
  auto first = File("same.txt", 1, 1);
  auto second = File("SAME.txt", 1, 2);
  AddFile(log, kRoot, first);
  AddFile(log, kRoot, second);
  AddFile(log, kRoot, File("_under.txt"));  // '_' (0x5F) sorts before lowercased letters, as _stricmp does
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.ListFolder(kRoot, out), 0);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"_under.txt", "a.JPG", "B.jpg", "same.txt", "SAME.txt",
                                                  "alpha", "Zeta"}));
  EXPECT_EQ(out[3].itemKey, 1u);  // equal names keep their linking order
  EXPECT_EQ(out[4].itemKey, 2u);
}

TEST(ScanLog, RelationTextIsWrittenByteForByte) {
  std::map<uint64_t, std::vector<uint32_t>> relations{{4294967299ULL, {3, 4}}, {2, {1, 2, 5}}};
  EXPECT_EQ(ScanLog::FormatRelations(relations), " | 2 - [1,2,5] | 4294967299 - [3,4]");

  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  AddFile(log, 2, File("one"));
  AddFile(log, 2, File("two"));
  AddFile(log, DirectoryKey{3, 1}.Packed(), File("three"));
  AddFile(log, DirectoryKey{3, 1}.Packed(), File("four"));
  AddFile(log, 2, File("five"));
  ASSERT_EQ(log.SaveIndex(), 0);
  EXPECT_EQ(ReadText(dir / "s_Relation"), " | 2 - [1,2,5] | 4294967299 - [3,4]");
  const auto parsed = ScanLog::ParseRelations(" | 2 - [1,2,5] | 4294967299 - [3,4]");
  EXPECT_EQ(parsed, relations);
}

TEST(ScanLog, ParserKeepsWhatParsesFromDamagedText) {
  using Map = std::map<uint64_t, std::vector<uint32_t>>;
  EXPECT_EQ(ScanLog::ParseRelations(""), Map{});
  EXPECT_EQ(ScanLog::ParseRelations(" | 2 - [1,2,5] | 7 - [3,x] | 9 - [4"), (Map{{2, {1, 2, 5}}}));
  EXPECT_EQ(ScanLog::ParseRelations(" | 2 - [1] | 2 - [8,9]"), (Map{{2, {8, 9}}}));
  EXPECT_EQ(ScanLog::ParseRelations(" | 99999999999999999999 - [1] | 3 - [4294967296] | 4 - [4294967295]"),
            (Map{{4, {4294967295u}}}));
  EXPECT_EQ(ScanLog::ParseRelations(" | 5 | 6 - [1]"), (Map{{6, {1}}}));
  EXPECT_EQ(ScanLog::ParseRelations(" | 6 - []"), (Map{{6, {}}}));
  EXPECT_EQ(ScanLog::ParseRelations(std::string(" | 1 - [2\0,3]", 13)), Map{});
  EXPECT_EQ(ScanLog::ParseRelations(" | "), Map{});
  EXPECT_EQ(ScanLog::ParseRelations(" | 1 - [2,"), Map{});
}

TEST(ScanLog, DamagedStoreOpensWithWhatIsIntact) {
  test::TempDir dir;
  {
    ScanLog log;
    ASSERT_EQ(log.Open("s", dir.path()), 0);
    BuildTree(log);
    ASSERT_EQ(log.Close(), 0);
  }
  // Tear the last record, point the index past the end, and cut the last folder name.
  fs::resize_file(dir / "s", 4 * 346 + 100);
  {
    std::ofstream rel(dir / "s_Relation", std::ios::binary | std::ios::trunc);
    rel << " | 2 - [1,2,77] | 4294967299 - [3,4] | 8589934596 - [5";
  }
  fs::resize_file(dir / "s_DirInfo", 268 + 100);
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  EXPECT_EQ(log.TotalRecords(), 4u);
  EXPECT_EQ(log.folderNames().size(), 1u);
  EXPECT_EQ(log.relations().count(DirectoryKey{4, 2}.Packed()), 0u);
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.ListFolder(0, out), 0);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"a.jpg", "Sub"}));
  int64_t count = 0;
  ASSERT_EQ(log.CountFilesUnder(0, count), 0);
  EXPECT_EQ(count, 2);
  // The torn tail is overwritten by the next record.
  auto r = File("new.txt");
  ASSERT_EQ(log.AppendRecord(r), 0);
  EXPECT_EQ(r.recordIndex, 5u);
  log.LinkChild(kRoot, r.recordIndex);
  ASSERT_EQ(log.Close(), 0);
  EXPECT_EQ(SizeOf(dir / "s"), 5u * 346u);
  // The rewritten index is shorter than the damaged text and leaves no stale tail behind.
  EXPECT_EQ(ReadText(dir / "s_Relation"), " | 2 - [1,2,77,5] | 4294967299 - [3,4]");
}

TEST(ScanLog, ItemPathWalksUpToTheRoot) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  BuildTree(log);
  auto inRoot = File("r.txt");
  AddFile(log, kRoot, inRoot);
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.ListFolder(DirectoryKey{4, 2}.Packed(), out), 0);
  ASSERT_EQ(out.size(), 1u);
  std::string path;
  ASSERT_EQ(log.GetItemPath(out[0], path), 0);
  EXPECT_EQ(path, "Sub/Inner/");
  ASSERT_EQ(log.GetItemPath(inRoot, path), 0);
  EXPECT_EQ(path, "");
  std::vector<FoundFileRecord> ancestors;
  ASSERT_EQ(log.GetAncestors(out[0], ancestors), 0);
  ASSERT_EQ(ancestors.size(), 2u);
  EXPECT_EQ(ancestors[0].recordIndex, 4u);
  EXPECT_EQ(ancestors[1].recordIndex, 2u);
}

TEST(ScanLog, ItemPathFindsUnnamedFolderInRecordsAndReportsMissingOnes) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  AddFile(log, kRoot, File("keep.txt"));
  // A folder linked without a name-table entry: found by scanning the records.
  auto folder = Folder("Plain", 3);
  AddFile(log, kRoot, folder);
  auto child = File("c.txt");
  AddFile(log, DirectoryKey{3, 1}.Packed(), child);
  std::string path;
  EXPECT_EQ(log.GetItemPath(child, path), 0);
  EXPECT_EQ(path, "Plain/");
  // A file whose parent folder exists nowhere.
  auto orphan = File("o.txt");
  AddFile(log, DirectoryKey{50, 1}.Packed(), orphan);
  EXPECT_EQ(log.GetItemPath(orphan, path), kErrInvalidParameter);
  EXPECT_EQ(path, "");
}

TEST(ScanLog, ItemPathPicksTheFolderAtTheRightDepthWhenAnIdRepeats) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  // Cluster 3 is folder X in the root and, reused, folder Y inside A.
  AddFolder(log, kRoot, Folder("X", 3));
  AddFolder(log, kRoot, Folder("A", 5));
  AddFolder(log, DirectoryKey{5, 1}.Packed(), Folder("Y", 3));
  auto inX = File("x.txt");
  AddFile(log, DirectoryKey{3, 1}.Packed(), inX);
  auto inY = File("y.txt");
  AddFile(log, DirectoryKey{3, 2}.Packed(), inY);
  std::string path;
  ASSERT_EQ(log.GetItemPath(inY, path), 0);
  EXPECT_EQ(path, "A/Y/");
  ASSERT_EQ(log.GetItemPath(inX, path), 0);
  EXPECT_EQ(path, "X/");
  // A folder added after a lookup is found by the next one.
  AddFolder(log, DirectoryKey{3, 2}.Packed(), Folder("Z", 9));
  auto inZ = File("z.txt");
  AddFile(log, DirectoryKey{9, 3}.Packed(), inZ);
  ASSERT_EQ(log.GetItemPath(inZ, path), 0);
  EXPECT_EQ(path, "A/Y/Z/");
}

TEST(ScanLog, AncestorLoopInDamagedIndexEnds) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  AddFile(log, 1, File("root-file"));
  // Folder A (id 7) lives in B (id 8) and B lives in A.
  auto a = Folder("A", 7);
  auto b = Folder("B", 8);
  ASSERT_EQ(log.AppendRecord(a), 0);
  ASSERT_EQ(log.AppendRecord(b), 0);
  log.LinkChild(DirectoryKey{8, 1}.Packed(), a.recordIndex, 7, "A");
  log.LinkChild(DirectoryKey{7, 1}.Packed(), b.recordIndex, 8, "B");
  auto f = File("f.txt");
  AddFile(log, DirectoryKey{7, 1}.Packed(), f);
  std::string path;
  log.GetItemPath(f, path);
  EXPECT_LE(path.size(), 4u);
  int64_t count = 0;
  ASSERT_EQ(log.CountFilesUnder(DirectoryKey{7, 1}.Packed(), count), 0);
  EXPECT_EQ(count, 1);
}

TEST(ScanLog, CountsFilesBreadthFirstThroughTheSubtree) {
  test::TempDir dir;
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  BuildTree(log);
  int64_t count = 0;
  ASSERT_EQ(log.CountFilesUnder(0, count), 0);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(log.CountFilesUnder(DirectoryKey{3, 1}.Packed(), count), 0);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(log.CountFilesUnder(12345, count), 0);
  EXPECT_EQ(count, 0);
}

TEST(ScanLog, RecordPositionsPassTheOld32BitLimit) {
  test::TempDir dir;
  const uint64_t existing = 7'000'000;  // beyond 6,206,524 records
  {
    int fd = ::open((dir / "big").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(existing * 346)), 0);  // sparse
    ::close(fd);
  }
  ScanLog log;
  ASSERT_EQ(log.Open("big", dir.path()), 0);
  auto r = File("far.jpg");
  ASSERT_EQ(log.AppendRecord(r), 0);
  EXPECT_EQ(r.recordIndex, existing + 1);
  log.LinkChild(kRoot, r.recordIndex);
  ASSERT_EQ(log.SaveIndex(), 0);
  EXPECT_EQ(SizeOf(dir / "big"), (existing + 1) * 346);
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(log.ListFolder(0, out), 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Name(), "far.jpg");
  EXPECT_EQ(out[0].recordIndex, existing + 1);
}

TEST(ScanLog, OpenRefusesBadNamesAndUncreatableFolders) {
  test::TempDir dir;
  ScanLog log;
  EXPECT_EQ(log.Open("../escape", dir.path()), kErrInvalidParameter);
  EXPECT_EQ(log.Open("", dir.path()), kErrInvalidParameter);
  test::WriteFile(dir / "plainfile", {1, 2, 3});
  EXPECT_NE(log.Open("s", dir / "plainfile" / "sub"), 0);
  EXPECT_FALSE(log.IsOpen());
  auto r = File("x");
  EXPECT_EQ(log.AppendRecord(r), kErrInvalidParameter);
  std::vector<FoundFileRecord> out;
  EXPECT_EQ(log.SearchByExtension("*.jpg|", out), 0);
}

TEST(ScanLog, LongFolderNamesAreCutToTheirField) {
  test::TempDir dir;
  std::string longName(300, 'n');
  {
    ScanLog log;
    ASSERT_EQ(log.Open("s", dir.path()), 0);
    AddFolder(log, kRoot, Folder(longName, 3));
    ASSERT_EQ(log.Close(), 0);
  }
  EXPECT_EQ(SizeOf(dir / "s_DirInfo"), 268u);
  ScanLog log;
  ASSERT_EQ(log.Open("s", dir.path()), 0);
  ASSERT_EQ(log.folderNames().size(), 1u);
  EXPECT_EQ(log.folderNames()[0].name, std::string(259, 'n'));
  EXPECT_EQ(log.folderNames()[0].folderId, 3u);
  EXPECT_EQ(log.folderNames()[0].recordNumber, 1u);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// Garbage and torn companions, generated from a fixed seed: every operation
// must return (any code) without reading outside what exists.
TEST(ScanLog, SurvivesRandomlyDamagedFiles) {
  test::TempDir dir;
  std::mt19937 random(20261207);
  const std::string pieces[] = {" | ", " - [", "]", ",", "4294967299", "2", "1", "x", "99999999999999999999", "0"};
  for (int round = 0; round < 150; ++round) {
    std::string relation;
    const int parts = static_cast<int>(random() % 40);
    for (int i = 0; i < parts; ++i) relation += pieces[random() % std::size(pieces)];
    {
      std::ofstream(dir / "s_Relation", std::ios::binary | std::ios::trunc) << relation;
    }
    std::vector<uint8_t> records(random() % (5 * 346));
    for (auto& b : records) b = static_cast<uint8_t>(random() % 4 == 0 ? random() : 0);
    test::WriteFile(dir / "s", records);
    std::vector<uint8_t> names(random() % (3 * 268));
    for (auto& b : names) b = static_cast<uint8_t>(random());
    test::WriteFile(dir / "s_DirInfo", names);

    ScanLog log;
    ASSERT_EQ(log.Open("s", dir.path()), 0);
    std::vector<FoundFileRecord> out;
    int64_t count = 0;
    for (const auto& [key, list] : log.relations()) {
      log.ListFolder(key, out);
      log.CountFilesUnder(key, count);
    }
    log.ListFolder(0, out);
    log.CountFilesUnder(0, count);
    for (const auto& r : out) {
      std::string path;
      log.GetItemPath(r, path);
    }
    std::vector<FoundFileRecord> found;
    EXPECT_EQ(log.SearchByExtension("*.jpg|", found), 1);
    log.Close();
  }
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// Saving replaces the index files whole (temporary file, then rename), so a
// crash mid-save cannot leave a torn index; nothing of the save stays behind,
// and a temporary left by a crash is never taken for a store.
TEST(ScanLogSave, ReplacesIndexFilesWholeAndLeavesNoTemporary) {
  test::TempDir dir;
  {
    ScanLog log;
    ASSERT_EQ(log.Open("Fast_0_2026127 9 5", dir.path()), 0);
    AddFolder(log, kRoot, Folder("DCIM", 7));
    AddFile(log, DirectoryKey{7, 1}.Packed(), File("a.jpg"));
    ASSERT_EQ(log.SaveIndex(), 0);
    AddFile(log, DirectoryKey{7, 1}.Packed(), File("b.jpg"));
    ASSERT_EQ(log.SaveIndex(), 0);
  }
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
  }
  EXPECT_EQ(ReadText(dir / "Fast_0_2026127 9 5_Relation"), " | 2 - [1] | 4294967303 - [2,3]");

  // What a crash during the next save would leave: a hidden partial temporary.
  std::ofstream(dir / ".Fast_0_2026127 9 5_Relation.tmp") << " | 2 - [9";
  std::string found;
  ASSERT_EQ(FindStoreByPrefix("Fast_", found, dir.path()), 1);
  EXPECT_EQ(found, "Fast_0_2026127 9 5");
  ScanLog reopened;
  ASSERT_EQ(reopened.Open(found, dir.path()), 0);
  std::vector<FoundFileRecord> children;
  ASSERT_EQ(reopened.ListFolder(DirectoryKey{7, 1}.Packed(), children), 0);
  EXPECT_EQ(Names(children), (std::vector<std::string>{"a.jpg", "b.jpg"}));
}

}  // namespace
}  // namespace kestrel
