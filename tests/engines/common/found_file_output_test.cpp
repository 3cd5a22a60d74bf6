#include "engines/common/found_file_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engines/common/unpublished_file.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

// Names in folder, hidden ones too, sorted.
std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

FoundFileRecord RecordOf(const std::string& name, uint64_t size) {
  FoundFileRecord record;
  record.SetName(name);
  record.size = size;
  return record;
}

struct Outcome {
  int code = -1;
  std::filesystem::path path;
};

int Remember(void* user, int32_t percent, int32_t, int32_t error, const std::filesystem::path& path) {
  if (percent >= 100) *static_cast<Outcome*>(user) = {error, path};
  return 0;
}

// Writes half the bytes, looks at the folder as a kill at that moment would
// leave it, then ends with result.
RecordReader HalfThen(int result, std::vector<std::string>& seenMidway, const std::filesystem::path& folder) {
  return [result, &seenMidway, folder](const FoundFileRecord& record, DataSink& sink,
                                       const std::function<int(uint64_t)>& report) {
    std::vector<uint8_t> half(record.size / 2, 0x5A);
    if (int error = sink.Write(half.data(), half.size()); error != kSuccess) return error;
    if (int answer = report(half.size()); answer != 0) return answer;
    seenMidway = Names(folder);
    if (result != kSuccess) return result;
    if (int error = sink.Write(half.data(), record.size - half.size()); error != kSuccess) return error;
    return kSuccess;
  };
}

TEST(WriteFoundFile, NothingAppearsUnderTheRealNameUntilTheFileIsWhole) {
  test::TempDir dir;
  std::vector<std::string> midway;
  Outcome outcome;
  auto record = RecordOf("photo.jpg", 1000);
  ASSERT_EQ(WriteFoundFile(record, dir / "photo.jpg", Remember, &outcome, HalfThen(kSuccess, midway, dir.path())),
            kSuccess);
  // Midway: one hidden temporary, no real name.
  ASSERT_EQ(midway.size(), 1u);
  EXPECT_TRUE(IsUnpublishedName(midway[0])) << midway[0];
  // After: the real name with every byte, and no temporary left.
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"photo.jpg"});
  EXPECT_EQ(std::filesystem::file_size(dir / "photo.jpg"), 1000u);
  EXPECT_EQ(outcome.code, kSuccess);
  EXPECT_EQ(outcome.path, dir / "photo.jpg");
}

TEST(WriteFoundFile, AFailedOrStoppedFileLeavesNothingAndACutShortOneIsMarkedPartial) {
  test::TempDir dir;
  std::vector<std::string> midway;
  Outcome outcome;
  auto record = RecordOf("song.mp3", 800);

  EXPECT_EQ(WriteFoundFile(record, dir / "song.mp3", Remember, &outcome, HalfThen(kErrReadFault, midway, dir.path())),
            kErrReadFault);
  EXPECT_TRUE(Names(dir.path()).empty());
  EXPECT_EQ(outcome.code, kErrReadFault);

  // The end of the file could not be found: what came back is kept, marked.
  EXPECT_EQ(WriteFoundFile(record, dir / "song.mp3", Remember, &outcome, HalfThen(kErrHandleEof, midway, dir.path())),
            kErrHandleEof);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"song.partial.mp3"});
  EXPECT_EQ(std::filesystem::file_size(dir / "song.partial.mp3"), 400u);
  EXPECT_EQ(outcome.path, dir / "song.partial.mp3");
  // A second partial copy never replaces the first.
  WriteFoundFile(record, dir / "song.mp3", Remember, &outcome, HalfThen(kErrHandleEof, midway, dir.path()));
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"song(1).partial.mp3", "song.partial.mp3"}));

  // A stop answered to a progress call: the temporary goes too.
  auto stop = [](void*, int32_t percent, int32_t, int32_t, const std::filesystem::path&) {
    return percent < 100 ? kCancelled : 0;
  };
  EXPECT_EQ(WriteFoundFile(record, dir / "other.mp3", stop, nullptr, HalfThen(kSuccess, midway, dir.path())),
            kCancelled);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"song(1).partial.mp3", "song.partial.mp3"}));
}

TEST(WriteFoundFile, AFolderThatCannotTakeTheTemporaryFailsWithItsReason) {
  test::TempDir dir;
  Outcome outcome;
  std::vector<std::string> midway;
  auto record = RecordOf("a.jpg", 10);
  EXPECT_EQ(WriteFoundFile(record, dir / "missing" / "a.jpg", Remember, &outcome,
                           HalfThen(kSuccess, midway, dir.path())),
            kErrFileNotFound);
  EXPECT_EQ(outcome.code, kErrFileNotFound);
  EXPECT_TRUE(midway.empty());  // the reader was never called
}

TEST(RemoveUnpublishedFiles, OnlyTemporariesGoAtEveryDepth) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "a/b");
  for (const char* name : {"keep.jpg", "a/.recovering-1-0.kestrel-part", "a/b/.recovering-9-3.kestrel-part",
                           "a/b/keep.kestrel-part", "a/.hidden.jpg"}) {
    test::WriteFile(dir / name, {1, 2, 3});
  }
  EXPECT_EQ(RemoveUnpublishedFiles(dir.path()), 2u);
  EXPECT_TRUE(std::filesystem::exists(dir / "keep.jpg"));
  EXPECT_TRUE(std::filesystem::exists(dir / "a/b/keep.kestrel-part"));  // not hidden: not ours
  EXPECT_TRUE(std::filesystem::exists(dir / "a/.hidden.jpg"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a/.recovering-1-0.kestrel-part"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a/b/.recovering-9-3.kestrel-part"));
  EXPECT_EQ(RemoveUnpublishedFiles(dir / "nothing-here"), 0u);
}

}  // namespace
}  // namespace kestrel
