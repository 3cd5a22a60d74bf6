// End to end on the NTFS test images: kestrel-cli recover --keep-paths brings
// back every file deleted last byte for byte, under its Win32 name and folder
// path; scan --list says how each file is stored.
#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::RunCli;

class NtfsRecoverCommand : public ::testing::TestWithParam<std::string> {};

TEST_P(NtfsRecoverCommand, KeepPathsReturnsEveryDeletedFileByteExact) {
  test::TempDir out;
  auto image = test::TestImage(GetParam() + ".img");
  auto result = RunCli({"recover", image.string(), out.path().string(), "--types", "all", "--keep-paths"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto expected = test::ExpectedHashes(GetParam());
  ASSERT_FALSE(expected.empty());
  for (const auto& [path, sha] : expected) {
    ASSERT_TRUE(fs::exists(out.path() / path)) << path << "\n" << result.out << result.err;
    EXPECT_EQ(test::Sha256Hex(out.path() / path), sha) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsRecoverCommand, ::testing::Values("ntfs-main", "ntfs-4k", "ntfs-512"));

// name -> the list line's storage column
std::map<std::string, std::string> StorageColumn(const std::string& listing) {
  std::map<std::string, std::string> out;
  for (const auto& fields : test::ListRows(listing)) {
    if (fields.size() >= 8) out[fields[0] + fields[1]] = fields[7];  // the storage column
  }
  return out;
}

TEST(NtfsScanCommand, ListMarksEncryptedCompressedAndSparseFiles) {
  auto result = RunCli({"scan", "--list", test::TestImage("ntfs-main.img").string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto storage = StorageColumn(result.out);
  EXPECT_EQ(storage["docs/secret.txt"], "encrypted");
  EXPECT_EQ(storage["packed/text.txt"], "compressed");
  EXPECT_EQ(storage["docs/sparse.bin"], "sparse");
  EXPECT_EQ(storage["docs/notes.txt"], "-");
  // The file whose folder record was reused is listed under its lost folder.
  std::string lost;
  for (const auto& [path, sha] : test::ExpectedHashes("ntfs-main")) {
    if (path.rfind("LostFolder", 0) == 0) lost = path;
  }
  ASSERT_FALSE(lost.empty());
  EXPECT_EQ(storage[lost], "-");
}

}  // namespace
}  // namespace kestrel
