// One set of expectations run over every engine: fast FAT, fast NTFS, fast
// ext, the deep composite and the carving member, each on a committed image.
// What one engine promises through the engine interface, all promise.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/scan_log_paths.h"
#include "engines/deep/deep_recovery.h"
#include "engines/engine_factory.h"
#include "fs/fat/fat_dir.h"
#include "platform/error_codes.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

struct EngineCase {
  const char* name;
  const char* image;
  bool deep;
  bool carver;  // the carving member of the deep composite
};

std::ostream& operator<<(std::ostream& out, const EngineCase& c) { return out << c.name; }

struct ItemCall {
  int32_t percent;
  int32_t error;
  std::filesystem::path path;
};

struct ItemLog {
  std::vector<ItemCall> calls;
  int cancelAtCall = 0;  // 1-based; 0 never
};

int LogItem(void* user, int32_t percent, int32_t, int32_t error, const std::filesystem::path& path) {
  auto* log = static_cast<ItemLog*>(user);
  log->calls.push_back({percent, error, path});
  return int(log->calls.size()) == log->cancelAtCall ? kCancelled : 0;
}

class EngineConformance : public ::testing::TestWithParam<EngineCase> {
 protected:
  void SetUp() override {
    owner_ = CreateEngineForImage(test::TestImage(GetParam().image), 0, GetParam().deep);
    ASSERT_NE(owner_, nullptr);
    ASSERT_EQ(owner_->Scan(std::nullopt), kSuccess);
    engine_ = owner_.get();
    if (GetParam().carver) engine_ = &dynamic_cast<CProfessionalRecovery&>(*owner_).carver();
  }
  void TearDown() override {
    // Later tests must not continue this scan's stores.
    StartNewScanFolder();
  }

  void Listen(ItemLog& log) { engine_->SetCallbacks(nullptr, LogItem, &log, 100); }

  // Every record of the engine, folders walked breadth first (bounded).
  std::vector<FoundFileRecord> AllRecords() {
    std::vector<FoundFileRecord> all;
    std::vector<FoundFileRecord> root;
    engine_->ListChildren(nullptr, 0, root);
    std::deque<std::pair<FoundFileRecord, int32_t>> folders;
    for (const auto& r : root) {
      all.push_back(r);
      if (r.IsDirectory()) folders.push_back({r, 1});
    }
    while (!folders.empty() && all.size() < 10000) {
      auto [folder, level] = folders.front();
      folders.pop_front();
      std::vector<FoundFileRecord> children;
      engine_->ListChildren(&folder, level, children);
      for (const auto& r : children) {
        all.push_back(r);
        if (r.IsDirectory()) folders.push_back({r, level + 1});
      }
    }
    return all;
  }

  // A top-level folder holding two files or more (at any depth) and the
  // path, relative to the folder, of the file a breadth-first walk writes
  // first, so that a success follows that file's write.
  bool FindFolderWithTwoFiles(FoundFileRecord& folder, std::filesystem::path& firstFile) {
    std::vector<FoundFileRecord> root;
    engine_->ListChildren(nullptr, 0, root);
    for (const auto& top : root) {
      if (!top.IsDirectory()) continue;
      struct Pending {
        FoundFileRecord record;
        std::filesystem::path path;
        int32_t level;
      };
      std::deque<Pending> queue{{top, {}, 1}};
      std::vector<std::filesystem::path> files;
      while (!queue.empty() && files.size() < 2) {
        Pending current = queue.front();
        queue.pop_front();
        std::vector<FoundFileRecord> children;
        engine_->ListChildren(&current.record, current.level, children);
        for (const auto& child : children) {
          std::filesystem::path path = current.path / SafeFileName(std::string(child.Name()));
          if (!child.IsDirectory()) {
            files.push_back(path);
          } else if (current.level < 16) {
            queue.push_back({child, path, current.level + 1});
          }
        }
      }
      if (files.size() >= 2) {
        folder = top;
        firstFile = files.front();
        return true;
      }
    }
    return false;
  }

  // A file of more than bytes that recovers whole (to path).
  bool FindRecoverableFile(uint64_t bytes, const std::filesystem::path& path, FoundFileRecord& out) {
    engine_->SetCallbacks(nullptr, nullptr, nullptr, 100);
    for (const auto& r : AllRecords()) {
      if (!r.IsDirectory() && r.size > bytes && engine_->RecoverItem(&r, path, 0) == kSuccess) {
        out = r;
        return true;
      }
    }
    return false;
  }

  std::unique_ptr<IFileRecoveryParse> owner_;
  IFileRecoveryParse* engine_ = nullptr;
  test::TempDir out_;
};

TEST_P(EngineConformance, NullRecordIsAnInvalidParameter) {
  EXPECT_EQ(engine_->RecoverItem(nullptr, out_ / "x", 0), kErrInvalidParameter);
  std::filesystem::path temp;
  std::vector<uint8_t> buffer;
  uint32_t size = 64;
  EXPECT_EQ(engine_->ExtractPreview(nullptr, temp, buffer, size, nullptr, nullptr), kErrInvalidParameter);
  EXPECT_EQ(size, 0u);
}

// The first failure is the folder's result: a later success must not hide
// it, and the files after the failed one are still written.
TEST_P(EngineConformance, FolderWithAFailingChildReportsTheFailure) {
  FoundFileRecord folder;
  std::filesystem::path blocked;
  if (!FindFolderWithTwoFiles(folder, blocked)) GTEST_SKIP() << "no folder with two files on this engine";
  std::filesystem::path destination = out_ / "tree";
  // A folder where the first file is to be written: opening it for writing fails.
  std::filesystem::path blockedPath = destination / blocked;
  std::filesystem::create_directories(blockedPath / "occupied");
  ItemLog log;
  Listen(log);
  int result = engine_->RecoverItem(&folder, destination, CountSeparators(out_.path().string() + "/"));

  int blockedError = kSuccess;
  int successes = 0;
  for (const ItemCall& call : log.calls) {
    if (call.percent != 100) continue;
    if (call.path == blockedPath) blockedError = call.error;
    if (call.error == kSuccess) ++successes;
  }
  EXPECT_NE(blockedError, kSuccess) << "the blocked file was not reported as failed";
  EXPECT_GE(successes, 1) << "the walk stopped at the failed file";
  EXPECT_EQ(result, blockedError);
}

TEST_P(EngineConformance, CancelComesBackUnchangedAndStopsTheWalk) {
  FoundFileRecord item;
  std::filesystem::path unused;
  if (!FindFolderWithTwoFiles(item, unused) && !FindRecoverableFile(0, out_ / "probe", item)) {
    GTEST_SKIP() << "no files";
  }
  ItemLog log;
  log.cancelAtCall = 1;
  Listen(log);
  EXPECT_EQ(engine_->RecoverItem(&item, out_ / "cancelled", CountSeparators(out_.path().string() + "/")),
            kCancelled);
  EXPECT_EQ(log.calls.size(), 1u) << "calls went on after the cancel";
}

TEST_P(EngineConformance, EmptyFileIsReportedOnceAt100) {
  FoundFileRecord record;
  if (!FindRecoverableFile(0, out_ / "probe", record)) GTEST_SKIP() << "no files";
  record.size = 0;
  ItemLog log;
  Listen(log);
  std::filesystem::path path = out_ / "empty" / "file.bin";
  ASSERT_EQ(engine_->RecoverItem(&record, path, 0), kSuccess);
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0].percent, 100);
  EXPECT_EQ(log.calls[0].error, kSuccess);
  EXPECT_EQ(log.calls[0].path, path);
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

// A preview into a buffer smaller than the file delivers exactly the
// buffer's worth: the file's first bytes, as recovery writes them.
TEST_P(EngineConformance, PreviewIntoATooSmallBufferGivesTheFirstBytes) {
  FoundFileRecord record;
  std::filesystem::path whole = out_ / "whole.bin";
  if (!FindRecoverableFile(16, whole, record)) GTEST_SKIP() << "no files";
  std::vector<uint8_t> expected = test::ReadFile(whole);
  ASSERT_GT(expected.size(), 16u);

  record.SetName("preview.bin");  // not a picture or sound: previewed into the buffer
  std::filesystem::path temp;
  std::vector<uint8_t> buffer;
  uint32_t size = 16;
  ASSERT_EQ(engine_->ExtractPreview(&record, temp, buffer, size, nullptr, nullptr), kSuccess);
  ASSERT_EQ(size, 16u);
  ASSERT_GE(buffer.size(), 16u);
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 16, buffer.begin()));

  size = 0;
  EXPECT_EQ(engine_->ExtractPreview(&record, temp, buffer, size, nullptr, nullptr), kSuccess);
  EXPECT_EQ(size, 0u);
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineConformance,
                         ::testing::Values(EngineCase{"FastFat", "fat12-deleted.img", false, false},
                                           EngineCase{"FastNtfs", "ntfs-main.img", false, false},
                                           EngineCase{"FastExfat", "exfat-deleted.img", false, false},
                                           EngineCase{"FastExt", "probe-ext4.img", false, false},
                                           EngineCase{"DeepComposite", "deep-fat32-noboot.img", true, false},
                                           EngineCase{"Carving", "deep-fat32-noboot.img", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel
