#include "catalogue/found_file_record.h"

#include <gtest/gtest.h>

#include "engines/file_recovery_parse.h"
#include "platform/byte_view.h"

namespace kestrel {
namespace {

TEST(FoundFileRecord, SerialisesEveryFieldAtItsOffset) {
  FoundFileRecord r;
  r.driveLetter = 0x4B;
  r.engineKind = 4;
  r.isDirectory = 1;
  r.isDeleted = 1;
  r.contentValid = 1;
  r.recordIndex = 0x01020304;
  r.itemKey = 0x0A0B0C0D;
  r.clusterBytes = -1;
  r.created = 0x1111111111111111;
  r.accessed = 0x2222222222222222;
  r.modified = 0x3333333333333333;
  r.size = 0x0000000100000002;
  r.dataStart = 0x4444;
  r.entrySector = 0x5555555555;
  r.partitionStart = 2048;
  r.SetName("IMG_0001.JPG");

  std::array<uint8_t, kFoundFileRecordBytes> bytes{};
  r.Serialize(bytes);
  ByteView v(bytes.data(), bytes.size());
  EXPECT_EQ(v.le16(0), 0x4B);
  EXPECT_EQ(v.le32(2), 4u);
  EXPECT_EQ(v.le32(6), 1u);
  EXPECT_EQ(v.le32(10), 1u);
  EXPECT_EQ(v.le32(14), 1u);
  EXPECT_EQ(v.le32(18), 0x01020304u);
  EXPECT_EQ(v.le32(22), 0x0A0B0C0Du);
  EXPECT_EQ(v.le32(26), 0xFFFFFFFFu);
  EXPECT_EQ(v.le64(30), 0x1111111111111111u);
  EXPECT_EQ(v.le64(38), 0x2222222222222222u);
  EXPECT_EQ(v.le64(46), 0x3333333333333333u);
  EXPECT_EQ(v.le64(54), 0x0000000100000002u);
  EXPECT_EQ(v.le64(62), 0x4444u);
  EXPECT_EQ(v.le64(70), 0x5555555555u);
  EXPECT_EQ(v.le64(78), 2048u);
  EXPECT_TRUE(v.Matches(86, std::string_view("IMG_0001.JPG\0", 13)));
  EXPECT_EQ(bytes[345], 0);

  FoundFileRecord back = FoundFileRecord::Deserialize(bytes);
  std::array<uint8_t, kFoundFileRecordBytes> again{};
  back.Serialize(again);
  EXPECT_EQ(bytes, again);
  EXPECT_EQ(back.Name(), "IMG_0001.JPG");
  EXPECT_EQ(back.clusterBytes, -1);
}

TEST(FoundFileRecord, LongUtf8NameIsCutAtCharacterBoundary) {
  std::string name;
  for (int i = 0; i < 200; ++i) name += "é";  // 400 bytes
  FoundFileRecord r;
  r.SetName(name);
  EXPECT_EQ(r.Name().size(), 258u) << "259 would split a two-byte character";
  EXPECT_EQ(r.name[258], '\0');
}

TEST(FoundFileRecord, DamagedStoredNameIsStillTerminated) {
  std::array<uint8_t, kFoundFileRecordBytes> bytes{};
  std::fill(bytes.begin() + 86, bytes.end(), 'A');
  auto r = FoundFileRecord::Deserialize(bytes);
  EXPECT_EQ(r.Name().size(), kRecordNameBytes - 1);
}

TEST(DirectoryKey, PacksKeyLowAndLevelHigh) {
  DirectoryKey key{3, 1};
  EXPECT_EQ(key.Packed(), 4294967299u);
  EXPECT_EQ(DirectoryKey::FromPacked(4294967299u), key);
}

TEST(CountSeparators, TrailingSeparatorDoesNotCount) {
  EXPECT_EQ(CountSeparators("D:\\out\\"), 1);
  EXPECT_EQ(CountSeparators("D:\\out\\x"), 2);
  EXPECT_EQ(CountSeparators("/home/u/out/"), 3);
  EXPECT_EQ(CountSeparators("/home/u/out"), 3);
  EXPECT_EQ(CountSeparators(""), 0);
}

}  // namespace
}  // namespace kestrel
