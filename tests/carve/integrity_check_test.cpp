// Whole-file content checks on real sample files (tools/images/make-sample-files.sh)
// and on copies cut short, overwritten in the middle, or named as another type.
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>

#include "carve/integrity/integrity_check.h"
#include "support/signature_test_support.h"
#include "support/test_support.h"

namespace kestrel::test {
namespace {

struct Sample {
  const char* file;
  const char* extension;
};

const Sample kCheckedSamples[] = {
    {"exif.jpg", "jpg"},   {"jfif.jpg", "jpg"},       {"noise.jpg", "jpg"},     {"raw.jpg", "jpg"},
    {"image.png", "png"},  {"image.gif", "gif"},      {"image.bmp", "bmp"},     {"image-v5.bmp", "bmp"},
    {"sound.wav", "wav"},  {"clip.avi", "avi"},       {"song.mp3", "mp3"},      {"tune.mid", "mid"},
    {"doc.pdf", "pdf"},    {"archive.zip", "zip"},    {"report.docx", "docx"},  {"sheet.xlsx", "xlsx"},
    {"word.doc", "doc"},   {"book.xls", "xls"},
};

// Overwrites count bytes at offset with seeded noise, as another file's data would.
void Overwrite(std::vector<uint8_t>& bytes, size_t offset, size_t count, unsigned seed) {
  std::mt19937 random(seed);
  for (size_t i = offset; i < offset + count && i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(random());
}

TEST(IntegrityCheck, RealSamplesAreIntactAndTheirTruncatedCopiesDamaged) {
  for (const Sample& sample : kCheckedSamples) {
    SCOPED_TRACE(sample.file);
    std::vector<uint8_t> bytes = SampleFile(sample.file);
    ASSERT_FALSE(bytes.empty());
    IntegrityResult whole = CheckIntegrity(ByteView(bytes), sample.extension);
    EXPECT_EQ(whole.verdict, IntegrityVerdict::kIntact) << whole.reason;

    // Cut at an odd length so that no format's unit boundary is hit by luck.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * 5 / 8 + 3));
    IntegrityResult partial = CheckIntegrity(ByteView(cut), sample.extension);
    EXPECT_EQ(partial.verdict, IntegrityVerdict::kDamaged) << partial.reason;
    EXPECT_LE(partial.offset, cut.size());
    EXPECT_NE(partial.reason.find("not a valid"), std::string::npos) << partial.reason;
  }
}

TEST(IntegrityCheck, OverwrittenMiddleIsFoundWhereTheFormatCarriesChecksumsOrEntropyData) {
  // Formats whose middle is covered by a CRC or whose entropy-coded data breaks.
  for (const Sample& sample : {Sample{"noise.jpg", "jpg"}, Sample{"image.png", "png"}, Sample{"archive.zip", "zip"},
                               Sample{"report.docx", "docx"}}) {
    SCOPED_TRACE(sample.file);
    std::vector<uint8_t> bytes = SampleFile(sample.file);
    size_t middle = bytes.size() / 2;
    Overwrite(bytes, middle, 64, 11);
    IntegrityResult result = CheckIntegrity(ByteView(bytes), sample.extension);
    EXPECT_EQ(result.verdict, IntegrityVerdict::kDamaged) << result.reason;
    EXPECT_LE(result.offset, bytes.size());
  }
}

TEST(IntegrityCheck, JpegOverwrittenBySectorsOfAnotherFileIsDamagedNearTheDamage) {
  std::vector<uint8_t> bytes = SampleFile("noise.jpg");
  std::vector<uint8_t> text(4096, 'a');
  std::copy(text.begin(), text.end(), bytes.begin() + 40960);
  IntegrityResult result = CheckIntegrity(ByteView(bytes), "JPG");
  ASSERT_EQ(result.verdict, IntegrityVerdict::kDamaged) << result.reason;
  // Long runs of one byte decode as valid Huffman codes for a while, so the
  // decoder notices some way past the start of the damage, never before it.
  EXPECT_GE(result.offset, 40960u);
  EXPECT_EQ(result.reason.rfind("not a valid JPEG after ", 0), 0u) << result.reason;
}

TEST(IntegrityCheck, ContentOfAnotherTypeIsDamagedAtItsStart) {
  std::vector<uint8_t> jpeg = SampleFile("jfif.jpg");
  for (const char* extension : {"mid", "png", "gif", "bmp", "zip", "pdf", "mp3", "wav", "doc", "mp4", "7z"}) {
    SCOPED_TRACE(extension);
    IntegrityResult result = CheckIntegrity(ByteView(jpeg), extension);
    EXPECT_EQ(result.verdict, IntegrityVerdict::kDamaged) << result.reason;
  }
  std::vector<uint8_t> noise(8192);
  Overwrite(noise, 0, noise.size(), 5);
  EXPECT_EQ(CheckIntegrity(ByteView(noise), "7z").verdict, IntegrityVerdict::kDamaged);
  EXPECT_EQ(CheckIntegrity(ByteView(noise), "jpg").offset, 0u);
}

TEST(IntegrityCheck, TypesWithoutACheckAreUnknownAndSayWhy) {
  std::vector<uint8_t> bytes = SampleFile("program.exe");
  IntegrityResult result = CheckIntegrity(ByteView(bytes), "exe");
  EXPECT_EQ(result.verdict, IntegrityVerdict::kUnknown);
  EXPECT_EQ(result.reason, "no content check for .exe files");
  EXPECT_EQ(CheckIntegrity(ByteView(bytes), "").verdict, IntegrityVerdict::kUnknown);
  EXPECT_EQ(IntegrityFormatFor(".DOCX"), IntegrityFormat::kZip);
  EXPECT_EQ(IntegrityFormatFor("jpeg"), IntegrityFormat::kJpeg);
}

TEST(IntegrityCheck, EmptyFileOfACheckedTypeIsDamaged) {
  IntegrityResult result = CheckIntegrity(ByteView(), "jpg");
  EXPECT_EQ(result.verdict, IntegrityVerdict::kDamaged);
  EXPECT_EQ(result.reason, "not a valid JPEG after 0 bytes: the file is empty");
}

TEST(IntegrityCheck, FileOnDiskGivesTheSameAnswerAsItsBytes) {
  TempDir dir;
  std::vector<uint8_t> bytes = SampleFile("noise.jpg");
  bytes.resize(45057);
  WriteFile(dir / "cut.jpg", bytes);
  IntegrityResult fromFile = CheckFileIntegrity(dir / "cut.jpg", "jpg");
  IntegrityResult fromBytes = CheckIntegrity(ByteView(bytes), "jpg");
  EXPECT_EQ(fromFile.verdict, IntegrityVerdict::kDamaged);
  EXPECT_EQ(fromFile.offset, fromBytes.offset);
  EXPECT_EQ(fromFile.reason, fromBytes.reason);
  EXPECT_EQ(CheckFileIntegrity(dir / "missing.jpg", "jpg").verdict, IntegrityVerdict::kUnknown);
}

// ---- synthetic containers for formats without a sample file ----

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
std::vector<uint8_t> Atom(const char* type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> atom;
  PutBe32(atom, static_cast<uint32_t>(8 + body.size()));
  atom.insert(atom.end(), type, type + 4);
  atom.insert(atom.end(), body.begin(), body.end());
  return atom;
}
std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
// ftyp, a moov whose single chunk table points at chunkOffset, and an mdat of mdatBytes.
std::vector<uint8_t> Movie(uint32_t chunkOffset, size_t mdatBytes) {
  std::vector<uint8_t> stco = {0, 0, 0, 0};
  PutBe32(stco, 1);
  PutBe32(stco, chunkOffset);
  auto stbl = Atom("stbl", Atom("stco", stco));
  auto trak = Atom("trak", Atom("mdia", Atom("minf", stbl)));
  std::vector<uint8_t> brand = {'i', 's', 'o', 'm', 0, 0, 2, 0};
  return Concat({Atom("ftyp", brand), Atom("moov", trak), Atom("mdat", std::vector<uint8_t>(mdatBytes, 7))});
}

TEST(IntegrityCheck, MovieAtomsMustFillTheFileAndChunkOffsetsLieInsideIt) {
  std::vector<uint8_t> movie = Movie(100, 400);
  EXPECT_EQ(CheckIntegrity(ByteView(movie), "mp4").verdict, IntegrityVerdict::kIntact);
  EXPECT_EQ(CheckIntegrity(ByteView(movie), "mov").verdict, IntegrityVerdict::kIntact);

  std::vector<uint8_t> cut(movie.begin(), movie.end() - 100);
  IntegrityResult truncated = CheckIntegrity(ByteView(cut), "mp4");
  EXPECT_EQ(truncated.verdict, IntegrityVerdict::kDamaged);
  EXPECT_NE(truncated.reason.find("atom mdat needs " + std::to_string(movie.size())), std::string::npos)
      << truncated.reason;

  std::vector<uint8_t> pointsOut = Movie(5000, 400);
  EXPECT_EQ(CheckIntegrity(ByteView(pointsOut), "mp4").verdict, IntegrityVerdict::kDamaged);

  std::vector<uint8_t> noMovie = Concat({Atom("ftyp", {'i', 's', 'o', 'm'}), Atom("mdat", {1, 2, 3})});
  EXPECT_EQ(CheckIntegrity(ByteView(noMovie), "mp4").verdict, IntegrityVerdict::kDamaged);
}

std::vector<uint8_t> SevenZip(const std::vector<uint8_t>& nextHeader) {
  std::vector<uint8_t> out = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4, 0, 0, 0, 0};
  std::vector<uint8_t> start(20, 0);
  PutLe64(start.data(), 0);
  PutLe64(start.data() + 8, nextHeader.size());
  PutLe32(start.data() + 16, static_cast<uint32_t>(crc32(0, nextHeader.data(), static_cast<uInt>(nextHeader.size()))));
  PutLe32(out.data() + 8, static_cast<uint32_t>(crc32(0, start.data(), 20)));
  out.insert(out.end(), start.begin(), start.end());
  out.insert(out.end(), nextHeader.begin(), nextHeader.end());
  return out;
}

TEST(IntegrityCheck, SevenZipHeadersMustPassTheirCrcs) {
  std::vector<uint8_t> archive = SevenZip({1, 4, 6, 0, 1, 9, 0x20, 0});
  EXPECT_EQ(CheckIntegrity(ByteView(archive), "7z").verdict, IntegrityVerdict::kIntact);
  archive.back() ^= 1;
  EXPECT_EQ(CheckIntegrity(ByteView(archive), "7z").verdict, IntegrityVerdict::kDamaged);
  archive.pop_back();
  EXPECT_EQ(CheckIntegrity(ByteView(archive), "7z").verdict, IntegrityVerdict::kDamaged);
}

}  // namespace
}  // namespace kestrel::test
