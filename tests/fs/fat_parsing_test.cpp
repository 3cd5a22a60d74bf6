// Boot geometry, FAT entries and directory entries, on buffers built here.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "fs/fat/fat_boot.h"
#include "fs/fat/fat_dir.h"
#include "fs/fat/fat_table.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

std::vector<uint8_t> Boot(uint16_t bps, uint8_t spc, uint16_t reserved, uint8_t fats, uint16_t rootEntries,
                          uint16_t total16, uint16_t fat16, uint32_t total32, uint32_t fat32 = 0) {
  std::vector<uint8_t> b(512, 0);
  PutLe16(&b[11], bps);
  b[13] = spc;
  PutLe16(&b[14], reserved);
  b[16] = fats;
  PutLe16(&b[17], rootEntries);
  PutLe16(&b[19], total16);
  PutLe16(&b[22], fat16);
  PutLe32(&b[32], total32);
  PutLe32(&b[36], fat32);
  PutLe32(&b[44], 2);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

TEST(FatBoot, FloppyRootRegionIsFourteenSectors) {
  // 1.44 MB floppy: 224 root entries, 9-sector FATs, 2,880 sectors in the 16-bit field.
  FatGeometry g;
  ASSERT_EQ(ParseFatBoot(ByteView(Boot(512, 1, 1, 2, 224, 2880, 9, 0)), g), kSuccess);
  EXPECT_EQ(g.type, FatType::kFat12);
  EXPECT_EQ(g.rootDirSectors, 14u);
  EXPECT_EQ(g.firstDataSector, 1u + 18u + 14u);
  EXPECT_EQ(g.totalSectors, 2880u);
  EXPECT_EQ(g.clusterCount, 2880u - 33u);
}

TEST(FatBoot, Fat16RootRegionFollowsEntryCount) {
  FatGeometry g;
  ASSERT_EQ(ParseFatBoot(ByteView(Boot(512, 2, 4, 2, 256, 16384, 32, 0)), g), kSuccess);
  EXPECT_EQ(g.type, FatType::kFat16);
  EXPECT_EQ(g.rootDirSectors, 16u);
  EXPECT_EQ(g.firstDataSector, 4u + 64u + 16u);
  EXPECT_EQ(g.RootRegionSector(), 68u);
  EXPECT_EQ(g.ClusterSector(2), 84u);
  EXPECT_EQ(g.ClusterSector(5), 90u);
}

TEST(FatBoot, Fat32TakesRootClusterAndLargeFat) {
  FatGeometry g;
  ASSERT_EQ(ParseFatBoot(ByteView(Boot(512, 1, 32, 2, 0, 0, 0, 71128, 548)), g), kSuccess);
  EXPECT_EQ(g.type, FatType::kFat32);
  EXPECT_EQ(g.rootCluster, 2u);
  EXPECT_EQ(g.rootDirSectors, 0u);
  EXPECT_EQ(g.firstDataSector, 32u + 1096u);
  EXPECT_TRUE(g.IsValidCluster(70001));
  EXPECT_FALSE(g.IsValidCluster(70002));
}

TEST(FatBoot, RefusesImpossibleFields) {
  FatGeometry g;
  EXPECT_EQ(ParseFatBoot(ByteView(Boot(500, 1, 1, 2, 224, 2880, 9, 0)), g), kErrInvalidParameter);
  EXPECT_EQ(ParseFatBoot(ByteView(Boot(512, 3, 1, 2, 224, 2880, 9, 0)), g), kErrInvalidParameter);
  EXPECT_EQ(ParseFatBoot(ByteView(Boot(512, 1, 1, 0, 224, 2880, 9, 0)), g), kErrInvalidParameter);
  EXPECT_EQ(ParseFatBoot(ByteView(Boot(512, 1, 1, 2, 224, 0, 9, 0)), g), kErrInvalidParameter);
  EXPECT_EQ(ParseFatBoot(ByteView(std::vector<uint8_t>(10, 0)), g), kErrInvalidParameter);
}

// A FAT12 volume in a file: boot sector, then one FAT.
class Fat12Table : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<uint8_t> image = Boot(512, 1, 1, 1, 224, 2880, 9, 0);
    image.resize(2880 * 512, 0);
    uint8_t* fat = &image[512];
    auto put = [&](uint32_t n, uint32_t v) {
      uint32_t o = n + n / 2;
      if (n & 1) {
        fat[o] = uint8_t((fat[o] & 0x0F) | ((v << 4) & 0xF0));
        fat[o + 1] = uint8_t(v >> 4);
      } else {
        fat[o] = uint8_t(v);
        fat[o + 1] = uint8_t((fat[o + 1] & 0xF0) | ((v >> 8) & 0x0F));
      }
    };
    put(2, 3);      // 2 -> 3 -> 0xABC? no: 3 -> 341 (odd entries straddle bytes)
    put(3, 341);
    put(341, 0xFFF);
    put(10, 11);    // a loop: 10 -> 11 -> 10
    put(11, 10);
    put(20, 0x123);
    put(21, 0x456);
    // 30 and 31 free (a cleared chain); 32 in use.
    put(32, 0xFFF);
    path_ = dir_ / "fat12.img";
    test::WriteFile(path_, image);
    ASSERT_EQ(OpenImageFile(path_, device_), kSuccess);
    ASSERT_EQ(ParseFatBoot(ByteView(image.data(), 512), geometry_), kSuccess);
    ASSERT_EQ(table_.Open(device_, device_.totalSectors * 512, geometry_, 0), kSuccess);
  }
  test::TempDir dir_;
  std::filesystem::path path_;
  SectorDevice device_;
  FatGeometry geometry_;
  FatTable table_;
};

TEST_F(Fat12Table, ReadsTwelveBitEntries) {
  uint32_t v = 0;
  ASSERT_EQ(table_.Entry(20, v), kSuccess);
  EXPECT_EQ(v, 0x123u);
  ASSERT_EQ(table_.Entry(21, v), kSuccess);
  EXPECT_EQ(v, 0x456u);
  ASSERT_EQ(table_.Entry(3, v), kSuccess);
  EXPECT_EQ(v, 341u);
}

TEST_F(Fat12Table, FollowsChainToEndMark) {
  FatChainCursor chain(table_, 2);
  std::vector<uint32_t> seen{chain.cluster()};
  while (chain.Advance() == kSuccess && !chain.AtEnd()) seen.push_back(chain.cluster());
  EXPECT_EQ(seen, (std::vector<uint32_t>{2, 3, 341}));
}

TEST_F(Fat12Table, StopsOnLoop) {
  FatChainCursor chain(table_, 10);
  int steps = 0;
  while (!chain.AtEnd() && steps < 10) {
    chain.Advance();
    ++steps;
  }
  EXPECT_TRUE(chain.AtEnd());
  EXPECT_EQ(steps, 2);
}

TEST_F(Fat12Table, ClearedChainRunsThroughFreeClustersOnly) {
  uint32_t next = 0;
  ASSERT_EQ(table_.NextCluster(30, next), kSuccess);
  EXPECT_EQ(next, 31u);
  ASSERT_EQ(table_.NextCluster(31, next), kSuccess);
  EXPECT_EQ(next, 0u) << "cluster 32 is in use, so the cleared file cannot go on there";
}

TEST_F(Fat12Table, EntryBeyondFatIsRefused) {
  uint32_t v = 0;
  EXPECT_EQ(table_.Entry(9 * 512 * 2 / 3 + 10, v), kErrInvalidParameter);
}

std::array<uint8_t, 32> Entry(const char* name11, uint8_t attr, uint32_t cluster, uint32_t size,
                              uint16_t date = 0x50B1 /* 2020-5-17 */, uint16_t time = 0x6CB5 /* 13:37:42 */) {
  std::array<uint8_t, 32> e{};
  std::memcpy(e.data(), name11, 11);
  e[11] = attr;
  PutLe16(&e[14], time);
  PutLe16(&e[16], date);
  PutLe16(&e[18], date);
  PutLe16(&e[20], uint16_t(cluster >> 16));
  PutLe16(&e[22], time);
  PutLe16(&e[24], date);
  PutLe16(&e[26], uint16_t(cluster));
  PutLe32(&e[28], size);
  return e;
}

ByteView View(const std::array<uint8_t, 32>& e) { return ByteView(e.data(), e.size()); }

TEST(FatDirectory, LastWriteAt1337KeepsAllMinuteBits) {
  auto e = Entry("PHOTO   JPG", 0x20, 5, 100);
  FatDirEntry d = ParseFatDirEntry(View(e), false);
  EXPECT_EQ(d.modified, 132341962620000000ull);  // 2020-05-17 13:37:42
  EXPECT_EQ(d.accessed, 132341472000000000ull);  // the same day at midnight
}

TEST(FatDirectory, CreationHundredthsCarryIntoSeconds) {
  // 23:59:58 plus 150 hundredths is 23:59:59.5.
  EXPECT_EQ(DosTimeToFileTime(uint16_t((39 << 9) | (12 << 5) | 31), uint16_t((23 << 11) | (59 << 5) | 29), 150),
            std::optional<uint64_t>(132223103995000000ull));
  EXPECT_FALSE(DosTimeToFileTime(uint16_t((40 << 9) | (2 << 5) | 30), 0).has_value()) << "30 February";
}

TEST(FatDirectory, FileWithoutArchiveBitIsNotPlausible) {
  auto withBit = Entry("\xE5HOTO   JPG", 0x20, 5, 100);
  auto without = Entry("\xE5HOTO   JPG", 0x00, 5, 100);
  auto readOnlyOnly = Entry("\xE5HOTO   JPG", 0x01, 5, 100);
  EXPECT_TRUE(IsPlausibleEntry(View(withBit), {}, false));
  EXPECT_FALSE(IsPlausibleEntry(View(without), {}, false));
  EXPECT_FALSE(IsPlausibleEntry(View(readOnlyOnly), {}, false));
}

TEST(FatDirectory, PlausibilityRefusesGarbage) {
  EXPECT_FALSE(IsPlausibleEntry(View(Entry("photo   jpg", 0x20, 5, 100)), {}, false)) << "lower case";
  EXPECT_FALSE(IsPlausibleEntry(View(Entry("PH*TO   JPG", 0x20, 5, 100)), {}, false));
  EXPECT_FALSE(IsPlausibleEntry(View(Entry("PHOTO   JPG", 0x20, 5, 0)), {}, false)) << "size 0 with a cluster";
  EXPECT_FALSE(IsPlausibleEntry(View(Entry("PHOTO   JPG", 0x60, 5, 100)), {}, false));
  EXPECT_FALSE(IsPlausibleEntry(View(Entry("DIR        ", 0x11, 5, 0)), {}, false)) << "read-only folder";
  EXPECT_FALSE(IsPlausibleEntry(View(Entry("DIR        ", 0x10, 5, 99)), {}, false)) << "folder with a size";
  // Live files need sane dates: 1985 is before any plausible write.
  EXPECT_FALSE(IsPlausibleEntry(View(Entry("OLD     TXT", 0x20, 5, 9, uint16_t(5 << 9 | 1 << 5 | 1))), {}, false));
  // ...but a deleted one does not.
  EXPECT_TRUE(IsPlausibleEntry(View(Entry("\xE5LD     TXT", 0x20, 5, 9, uint16_t(5 << 9 | 1 << 5 | 1))), {}, false));
}

TEST(FatDirectory, EmptyCreationAndAccessFieldsArePlausible) {
  auto e = Entry("CAMERA  JPG", 0x20, 5, 100);
  std::memset(&e[13], 0, 7);  // hundredths, creation time and date, access date
  EXPECT_TRUE(IsPlausibleEntry(View(e), {}, false));
}

TEST(FatDirectory, SizeZeroFileWithoutClusterIsPlausible) {
  EXPECT_TRUE(IsPlausibleEntry(View(Entry("\xE5MPTY   TXT", 0x20, 0, 0)), {}, false));
}

TEST(FatDirectory, DotEntryNeedsDotDotAfterIt) {
  auto dot = Entry(".          ", 0x10, 7, 0);
  auto dotDot = Entry("..         ", 0x10, 0, 0);
  EXPECT_TRUE(IsPlausibleEntry(View(dot), View(dotDot), false));
  EXPECT_FALSE(IsPlausibleEntry(View(dot), {}, false));
}

TEST(FatDirectory, ShortNamesFollowCaseFlagsAndMarkLostFirstByte) {
  auto upper = Entry("IMG_0002JPG", 0x20, 5, 1);
  EXPECT_EQ(ShortNameText(View(upper)), "IMG_0002.JPG");
  upper[12] = 0x18;
  EXPECT_EQ(ShortNameText(View(upper)), "img_0002.jpg");
  auto deleted = Entry("\xE5MG_0002JPG", 0x20, 5, 1);
  EXPECT_EQ(ShortNameText(View(deleted)), "!MG_0002.JPG");
  auto noExtension = Entry("README     ", 0x20, 5, 1);
  EXPECT_EQ(ShortNameText(View(noExtension)), "README");
  auto oem = Entry("CAF\x82    TXT", 0x20, 5, 1);
  EXPECT_EQ(ShortNameText(View(oem)), "CAFé.TXT");
}

// Long-name parts for name, in disk order (last part first), for short entry sfn.
std::vector<std::array<uint8_t, 32>> LongParts(const std::u16string& name, const std::array<uint8_t, 32>& sfn,
                                               bool deleted) {
  static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  uint8_t sum = ShortNameChecksum(View(sfn));
  size_t parts = (name.size() + 1 + 12) / 13;
  std::vector<std::array<uint8_t, 32>> out;
  for (size_t p = parts; p-- > 0;) {
    std::array<uint8_t, 32> e{};
    e[0] = deleted ? 0xE5 : uint8_t((p + 1) | (p + 1 == parts ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = sum;
    for (size_t i = 0; i < 13; ++i) {
      size_t at = p * 13 + i;
      uint16_t c = at < name.size() ? name[at] : (at == name.size() ? 0 : 0xFFFF);
      PutLe16(&e[kOffsets[i]], c);
    }
    out.push_back(e);
  }
  return out;
}

TEST(FatDirectory, LongNameWithUnicodeAndSurrogates) {
  auto sfn = Entry("CAFCR~1 JPG", 0x20, 5, 100);
  std::u16string name = u"Café crème ☕ \U0001F4F7 photo.jpg";
  LongNameAssembler names;
  for (auto& part : LongParts(name, sfn, false)) names.AddPart(View(part));
  EXPECT_EQ(names.Take(View(sfn)), "Café crème ☕ 📷 photo.jpg");
  EXPECT_FALSE(names.Pending());
}

TEST(FatDirectory, LiveLongNameWithWrongChecksumIsDropped) {
  auto sfn = Entry("CAFCR~1 JPG", 0x20, 5, 100);
  auto other = Entry("OTHER~1 JPG", 0x20, 5, 100);
  LongNameAssembler names;
  for (auto& part : LongParts(u"Stale Long Name.jpg", other, false)) names.AddPart(View(part));
  EXPECT_EQ(names.Take(View(sfn)), "");
}

TEST(FatDirectory, DeletedLongNameSurvivesLostFirstByte) {
  auto sfn = Entry("BEACHD~1JPG", 0x20, 5, 100);
  auto parts = LongParts(u"Beach Day at the Sea.jpg", sfn, true);
  sfn[0] = 0xE5;
  LongNameAssembler names;
  for (auto& part : parts) names.AddPart(View(part));
  EXPECT_EQ(names.Take(View(sfn)), "Beach Day at the Sea.jpg");
}

TEST(FatDirectory, CutDeletedLongNameGivesWayToTheShortNameWithItsFirstByteRestored) {
  auto sfn = Entry("REPORT~1PDF", 0x20, 5, 100);
  auto parts = LongParts(u"Report Q3 2024.pdf", sfn, true);
  ASSERT_EQ(parts.size(), 2u);
  sfn[0] = 0xE5;
  LongNameAssembler names;
  // A newer entry took the first slot on disk, the one holding "4.pdf".
  names.AddPart(View(parts[1]));
  EXPECT_EQ(names.Take(View(sfn)), "REPORT~1.PDF");
  // Whole, the same deleted name is kept.
  for (auto& part : parts) names.AddPart(View(part));
  EXPECT_EQ(names.Take(View(sfn)), "Report Q3 2024.pdf");
}

TEST(FatDirectory, DeletedLongNameWhoseChecksumFitsNoShortNameIsDropped) {
  // Parts whose checksum only a lower-case first byte would give: no short
  // name starts so, so they belonged to another entry.
  auto impossible = Entry("aEACHD~1JPG", 0x20, 5, 100);
  auto parts = LongParts(u"Beach Day at the Sea.jpg", impossible, true);
  auto sfn = Entry("\xE5" "EACHD~1JPG", 0x20, 5, 100);
  LongNameAssembler names;
  for (auto& part : parts) names.AddPart(View(part));
  EXPECT_EQ(names.Take(View(sfn)), "");
}

TEST(FatDirectory, SafeFileNameNeverEscapesItsFolder) {
  EXPECT_EQ(SafeFileName("../etc"), ".._etc");
  EXPECT_EQ(SafeFileName(".."), "_");
  EXPECT_EQ(SafeFileName("a\\b\x01"), "a_b_");
}

}  // namespace
}  // namespace kestrel
