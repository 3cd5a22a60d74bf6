#include "app/jobs/image_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/error_codes.h"
#include "support/test_support.h"
#include "support/faulty_reader.h"

namespace kestrel {
namespace {

using test::FaultyReader;

// A source file of sectorCount sectors whose every byte says where it is.
class ImageCopyTest : public ::testing::Test {
 protected:
  void MakeSource(uint64_t sectorCount, uint32_t sectorBytes = 512) {
    FaultyReader::Reset(sectorBytes);
    sectorBytes_ = sectorBytes;
    source_.resize(sectorCount * sectorBytes);
    for (size_t i = 0; i < source_.size(); ++i) source_[i] = uint8_t(i * 7 + i / 4096);
    test::WriteFile(dir_ / "source.bin", source_);
    device_.Adopt(UniqueFd(::open((dir_ / "source.bin").c_str(), O_RDONLY | O_CLOEXEC)));
    ASSERT_TRUE(device_.IsOpen());
    device_.totalSectors = sectorCount;
    device_.read = FaultyReader::Read;
  }

  ImageCopyRequest Request(int retries = 0) {
    ImageCopyRequest request;
    request.device = &device_;
    request.source = dir_ / "source.bin";
    request.bytesPerSector = int32_t(sectorBytes_);
    request.sectorCount = device_.totalSectors;
    request.destination = dir_ / "copy.img";
    request.map = dir_ / "copy.img.map";
    request.retries = retries;
    return request;
  }

  std::string MapText() {
    auto bytes = test::ReadFile(dir_ / "copy.img.map");
    return std::string(bytes.begin(), bytes.end());
  }

  test::TempDir dir_;
  SectorDevice device_;
  std::vector<uint8_t> source_;
  uint32_t sectorBytes_ = 512;
};

TEST_F(ImageCopyTest, CopiesInPiecesOf64KiBAndALastShorterOne) {
  MakeSource(1000);
  int reports = 0;
  auto outcome = CopyToImage(Request(), [&](const ImageCopyProgress&) {
    ++reports;
    return 0;
  });
  ASSERT_EQ(outcome.result, kSuccess) << outcome.reason;
  std::vector<size_t> sizes;
  for (auto [offset, count] : FaultyReader::Current().reads) sizes.push_back(count / 512);
  EXPECT_EQ(sizes, (std::vector<size_t>{128, 128, 128, 128, 128, 128, 128, 104}));
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
  EXPECT_EQ(reports, 1 + 8);  // the start, then every piece
  EXPECT_NE(MapText().find("0x00000000  0x0007D000  +\n"), std::string::npos) << MapText();
  EXPECT_FALSE(outcome.resumed);
  EXPECT_EQ(outcome.badBytes, 0u);
}

TEST_F(ImageCopyTest, FourKiBSectorsAreCopiedSixteenAtATime) {
  MakeSource(40, 4096);
  auto outcome = CopyToImage(Request(), nullptr);
  ASSERT_EQ(outcome.result, kSuccess) << outcome.reason;
  std::vector<size_t> sizes;
  for (auto [offset, count] : FaultyReader::Current().reads) sizes.push_back(count / 4096);
  EXPECT_EQ(sizes, (std::vector<size_t>{16, 16, 8}));
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
}

TEST_F(ImageCopyTest, BadSectorIsZeroFilledRecordedAndTheCopyGoesOn) {
  MakeSource(1000);
  // Sector 300 lies in the third piece (sectors 256..383).
  FaultyReader::Current().bad[300 * 512] = FaultyReader::kForever;
  ImageCopyProgress last;
  auto outcome = CopyToImage(Request(), [&](const ImageCopyProgress& p) {
    last = p;
    return 0;
  });
  ASSERT_EQ(outcome.result, kSuccess) << outcome.reason;
  auto image = test::ReadFile(dir_ / "copy.img");
  ASSERT_EQ(image.size(), source_.size());
  std::vector<uint8_t> expected = source_;
  std::memset(&expected[300 * 512], 0, 512);
  EXPECT_EQ(image, expected);
  ASSERT_EQ(outcome.badAreas.size(), 1u);
  EXPECT_EQ(outcome.badAreas[0].pos, 300u * 512);
  EXPECT_EQ(outcome.badAreas[0].size, 512u);
  EXPECT_EQ(last.bytesBad, 512u);
  EXPECT_EQ(last.bytesDone, last.bytesTotal);
  std::string map = MapText();
  EXPECT_NE(map.find("0x00025800  0x00000200  -\n"), std::string::npos) << map;
  EXPECT_NE(map.find("0x00025A00  0x00057600  +\n"), std::string::npos) << map;
}

TEST_F(ImageCopyTest, RetryRecoversASectorThatFailsOnce) {
  MakeSource(300);
  FaultyReader::Current().bad[10 * 512] = 2;  // the piece read and the sector re-read fail
  auto first = CopyToImage(Request(), nullptr);
  ASSERT_EQ(first.result, kSuccess);
  EXPECT_EQ(first.badBytes, 512u);

  // The next run reads the map, copies nothing again and re-reads only sector 10.
  FaultyReader::Current().reads.clear();
  auto retried = CopyToImage(Request(1), nullptr);
  ASSERT_EQ(retried.result, kSuccess) << retried.reason;
  EXPECT_TRUE(retried.resumed);
  EXPECT_EQ(retried.badBytes, 0u);
  EXPECT_TRUE(retried.badAreas.empty());
  ASSERT_EQ(FaultyReader::Current().reads.size(), 1u);
  EXPECT_EQ(FaultyReader::Current().reads[0], std::make_pair(uint64_t(10 * 512), size_t(512)));
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
  EXPECT_NE(MapText().find("0x00000000  0x00025800  +\n"), std::string::npos) << MapText();
}

TEST_F(ImageCopyTest, InterruptedCopyResumedFromItsMapIsIdenticalToAWholeOne) {
  MakeSource(1000);
  FaultyReader::Current().bad[700 * 512] = FaultyReader::kForever;
  int pieces = 0;
  auto stopped = CopyToImage(Request(), [&](const ImageCopyProgress&) { return ++pieces > 4 ? kCancelled : 0; });
  ASSERT_EQ(stopped.result, kCancelled);
  EXPECT_LT(test::ReadFile(dir_ / "copy.img").size(), source_.size());

  FaultyReader::Current().reads.clear();
  auto resumed = CopyToImage(Request(), nullptr);
  ASSERT_EQ(resumed.result, kSuccess) << resumed.reason;
  EXPECT_TRUE(resumed.resumed);
  // Only what was not copied before is read again.
  ASSERT_FALSE(FaultyReader::Current().reads.empty());
  EXPECT_EQ(FaultyReader::Current().reads.front().first, 4u * 65536);

  std::vector<uint8_t> resumedImage = test::ReadFile(dir_ / "copy.img");
  std::string resumedMap = MapText();
  std::filesystem::remove(dir_ / "copy.img.map");
  auto whole = CopyToImage(Request(), nullptr);
  ASSERT_EQ(whole.result, kSuccess);
  EXPECT_EQ(resumedImage, test::ReadFile(dir_ / "copy.img"));
  // Maps differ only in nothing: same areas, same final state.
  EXPECT_EQ(resumedMap, MapText());
}

TEST_F(ImageCopyTest, TheMapClaimsOnlyBytesSyncedToDiskBeforeItWasSaved) {
  MakeSource(1000);
  ImageCopyRequest request = Request();
  uint64_t syncedBytes = 0;
  int syncs = 0;
  request.syncData = [&](int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    syncedBytes = uint64_t(st.st_size);
    ++syncs;
    return 0;
  };
  int pieces = 0;
  auto stopped = CopyToImage(request, [&](const ImageCopyProgress&) { return ++pieces > 4 ? kCancelled : 0; });
  ASSERT_EQ(stopped.result, kCancelled);
  // Four pieces of 64 KiB were written; the saved map claims them, and the
  // image held all of them when it was last synced.
  EXPECT_NE(MapText().find("0x00000000  0x00040000  +\n"), std::string::npos) << MapText();
  EXPECT_EQ(syncedBytes, 0x40000u);
  EXPECT_GE(syncs, 2);  // before the first map and before the last

  // A sync that fails ends the copy with the image named, and the map saved
  // before it (claiming nothing copied) stays as it was.
  std::filesystem::remove(dir_ / "copy.img");
  std::filesystem::remove(dir_ / "copy.img.map");
  int calls = 0;
  request.syncData = [&](int) { return ++calls > 1 ? EIO : 0; };
  auto failed = CopyToImage(request, {});
  EXPECT_EQ(failed.result, kErrWriteFault);
  EXPECT_EQ(failed.failedPath, dir_ / "copy.img");
  EXPECT_EQ(MapText().find("  +\n"), std::string::npos) << MapText();
}

TEST_F(ImageCopyTest, FreshCopyTruncatesAnOlderLongerFile) {
  MakeSource(10);
  test::WriteFile(dir_ / "copy.img", std::vector<uint8_t>(100000, 0xEE));
  auto outcome = CopyToImage(Request(), nullptr);
  ASSERT_EQ(outcome.result, kSuccess);
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
}

TEST_F(ImageCopyTest, RefusesMapsThatDoNotFit) {
  MakeSource(10);
  test::WriteFile(dir_ / "copy.img.map", {'n', 'o', 't', ' ', 'a', ' ', 'm', 'a', 'p', '\n'});
  auto garbage = CopyToImage(Request(), nullptr);
  EXPECT_EQ(garbage.result, kErrInvalidParameter);
  EXPECT_EQ(garbage.failedPath, dir_ / "copy.img.map");
  EXPECT_NE(garbage.reason.find("not a mapfile"), std::string::npos) << garbage.reason;

  // A map of another, longer source must not be resumed onto this one.
  std::string other = "0x0 + 1\n0x0 0x10000 +\n";
  test::WriteFile(dir_ / "copy.img.map", std::vector<uint8_t>(other.begin(), other.end()));
  auto foreign = CopyToImage(Request(), nullptr);
  EXPECT_EQ(foreign.result, kErrInvalidParameter);
  EXPECT_NE(foreign.reason.find("another source"), std::string::npos) << foreign.reason;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "copy.img"));  // refused before the image was touched

  // A map whose image is gone would claim copied data that is not there.
  std::string half = "0x0 ? 1\n0x0 0x800 +\n0x800 0xC00 ?\n";
  test::WriteFile(dir_ / "copy.img.map", std::vector<uint8_t>(half.begin(), half.end()));
  auto orphan = CopyToImage(Request(), nullptr);
  EXPECT_EQ(orphan.result, kErrFileNotFound);
  EXPECT_NE(orphan.reason.find("missing"), std::string::npos) << orphan.reason;
}

TEST_F(ImageCopyTest, UnwritableDestinationNamesThePathAndReason) {
  MakeSource(10);
  ImageCopyRequest request = Request();
  request.destination = dir_ / "no-such-folder" / "copy.img";
  auto outcome = CopyToImage(request, nullptr);
  EXPECT_EQ(outcome.result, kErrFileNotFound);
  EXPECT_EQ(outcome.failedPath, request.destination);
  EXPECT_EQ(outcome.reason, ErrorText(kErrFileNotFound));
}

// Stands in for copy_file_range over the faulty source: copies up to the
// first bad byte and returns that short count, then fails with EIO at it, as
// the kernel does when a page of the source cannot be read.
struct FaultyKernelCopy {
  static inline int calls = 0;
  static inline int failWith = 0;   // errno for every call when set
  static inline size_t tornPiece = 0;  // when set, never more than this per call

  static ssize_t Copy(int in, off_t* inOffset, int out, off_t* outOffset, size_t length, unsigned) {
    ++calls;
    if (failWith != 0) {
      errno = failWith;
      return -1;
    }
    if (tornPiece != 0) length = std::min(length, tornPiece);
    FaultyReader& reader = FaultyReader::Current();
    auto bad = reader.bad.lower_bound(uint64_t(*inOffset));
    if (bad != reader.bad.end() && bad->first < uint64_t(*inOffset) + length) {
      length = bad->first - uint64_t(*inOffset);
      if (length == 0) {
        errno = EIO;
        return -1;
      }
    }
    std::vector<uint8_t> bytes(length);
    ssize_t got = ::pread(in, bytes.data(), length, *inOffset);
    if (got <= 0 || ::pwrite(out, bytes.data(), size_t(got), *outOffset) != got) return -1;
    *inOffset += got;
    *outOffset += got;
    return got;
  }
  static void Reset() {
    calls = 0;
    failWith = 0;
    tornPiece = 0;
  }
};

TEST_F(ImageCopyTest, KernelCopyLeavesOnlyTheFailingRangeToSectorReads) {
  MakeSource(5000);  // three pieces of 1 MiB or less
  FaultyKernelCopy::Reset();
  const uint64_t badByte = 3000 * 512;  // inside the second piece
  FaultyReader::Current().bad[badByte] = FaultyReader::kForever;
  ImageCopyRequest request = Request();
  request.kernelCopy = FaultyKernelCopy::Copy;
  auto outcome = CopyToImage(request, nullptr);
  ASSERT_EQ(outcome.result, kSuccess) << outcome.reason;

  std::vector<uint8_t> expected = source_;
  std::memset(&expected[badByte], 0, 512);
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), expected);
  ASSERT_EQ(outcome.badAreas.size(), 1u);
  EXPECT_EQ(outcome.badAreas[0].pos, badByte);
  EXPECT_EQ(outcome.badAreas[0].size, 512u);
  // Plain reads happened only from the failure to the end of its piece; the
  // piece after it went back to the kernel.
  ASSERT_FALSE(FaultyReader::Current().reads.empty());
  for (auto [offset, count] : FaultyReader::Current().reads) {
    EXPECT_GE(offset, badByte);
    EXPECT_LE(offset + count, 2u << 20);
  }
  EXPECT_EQ(FaultyKernelCopy::calls, 4);  // piece 1; piece 2 up to the fault, the fault; piece 3
  EXPECT_NE(MapText().find("0x00177000  0x00000200  -\n"), std::string::npos) << MapText();
}

TEST_F(ImageCopyTest, KernelCopyThatIsRefusedOrTornStillGivesTheExactImage) {
  // Another file system without the call: tried once, then plain reads throughout.
  MakeSource(5000);
  FaultyKernelCopy::Reset();
  FaultyKernelCopy::failWith = EXDEV;
  ImageCopyRequest request = Request();
  request.kernelCopy = FaultyKernelCopy::Copy;
  auto refused = CopyToImage(request, nullptr);
  ASSERT_EQ(refused.result, kSuccess) << refused.reason;
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
  EXPECT_EQ(FaultyKernelCopy::calls, 1);
  EXPECT_EQ(FaultyReader::Current().reads.size(), 40u);  // 2,560,000 bytes in 64 KiB pieces

  // Counts that end inside a sector: only whole sectors are taken as copied.
  std::filesystem::remove(dir_ / "copy.img.map");
  FaultyKernelCopy::Reset();
  FaultyKernelCopy::tornPiece = 100000;
  auto torn = CopyToImage(request, nullptr);
  ASSERT_EQ(torn.result, kSuccess) << torn.reason;
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
  EXPECT_EQ(torn.badBytes, 0u);

  // The real call between two plain files.
  std::filesystem::remove(dir_ / "copy.img.map");
  device_.read = nullptr;
  request.kernelCopy = nullptr;
  auto real = CopyToImage(request, nullptr);
  ASSERT_EQ(real.result, kSuccess) << real.reason;
  EXPECT_EQ(test::ReadFile(dir_ / "copy.img"), source_);
  EXPECT_NE(MapText().find("0x00000000  0x00271000  +\n"), std::string::npos) << MapText();
}

}  // namespace
}  // namespace kestrel
