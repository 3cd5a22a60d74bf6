// kestrel-cli mount on the card images: every file read through the mount
// against the file recover writes and the checksums the image script
// recorded; recorded times, the selection, carved files and refused writes.
// Skipped where FUSE is not available.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::string FuseMissing() {
  int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return "/dev/fuse cannot be opened here";
  ::close(fd);
  if (std::system("command -v fusermount3 >/dev/null 2>&1") != 0) return "fusermount3 is not installed";
  return {};
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// kestrel-cli mount running in the background; unmounted when it goes away.
class Mount {
 public:
  Mount(const std::vector<std::string>& args, const fs::path& mountPoint) : mountPoint_(mountPoint) {
    fs::create_directories(mountPoint);
    pid_ = test::StartCli(args, logs_ / "out", logs_ / "err");
    // Up once it says so; a failure ends the process instead.
    for (int i = 0; i < 400; ++i) {
      if (Slurp(logs_ / "out").find("mounted ") != std::string::npos) {
        up_ = true;
        return;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Mount() {
    if (pid_ > 0) Unmount();
  }
  bool up() const { return up_; }
  std::string err() const { return Slurp(logs_ / "err"); }
  // Ctrl-C on the foreground process, then its exit code.
  int Interrupt() {
    if (pid_ <= 0) return exitCode_;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitCode_;
  }
  // fusermount3 -u, then the exit code of the mount process.
  int Unmount() {
    std::string command = "fusermount3 -u '" + mountPoint_.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0 && pid_ > 0) kill(pid_, SIGINT);
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    }
    return exitCode_;
  }

 private:
  fs::path mountPoint_;
  test::TempDir logs_;
  pid_t pid_ = -1;
  bool up_ = false;
  int exitCode_ = -1;
};

class MountCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string missing = FuseMissing();
    if (!missing.empty()) GTEST_SKIP() << "FUSE is not available: " << missing;
  }
};

TEST_F(MountCommand, EveryFileReadsAsRecoverWritesItWithItsRecordedSizeAndTime) {
  const std::string image = test::TestImage("fat32-deleted.img").string();
  test::TempDir work;
  Mount mount({"mount", image, (work / "mnt").string()}, work / "mnt");
  ASSERT_TRUE(mount.up()) << mount.err();
  auto recovered = test::RunCli({"recover", image, (work / "out").string(), "--types", "all", "--keep-paths"});
  ASSERT_NE(recovered.exitCode, 2) << recovered.err;

  size_t compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(work / "mnt")) {
    if (!entry.is_regular_file()) continue;
    fs::path relative = fs::relative(entry.path(), work / "mnt");
    fs::path written = work / "out" / relative;
    // A file recovery marks as failed or renames is not a byte-for-byte pair.
    if (!fs::exists(written) || recovered.err.find(written.string()) != std::string::npos) continue;
    EXPECT_EQ(test::Sha256Hex(entry.path()), test::Sha256Hex(written)) << relative;
    // recover sets the recorded times on what it writes; the mount shows the same.
    struct stat shown{}, copy{};
    ASSERT_EQ(::stat(entry.path().c_str(), &shown), 0);
    ASSERT_EQ(::stat(written.c_str(), &copy), 0);
    EXPECT_EQ(shown.st_mtim.tv_sec, copy.st_mtim.tv_sec) << relative;
    EXPECT_EQ(shown.st_mtim.tv_nsec, copy.st_mtim.tv_nsec) << relative;
    ++compared;
  }
  size_t intact = 0;
  for (const test::ExpectedFile& e : test::ExpectedFiles("fat-expected.txt", "fat32-deleted.img")) {
    fs::path shown = work / "mnt" / e.path;
    if (e.status == "absent") {
      EXPECT_FALSE(fs::exists(shown)) << e.path;
      continue;
    }
    if (e.status != "intact") continue;
    ++intact;
    ASSERT_TRUE(fs::exists(shown)) << e.path;
    EXPECT_EQ(fs::file_size(shown), e.size) << e.path;
    EXPECT_EQ(test::Sha256Hex(shown), e.sha256) << e.path;
    // The card's files were all written at 2026-12-08 19:17:10 (stored as is, no zone).
    struct stat st{};
    ASSERT_EQ(::stat(shown.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1796757430) << e.path;
    EXPECT_EQ(st.st_mode & 0222, 0u) << e.path;
  }
  EXPECT_GE(compared, intact);
  EXPECT_GE(intact, 12u);

  // The file whose clusters were reused: recovery writes only its first part
  // and marks it; the mount marks it alike and fails the read instead of
  // ending it early.
  EXPECT_FALSE(fs::exists(work / "mnt" / "Reused Photo.jpg"));
  int fd = ::open((work / "mnt" / "Reused Photo.partial.jpg").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::vector<char> buffer(1 << 16);
  ssize_t total = 0, got = 0;
  while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) total += got;
  EXPECT_EQ(got, -1);
  EXPECT_EQ(errno, EIO);
  ::close(fd);

  EXPECT_EQ(::open((work / "mnt" / "new.txt").c_str(), O_CREAT | O_WRONLY, 0644), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(::open((work / "mnt" / "Photos" / "Café crème ☕.jpg").c_str(), O_WRONLY), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(mount.Unmount(), 0) << mount.err();
  EXPECT_FALSE(fs::exists(work / "mnt" / "Photos"));
}

// The regular files below root, by name alone (recover sorts by category,
// the mount keeps the volume's folders).
std::multiset<std::string> FileNamesBelow(const fs::path& root) {
  std::multiset<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) out.insert(entry.path().filename().string());
  }
  return out;
}

TEST_F(MountCommand, DamagedAndPartialFilesShowUnderTheNamesRecoverGivesThem) {
  const std::string image = test::TestImage("fat16-outcomes.img").string();
  test::TempDir work;
  auto recovered = test::RunCli({"recover", image, (work / "out").string(), "--types", "all"});
  ASSERT_EQ(recovered.exitCode, 1) << recovered.err;
  fs::remove(work / "out" / "recovery-report.json");
  std::multiset<std::string> written = FileNamesBelow(work / "out");
  ASSERT_EQ(written.count("!UNE.damaged.MID"), 1u) << recovered.err;
  ASSERT_EQ(written.count("!AST.partial.JPG"), 1u) << recovered.err;
  {
    // With --check every file is read and judged first: the very names recover
    // wrote. The image is unchanged since recover scanned it: that scan serves.
    Mount checked({"mount", image, (work / "checked").string(), "--check"}, work / "checked");
    ASSERT_TRUE(checked.up()) << checked.err();
    EXPECT_NE(checked.err().find("reusing that scan (give --rescan to scan it again)"), std::string::npos)
        << checked.err();
    EXPECT_EQ(FileNamesBelow(work / "checked"), written);
    size_t damaged = 0;
    for (const std::string& name : written) damaged += name.find(".damaged.") != std::string::npos ? 1 : 0;
    EXPECT_NE(checked.err().find("checked " + std::to_string(written.size()) + " files: " + std::to_string(damaged) +
                                 " damaged, 1 partial"),
              std::string::npos)
        << checked.err();
    EXPECT_EQ(checked.Unmount(), 0) << checked.err();
  }
  // Without it nothing is read up front: the file whose end cannot be read
  // and the one whose first block the scan found wrong are still marked.
  Mount plain({"mount", image, (work / "plain").string(), "--rescan"}, work / "plain");
  ASSERT_TRUE(plain.up()) << plain.err();
  EXPECT_EQ(plain.err().find("reusing"), std::string::npos) << plain.err();
  EXPECT_TRUE(fs::exists(work / "plain" / "DCIM" / "!AST.partial.JPG"));
  EXPECT_TRUE(fs::exists(work / "plain" / "MIDI" / "!UNE.damaged.MID"));
  EXPECT_TRUE(fs::exists(work / "plain" / "DCIM" / "!EW.JPG"));
  EXPECT_FALSE(fs::exists(work / "plain" / "DCIM" / "!AST.JPG"));
  EXPECT_EQ(plain.Unmount(), 0) << plain.err();
}

TEST_F(MountCommand, SelectionShowsOnlyWhatItTakesAndCtrlCUnmounts) {
  const std::string image = test::TestImage("fat32-deleted.img").string();
  test::TempDir work;
  Mount mount({"mount", image, (work / "mnt").string(), "--match", "**/*.png"}, work / "mnt");
  ASSERT_TRUE(mount.up()) << mount.err();
  std::set<std::string> shown;
  for (const auto& entry : fs::recursive_directory_iterator(work / "mnt")) {
    shown.insert(fs::relative(entry.path(), work / "mnt").string());
  }
  // Folders appear only on the way to a file the selection takes.
  std::set<std::string> expected = {"Old Album", "Old Album/Family Portrait.png", "Photos", "Photos/Holiday 2024",
                                    "Photos/Holiday 2024/Sunset at the Pier.png"};
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(mount.Interrupt(), 0) << mount.err();
  EXPECT_FALSE(fs::exists(work / "mnt" / "Photos"));
}

TEST_F(MountCommand, DeepScanShowsLostFoldersAndCarvedFilesByCategory) {
  const std::string image = test::TestImage("deep-fat32-formatted.img").string();
  test::TempDir work;
  Mount mount({"mount", image, (work / "mnt").string(), "--deep", "--restart"}, work / "mnt");
  ASSERT_TRUE(mount.up()) << mount.err();
  // Looked at before the recover below restarts the scan and so deletes the
  // stores this mount's scan wrote (the open ones stay readable).
  EXPECT_TRUE(fs::is_directory(work / "mnt" / "LostFolder50" / "100CANON"));
  auto recovered = test::RunCli({"recover", image, (work / "out").string(), "--deep", "--restart", "--types", "all"});
  ASSERT_NE(recovered.exitCode, 2) << recovered.err;
  size_t carved = 0;
  for (const auto& entry : fs::directory_iterator(work / "mnt" / "carved" / "photo")) {
    // recover sorts by category too: carved names are unique, so the pair is exact.
    fs::path written = work / "out" / "photo" / entry.path().filename();
    ASSERT_TRUE(fs::exists(written)) << written;
    EXPECT_EQ(test::Sha256Hex(entry.path()), test::Sha256Hex(written)) << entry.path();
    ++carved;
  }
  // The photo whose entry the format wiped; the others show under their names.
  EXPECT_EQ(carved, 1u);
  EXPECT_EQ(mount.Unmount(), 0) << mount.err();
}

}  // namespace
}  // namespace kestrel
