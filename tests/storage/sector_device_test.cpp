#include "storage/sector_device.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <numeric>

#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;
using test::WriteFile;

// An image whose byte i is (i / 512 + i) mod 256, so a wrong offset shows.
std::vector<uint8_t> PatternBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i / 512 + i);
  return bytes;
}

class SectorDeviceTest : public ::testing::Test {
 protected:
  void OpenImage(size_t bytes) {
    image_ = PatternBytes(bytes);
    WriteFile(dir_ / "disk.img", image_);
    ASSERT_EQ(OpenImageFile(dir_ / "disk.img", device_), kSuccess);
  }
  TempDir dir_;
  std::vector<uint8_t> image_;
  SectorDevice device_;
};

TEST_F(SectorDeviceTest, ImageCountsWhole512ByteSectorsOnly) {
  OpenImage(1'000'000);
  EXPECT_EQ(device_.totalSectors, 1953u);
  std::vector<uint8_t> buffer(512);
  int32_t read = -1;
  // The last 64 bytes form no whole sector and are never addressable.
  EXPECT_EQ(ReadSectors(1, device_, buffer.data(), 1953, 512, &read), kErrInvalidParameter);
  EXPECT_EQ(read, -1);
}

TEST_F(SectorDeviceTest, ReadEndingAtLastSectorSucceedsOnePastFails) {
  OpenImage(64 * 512);
  std::vector<uint8_t> buffer(8 * 512, 0xEE);
  int32_t read = -1;
  ASSERT_EQ(ReadSectors(8, device_, buffer.data(), 56, 512, &read), kSuccess);
  EXPECT_EQ(read, 8);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image_.begin() + 56 * 512));

  std::fill(buffer.begin(), buffer.end(), 0xEE);
  read = -1;
  EXPECT_EQ(ReadSectors(8, device_, buffer.data(), 57, 512, &read), kErrInvalidParameter);
  EXPECT_EQ(read, -1) << "sectorsRead must stay untouched on a range error";
  EXPECT_EQ(buffer[0], 0xEE) << "nothing may be read on a range error";
}

TEST_F(SectorDeviceTest, FourKibSectorsAddressByteSTimes4096) {
  OpenImage(64 * 512);
  EXPECT_EQ(device_.totalSectors, 64u) << "images are counted in 512-byte sectors whatever the disk had";
  std::vector<uint8_t> buffer(2 * 4096);
  int32_t read = 0;
  ASSERT_EQ(ReadSectors(2, device_, buffer.data(), 3, 4096, &read), kSuccess);
  EXPECT_EQ(read, 2);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image_.begin() + 3 * 4096));
}

TEST_F(SectorDeviceTest, LargeReadIsSplitIntoPiecesOfAtMost64Kib) {
  OpenImage(1024 * 512);
  static std::vector<size_t> pieces;
  pieces.clear();
  device_.read = [](int fd, void* buffer, size_t count, off_t offset) -> ssize_t {
    pieces.push_back(count);
    return ::pread(fd, buffer, count, offset);
  };
  std::vector<uint8_t> buffer(300 * 512);
  int32_t read = 0;
  ASSERT_EQ(ReadSectors(300, device_, buffer.data(), 10, 512, &read), kSuccess);
  EXPECT_EQ(read, 300);
  EXPECT_EQ(pieces, (std::vector<size_t>{65536, 65536, 22528}));
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image_.begin() + 10 * 512));
}

TEST_F(SectorDeviceTest, ShortReadThenFailureReportsWholeSectorsDelivered) {
  OpenImage(64 * 512);
  // The OS delivers 3 of 8 sectors (in two partial calls), then the disk fails.
  static int calls;
  calls = 0;
  device_.read = [](int fd, void* buffer, size_t, off_t offset) -> ssize_t {
    ++calls;
    if (calls == 1) return ::pread(fd, buffer, 2 * 512, offset);
    if (calls == 2) return ::pread(fd, buffer, 512 + 100, offset);
    errno = EIO;
    return -1;
  };
  std::vector<uint8_t> buffer(8 * 512, 0xEE);
  int32_t read = -1;
  EXPECT_EQ(ReadSectors(8, device_, buffer.data(), 4, 512, &read), kErrReadFault);
  EXPECT_EQ(read, 3);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 3 * 512, image_.begin() + 4 * 512));
  EXPECT_EQ(buffer[8 * 512 - 1], 0xEE) << "bytes past the fault stay unchanged";
}

TEST_F(SectorDeviceTest, ReadReturningNothingIsAReadFault) {
  OpenImage(64 * 512);
  device_.read = [](int, void*, size_t, off_t) -> ssize_t { return 0; };
  std::vector<uint8_t> buffer(512);
  int32_t read = -1;
  EXPECT_EQ(ReadSectors(1, device_, buffer.data(), 0, 512, &read), kErrReadFault);
  EXPECT_EQ(read, 0);
}

TEST(SectorDeviceOpen, MissingImageAndFolderGiveErrors) {
  TempDir dir;
  SectorDevice device;
  EXPECT_EQ(OpenImageFile(dir / "nope.img", device), kErrFileNotFound);
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(OpenImageFile(dir.path(), device), kErrAccessDenied);
}

TEST(SectorDeviceOpen, CloseTwiceIsHarmless) {
  TempDir dir;
  test::WriteFile(dir / "a.img", std::vector<uint8_t>(4096));
  SectorDevice device;
  ASSERT_EQ(OpenImageFile(dir / "a.img", device), kSuccess);
  CloseDevice(device);
  CloseDevice(device);
  EXPECT_FALSE(device.IsOpen());
}

TEST(ReadFully, ZeroBytesReadsNothing) {
  uint32_t got = 99;
  EXPECT_EQ(ReadFully(-1, nullptr, 0, &got), kSuccess);
  EXPECT_EQ(got, 0u);
}

TEST(ReadFully, StopsAtEndOfFileWithReadFault) {
  TempDir dir;
  test::WriteFile(dir / "a.img", PatternBytes(3 * 512 + 7));
  int fd = ::open((dir / "a.img").c_str(), O_RDONLY);
  std::vector<uint8_t> buffer(8 * 512);
  int32_t sectors = -1;
  EXPECT_EQ(ReadSectorsHere(8, fd, buffer.data(), 512, &sectors), kErrReadFault);
  EXPECT_EQ(sectors, 3);
  ::close(fd);
}

}  // namespace
}  // namespace kestrel
