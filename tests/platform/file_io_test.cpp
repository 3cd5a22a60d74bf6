#include "platform/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "engines/common/store_support.h"
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

TEST(DeepState, LoadOfAnUnreadableFileFailsAndLeavesTheReaderDamaged) {
  TempDir dir;
  WriteFile(dir / "a.bin", {1});
  deep::StateReader reader;
  EXPECT_NE(reader.Load(dir.path()), kSuccess);
  EXPECT_FALSE(reader.ok());
  EXPECT_NE(reader.Load(dir / "missing.state"), kSuccess);
  EXPECT_FALSE(reader.ok());
}

TEST(DeepState, SavedStateReadsBackAsWritten) {
  TempDir dir;
  deep::StateWriter inner;
  inner.U32(0xCAFEF00D);
  deep::StateWriter writer;
  writer.U8(7);
  writer.U64(0x0102030405060708ull);
  writer.Blob({9, 8, 7});
  writer.Section(inner);
  ASSERT_EQ(writer.Save(dir / "x.state"), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.state.tmp"));

  deep::StateReader reader;
  ASSERT_EQ(reader.Load(dir / "x.state"), kSuccess);
  EXPECT_EQ(reader.U8(), 7);
  EXPECT_EQ(reader.U64(), 0x0102030405060708ull);
  EXPECT_EQ(reader.Blob(16), (std::vector<uint8_t>{9, 8, 7}));
  deep::StateReader section;
  ASSERT_TRUE(reader.Section(section));
  EXPECT_EQ(section.U32(), 0xCAFEF00Du);
  EXPECT_TRUE(reader.ok());
  EXPECT_TRUE(reader.AtEnd());
}

}  // namespace
}  // namespace kestrel
