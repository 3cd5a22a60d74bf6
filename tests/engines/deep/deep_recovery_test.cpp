#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "catalogue/categories.h"
#include "support/ntfs_record_builder.h"
#include "engines/deep/deep_recovery.h"
#include "platform/error_codes.h"
#include "engines/engine_factory.h"
#include "catalogue/scan_log_paths.h"
#include "support/signature_test_support.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

// Deep scans leave their stores in the newest scan folder; later tests in
// this process that open a store of the same name there would continue it.
struct LeaveAFreshScanFolder {
  ~LeaveAFreshScanFolder() { StartNewScanFolder(); }
};

struct Calls {
  int deepCalls = 0;
  int cancelAt = -1;  // the deep-pass call that answers kCancelled
  std::vector<int> percents;
  std::vector<uint64_t> totals;
  uint64_t lastDone = 0;
  uint64_t firstDone = UINT64_MAX;  // of the deep pass
};

int Record(void* user, int32_t progress, int32_t scale, int32_t, uint64_t done, uint64_t total, uint64_t,
           int32_t) {
  auto* calls = static_cast<Calls*>(user);
  calls->percents.push_back(int(int64_t(progress) * scale / 100));
  if (scale == 90) {
    calls->totals.push_back(total);
    calls->lastDone = done;
    if (calls->firstDone == UINT64_MAX) calls->firstDone = done;
    if (++calls->deepCalls == calls->cancelAt) return kCancelled;
  }
  return 0;
}

std::unique_ptr<IFileRecoveryParse> DeepEngine(const std::string& image) {
  return CreateEngineForImage(test::TestImage(image), 0, true);
}

// Every record the engine lists, folders walked from the root.
void ForEachListed(IFileRecoveryParse& engine, const std::function<void(const FoundFileRecord&)>& visit) {
  struct Folder {
    bool root;
    FoundFileRecord record;
    int32_t level;
  };
  std::deque<Folder> queue{{true, {}, 0}};
  int guard = 0;
  while (!queue.empty() && ++guard < 100000) {
    Folder folder = queue.front();
    queue.pop_front();
    std::vector<FoundFileRecord> children;
    engine.ListChildren(folder.root ? nullptr : &folder.record, folder.level, children);
    for (const FoundFileRecord& r : children) {
      visit(r);
      if (r.IsDirectory()) queue.push_back({false, r, folder.level + 1});
    }
  }
}

// Everything the engine lists, as comparable text.
std::multiset<std::string> FoundSet(IFileRecoveryParse& engine) {
  std::multiset<std::string> out;
  ForEachListed(engine, [&](const FoundFileRecord& r) {
    std::string path;
    engine.GetItemPath(&r, path);
    out.insert(std::to_string(r.engineKind) + "|" + path + "|" + std::string(r.Name()) + "|" +
               std::to_string(r.size) + "|" + std::to_string(r.entrySector) + "|" + std::to_string(r.itemKey) + "|" +
               std::to_string(r.contentValid) + "|" + std::to_string(r.partitionStart));
  });
  return out;
}

std::multiset<std::string> UninterruptedScan(const std::string& image) {
  auto engine = DeepEngine(image);
  Calls calls;
  engine->SetCallbacks(Record, nullptr, &calls, 100);
  EXPECT_EQ(engine->Scan(std::nullopt), 0);
  return FoundSet(*engine);
}

// Stops the deep pass at each of cancelPoints in turn (resuming after each),
// then lets it finish; the result must be what one whole scan finds.
void ExpectResumedScanFindsTheSame(const std::string& image, std::vector<int> cancelPoints) {
  std::multiset<std::string> whole = UninterruptedScan(image);
  ASSERT_GT(whole.size(), 10u);
  bool first = true;
  for (int point : cancelPoints) {
    auto engine = DeepEngine(image);
    auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
    ASSERT_NE(deep, nullptr);
    // The whole scan before recorded a finished scan: nothing to resume then.
    EXPECT_EQ(deep->HasResumableScan(), !first) << point;
    Calls calls;
    calls.cancelAt = point;
    engine->SetCallbacks(Record, nullptr, &calls, 100);
    ASSERT_EQ(engine->Scan(std::nullopt), kCancelled) << point;
    EXPECT_TRUE(deep->lastScanSaved());
    first = false;
  }
  auto engine = DeepEngine(image);
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  ASSERT_TRUE(deep->HasResumableScan());
  Calls calls;
  engine->SetCallbacks(Record, nullptr, &calls, 100);
  ASSERT_EQ(engine->Scan(std::nullopt), 0);
  // The resumed pass went on from where the last one stopped.
  EXPECT_EQ(calls.lastDone, deep->passTotal());
  std::multiset<std::string> resumed = FoundSet(*engine);
  EXPECT_EQ(resumed, whole);
}

TEST(DeepScanResume, WholeDiskInterruptedTwiceEndsWithTheSameFoundSet) {
  LeaveAFreshScanFolder fresh;
  // 800 blocks: stop inside the FAT volume, then inside the NTFS one.
  ExpectResumedScanFindsTheSame("deep-disk-mbr.img", {150, 500});
}

TEST(DeepScanResume, FormattedVolumeScannedOverFreeClustersResumesToTheSameSet) {
  LeaveAFreshScanFolder fresh;
  ExpectResumedScanFindsTheSame("deep-fat32-formatted.img", {40});
  ExpectResumedScanFindsTheSame("deep-ntfs-formatted.img", {20});
  // Files of a lost folder placed around the live files of a readable FAT
  // (their placement is part of what is compared): stopped before and after
  // the folder's sectors are met.
  ExpectResumedScanFindsTheSame("fat16-fragmented-folder.img", {1, 30});
}

// A scan killed outright (a crash, SIGKILL, a power cut): no cancel, no
// finish, nothing saved at the end. The child process dies in the progress
// call of the first block at or after `after` that found something, once the
// records of that block reached the disk (as a full write buffer puts them
// there) but before the point after it was saved.
struct KillPlan {
  CProfessionalRecovery* engine = nullptr;
  int after = 0;
  int calls = 0;
  uint64_t lastFound = 0;
};

int DieAfterAFind(void* user, int32_t, int32_t scale, int32_t, uint64_t, uint64_t, uint64_t found, int32_t) {
  auto* plan = static_cast<KillPlan*>(user);
  if (scale != 90) return 0;
  if (++plan->calls >= plan->after && found > plan->lastFound && plan->engine->checkpointsWritten() > 0) {
    for (ScanLog* log : {plan->engine->fatMember().log(), plan->engine->ntfsMember().log(), plan->engine->carver().log()}) {
      if (log) log->SaveIndex();
    }
    _exit(0);
  }
  plan->lastFound = found;
  return 0;
}

// Runs a scan in a child process that killScan sets up to die by _exit(0)
// (3 when the scan ended first), then resumes it here and expects what one
// whole scan finds.
void ExpectKilledScanResumesToTheSameSet(const std::string& image,
                                         const std::function<void(CProfessionalRecovery&)>& killScan) {
  // Unpacked before the fork: the child and the rerun must see one image path.
  std::multiset<std::string> whole = UninterruptedScan(image);
  ASSERT_GT(whole.size(), 10u);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto engine = DeepEngine(image);
    auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
    if (!deep) _exit(2);
    killScan(*deep);
    _exit(3);  // the scan ended before the kill
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << image << ": the scan was not killed";
  ScanHistory::Process().LoadHistory();  // what the killed process saved
  auto engine = DeepEngine(image);
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  ASSERT_NE(deep, nullptr);
  ASSERT_TRUE(deep->HasResumableScan()) << image;
  EXPECT_GT(deep->savedScan().resume.sectorsDone, 0u);
  Calls calls;
  engine->SetCallbacks(Record, nullptr, &calls, 100);
  ASSERT_EQ(engine->Scan(std::nullopt), 0);
  EXPECT_EQ(calls.lastDone, deep->passTotal());
  // The resumed pass began where the killed one had last saved its point.
  EXPECT_GE(calls.firstDone, deep->savedScan().resume.sectorsDone);
  EXPECT_EQ(FoundSet(*engine), whole) << image;
}

void ExpectKilledAfterAFindResumesToTheSameSet(const std::string& image, int after) {
  ExpectKilledScanResumesToTheSameSet(image, [after](CProfessionalRecovery& deep) {
    deep.SetCheckpointInterval(std::chrono::milliseconds(0));
    KillPlan plan{&deep, after};
    deep.SetCallbacks(DieAfterAFind, nullptr, &plan, 100);
    deep.Scan(std::nullopt);
  });
}

TEST(DeepScanResume, KilledScanResumesFromItsLastSavedPointToTheSameFoundSet) {
  LeaveAFreshScanFolder fresh;
  ExpectKilledAfterAFindResumesToTheSameSet("deep-disk-mbr.img", 150);  // inside the FAT volume
  ExpectKilledAfterAFindResumesToTheSameSet("deep-disk-mbr.img", 500);  // inside the NTFS volume
  ExpectKilledAfterAFindResumesToTheSameSet("deep-fat32-formatted.img", 10);  // its finds are all in the first calls
  ExpectKilledAfterAFindResumesToTheSameSet("deep-ntfs-formatted.img", 20);
}

// A slow start (a long fast pass, a slow disk) longer than the interval: the
// interval runs from the start of the scan, so the first point is due at the
// first block of the pass. The child dies at the first call after that save.
struct SlowStartThenKill {
  CProfessionalRecovery* engine = nullptr;
  bool slept = false;
  int blocks = 0;  // of the pass, told apart by the sectors done
  uint64_t lastDone = 0;
};

int SleepInTheFastPassThenDieAfterTheFirstPoint(void* user, int32_t, int32_t scale, int32_t, uint64_t done,
                                                uint64_t, uint64_t, int32_t) {
  auto* plan = static_cast<SlowStartThenKill*>(user);
  if (scale != 90) {
    if (!plan->slept) std::this_thread::sleep_for(std::chrono::milliseconds(400));
    plan->slept = true;
    return 0;
  }
  if (plan->engine->checkpointsWritten() > 0) _exit(0);
  if (done != plan->lastDone) ++plan->blocks;
  plan->lastDone = done;
  // Still no point a few blocks into the pass: it was timed from the pass, not the scan.
  if (plan->blocks > 3) _exit(4);
  return 0;
}

TEST(DeepScanResume, AKillRightAfterThePointDueFromTheScanStartResumesFromIt) {
  LeaveAFreshScanFolder fresh;
  ExpectKilledScanResumesToTheSameSet("deep-fat32-formatted.img", [](CProfessionalRecovery& deep) {
    deep.SetCheckpointInterval(std::chrono::milliseconds(300));
    SlowStartThenKill plan{&deep};
    deep.SetCallbacks(SleepInTheFastPassThenDieAfterTheFirstPoint, nullptr, &plan, 100);
    deep.Scan(std::nullopt);
  });
}

TEST(DeepScan, ProgressRunsFromTheFastPassThroughThePassToOneFinal100) {
  LeaveAFreshScanFolder fresh;
  auto engine = DeepEngine("deep-fat32-formatted.img");
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  Calls calls;
  engine->SetCallbacks(Record, nullptr, &calls, 100);
  ASSERT_EQ(engine->Scan(std::nullopt), 0);
  ASSERT_GE(calls.percents.size(), 3u);
  EXPECT_EQ(calls.percents.back(), 100);
  // Only free clusters were read: the fast engine mapped the used ones.
  EXPECT_TRUE(deep->passUsedFreeExtents());
  EXPECT_LT(deep->passTotal(), 34u * 2048);
  EXPECT_EQ(calls.lastDone, deep->passTotal());
  int previous = 0;
  for (size_t i = 0; i + 1 < calls.percents.size(); ++i) {
    EXPECT_GE(calls.percents[i], previous);
    EXPECT_LE(calls.percents[i], 99);
    previous = calls.percents[i];
  }
  for (uint64_t total : calls.totals) EXPECT_EQ(total, deep->passTotal());
}

TEST(DeepScan, UnrecognisedSourceIsScannedWholeWithoutAFastEngine) {
  LeaveAFreshScanFolder fresh;
  auto engine = DeepEngine("deep-fat32-noboot.img");
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->fastEngine(), nullptr);
  Calls calls;
  engine->SetCallbacks(Record, nullptr, &calls, 100);
  ASSERT_EQ(engine->Scan(std::nullopt), 0);
  EXPECT_FALSE(deep->passUsedFreeExtents());
  EXPECT_EQ(deep->passTotal(), 66u * 2048);
  for (const std::string& line : FoundSet(*engine)) {
    EXPECT_FALSE(line.starts_with("0|") || line.starts_with("1|")) << line;
  }
}

// Both formatted volumes' photos are carved again from the sectors their
// named records point at. Those copies are left out of the listing, the
// count and the search alike; on the FAT volume one photo stays carved: its
// entry lay in the root directory the format wiped.
TEST(DeepScan, AFileFoundByItsRecordAndByCarvingIsListedCountedAndSearchedOnce) {
  LeaveAFreshScanFolder fresh;
  for (auto [image, carvedOnly] : {std::pair{"deep-ntfs-formatted.img", 0u}, std::pair{"deep-fat32-formatted.img", 1u}}) {
    auto engine = DeepEngine(image);
    auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
    ASSERT_EQ(engine->Scan(std::nullopt), 0) << image;
    ASSERT_GT(deep->carver().GetFoundCount(), carvedOnly + 4) << image;  // the carver did find them again

    size_t files = 0, carvedListed = 0;
    ForEachListed(*engine, [&](const FoundFileRecord& r) {
      files += !r.IsDirectory();
      carvedListed += r.engineKind == uint32_t(EngineKind::kCarving);
    });
    EXPECT_EQ(carvedListed, carvedOnly) << image;
    int64_t counted = 0;
    ASSERT_EQ(engine->CountFiles(nullptr, 0, counted), 0);
    EXPECT_EQ(counted, int64_t(files)) << image;

    std::vector<FoundFileRecord> searched;
    ASSERT_EQ(engine->SearchByExtension("*.jpg|*.png|*.pdf|", searched), 1) << image;
    size_t carvedSearched = 0;
    for (const auto& r : searched) carvedSearched += r.engineKind == uint32_t(EngineKind::kCarving);
    EXPECT_EQ(carvedSearched, carvedOnly) << image;
  }
}

// A PNG of 5,000 bytes, whole by its chunk chain.
std::vector<uint8_t> Png5000() { return test::PngOfSize(5000); }

TEST(DeepScan, FilesAndRecordsAcrossBlockBoundariesAreFoundWhole) {
  LeaveAFreshScanFolder fresh;
  // No file system: the whole source is one range of 64 KiB blocks (128 sectors).
  std::vector<uint8_t> disk(1024 * 1024, 0);
  auto put = [&](uint64_t sector, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
  };
  // A PNG over the first block boundary (sectors 120-129) is taken whole;
  // the pass goes on right after it, in the next block, where another starts.
  put(120, Png5000());
  put(130, Png5000());
  // A file record that starts in the last sector of a block is read whole.
  put(255, test::MakeRecord(40, 1, "edge.txt", 5));
  test::TempDir dir;
  test::WriteFile(dir / "raw.img", disk);
  auto engine = CreateEngineForImage(dir / "raw.img", 0, true);
  ASSERT_NE(engine, nullptr);
  Calls calls;
  engine->SetCallbacks(Record, nullptr, &calls, 100);
  ASSERT_EQ(engine->Scan(std::nullopt), 0);
  EXPECT_EQ(calls.lastDone, 2048u);
  std::set<std::string> names;
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(engine->ListChildren(nullptr, 0, root), 0);
  for (const auto& r : root) {
    names.insert(std::string(r.Name()) + "@" + std::to_string(r.entrySector) + ":" + std::to_string(r.size));
  }
  EXPECT_EQ(names, (std::set<std::string>{"120.png@120:5000", "130.png@130:5000", "edge.txt@255:0"}));
}

TEST(DeepScan, RecoveringAFolderWritesItsWholeTree) {
  LeaveAFreshScanFolder fresh;
  for (const char* image : {"deep-fat32-noboot.img", "deep-ntfs-formatted.img"}) {
    auto engine = DeepEngine(image);
    ASSERT_EQ(engine->Scan(std::nullopt), 0);
    std::vector<FoundFileRecord> root;
    ASSERT_EQ(engine->ListChildren(nullptr, 0, root), 0);
    const FoundFileRecord* photos = nullptr;
    for (const auto& r : root) {
      if (r.IsDirectory() && r.Name() == "Photos") photos = &r;
    }
    ASSERT_NE(photos, nullptr) << image;
    test::TempDir out;
    std::filesystem::path destination = out.path() / "Photos";
    ASSERT_EQ(engine->RecoverItem(photos, destination, CountSeparators(out.path().string() + "/")), 0) << image;
    std::string sum = test::Sha256Hex(destination / "Summer holiday 2023" / "Notes" / "itinerary.txt");
    std::string lake = test::Sha256Hex(destination / "Summer holiday 2023" / "Family picnic by the lake.jpg");
    // The expected sums from the image's list.
    std::ifstream list(std::filesystem::path(KESTREL_TEST_DATA_DIR) / (std::string(image) + ".sha256"));
    std::map<std::string, std::string> expected;
    std::string line;
    while (std::getline(list, line)) {
      if (line.size() > 66) expected[line.substr(66)] = line.substr(0, 64);
    }
    EXPECT_EQ(sum, expected["Photos/Summer holiday 2023/Notes/itinerary.txt"]) << image;
    EXPECT_EQ(lake, expected["Photos/Summer holiday 2023/Family picnic by the lake.jpg"]) << image;
  }
}

// Previews of deep NTFS records go through the same stream reader as
// recovery: compressed units decompressed, holes as zeros, every extent of a
// $DATA continued in an extension record.
TEST(DeepScan, PreviewOfDeepNtfsRecordsGivesTheFileBytes) {
  LeaveAFreshScanFolder fresh;
  auto engine = DeepEngine("deep-ntfs-streams.img");
  ASSERT_EQ(engine->Scan(std::nullopt), 0);
  std::vector<FoundFileRecord> found;
  ASSERT_EQ(engine->SearchByExtension("*.txt|*.bin|", found), 1);
  std::map<std::string, std::string> expected;
  std::ifstream list(std::filesystem::path(KESTREL_TEST_DATA_DIR) / "deep-ntfs-streams.img.sha256");
  std::string line;
  while (std::getline(list, line)) {
    if (line.size() > 66) expected[std::filesystem::path(line.substr(66)).filename().string()] = line.substr(0, 64);
  }
  ASSERT_EQ(expected.size(), 4u);
  test::TempDir dir;
  size_t previewed = 0;
  for (const FoundFileRecord& r : found) {
    auto it = expected.find(std::string(r.Name()));
    if (r.engineKind != uint32_t(EngineKind::kDeepNtfs) || it == expected.end()) continue;
    std::vector<uint8_t> buffer;
    std::filesystem::path temp;
    uint32_t size = uint32_t(r.size);
    ASSERT_EQ(engine->ExtractPreview(&r, temp, buffer, size, nullptr, nullptr), 0) << r.Name();
    ASSERT_EQ(size, r.size) << r.Name();
    buffer.resize(size);
    test::WriteFile(dir / "preview", buffer);
    EXPECT_EQ(test::Sha256Hex(dir / "preview"), it->second) << r.Name();
    EXPECT_EQ(r.contentValid, 1u) << r.Name();
    ++previewed;
  }
  EXPECT_EQ(previewed, 4u);
}

}  // namespace
}  // namespace kestrel
