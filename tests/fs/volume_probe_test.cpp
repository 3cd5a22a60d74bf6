#include "fs/volume_probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/byte_view.h"

namespace kestrel {
namespace {

std::vector<uint8_t> NtfsBootSector() {
  std::vector<uint8_t> b(512, 0);
  std::memcpy(&b[3], "NTFS    ", 8);
  PutLe16(&b[0x0B], 512);
  b[0x0D] = 8;
  PutLe64(&b[0x28], 204800);
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  return b;
}

std::vector<uint8_t> Fat16BootSector() {
  std::vector<uint8_t> b(512, 0);
  PutLe16(&b[0x0B], 512);
  b[0x0D] = 4;
  PutLe16(&b[0x0E], 4);
  b[0x10] = 2;
  PutLe16(&b[0x11], 512);
  PutLe16(&b[0x13], 32768);
  PutLe16(&b[0x16], 32);
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  return b;
}

std::vector<uint8_t> Fat32BootSector() {
  std::vector<uint8_t> b(512, 0);
  PutLe16(&b[0x0B], 512);
  b[0x0D] = 1;
  PutLe16(&b[0x0E], 32);
  b[0x10] = 2;
  PutLe32(&b[0x20], 81920);
  PutLe32(&b[0x24], 630);
  std::memcpy(&b[0x52], "FAT32   ", 8);
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  return b;
}

std::vector<uint8_t> ExtSuperblock(uint32_t logBlockSize, uint32_t firstDataBlock) {
  std::vector<uint8_t> s(1024, 0);
  PutLe32(&s[0x00], 2048);   // inodes
  PutLe32(&s[0x04], 8192);   // blocks
  PutLe32(&s[0x14], firstDataBlock);
  PutLe32(&s[0x18], logBlockSize);
  PutLe32(&s[0x20], 8192);   // blocks per group
  PutLe32(&s[0x28], 2048);   // inodes per group
  PutLe32(&s[0x54], 11);
  PutLe16(&s[0x38], 0xEF53);
  return s;
}

TEST(NtfsDetection, AcceptsValidBootSectorIncludingZeroSectorSize) {
  auto b = NtfsBootSector();
  EXPECT_TRUE(IsNtfsBootSector(ByteView(b)));
  PutLe16(&b[0x0B], 0);
  EXPECT_TRUE(IsNtfsBootSector(ByteView(b))) << "0 is a multiple of 512";
}

TEST(NtfsDetection, RefusesEachBrokenField) {
  struct Case { const char* what; size_t offset; uint8_t value; };
  for (auto c : {Case{"oem id", 3, 'X'}, Case{"sector size", 0x0B, 0x01}, Case{"reserved sectors", 0x0E, 1},
                 Case{"cluster size", 0x0D, 3}, Case{"fat count", 0x10, 2}, Case{"sectors per fat", 0x16, 1},
                 Case{"32-bit count", 0x22, 1}, Case{"signature", 0x1FF, 0}}) {
    auto b = NtfsBootSector();
    b[c.offset] = c.value;
    EXPECT_FALSE(IsNtfsBootSector(ByteView(b))) << c.what;
  }
  auto b = NtfsBootSector();
  PutLe64(&b[0x28], 0);
  EXPECT_FALSE(IsNtfsBootSector(ByteView(b))) << "total sectors 0";
}

TEST(FatDetection, Fat32WithZero16BitFatSizeIsFat) {
  auto b = Fat32BootSector();
  EXPECT_TRUE(IsFat32Bpb(ByteView(b)));
  EXPECT_FALSE(IsFat1216Bpb(ByteView(b)));
  EXPECT_TRUE(IsFatBootSector(ByteView(b)));
}

TEST(FatDetection, Fat16PassesAndBrokenGeometryFails) {
  auto b = Fat16BootSector();
  EXPECT_TRUE(IsFatBootSector(ByteView(b)));
  auto zeroClusterSize = b;
  zeroClusterSize[0x0D] = 0;
  EXPECT_FALSE(IsFatBootSector(ByteView(zeroClusterSize)));
  auto oddSectorSize = b;
  PutLe16(&oddSectorSize[0x0B], 520);
  EXPECT_FALSE(IsFatBootSector(ByteView(oddSectorSize)));
  // Metadata larger than the volume wraps the cluster count and is refused.
  auto overfull = b;
  PutLe16(&overfull[0x16], 30000);
  EXPECT_FALSE(IsFatBootSector(ByteView(overfull)));
}

TEST(FatDetection, BitLockerIsNeverFat) {
  auto b = Fat32BootSector();
  std::memcpy(&b[3], "-FVE-FS-", 8);
  EXPECT_TRUE(IsBitLockerBootSector(ByteView(b)));
  EXPECT_FALSE(IsFatBootSector(ByteView(b)));
  EXPECT_EQ(ClassifyVolume(ByteView(b)), FileSystemKind::kUnrecognised);

  auto pattern = Fat16BootSector();
  std::fill(&pattern[0x1E0], &pattern[0x1E8], 0x78);
  std::fill(&pattern[0x1E8], &pattern[0x1FB], 0xFF);
  pattern[0x1FB] = 0x00;
  pattern[0x1FC] = 0x1F;
  pattern[0x1FD] = 0x2C;
  EXPECT_TRUE(IsBitLockerBootSector(ByteView(pattern)));
  EXPECT_FALSE(IsFatBootSector(ByteView(pattern)));
}

TEST(FatDetection, ADamagedBootSectorIsNoVolumeButStillABootSector) {
  // The strict test names volumes; the loose one marks any boot sector with a
  // jump and 55 AA, whatever its BPB or OEM name ("mkfs.fat" included).
  auto b = Fat16BootSector();
  b[0] = 0xEB, b[1] = 0x3C, b[2] = 0x90;
  std::memcpy(&b[3], "mkfs.fat", 8);
  EXPECT_TRUE(IsFatBootSector(ByteView(b)));
  EXPECT_TRUE(LooksLikeBootSector(ByteView(b)));
  b[0x0D] = 0;  // no cluster size
  EXPECT_FALSE(IsFatBootSector(ByteView(b)));
  EXPECT_TRUE(LooksLikeBootSector(ByteView(b)));
  b[0x1FF] = 0;  // no signature
  EXPECT_FALSE(LooksLikeBootSector(ByteView(b)));
  auto noJump = Fat16BootSector();
  EXPECT_FALSE(LooksLikeBootSector(ByteView(noJump)));
  EXPECT_FALSE(LooksLikeBootSector(ByteView(b.data(), 511)));
}

TEST(ExtDetection, FirstDataBlockMustMatchBlockSize) {
  EXPECT_TRUE(IsExtSuperblock(ByteView(ExtSuperblock(2, 0))));   // 4 KiB blocks
  EXPECT_FALSE(IsExtSuperblock(ByteView(ExtSuperblock(2, 1))));
  EXPECT_TRUE(IsExtSuperblock(ByteView(ExtSuperblock(0, 1))));   // 1 KiB blocks
  EXPECT_FALSE(IsExtSuperblock(ByteView(ExtSuperblock(0, 0))));
}

TEST(ExtDetection, GroupCountsMustAgree) {
  auto s = ExtSuperblock(2, 0);
  PutLe32(&s[0x00], 4096);  // twice the inodes: two inode groups for one block group
  EXPECT_FALSE(IsExtSuperblock(ByteView(s)));
}

TEST(Classification, ZerosAndShortBuffersAreUnrecognised) {
  std::vector<uint8_t> zeros(kProbeBytes, 0);
  EXPECT_EQ(ClassifyVolume(ByteView(zeros)), FileSystemKind::kUnrecognised);
  auto b = NtfsBootSector();
  b.resize(300);
  EXPECT_EQ(ClassifyVolume(ByteView(b)), FileSystemKind::kUnrecognised);
}

TEST(Classification, NtfsIsTestedBeforeExt) {
  std::vector<uint8_t> probe(kProbeBytes, 0);
  auto boot = NtfsBootSector();
  auto ext = ExtSuperblock(2, 0);
  std::copy(boot.begin(), boot.end(), probe.begin());
  std::copy(ext.begin(), ext.end(), probe.begin() + 1024);
  EXPECT_EQ(ClassifyVolume(ByteView(probe)), FileSystemKind::kNtfs);
  std::fill(probe.begin(), probe.begin() + 512, 0);
  EXPECT_EQ(ClassifyVolume(ByteView(probe)), FileSystemKind::kExt);
}

}  // namespace
}  // namespace kestrel
