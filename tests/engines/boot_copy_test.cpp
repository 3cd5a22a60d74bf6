#include "engines/common/boot_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <vector>

#include "support/test_support.h"

namespace kestrel {
namespace {

std::vector<uint8_t> FirstSector(const std::string& image) {
  std::vector<uint8_t> sector(512);
  std::ifstream(test::TestImage(image), std::ios::binary).read(reinterpret_cast<char*>(sector.data()), 512);
  return sector;
}

// A volume of sparse 512-byte sectors; reads of absent sectors give zeros,
// reads listed in failing fail.
struct FakeVolume {
  std::map<uint64_t, std::vector<uint8_t>> sectors;
  std::vector<uint64_t> reads;
  VolumeBytesReader Reader() {
    return [this](uint64_t offset, size_t count, uint8_t* out) {
      reads.push_back(offset);
      auto found = sectors.find(offset);
      if (found == sectors.end()) std::memset(out, 0, count);
      else std::memcpy(out, found->second.data(), count);
      return true;
    };
  }
};

constexpr uint64_t kVolumeBytes = 64 * 1024 * 1024;

TEST(BootCopy, UndamagedPrimaryIsKeptWithoutReadingAnything) {
  FakeVolume volume;
  auto boot = FirstSector("fat32-deleted.img");
  auto choice = ChooseBootSector(boot.data(), kVolumeBytes, 512, volume.Reader());
  EXPECT_EQ(choice.copy, BootCopy::kPrimary);
  EXPECT_TRUE(volume.reads.empty());
  EXPECT_TRUE(DescribeBootCopy(choice, 512).empty());
}

TEST(BootCopy, Fat32BackupAtTheSectorTheDamagedBpbNamesOrElseSix) {
  auto good = FirstSector("fat32-deleted.img");
  FakeVolume volume;
  volume.sectors[9 * 512] = good;
  volume.sectors[6 * 512] = good;
  // Signature wiped but the backup field (9, inside 32 reserved sectors) still readable.
  std::vector<uint8_t> damaged(512, 0);
  damaged[0x0E] = 32;
  damaged[0x32] = 9;
  auto choice = ChooseBootSector(damaged.data(), kVolumeBytes, 512, volume.Reader());
  EXPECT_EQ(choice.copy, BootCopy::kFatBackup);
  EXPECT_EQ(choice.byteOffset, 9u * 512);
  EXPECT_EQ(damaged, good);
  EXPECT_EQ(DescribeBootCopy(choice, 512), "the FAT32 backup boot sector at sector 9");

  // A field beyond the reserved area is noise: sector 6 is read instead.
  std::vector<uint8_t> noisy(512, 0xE5);
  noisy[0x0E] = 32;
  noisy[0x0F] = 0;
  noisy[0x32] = 40;
  noisy[0x33] = 0;
  volume.reads.clear();
  choice = ChooseBootSector(noisy.data(), kVolumeBytes, 512, volume.Reader());
  EXPECT_EQ(choice.byteOffset, 6u * 512);
  EXPECT_EQ(volume.reads.front(), 6u * 512);
}

TEST(BootCopy, NtfsBackupInTheLastSectorAndNothingWhenNoCopyPasses) {
  auto ntfs = FirstSector("ntfs-main.img");
  FakeVolume volume;
  volume.sectors[kVolumeBytes - 512] = ntfs;
  // FAT12/16 keep no backup: a FAT16 sector at 6 must not be taken for one.
  volume.sectors[6 * 512] = FirstSector("fat16-deleted.img");
  std::vector<uint8_t> zeroed(512, 0);
  auto choice = ChooseBootSector(zeroed.data(), kVolumeBytes, 512, volume.Reader());
  EXPECT_EQ(choice.copy, BootCopy::kNtfsBackup);
  EXPECT_EQ(choice.byteOffset, kVolumeBytes - 512);
  EXPECT_EQ(zeroed, ntfs);

  FakeVolume empty;
  std::vector<uint8_t> nothing(512, 0);
  choice = ChooseBootSector(nothing.data(), kVolumeBytes, 512, empty.Reader());
  EXPECT_EQ(choice.copy, BootCopy::kNone);
  EXPECT_EQ(nothing, std::vector<uint8_t>(512, 0));
  // A volume too short to hold a copy reads nothing past its end.
  choice = ChooseBootSector(nothing.data(), 512, 512, empty.Reader());
  EXPECT_EQ(choice.copy, BootCopy::kNone);
}

}  // namespace
}  // namespace kestrel
