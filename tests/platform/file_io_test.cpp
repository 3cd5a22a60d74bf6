#include "platform/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
using test::TempDir;
using test::WriteFile;

namespace {

TEST(FileIo, ReadWholeFileGivesEveryByteOfALargeFile) {
  TempDir dir;
  std::vector<uint8_t> bytes(200000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + i / 251);
  WriteFile(dir / "big.bin", bytes);
  int fd = ::open((dir / "big.bin").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> out{1, 2, 3};
  EXPECT_EQ(ReadWholeFile(fd, out), kSuccess);
  ::close(fd);
  EXPECT_EQ(out, bytes);
}

TEST(FileIo, ReadWholeFileReportsAReadError) {
  TempDir dir;
  WriteFile(dir / "a.bin", {1});  // a folder with an entry has a size
  // A folder opens read-only but every read of it fails.
  int fd = ::open(dir.path().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> out;
  EXPECT_NE(ReadWholeFile(fd, out), kSuccess);
  ::close(fd);
}

}  // namespace
}  // namespace kestrel
