// Sources that are no volume and destinations that cannot be written, through
// the commands a script runs: refused at once, in words, with exit 2.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "support/test_support.h"

namespace kestrel {
namespace {

using test::RunCli;

TEST(HostileSources, AFifoOrACharacterDeviceIsRefusedAtOnceByEveryCommand) {
  test::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  auto started = std::chrono::steady_clock::now();
  struct Case {
    std::string path;
    std::string says;
  };
  for (const auto& c : {Case{(dir / "pipe").string(), "is a FIFO (named pipe)"},
                        Case{"/dev/zero", "is a character device"}, Case{"/dev/null", "is a character device"}}) {
    for (std::vector<std::string> args : {std::vector<std::string>{"probe", c.path},
                                          {"scan", c.path},
                                          {"scan", "--deep", "--restart", c.path},
                                          {"recover", c.path, (dir / "out").string()}}) {
      auto result = RunCli(args);
      EXPECT_EQ(result.exitCode, 2) << args[0] << " " << c.path;
      EXPECT_EQ(result.err, "kestrel-cli: " + c.path + ": " + c.says +
                                ", not a disk, a partition or an image file (50)\n")
          << args[0];
    }
  }
  // Before, the FIFO hung in open until killed.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(HostileDestinations, TheFirstProblemIsNamedNotAMissingFile) {
  test::TempDir dir;
  auto image = test::TestImage("fat16-deleted.img").string();
  test::WriteFile(dir / "file", {1});
  auto result = RunCli({"recover", image, (dir / "file").string()});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err, "kestrel-cli: " + (dir / "file").string() + ": is a file, not a folder (183)\n");
  result = RunCli({"recover", image, (dir / "file/below").string()});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err,
            "kestrel-cli: " + (dir / "file/below").string() + ": " + (dir / "file").string() +
                " is a file, not a folder (183)\n");
  // /proc takes no new folders: the refusal is named, whatever the reason.
  result = RunCli({"recover", image, "/proc/kestrel-test-dest"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err.find("cannot find the file"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("cannot create /proc/kestrel-test-dest: "), std::string::npos) << result.err;
}

}  // namespace
}  // namespace kestrel
