// Size rules that follow each format's own structure: every sample comes out
// at its exact length whatever follows it, cut copies never take the next
// file, and hand-built buffers cover what no sample tool here writes (RAR,
// ZIP64, 64-bit box sizes, AVIX chains, open-ended Matroska segments, MTS).
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "support/signature_test_support.h"
#include "platform/error_codes.h"

namespace kestrel::test {
namespace {

// Every sample with a structural size rule.
const char* const kSized[] = {
    "exif.jpg",    "jfif.jpg",     "noise.jpg",   "raw.jpg",     "camera.jpg",   "progressive.jpg", "restart.jpg",
    "image.png",   "image.gif",    "gray.tif",    "pages.tif",   "tiled.tif",    "still.heic",      "clip.avi",
    "song.mp3",    "tune.mid",     "clip.mp4",    "clip.mov",    "clip.3gp",     "voice.m4a",       "clip.mkv",
    "clip.webm",   "tone.flac",    "tone.ogg",    "doc.pdf",     "gs.pdf",       "linear.pdf",      "updated.pdf",
    "archive.zip", "streamed.zip", "report.docx", "sheet.xlsx",  "word.doc",     "book.xls",        "gsf.doc",
    "packed.7z",   "notes.txt.gz", "members.gz",  "program.exe", "library.dll",
};

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::vector<uint8_t> Text(size_t count) {
  const std::string line = "Minutes of the meeting: the budget for next year was agreed. %%EOF is not here.\n";
  std::vector<uint8_t> out;
  while (out.size() < count) out.insert(out.end(), line.begin(), line.end());
  out.resize(count);
  return out;
}

size_t SectorAfter(size_t bytes) { return (bytes + 511) / 512 * 512; }

// 65 sectors before the file: an odd start, so no read of the rules lines up
// with the 64 KiB windows of the pass.
constexpr uint64_t kHit = 65;

TEST(StructureSizes, EverySampleEndsAtItsOwnLengthWhateverFollows) {
  for (const char* name : kSized) {
    std::vector<uint8_t> file = SampleFile(name);
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> tails = {
        {"zero slack, then a PNG", {}},
        {"random bytes", RandomBytes(1500 + file.size() % 700, 9)},
        {"text", Text(1200)},
    };
    for (const auto& [what, tail] : tails) {
      SCOPED_TRACE(std::string(name) + " followed by " + what);
      std::vector<uint8_t> device(kHit * 512, 0);
      Put(device, device.size(), file);
      Put(device, device.size(), tail);
      device.resize(SectorAfter(device.size()), 0);
      Put(device, device.size(), SampleFile("image.png"));
      ImageSource image(device);
      int answer = 0;
      IdentifyResult result = IdentifyAt(image, kHit, &answer);
      EXPECT_EQ(answer, kSuccess);
      EXPECT_EQ(result.size, file.size());
      EXPECT_FALSE(result.damaged);
    }
  }
}

// Formats whose own checks (CRCs, a closing directory, a chain that must land
// on its end) catch a copy cut short, whatever follows it.
bool ChecksItsOwnBytes(std::string_view name) {
  for (std::string_view kind : {".jpg", ".png", ".gif", ".zip", ".docx", ".xlsx", ".7z", ".gz", ".flac", ".ogg",
                                ".pdf", ".mkv", ".webm"}) {
    if (name.ends_with(kind)) return true;
  }
  return false;
}

// A copy cut short, with another file in the next sector: the size never runs
// into that file (but for AVI, sized by its header field alone, which the
// pass does not trust: it goes on with the next sector), and formats that
// check their own bytes flag the copy instead of passing it off as whole.
TEST(StructureSizes, CutCopiesNeverTakeTheNextFile) {
  std::mt19937 random(21);
  for (const char* name : kSized) {
    std::vector<uint8_t> file = SampleFile(name);
    // Cut before the sector that holds the last byte, so that what the
    // original claimed reaches into the next file.
    const size_t lastSector = (file.size() - 1) / 512 * 512;
    if (lastSector <= 512) continue;
    for (int round = 0; round < 6; ++round) {
      size_t cut = 512 + random() % (lastSector - 512);
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
      std::vector<uint8_t> device(file.begin(), file.begin() + static_cast<ptrdiff_t>(cut));
      device.resize(SectorAfter(device.size()), 0);
      size_t next = device.size();
      Put(device, next, SampleFile("jfif.jpg"));
      ImageSource image(device);
      int answer = 0;
      IdentifyResult result = IdentifyAt(image, 0, &answer);
      if (answer != kSuccess) continue;  // dropped: nothing to recover
      if (result.extension != "avi") EXPECT_LE(result.size, next);
      if (ChecksItsOwnBytes(name)) EXPECT_TRUE(result.damaged);
    }
  }
}

// ---- hand-built structures ----

std::vector<uint8_t> Le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
std::vector<uint8_t> Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
std::vector<uint8_t> Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }
void Append(std::vector<uint8_t>& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }
uint32_t Crc32(const std::vector<uint8_t>& bytes, size_t from = 0) {
  return static_cast<uint32_t>(crc32(0, bytes.data() + from, static_cast<uInt>(bytes.size() - from)));
}

// Sizes file alone and followed by random bytes; returns both answers.
std::pair<IdentifyResult, IdentifyResult> SizeAloneAndFollowed(const std::vector<uint8_t>& file) {
  ImageSource alone(file);
  std::vector<uint8_t> followed = file;
  Append(followed, RandomBytes(3000, 4));
  ImageSource then(followed);
  return {IdentifyAt(alone, 0), IdentifyAt(then, 0)};
}

std::vector<uint8_t> Rar4Block(uint8_t type, uint16_t flags, std::vector<uint8_t> fields) {
  std::vector<uint8_t> header = {0, 0, type};
  Append(header, Le16(flags));
  Append(header, Le16(static_cast<uint16_t>(7 + fields.size())));
  Append(header, fields);
  uint16_t crc = static_cast<uint16_t>(Crc32(header, 2));
  header[0] = uint8_t(crc);
  header[1] = uint8_t(crc >> 8);
  return header;
}

TEST(StructureSizes, RarBlockChainsEndAtTheEndOfArchiveBlock) {
  // RAR 4: marker, main header, one stored file, end of archive.
  std::vector<uint8_t> rar4 = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  Append(rar4, Rar4Block(0x73, 0, std::vector<uint8_t>(6, 0)));
  std::vector<uint8_t> data = RandomBytes(2000, 1);
  std::vector<uint8_t> fields;
  Append(fields, Le32(2000));                           // packed size
  Append(fields, Le32(2000));                           // unpacked size
  Append(fields, {0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0x30});  // host, CRC, time, version, method
  Append(fields, Le16(5));
  Append(fields, Le32(0x20));
  Append(fields, "a.bin");
  Append(rar4, Rar4Block(0x74, 0x8000, fields));
  Append(rar4, data);
  Append(rar4, Rar4Block(0x7B, 0x4000, {}));
  auto [alone, followed] = SizeAloneAndFollowed(rar4);
  EXPECT_EQ(alone.size, rar4.size());
  EXPECT_EQ(followed.size, rar4.size());

  // RAR 5: the same as CRC-32-checked headers with variable-length fields.
  auto block = [](std::vector<uint8_t> header) {
    std::vector<uint8_t> sized = {static_cast<uint8_t>(header.size())};
    Append(sized, header);
    std::vector<uint8_t> out = Le32(Crc32(sized));
    Append(out, sized);
    return out;
  };
  std::vector<uint8_t> rar5 = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
  Append(rar5, block({1, 0, 0}));                     // main: type 1, flags 0, archive flags 0
  Append(rar5, block({2, 2, 0x90, 0x03, 0, 0, 0}));   // file: type 2, a data area of 400 bytes
  Append(rar5, RandomBytes(400, 2));
  Append(rar5, block({5, 0, 0}));                     // end of archive
  auto [alone5, followed5] = SizeAloneAndFollowed(rar5);
  EXPECT_EQ(alone5.size, rar5.size());
  EXPECT_EQ(followed5.size, rar5.size());

  // A header whose CRC fails is not an archive to carve (size 0: the carver drops it).
  std::vector<uint8_t> broken = rar5;
  broken[12] ^= 0xFF;
  ImageSource image(broken);
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.extension, "rar");
  EXPECT_TRUE(result.damaged);
  EXPECT_EQ(result.size, 0u);
}

TEST(StructureSizes, SevenZipNeedsBothHeaderChecksums) {
  std::vector<uint8_t> file = SampleFile("packed.7z");
  std::vector<uint8_t> badNextHeader = file;
  badNextHeader.back() ^= 0x55;  // inside the next header, which its CRC covers
  std::vector<uint8_t> badStart = file;
  badStart[14] ^= 0x01;          // the next-header offset, under the start header's CRC
  for (const auto& bytes : {badNextHeader, badStart}) {
    std::vector<uint8_t> device = bytes;
    Append(device, RandomBytes(2048, 3));
    ImageSource image(device);
    IdentifyResult result = IdentifyAt(image, 0);
    EXPECT_EQ(result.extension, "7z");
    EXPECT_TRUE(result.damaged);
    EXPECT_EQ(result.size, 0u);
  }
}

TEST(StructureSizes, Zip64EndRecordsAndCommentsAreCounted) {
  // One stored entry whose sizes live in a ZIP64 extra field, ZIP64 end
  // record and locator, then the end record with a comment.
  std::vector<uint8_t> zip;
  std::vector<uint8_t> data = RandomBytes(700, 5);
  Append(zip, {'P', 'K', 3, 4, 45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Append(zip, Le32(0xFFFFFFFF));
  Append(zip, Le32(0xFFFFFFFF));
  Append(zip, Le16(5));
  Append(zip, Le16(20));
  Append(zip, "a.bin");
  Append(zip, Le16(1));
  Append(zip, Le16(16));
  Append(zip, {0xBC, 2, 0, 0, 0, 0, 0, 0, 0xBC, 2, 0, 0, 0, 0, 0, 0});
  Append(zip, data);
  size_t central = zip.size();
  Append(zip, {'P', 'K', 1, 2, 45, 0, 45, 0});
  Append(zip, std::vector<uint8_t>(20, 0));
  Append(zip, Le16(5));
  Append(zip, std::vector<uint8_t>(16, 0));
  Append(zip, "a.bin");
  size_t end64 = zip.size();
  Append(zip, {'P', 'K', 6, 6});
  Append(zip, {44, 0, 0, 0, 0, 0, 0, 0});
  Append(zip, std::vector<uint8_t>(44, 0));
  Append(zip, {'P', 'K', 6, 7, 0, 0, 0, 0});
  Append(zip, {uint8_t(end64), uint8_t(end64 >> 8), 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
  Append(zip, {'P', 'K', 5, 6, 0, 0, 0, 0, 1, 0, 1, 0});
  Append(zip, Le32(static_cast<uint32_t>(end64 - central)));
  Append(zip, Le32(0xFFFFFFFF));
  Append(zip, Le16(11));
  Append(zip, "hello world");
  auto [alone, followed] = SizeAloneAndFollowed(zip);
  EXPECT_EQ(alone.size, zip.size());
  EXPECT_EQ(followed.size, zip.size());
  EXPECT_FALSE(followed.damaged);
}

TEST(StructureSizes, IsoBoxesWithLargeSizesAndAviExtensionChains) {
  // ftyp, a moov, and an mdat whose size is given in the 64-bit field.
  std::vector<uint8_t> mp4 = Be32(20);
  Append(mp4, "ftypisom");
  Append(mp4, Be32(0x200));
  Append(mp4, "isom");
  Append(mp4, Be32(16));
  Append(mp4, "moov");
  Append(mp4, std::vector<uint8_t>(8, 0));
  Append(mp4, Be32(1));
  Append(mp4, "mdat");
  Append(mp4, {0, 0, 0, 0, 0, 0, 0x0B, 0xB8});  // 3,000 bytes with the header
  Append(mp4, RandomBytes(3000 - 16, 6));
  auto [alone, followed] = SizeAloneAndFollowed(mp4);
  EXPECT_EQ(alone.size, mp4.size());
  EXPECT_EQ(followed.size, mp4.size());

  // An AVI over 1 GiB goes on in RIFF AVIX chunks; they belong to the file.
  std::vector<uint8_t> avi = SampleFile("clip.avi");
  size_t first = avi.size();
  for (int part = 0; part < 2; ++part) {
    Append(avi, "RIFF");
    Append(avi, Le32(4 + 1000));
    Append(avi, "AVIX");
    Append(avi, RandomBytes(1000, 7 + part));
  }
  ImageSource image(avi);
  EXPECT_EQ(IdentifyAt(image, 0).size, avi.size());
  EXPECT_GT(avi.size(), first);
}

TEST(StructureSizes, MatroskaSegmentOfUnknownSizeEndsAfterItsLastChild) {
  std::vector<uint8_t> file = SampleFile("clip.mkv");
  // Find the segment's size field (after the EBML header) and make it "unknown".
  size_t header = 4 + 1 + (file[4] & 0x7F);
  ASSERT_EQ(file[header], 0x18);
  size_t sizeAt = header + 4;
  int length = 1;
  while (!(file[sizeAt] & (0x80 >> (length - 1)))) ++length;
  file[sizeAt] = static_cast<uint8_t>(0xFF >> (length - 1));
  for (int i = 1; i < length; ++i) file[sizeAt + i] = 0xFF;
  auto [alone, followed] = SizeAloneAndFollowed(file);
  EXPECT_EQ(alone.size, file.size());
  EXPECT_EQ(followed.size, file.size());
}

TEST(StructureSizes, MtsPacketsEndWhereTheirSyncBytesStop) {
  std::vector<uint8_t> mts;
  for (int packet = 0; packet < 40; ++packet) {
    std::vector<uint8_t> p = RandomBytes(192, 10 + packet);
    p[0] = p[1] = p[2] = p[3] = 0;
    p[4] = 0x47;
    if (packet == 0) Put(p, 5, std::vector<uint8_t>{0x40, 0x00, 0x10, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00});
    Append(mts, p);
  }
  std::vector<uint8_t> device = mts;
  Append(device, Text(2000));
  ImageSource image(device);
  IdentifyResult result = IdentifyAt(image, 0);
  EXPECT_EQ(result.extension, "mts");
  EXPECT_EQ(result.size, mts.size());
}

// The JPEG walk skips an EXIF block whole, so the thumbnail's own FF D9 does
// not end the picture even when zeros follow it to the end of its sector.
TEST(StructureSizes, JpegThumbnailEndInsideApp1IsSkipped) {
  std::vector<uint8_t> jpeg = SampleFile("exif.jpg");
  size_t app1 = (size_t{jpeg[4]} << 8) | jpeg[5];
  // The thumbnail's FF D9 ends the APP1 segment: pad it to a sector end with zeros.
  ASSERT_EQ(jpeg[4 + app1 - 2], 0xFF);
  ASSERT_EQ(jpeg[4 + app1 - 1], 0xD9);
  size_t pad = SectorAfter(4 + app1) - (4 + app1);
  std::vector<uint8_t> padded(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(4 + app1));
  padded.resize(padded.size() + pad, 0);
  padded.insert(padded.end(), jpeg.begin() + static_cast<ptrdiff_t>(4 + app1), jpeg.end());
  uint16_t grown = static_cast<uint16_t>(app1 + pad);
  padded[4] = uint8_t(grown >> 8);
  padded[5] = uint8_t(grown);
  auto [alone, followed] = SizeAloneAndFollowed(padded);
  EXPECT_EQ(alone.size, padded.size());
  EXPECT_EQ(followed.size, padded.size());
}

}  // namespace
}  // namespace kestrel::test
