// The signature table's order, its first-byte dispatch, the size rules on
// built buffers and the content check.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "support/signature_test_support.h"
#include "platform/error_codes.h"

namespace kestrel::test {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TEST(SignatureTable, HasItsRowsInOrderWithCompoundDocumentsBeforeFla) {
  auto table = SignatureTable();
  ASSERT_EQ(table.size(), 90u);
  EXPECT_STREQ(table.front().extension, "mpeg");
  EXPECT_STREQ(table[83].extension, "ttf");
  std::map<std::string, size_t> position;
  for (size_t i = 0; i < table.size(); ++i) position.emplace(table[i].extension, i);
  // Rows added later stand after the original 84, so no earlier match changes.
  for (const char* added : {"heic", "m4a", "cr3", "orf", "flac", "ogg"}) EXPECT_GT(position[added], 83u) << added;
  for (const char* ole : {"doc", "xls", "ppt", "ole"}) EXPECT_LT(position[ole], position["fla"]) << ole;
  EXPECT_LT(position["gif"], position["bmp"]);
  EXPECT_LT(position["jpg"], position["png"]);
  EXPECT_LT(position["docx"], position["zip"]);
  for (const SignatureRow& row : table) EXPECT_NE(row.code, kTypeUnrecognised) << row.extension;
}

TEST(SignatureTable, CompoundDocumentIsNotTakenForFla) {
  ImageSource image(SampleFile("word.doc"));
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.extension, "doc");
  // The fla row keeps what starts D0 CF 11 E0 without the rest of the magic.
  std::vector<uint8_t> fla(4096, 0x41);
  Put(fla, 0, Bytes({0xD0, 0xCF, 0x11, 0xE0, 0, 0, 0, 0}));
  ImageSource flaImage(fla);
  result = IdentifyAt(flaImage, 0);
  EXPECT_EQ(result.extension, "fla");
  EXPECT_EQ(result.size, fla.size());
}

TEST(SignatureTable, SectorOfZerosIsNothing) {
  std::vector<uint8_t> zeros(512, 0);
  CarveContext context;
  int32_t code = 0;
  EXPECT_EQ(Identify(ByteView(zeros), context, code), nullptr);
  EXPECT_EQ(code, kTypeUnrecognised);
  IdentifyResult result;
  EXPECT_EQ(IdentifyAndSize(context, SignatureSource{}, ByteView(zeros), 5, CarveProgress{}, result),
            kErrInvalidParameter);
  EXPECT_EQ(result.code, kTypeUnrecognised);
  EXPECT_EQ(Identify(ByteView(), context, code), nullptr);
}

// Data that begins like each family, mutated at random, so that the dispatch
// is compared with the plain walk near every signature, not just on noise.
std::vector<std::vector<uint8_t>> SeedSectors() {
  std::vector<std::vector<uint8_t>> seeds;
  for (const char* name : {"exif.jpg", "jfif.jpg", "image.png", "image.gif", "image.bmp", "sound.wav", "clip.avi",
                           "song.mp3", "tune.mid", "doc.pdf", "archive.zip", "report.docx", "sheet.xlsx", "word.doc",
                           "program.exe", "library.dll"}) {
    std::vector<uint8_t> s = SampleFile(name);
    s.resize(512, 0);
    seeds.push_back(s);
  }
  auto seed = [&](std::vector<uint8_t> prefix, size_t at = 0) {
    std::vector<uint8_t> s(512, 0x5A);
    Put(s, at, prefix);
    seeds.push_back(s);
  };
  seed(Bytes({0, 0, 1, 0xBA, 0, 0, 1, 0xBB}));
  seed(Bytes({0, 0, 1, 0xB3, 0, 0, 1, 0xB8}));
  seed(Bytes({0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'}));
  seed(Bytes({0, 0, 0, 0x20, 'f', 't', 'y', 'p', '3', 'g', 'p', '4'}));
  seed(Bytes({0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'q', 't', ' ', ' '}));
  seed(Bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0, 0xAA, 0, 0x62, 0xCE, 0x6C}));
  seed(Bytes({'F', 'W', 'S', 5, 0, 0x10, 0, 0}));
  seed(Bytes({'C', 'W', 'S', 9, 0, 0x10, 0, 0}));
  seed(Bytes({'F', 'L', 'V', 1, 5, 0, 0, 0, 9}));
  seed(Bytes({0x1A, 0x45, 0xDF, 0xA3}));
  seed(Bytes({0, 0, 0, 0, 0x47, 0x40, 0, 0x10, 0, 0, 0xB0, 0x11, 0, 0, 0xC1, 0}));
  seed(Bytes({0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00}));
  seed(Bytes({'M', 'A', 'C', ' '}));
  seed(Bytes({'m', 'o', 'o', 'v'}));
  seed(Bytes({0xFF, 0xFD, 0xE4, 0}));
  seed(Bytes({'M', 'M', 'M', 'D'}));
  seed(Bytes({'8', 'B', 'P', 'S'}));
  seed(Bytes({'M', 'M', 0, 0x2A}));
  seed(Bytes({'I', 'I', 0x2A, 0}));
  seed(Bytes({0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0x68, 4, 0, 0, 22, 0, 0, 0}));
  seed(Bytes({0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 2, 3}));
  seed(Bytes({0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C}));
  seed(Bytes({'R', 'a', 'r', '!', 0x1A, 7, 0}));
  seed(Bytes({'M', 'S', 'C', 'F'}));
  seed(Bytes({0xFE, 0xEF, 0, 0}));
  seed(Bytes({'!', 'B', 'D', 'N', 0, 0, 0, 0, 'S', 'M'}));
  seed(Bytes({0xCF, 0xAD, 0x12, 0xFE}));
  seed(Bytes({'.', 'R', 'M', 'F'}));
  std::vector<uint8_t> ttf(512, 0x5A);
  Put(ttf, 0, Bytes({0, 1, 0, 0, 0, 1, 0, 16, 0, 1, 0, 1}));
  Put(ttf, 28, Bytes({0, 1, 0, 0}));
  seeds.push_back(ttf);
  std::vector<uint8_t> ts(512, 0x11);
  for (size_t at = 0; at < 512; at += 188) ts[at] = 0x47;
  seeds.push_back(ts);
  std::vector<uint8_t> sqlite(512, 0);
  Put(sqlite, 0, std::string("SQLite format 3") + '\0');
  seeds.push_back(sqlite);
  return seeds;
}

TEST(SignatureDispatch, AgreesWithTheInOrderWalkOfAllRows) {
  std::vector<std::vector<uint8_t>> seeds = SeedSectors();
  std::mt19937 random(42);
  std::set<int32_t> codesSeen;
  size_t compared = 0;
  // Every sector is judged twice on a real source, so that the recognisers
  // that read beyond the sector see the same bytes both times.
  std::vector<uint8_t> backing;
  for (const auto& s : seeds) backing.insert(backing.end(), s.begin(), s.end());
  ImageSource image(backing);
  auto compare = [&](const std::vector<uint8_t>& sector, uint64_t at) {
    CarveContext dispatched, walked;
    for (CarveContext* c : {&dispatched, &walked}) {
      c->source = image.source();
      c->currentSector = c->hitSector = at;
    }
    int32_t codeA = 0, codeB = 0;
    const SignatureRow* a = Identify(ByteView(sector), dispatched, codeA);
    const SignatureRow* b = IdentifyInTableOrder(ByteView(sector), walked, codeB);
    ASSERT_EQ(a, b) << "sector " << at << " first byte " << int(sector[0]);
    ASSERT_EQ(codeA, codeB);
    codesSeen.insert(codeA);
    ++compared;
  };
  for (size_t s = 0; s < seeds.size(); ++s) {
    compare(seeds[s], s);
    for (int round = 0; round < 300; ++round) {
      std::vector<uint8_t> mutated = seeds[s];
      int changes = 1 + static_cast<int>(random() % 3);
      for (int k = 0; k < changes; ++k) mutated[random() % 48] = static_cast<uint8_t>(random());
      if (round % 7 == 0) mutated[0] = static_cast<uint8_t>(random());
      compare(mutated, s);
    }
  }
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> noise(512);
    for (auto& b : noise) b = static_cast<uint8_t>(random());
    compare(noise, round % seeds.size());
  }
  // The seeds reached most of the families, so the comparison covered their rows.
  EXPECT_GE(codesSeen.size(), 40u);
  EXPECT_GT(compared, 30000u);
}

TEST(SignatureNames, NameIsTheHitSectorAndExtension) {
  std::vector<uint8_t> jpeg = SampleFile("jfif.jpg");
  std::vector<uint8_t> sector(jpeg.begin(), jpeg.begin() + 20);
  sector.resize(100, 0x44);
  Put(sector, 100, Bytes({0xFF, 0xD9}));
  sector.resize(512, 0);
  CarveContext context;
  IdentifyResult result;
  ASSERT_EQ(IdentifyAndSize(context, SignatureSource{}, ByteView(sector), 123456, CarveProgress{}, result), kSuccess);
  EXPECT_EQ(result.name, "123456.jpg");
  EXPECT_EQ(result.size, 102u);
}

// A PSD is sized by walking, which stops at the first sector of something else.
std::vector<uint8_t> PsdThenSector(const std::vector<uint8_t>& stopper, size_t at) {
  std::vector<uint8_t> device(at * 512, 'x');
  Put(device, 0, "8BPS");
  Put(device, at * 512, stopper);
  device.resize(at * 512 + 4096, 'x');
  return device;
}

TEST(SizeRuleWalk, EndsAtAnNtfsBootSector) {
  std::vector<uint8_t> boot(512, 0);
  Put(boot, 0, Bytes({0xEB, 0x52, 0x90}));
  Put(boot, 3, "NTFS    ");
  ImageSource image(PsdThenSector(boot, 10));
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.extension, "psd");
  EXPECT_EQ(result.size, 10u * 512);
}

TEST(SizeRuleWalk, EndsAtNtfsRecordsAndFatDirectorySectors) {
  std::vector<uint8_t> record(512, 0);
  Put(record, 0, "FILE0");
  EXPECT_EQ(IdentifyAt(*std::make_unique<ImageSource>(PsdThenSector(record, 7)), 0).size, 7u * 512);

  std::vector<uint8_t> directory(512, 0);
  Put(directory, 0, "PHOTO   JPG");
  directory[11] = 0x20;
  Put(directory, 32, Bytes({0xE5}));
  Put(directory, 33, "ACATION TXT");
  directory[32 + 11] = 0x20;
  EXPECT_EQ(IsStructureSector(ByteView(directory)), 1);
  EXPECT_EQ(IdentifyAt(*std::make_unique<ImageSource>(PsdThenSector(directory, 3)), 0).size, 3u * 512);

  // Text and repeated bytes are not directory entries.
  std::vector<uint8_t> text(512, 0);
  Put(text, 0, std::string(512, '3'));
  EXPECT_EQ(IsStructureSector(ByteView(text)), 0);
  Put(text, 0, std::string("The quick brown fox jumps over the lazy dog. ") + std::string(460, 'a'));
  EXPECT_EQ(IsStructureSector(ByteView(text)), 0);
}

TEST(SizeRuleWalk, ReachesTheSourceEndWithoutPassingIt) {
  // No boundary and no end marker: the PNG runs to the last byte of the source.
  std::vector<uint8_t> png = SampleFile("image.png");
  std::vector<uint8_t> device(png.begin(), png.end() - 12);  // IEND chunk lost
  device.resize(70001, 'q');
  ImageSource image(device);
  EXPECT_EQ(IdentifyAt(image, 0).size, 70001u);
}

TEST(SizeRuleWalk, ProgressCallbackCanCancel) {
  std::vector<uint8_t> device(200 * 1024, 'x');
  Put(device, 0, "8BPS");
  ImageSource image(device);
  CarveContext context;
  int calls = 0;
  context.user = &calls;
  context.progress = [](void* user, int32_t, int32_t, int32_t, uint64_t, uint64_t, uint64_t, int32_t) {
    return ++*static_cast<int*>(user) == 2 ? kCancelled : 0;
  };
  std::vector<uint8_t> first = image.SectorCopy(0);
  IdentifyResult result;
  EXPECT_EQ(IdentifyAndSize(context, image.source(), ByteView(first), 0, CarveProgress{0, 400, 0, -1}, result),
            kCancelled);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(result.size, 512u + 65536u);  // the first chunk was walked before the stop
}

TEST(SizeRuleHeader, BmpLengthIsCappedAt128MiB) {
  std::vector<uint8_t> header(512, 0);
  Put(header, 0, "BM");
  PutLe32(header.data() + 2, 200u << 20);
  PutLe32(header.data() + 14, 40);
  CarveContext context;
  IdentifyResult result;
  ASSERT_EQ(IdentifyAndSize(context, SignatureSource{}, ByteView(header), 0, CarveProgress{}, result), kSuccess);
  EXPECT_EQ(result.size, 128u << 20);
  // On a source that ends sooner, the size stops at its end.
  std::vector<uint8_t> device = header;
  device.resize(100000, 0x7F);
  ImageSource image(device);
  EXPECT_EQ(IdentifyAt(image, 0).size, 100000u);
}

TEST(SizeRuleHeader, AsfFileSizeFromTheFilePropertiesObject) {
  std::vector<uint8_t> header(512, 0);
  Put(header, 0, Bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0, 0xAA, 0, 0x62, 0xCE, 0x6C}));
  Put(header, 30, Bytes({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0, 0xC0, 0x0C, 0x20, 0x53, 0x65}));
  PutLe64(header.data() + 30 + 40, 123457);
  CarveContext context;
  IdentifyResult result;
  ASSERT_EQ(IdentifyAndSize(context, SignatureSource{}, ByteView(header), 0, CarveProgress{}, result), kSuccess);
  EXPECT_EQ(result.extension, "wmv");
  EXPECT_EQ(result.size, 123457u);
  header[30 + 88] = 1;  // broadcast: no size to trust
  ASSERT_EQ(IdentifyAndSize(context, SignatureSource{}, ByteView(header), 0, CarveProgress{}, result), kSuccess);
  EXPECT_EQ(result.size, 512u);
}

TEST(SizeRuleHeader, IconEndsAfterItsLastImage) {
  std::vector<uint8_t> ico(512, 0);
  Put(ico, 0, Bytes({0, 0, 1, 0, 2, 0}));
  // Two images: 1000 bytes at 38, 600 bytes at 1038.
  Put(ico, 6, Bytes({16, 16, 0, 0, 1, 0, 32, 0}));
  PutLe32(ico.data() + 14, 1000);
  PutLe32(ico.data() + 18, 38);
  Put(ico, 22, Bytes({32, 32, 0, 0, 1, 0, 32, 0}));
  PutLe32(ico.data() + 30, 600);
  PutLe32(ico.data() + 34, 1038);
  CarveContext context;
  IdentifyResult result;
  ASSERT_EQ(IdentifyAndSize(context, SignatureSource{}, ByteView(ico), 0, CarveProgress{}, result), kSuccess);
  EXPECT_EQ(result.extension, "ico");
  EXPECT_EQ(result.size, 1638u);
  PutLe32(ico.data() + 34, 1037);  // offsets that do not follow on: not an icon
  int32_t code = 0;
  EXPECT_EQ(Identify(ByteView(ico), context, code), nullptr);
}

TEST(SizeRuleStream, TransportStreamFollowsItsPacketsAndIsNotFoundTwice) {
  // 100 packets from sector 0, then other data.
  std::vector<uint8_t> device(100 * 188, 0x10);
  for (size_t at = 0; at < device.size(); at += 188) Put(device, at, Bytes({0x47, 0x40, 0x11, 0x10}));
  device.resize(device.size() + 4096, 0x99);
  ImageSource image(device);
  std::vector<uint8_t> first = image.SectorCopy(0);
  std::vector<uint8_t> zeros(512, 0);
  CarveContext context;
  IdentifyResult result;
  ASSERT_EQ(IdentifyAndSize(context, image.source(), ByteView(first), 0, CarveProgress{}, result), kSuccess);
  EXPECT_EQ(result.extension, "ts");
  EXPECT_EQ(result.size, 100u * 188);
  ASSERT_EQ(context.streamExtents.size(), 1u);
  EXPECT_EQ(context.streamExtents[0], std::make_pair(uint64_t{0}, uint64_t{36}));
  // A second pass of the same engine over the stream does not carve it again.
  EXPECT_EQ(IdentifyAndSize(context, image.source(), ByteView(first), 0, CarveProgress{}, result),
            kErrInvalidParameter);
  // Another engine keeps its own extents: in the middle of its pass the same
  // sector is a stream start.
  CarveContext other;
  IdentifyAndSize(other, image.source(), ByteView(zeros), 99, CarveProgress{}, result);
  ASSERT_TRUE(other.carvingInProgress);
  EXPECT_EQ(IdentifyAndSize(other, image.source(), ByteView(first), 0, CarveProgress{}, result), kSuccess);
  EXPECT_EQ(result.size, 100u * 188);
}

TEST(SizeRuleMpeg, ProgramStreamEndsAtItsCleanEndCode) {
  std::vector<uint8_t> device(3000, 0x21);
  Put(device, 0, Bytes({0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8, 0, 0, 1, 0xBB}));
  // A second pack header later does not end the file.
  Put(device, 1024, Bytes({0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8, 0, 0, 1, 0xBB}));
  Put(device, 2000, Bytes({0, 0, 1, 0xB9}));
  std::fill(device.begin() + 2004, device.begin() + 2048, 0);
  ImageSource image(device);
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.extension, "mpeg");
  EXPECT_EQ(result.size, 2004u);
}

TEST(OoxmlRecogniser, FirstEntryNameDecides) {
  for (auto [entry, extension] : {std::pair{"word/document.xml", "docx"}, std::pair{"xl/workbook.xml", "xlsx"},
                                  std::pair{"ppt/presentation.xml", "pptx"}, std::pair{"misc/readme.txt", "zip"}}) {
    std::vector<uint8_t> zip(512, 0);
    Put(zip, 0, Bytes({'P', 'K', 3, 4, 20, 0}));
    std::string name = entry;
    PutLe16(zip.data() + 26, static_cast<uint16_t>(name.size()));
    Put(zip, 30, name);
    Put(zip, 30 + name.size(), std::string(60, 'z'));
    CarveContext context;
    IdentifyResult result;
    IdentifyAndSize(context, SignatureSource{}, ByteView(zip), 0, CarveProgress{}, result);
    EXPECT_EQ(result.extension, std::string(extension)) << entry;
    EXPECT_TRUE(result.damaged) << entry;  // a local header and no central directory
  }
}

TEST(CheckFirstSector, FitsOnlyTheTypeItsExtensionNames) {
  std::vector<uint8_t> jpeg = SampleFile("exif.jpg");
  std::vector<uint8_t> png = SampleFile("image.png");
  SignatureSource none;
  SignatureScratch scratch;
  ByteView jpegView(jpeg.data(), 512), pngView(png.data(), 512);
  EXPECT_EQ(CheckFirstSector(jpegView, "jpg", none, 0, scratch), 1);
  EXPECT_EQ(CheckFirstSector(jpegView, "JPG", none, 0, scratch), 1);  // FAT short names are upper case
  EXPECT_EQ(CheckFirstSector(jpegView, "jfif", none, 0, scratch), 1);
  EXPECT_EQ(CheckFirstSector(jpegView, "png", none, 0, scratch), 0);
  EXPECT_EQ(CheckFirstSector(pngView, "png", none, 0), 1);
  EXPECT_EQ(CheckFirstSector(pngView, "xyz", none, 0), 1);  // no check for unknown types
  EXPECT_EQ(CheckFirstSector(pngView, "", none, 0), 1);
  EXPECT_EQ(CheckFirstSector(ByteView(), "png", none, 0), 0);  // no data cannot fit
  std::vector<uint8_t> zeros(512, 0);
  EXPECT_EQ(CheckFirstSector(ByteView(zeros), "mp3", none, 0), 0);
  // Compound documents: the check of a doc reads on through the source.
  ImageSource word(SampleFile("word.doc"));
  std::vector<uint8_t> first = word.SectorCopy(0);
  EXPECT_EQ(CheckFirstSector(ByteView(first), "doc", word.source(), 0, scratch), 1);
  EXPECT_EQ(CheckFirstSector(ByteView(first), "docx", word.source(), 0, scratch), 0);
}

}  // namespace
}  // namespace kestrel::test
