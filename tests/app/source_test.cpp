#include "app/source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "app/same_device.h"
#include "app/truncation_check.h"
#include "storage/sector_device.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

TEST(ResolveSource, MissingPathAndFolderAreRefusedUpFront) {
  test::TempDir dir;
  ScanSource source;
  EXPECT_EQ(ResolveSource(dir / "nothing.img", source), kErrFileNotFound);
  EXPECT_EQ(ResolveSource(dir.path(), source), kErrAccessDenied);
}

TEST(ResolveSource, AFifoACharacterDeviceAndAFolderAreRefusedForWhatTheyAreWithoutBlocking) {
  test::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  ScanSource source;
  // Opened the usual way, a FIFO with no writer would block here forever.
  EXPECT_EQ(ResolveSource(dir / "pipe", source), kErrNotSupported);
  EXPECT_EQ(SourceProblemText(dir / "pipe", kErrNotSupported), "is a FIFO (named pipe), not a disk, a partition or an image file");
  for (const char* device : {"/dev/zero", "/dev/null"}) {
    EXPECT_EQ(ResolveSource(device, source), kErrNotSupported) << device;
    EXPECT_EQ(SourceProblemText(device, kErrNotSupported).rfind("is a character device", 0), 0u) << device;
  }
  EXPECT_EQ(SourceProblemText(dir.path(), kErrNotSupported).rfind("is a folder", 0), 0u);
  test::WriteFile(dir / "image.img", std::vector<uint8_t>(512, 0));
  EXPECT_EQ(SourceProblemText(dir / "image.img", kErrNotSupported), "");
  EXPECT_EQ(SourceProblemText(dir / "missing.img", kErrNotSupported), "");
  // Every engine opens its source through the same check.
  SectorDevice device;
  EXPECT_EQ(OpenImageFile(dir / "pipe", device), kErrNotSupported);
  EXPECT_EQ(OpenImageFile("/dev/zero", device), kErrNotSupported);
  EXPECT_EQ(OpenImageFile(dir / "image.img", device), kSuccess);
  uint8_t byte = 1;
  EXPECT_EQ(pread(device.fd(), &byte, 1, 0), 1) << "reads block again once the type is checked";
}

TEST(ResolveSource, AShortFileResolvesButItsProbeSaysWhyItCannotBeRead) {
  test::TempDir dir;
  test::WriteFile(dir / "short.img", std::vector<uint8_t>(100, 0));
  ScanSource source;
  ASSERT_EQ(ResolveSource(dir / "short.img", source), kSuccess);
  EXPECT_TRUE(source.isImage);
  EXPECT_EQ(source.length, 100u);
  EXPECT_EQ(source.probeError, kErrHandleEof);
  EXPECT_EQ(source.kind, FileSystemKind::kUnrecognised);
  EXPECT_FALSE(FindShortSource(source));
}

TEST(ResolveSource, AnImageIsMeasuredAndProbedOnce) {
  auto image = test::TestImage("fat16-deleted.img");
  ScanSource source;
  ASSERT_EQ(ResolveSource(image, source), kSuccess);
  EXPECT_EQ(source.path, image);
  EXPECT_TRUE(source.isImage);
  EXPECT_EQ(source.sectorBytes, 512);
  EXPECT_EQ(source.length, std::filesystem::file_size(image));
  EXPECT_EQ(source.probeError, kSuccess);
  EXPECT_EQ(source.probe.size(), kProbeBytes);
  EXPECT_EQ(source.kind, FileSystemKind::kFat);

  ScanSource ntfs;
  ASSERT_EQ(ResolveSource(test::TestImage("ntfs-main.img"), ntfs), kSuccess);
  EXPECT_EQ(ntfs.kind, FileSystemKind::kNtfs);
}

TEST(FindShortSource, ACutCopyIsShortOfItsVolumeAndAWholeOneIsNot) {
  auto image = test::TestImage("ntfs-main.img");
  ScanSource whole;
  ASSERT_EQ(ResolveSource(image, whole), kSuccess);
  auto declared = DeclaredVolumeBytes(ByteView(whole.probe));
  ASSERT_TRUE(declared);
  EXPECT_LE(*declared, whole.length);
  EXPECT_FALSE(FindShortSource(whole));

  test::TempDir dir;
  auto bytes = test::ReadFile(image);
  bytes.resize(bytes.size() / 2);
  test::WriteFile(dir / "half.img", bytes);
  ScanSource half;
  ASSERT_EQ(ResolveSource(dir / "half.img", half), kSuccess);
  auto shortSource = FindShortSource(half);
  ASSERT_TRUE(shortSource);
  EXPECT_EQ(shortSource->available, bytes.size());
  EXPECT_EQ(shortSource->declared, *declared);
}

TEST(FindShortSource, AnExfatVolumeDeclaresItsLengthToo) {
  ScanSource whole;
  ASSERT_EQ(ResolveSource(test::TestImage("exfat-deleted.img"), whole), kSuccess);
  EXPECT_EQ(whole.kind, FileSystemKind::kExfat);
  EXPECT_EQ(DeclaredVolumeBytes(ByteView(whole.probe)), std::optional<uint64_t>(4u << 20));
  test::TempDir dir;
  auto bytes = test::ReadFile(test::TestImage("exfat-deleted.img"));
  bytes.resize(3u << 20);
  test::WriteFile(dir / "cut.img", bytes);
  ScanSource cut;
  ASSERT_EQ(ResolveSource(dir / "cut.img", cut), kSuccess);
  auto shortSource = FindShortSource(cut);
  ASSERT_TRUE(shortSource);
  EXPECT_EQ(shortSource->declared, 4u << 20);
}

TEST(DestinationOnSourceDisk, AnImageIsNeverRefusedAndAPlainFileIsNoDisk) {
  test::TempDir dir;
  ScanSource image;
  ASSERT_EQ(ResolveSource(test::TestImage("fat12-deleted.img"), image), kSuccess);
  EXPECT_FALSE(DestinationOnSourceDisk(image, dir.path()));
  EXPECT_FALSE(DestinationOnSourceDisk(image, test::TestImage("fat12-deleted.img").parent_path()));
  // A source that claims to be a device but is a plain file holds no disk to share.
  ScanSource notADevice = image;
  notADevice.isImage = false;
  EXPECT_FALSE(DestinationOnSourceDisk(notADevice, dir.path()));
  EXPECT_FALSE(OnSameDisk(dir / "missing", dir.path()));
}

// The block device that holds path's file system, when sysfs names one under /dev.
std::filesystem::path DeviceHolding(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  std::error_code ec;
  auto link = std::filesystem::path("/sys/dev/block") /
              (std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)));
  auto device = "/dev" / std::filesystem::canonical(link, ec).filename();
  struct stat dev {};
  if (ec || stat(device.c_str(), &dev) != 0 || !S_ISBLK(dev.st_mode) || dev.st_rdev != st.st_dev) return {};
  return device;
}

TEST(DestinationOnSourceDisk, AFolderOnTheScannedDeviceIsRefused) {
  test::TempDir dir;
  auto device = DeviceHolding(dir.path());
  if (device.empty()) GTEST_SKIP() << "the temporary folder is on no block device under /dev";
  ScanSource source;
  source.path = device;
  source.isImage = false;
  EXPECT_TRUE(DestinationOnSourceDisk(source, dir.path()));
  // A folder that does not exist yet is judged by its nearest existing parent.
  EXPECT_TRUE(DestinationOnSourceDisk(source, dir / "new/deeper"));
  EXPECT_FALSE(DestinationOnSourceDisk(source, "/proc/self"));
}

}  // namespace
}  // namespace kestrel
