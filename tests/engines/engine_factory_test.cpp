#include "engines/engine_factory.h"

#include <gtest/gtest.h>

#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

TEST(EngineFactory, ImagesOfEveryKindAreClassified) {
  struct Case { const char* image; FileSystemKind kind; };
  for (auto c : {Case{"probe-fat12.img", FileSystemKind::kFat}, Case{"probe-fat16.img", FileSystemKind::kFat},
                 Case{"probe-fat32.img", FileSystemKind::kFat}, Case{"probe-ntfs.img", FileSystemKind::kNtfs},
                 Case{"probe-ext4.img", FileSystemKind::kExt}, Case{"probe-ext2-1k.img", FileSystemKind::kExt},
                 Case{"probe-random.img", FileSystemKind::kUnrecognised}}) {
    std::vector<uint8_t> probe;
    ASSERT_EQ(ReadImageProbe(test::TestImage(c.image), probe), kSuccess) << c.image;
    EXPECT_EQ(ClassifyVolume(ByteView(probe)), c.kind) << c.image;
  }
}

TEST(EngineFactory, FastScanOfUnrecognisedVolumeGetsNoEngineDeepScanDoes) {
  auto image = test::TestImage("probe-random.img");
  EXPECT_EQ(CreateEngineForImage(image, 0, false), nullptr);
  EXPECT_NE(CreateEngineForImage(image, 0, true), nullptr);
  EXPECT_NE(CreateEngineForImage(test::TestImage("probe-ext4.img"), 0, false), nullptr);
}

TEST(EngineFactory, SourceShorterThanProbeGivesNoEngineEvenForDeepScan) {
  test::TempDir dir;
  test::WriteFile(dir / "small.img", std::vector<uint8_t>(8192));
  std::vector<uint8_t> probe;
  EXPECT_EQ(ReadImageProbe(dir / "small.img", probe), kErrHandleEof);
  EXPECT_EQ(CreateEngineForImage(dir / "small.img", 0, false), nullptr);
  EXPECT_EQ(CreateEngineForImage(dir / "small.img", 0, true), nullptr);
  EXPECT_EQ(CreateEngineForImage(dir / "missing.img", 0, true), nullptr);
}

}  // namespace
}  // namespace kestrel
