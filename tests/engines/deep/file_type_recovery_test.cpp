// The carving member: a pass over a card image made of real sample files
// finds each one by content, names it by its sector, sizes it, and recovers
// and previews its bytes exactly.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <thread>

#include "engines/deep/file_type_recovery.h"
#include "catalogue/scan_log_paths.h"
#include "support/signature_test_support.h"
#include "platform/error_codes.h"

namespace kestrel::test {
namespace {

struct Placed {
  std::string file;
  uint64_t sector;
  std::string extension;
};

// A card: sample files at sector starts, zeros between them (slack included).
std::vector<uint8_t> BuildCard(const std::vector<Placed>& files, uint64_t sectors, uint64_t shift = 0) {
  std::vector<uint8_t> card((sectors + shift) * 512, 0);
  for (const Placed& p : files) Put(card, (p.sector + shift) * 512, SampleFile(p.file));
  return card;
}

// What the deep pass does with the carving member: every sector in turn,
// skipping as far as the member's step says.
struct PassResult {
  uint64_t found = 0;
  std::map<uint64_t, uint64_t> stepAt;
};
PassResult RunPass(CFileTypeRecovery& engine, ImageSource& image, uint64_t sectors) {
  PassResult pass;
  SectorDevice reader;
  OpenImageFile(image.path(), reader);
  std::vector<uint8_t> sector(512);
  for (uint64_t s = 0; s < sectors;) {
    int32_t read = 0;
    if (ReadSectors(1, reader, sector.data(), s, 512, &read) != kSuccess) break;
    uint64_t step = 1;
    int answer = engine.CarveSector(512, sector.data(), 512, s, s, sectors, -1, reader, step, pass.found);
    if (answer == kSuccess) pass.stepAt[s] = step;
    s += step;
  }
  CloseDevice(reader);
  return pass;
}

std::map<std::string, FoundFileRecord> ByName(CFileTypeRecovery& engine) {
  std::vector<FoundFileRecord> listed;
  EXPECT_EQ(engine.ListChildren(nullptr, 0, listed), kSuccess);
  std::map<std::string, FoundFileRecord> out;
  for (const auto& r : listed) out.emplace(std::string(r.Name()), r);
  return out;
}

const std::vector<Placed> kCard = {
    {"exif.jpg", 4, "jpg"},    {"image.png", 20, "png"}, {"sound.wav", 30, "wav"}, {"clip.avi", 40, "avi"},
    {"song.mp3", 70, "mp3"},   {"image.gif", 80, "gif"}, {"tune.mid", 85, "mid"},  {"image.bmp", 90, "bmp"},
    {"noise.jpg", 100, "jpg"}, {"jfif.jpg", 300, "jpg"},
};
constexpr uint64_t kCardSectors = 320;

TEST(FileTypeRecovery, CarvesEverySampleOfACardBySectorNameAndExactSize) {
  ImageSource image(BuildCard(kCard, kCardSectors), false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 'K'), kSuccess);
  EXPECT_EQ(engine.GetFoundCount(), 0u);
  PassResult pass = RunPass(engine, image, kCardSectors);
  EXPECT_EQ(pass.found, kCard.size());
  EXPECT_EQ(engine.GetFoundCount(), kCard.size());
  std::map<std::string, FoundFileRecord> records = ByName(engine);
  ASSERT_EQ(records.size(), kCard.size());
  for (const Placed& p : kCard) {
    std::string name = std::to_string(p.sector) + "." + p.extension;
    SCOPED_TRACE(name);
    ASSERT_TRUE(records.count(name));
    const FoundFileRecord& r = records[name];
    EXPECT_EQ(r.size, SampleFile(p.file).size());
    EXPECT_EQ(r.entrySector, p.sector);
    EXPECT_EQ(r.engineKind, 4u);
    EXPECT_EQ(r.driveLetter, 'K');
    EXPECT_EQ(r.clusterBytes, -1);
    EXPECT_EQ(r.contentValid, 1u);
    EXPECT_EQ(r.isDirectory, 0u);
  }
  // Walked files are skipped whole; files sized from a header are not trusted to.
  EXPECT_EQ(pass.stepAt[100], (SampleFile("noise.jpg").size() + 511) / 512);
  EXPECT_EQ(pass.stepAt[30], 1u);
  EXPECT_EQ(pass.stepAt[90], 1u);
  int64_t count = -1;
  EXPECT_EQ(engine.CountFiles(nullptr, 0, count), kSuccess);
  EXPECT_EQ(count, static_cast<int64_t>(kCard.size()));
  std::vector<FoundFileRecord> none;
  EXPECT_EQ(engine.ListChildren(&records.begin()->second, 0, none), kSuccess);
  EXPECT_EQ(engine.ListChildren(nullptr, 1, none), kSuccess);
  EXPECT_TRUE(none.empty());
  std::vector<FoundFileRecord> photos;
  EXPECT_EQ(engine.SearchByExtension("*.jpg|", photos), 1);
  EXPECT_EQ(photos.size(), 3u);
}

// Every offset a pass reports must move by exactly the sectors put in front.
TEST(FileTypeRecovery, OffsetsMoveByExactlyTheSectorsPrepended) {
  constexpr uint64_t kShift = 65;
  ImageSource plain(BuildCard(kCard, kCardSectors), false);
  ImageSource shifted(BuildCard(kCard, kCardSectors, kShift), false);
  CFileTypeRecovery a, b;
  ASSERT_EQ(a.OpenImage(plain.path(), 0), kSuccess);
  ASSERT_EQ(b.OpenImage(shifted.path(), 0), kSuccess);
  PassResult passA = RunPass(a, plain, kCardSectors);
  PassResult passB = RunPass(b, shifted, kCardSectors + kShift);
  std::vector<FoundFileRecord> listA, listB;
  a.ListChildren(nullptr, 0, listA);
  b.ListChildren(nullptr, 0, listB);
  ASSERT_EQ(listA.size(), listB.size());
  ASSERT_FALSE(listA.empty());
  std::map<uint64_t, FoundFileRecord> bySectorB;
  for (const auto& r : listB) bySectorB[r.entrySector] = r;
  for (const auto& r : listA) {
    ASSERT_TRUE(bySectorB.count(r.entrySector + kShift)) << r.Name();
    const FoundFileRecord& moved = bySectorB[r.entrySector + kShift];
    EXPECT_EQ(moved.size, r.size) << r.Name();
    std::string name(r.Name());
    EXPECT_EQ(std::string(moved.Name()), std::to_string(r.entrySector + kShift) + name.substr(name.find('.')));
  }
  ASSERT_EQ(passA.stepAt.size(), passB.stepAt.size());
  for (const auto& [sector, step] : passA.stepAt) EXPECT_EQ(passB.stepAt[sector + kShift], step);
}

TEST(FileTypeRecovery, PngSizedAt5000BytesContinuesTenSectorsOn) {
  std::vector<uint8_t> card(1100 * 512, 0);
  Put(card, 1000 * 512, PngOfSize(5000));
  ImageSource image(card, false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 0), kSuccess);
  std::vector<uint8_t> sector = image.SectorCopy(1000);
  uint64_t step = 0, found = 7;
  ASSERT_EQ(engine.CarveSector(512, sector.data(), 512, 1000, 1000, 1100, -1, image.device(), step, found), kSuccess);
  EXPECT_EQ(step, 10u);
  EXPECT_EQ(found, 8u);
  std::map<std::string, FoundFileRecord> records = ByName(engine);
  ASSERT_TRUE(records.count("1000.png"));
  EXPECT_EQ(records["1000.png"].size, 5000u);
}

// A file whose own structure does not hold is sized by a guess; the whole-file
// check then decides: a cut archive fails it and is listed with that failure
// (its first sector is still its type's, so it is offered, not hidden; a whole
// one is sound), and a cut 7z (no guess to size it by) is not carved at all.
TEST(FileTypeRecovery, BrokenStructureIsListedAsDamagedOrNotCarved) {
  std::vector<uint8_t> zip = SampleFile("streamed.zip");
  std::vector<uint8_t> sevenZip = SampleFile("packed.7z");
  std::vector<uint8_t> card(64 * 512, 0);
  Put(card, 2 * 512, zip);
  Put(card, 10 * 512, std::vector<uint8_t>(zip.begin(), zip.begin() + 700));  // local headers only
  Put(card, 20 * 512, std::vector<uint8_t>(sevenZip.begin(), sevenZip.begin() + 900));
  Put(card, 30 * 512, SampleFile("jfif.jpg"));
  ImageSource image(card, false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 0), kSuccess);
  RunPass(engine, image, 64);
  std::map<std::string, FoundFileRecord> records = ByName(engine);
  ASSERT_TRUE(records.count("2.zip"));
  EXPECT_EQ(records["2.zip"].size, zip.size());
  EXPECT_TRUE(records["2.zip"].FirstBlockValid());
  EXPECT_NE(records["2.zip"].wholeFileCheck(), WholeFileCheck::kFailed);
  ASSERT_TRUE(records.count("10.zip"));
  EXPECT_TRUE(records["10.zip"].FirstBlockValid());
  EXPECT_EQ(records["10.zip"].wholeFileCheck(), WholeFileCheck::kFailed);
  EXPECT_LE(records["10.zip"].size, 20u * 512);  // the walk stops at the next file
  EXPECT_FALSE(records.count("20.7z"));
  EXPECT_TRUE(records.count("30.jpg"));
}

// Stores are named by the minute: a second scan of the same source in that
// minute must start with a store of its own, not continue the first one's.
TEST(FileTypeRecovery, TwoScansInOneMinuteKeepTheirOwnStores) {
  std::vector<uint8_t> card = BuildCard({{"image.png", 2, "png"}}, 64);
  ImageSource image(card, false);
  CFileTypeRecovery first;
  ASSERT_EQ(first.OpenImage(image.path(), 0), kSuccess);
  std::vector<uint8_t> sector = image.SectorCopy(2);
  uint64_t step = 0, found = 0;
  ASSERT_EQ(first.CarveSector(512, sector.data(), 512, 2, 2, 64, -1, image.device(), step, found), kSuccess);
  std::vector<FoundFileRecord> listed;
  ASSERT_EQ(first.ListChildren(nullptr, 0, listed), kSuccess);  // the first scan's results are saved
  ASSERT_EQ(listed.size(), 1u);
  CFileTypeRecovery second;
  ASSERT_EQ(second.OpenImage(image.path(), 0), kSuccess);
  listed.clear();
  ASSERT_EQ(second.ListChildren(nullptr, 0, listed), kSuccess);
  EXPECT_TRUE(listed.empty());
  ASSERT_EQ(second.CarveSector(512, sector.data(), 512, 2, 2, 64, -1, image.device(), step, found), kSuccess);
  listed.clear();
  ASSERT_EQ(second.ListChildren(nullptr, 0, listed), kSuccess);
  EXPECT_EQ(listed.size(), 1u);
}

TEST(FileTypeRecovery, BmpClaimingOneMiBIsRecordedSoAndThePassGoesOn) {
  std::vector<uint8_t> card(4096 * 512, 0);
  std::vector<uint8_t> bmp = SampleFile("image.bmp");
  PutLe32(bmp.data() + 2, 1 << 20);
  Put(card, 8 * 512, bmp);
  ImageSource image(card, false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 0), kSuccess);
  std::vector<uint8_t> sector = image.SectorCopy(8);
  uint64_t step = 0, found = 0;
  ASSERT_EQ(engine.CarveSector(512, sector.data(), 512, 8, 8, 4096, -1, image.device(), step, found), kSuccess);
  EXPECT_EQ(step, 1u);
  EXPECT_EQ(ByName(engine)["8.bmp"].size, 1u << 20);
  // Nothing recognised: 87, step 1, no record.
  std::vector<uint8_t> zeros(512, 0);
  EXPECT_EQ(engine.CarveSector(512, zeros.data(), 512, 9, 9, 4096, -1, image.device(), step, found),
            kErrInvalidParameter);
  EXPECT_EQ(step, 1u);
  EXPECT_EQ(engine.GetFoundCount(), 1u);
}

TEST(FileTypeRecovery, RecoversExactBytesIntoATruncatedFile) {
  ImageSource image(BuildCard(kCard, kCardSectors), false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 0), kSuccess);
  RunPass(engine, image, kCardSectors);
  std::map<std::string, FoundFileRecord> records = ByName(engine);
  TempDir out;
  struct Calls {
    std::vector<int32_t> percents;
    int lastError = -1;
  } calls;
  engine.SetCallbacks(nullptr,
                      [](void* user, int32_t percent, int32_t, int32_t error, const std::filesystem::path&) {
                        auto* c = static_cast<Calls*>(user);
                        c->percents.push_back(percent);
                        c->lastError = error;
                        return 0;
                      },
                      &calls, 100);
  for (const Placed& p : kCard) {
    std::string name = std::to_string(p.sector) + "." + p.extension;
    std::filesystem::path target = out / "photos" / name;
    // An older, longer file of the same name must not keep its tail.
    std::filesystem::create_directories(target.parent_path());
    WriteFile(target, std::vector<uint8_t>(200000, 'Z'));
    calls = {};
    ASSERT_EQ(engine.RecoverItem(&records[name], target, 0), kSuccess) << name;
    EXPECT_EQ(ReadFile(target), SampleFile(p.file)) << name;
    ASSERT_FALSE(calls.percents.empty());
    EXPECT_EQ(calls.percents.back(), 100);
    EXPECT_EQ(calls.lastError, 0);
  }
  EXPECT_EQ(engine.RecoverItem(nullptr, out / "x", 0), kErrInvalidParameter);
}

TEST(FileTypeRecovery, ReadFaultDuringRecoveryIsReportedOnce) {
  std::vector<uint8_t> card(64 * 512, 0);
  ImageSource image(card, false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 0), kSuccess);
  FoundFileRecord record;
  record.SetName("60.jpg");
  record.entrySector = 60;
  record.size = 10 * 512;  // runs past the image's end
  std::vector<int32_t> errors;
  engine.SetCallbacks(nullptr,
                      [](void* user, int32_t, int32_t, int32_t error, const std::filesystem::path&) {
                        static_cast<std::vector<int32_t>*>(user)->push_back(error);
                        return 0;
                      },
                      &errors, 100);
  TempDir out;
  EXPECT_EQ(engine.RecoverItem(&record, out / "60.jpg", 0), kErrReadFault);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back(), kErrReadFault);
}

TEST(FileTypeRecovery, PreviewOfPictureAndSoundLandsInTheirTemporaryFiles) {
  ImageSource image(BuildCard(kCard, kCardSectors), false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 0), kSuccess);
  RunPass(engine, image, kCardSectors);
  std::map<std::string, FoundFileRecord> records = ByName(engine);
  std::vector<uint8_t> buffer;
  uint32_t size = 1 << 20;
  std::filesystem::path temp;
  ASSERT_EQ(engine.ExtractPreview(&records["4.jpg"], temp, buffer, size, nullptr, nullptr), kSuccess);
  EXPECT_EQ(temp, ScanLogRoot() / "tmp.jpg");
  EXPECT_EQ(ReadFile(temp), SampleFile("exif.jpg"));
  EXPECT_EQ(size, 0u);
  // A shorter picture overwrites the longer one completely.
  ASSERT_EQ(engine.ExtractPreview(&records["80.gif"], temp, buffer, size, nullptr, nullptr), kSuccess);
  EXPECT_EQ(ReadFile(temp), SampleFile("image.gif"));
  ASSERT_EQ(engine.ExtractPreview(&records["30.wav"], temp, buffer, size, nullptr, nullptr), kSuccess);
  EXPECT_EQ(temp, ScanLogRoot() / "tmp.avi");
  EXPECT_EQ(ReadFile(temp), SampleFile("sound.wav"));
  // Other types come back in the caller's buffer, at most its size.
  FoundFileRecord other = records["4.jpg"];
  other.SetName("4.mmf");
  size = 1000;
  ASSERT_EQ(engine.ExtractPreview(&other, temp, buffer, size, nullptr, nullptr), kSuccess);
  EXPECT_EQ(size, 1000u);
  std::vector<uint8_t> expected = SampleFile("exif.jpg");
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 1000, buffer.begin()));
}

TEST(FileTypeRecovery, CancelWhileSizingStopsWithoutARecord) {
  std::vector<uint8_t> card(2000 * 512, 'x');
  Put(card, 0, "8BPS");
  ImageSource image(card, false);
  CFileTypeRecovery engine;
  ASSERT_EQ(engine.OpenImage(image.path(), 0), kSuccess);
  engine.SetCallbacks([](void*, int32_t, int32_t, int32_t, uint64_t, uint64_t, uint64_t, int32_t) { return kCancelled; },
                      nullptr, nullptr, 90);
  std::vector<uint8_t> sector = image.SectorCopy(0);
  uint64_t step = 9, found = 0;
  EXPECT_EQ(engine.CarveSector(512, sector.data(), 512, 0, 0, 2000, -1, image.device(), step, found), kCancelled);
  EXPECT_EQ(step, 1u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(engine.GetFoundCount(), 0u);
}

// Transport-stream extents belong to one engine: another engine carving
// another source at the same time finds its own stream at the same sectors.
TEST(FileTypeRecovery, TwoEnginesCarveAtOnceWithoutSharingStreamExtents) {
  std::vector<uint8_t> card(200 * 512, 0);
  for (size_t at = 5 * 512; at < 5 * 512 + 150 * 188; at += 188) {
    Put(card, at, std::vector<uint8_t>{0x47, 0x41, 0x00, 0x10});
    std::fill(card.begin() + at + 4, card.begin() + at + 188, 0x66);
  }
  ImageSource first(card, false), second(card, false);
  CFileTypeRecovery a, b, c, d;
  for (auto [engine, image] : {std::pair{&a, &first}, std::pair{&b, &second}, std::pair{&c, &first},
                               std::pair{&d, &second}}) {
    ASSERT_EQ(engine->OpenImage(image->path(), 0), kSuccess);
  }
  // One after the other: the second engine is not told the first one's stream.
  PassResult passA = RunPass(a, first, 200);
  PassResult passB = RunPass(b, second, 200);
  // At the same time, on two threads.
  PassResult passC, passD;
  std::thread tc([&] { passC = RunPass(c, first, 200); });
  std::thread td([&] { passD = RunPass(d, second, 200); });
  tc.join();
  td.join();
  for (CFileTypeRecovery* engine : {&a, &b, &c, &d}) {
    std::map<std::string, FoundFileRecord> records = ByName(*engine);
    ASSERT_TRUE(records.count("5.ts"));
    EXPECT_EQ(records["5.ts"].size, 150u * 188);
    ASSERT_EQ(engine->context().streamExtents.size(), 1u);
  }
  EXPECT_EQ(passA.found, passB.found);
  EXPECT_EQ(passC.found, passD.found);
  // The same engine passing over its source again does not carve the stream twice.
  PassResult again = RunPass(a, first, 200);
  EXPECT_EQ(again.stepAt.count(5), 0u);
}

}  // namespace
}  // namespace kestrel::test
