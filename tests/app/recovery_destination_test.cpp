#include "app/recovery_destination.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kestrel {
namespace {

FoundFileRecord Named(const std::string& name) {
  FoundFileRecord r;
  r.SetName(name);
  return r;
}

TEST(RecoveryDestination, SecondCopyOfANameGetsNumberBeforeExtension) {
  test::TempDir root;
  auto first = RecoveryDestination(root.path(), Named("IMG_1.JPG"));
  EXPECT_EQ(first, root / "photo/IMG_1.JPG");
  std::filesystem::create_directories(first.parent_path());
  test::WriteFile(first, {1});
  auto second = RecoveryDestination(root.path(), Named("IMG_1.JPG"));
  EXPECT_EQ(second, root / "photo/IMG_1(1).JPG");
  test::WriteFile(second, {2});
  EXPECT_EQ(RecoveryDestination(root.path(), Named("IMG_1.JPG")), root / "photo/IMG_1(2).JPG");
}

TEST(RecoveryDestination, CategoryFolders) {
  test::TempDir root;
  EXPECT_EQ(RecoveryDestination(root.path(), Named("song.mp3")), root / "audio/song.mp3");
  EXPECT_EQ(RecoveryDestination(root.path(), Named("report.pdf")), root / "document/report.pdf");
  EXPECT_EQ(RecoveryDestination(root.path(), Named("notes")), root / "others/notes");
  EXPECT_EQ(RecoveryDestination(root.path(), Named("data.xyz")), root / "others/data.xyz");
  EXPECT_EQ(RecoveryDestination(root.path(), Named("../../etc/passwd")), root / "others/.._.._etc_passwd");
}

TEST(RecoveryDestination, NumberGoesAfterTheLastDotAndNamesStayShortEnough) {
  test::TempDir root;
  test::WriteFile(root / "a.tar.gz", {1});
  EXPECT_EQ(FreeDestination(root / "a.tar.gz"), root / "a.tar(1).gz");
  test::WriteFile(root / "README", {1});
  EXPECT_EQ(FreeDestination(root / "README"), root / "README(1)");
  std::string longName(300, 'x');
  auto path = FreeDestination(root / (longName + ".jpg"));
  EXPECT_EQ(path.filename().string().size(), 255u);
  EXPECT_EQ(path.extension(), ".jpg");
}

TEST(RecoveryDestination, RootDepthIgnoresTrailingSeparator) {
  EXPECT_EQ(RootDepth("/out/"), 1);
  EXPECT_EQ(RootDepth("/out/x"), 2);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(KeepPathsDestination, FoundFolderPathKeptWithEachComponentMadeSafe) {
  test::TempDir root;
  FoundFileRecord record;
  record.SetName("IMG_1.JPG");
  EXPECT_EQ(KeepPathsDestination(root.path(), "DCIM/100CANON/", record), root / "DCIM/100CANON/IMG_1.JPG");
  EXPECT_EQ(KeepPathsDestination(root.path(), "", record), root / "IMG_1.JPG");
  // A found folder named ".." must not lead out of the destination.
  EXPECT_EQ(KeepPathsDestination(root.path(), "../../etc/", record), root / "_/_/etc/IMG_1.JPG");
  std::filesystem::create_directories(root / "a");
  test::WriteFile(root / "a/IMG_1.JPG", {1});
  EXPECT_EQ(KeepPathsDestination(root.path(), "a/", record), root / "a/IMG_1(1).JPG");
}

TEST(KeepPathsDestination, AFileAndAFolderOfOneNameBothKeepTheirContents) {
  test::TempDir root;
  FoundFileRecord inFolder;
  inFolder.SetName("x.jpg");
  // A deleted file "Trip" recovered first; the folder "Trip" comes later.
  test::WriteFile(root / "Trip", {1});
  auto first = KeepPathsDestination(root.path(), "Trip/", inFolder);
  EXPECT_EQ(first, root / "Trip(1)/x.jpg");
  std::filesystem::create_directories(first.parent_path());
  test::WriteFile(first, {2});
  // The folder's next file lands beside the first, not in a "Trip(2)".
  FoundFileRecord second;
  second.SetName("y.jpg");
  EXPECT_EQ(KeepPathsDestination(root.path(), "Trip/", second), root / "Trip(1)/y.jpg");
  // The other way round: the folder exists, the file of that name is numbered.
  FoundFileRecord file;
  file.SetName("Trip(1)");
  EXPECT_EQ(KeepPathsDestination(root.path(), "", file), root / "Trip(1)(1)");
}

TEST(KeepPathsDestination, EachComponentIsCutTo255BytesOnACharacterBoundaryKeepingItsExtension) {
  test::TempDir root;
  std::string folder;
  for (int i = 0; i < 150; ++i) folder += "\xC3\xA9";  // 300 bytes of two-byte characters
  std::string longFolder = folder + ".d";
  FoundFileRecord record;
  record.SetName("a.jpg");
  auto path = KeepPathsDestination(root.path(), longFolder + "/" + folder + "/", record);
  auto relative = std::filesystem::relative(path, root.path());
  std::vector<std::string> parts;
  for (const auto& part : relative) parts.push_back(part.string());
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_LE(parts[0].size(), 255u);
  EXPECT_TRUE(parts[0].ends_with("\xC3\xA9.d")) << "the extension and a whole last character are kept";
  EXPECT_EQ(parts[1].size(), 254u);  // 255 would split a character
  EXPECT_EQ(parts[2], "a.jpg");
}

}  // namespace
}  // namespace kestrel
