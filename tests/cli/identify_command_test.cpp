// kestrel-cli identify: one line per file with the type and its carved size.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kestrel::test {
namespace {

std::string Sample(const std::string& name) { return std::string(KESTREL_TEST_DATA_DIR) + "/samples/" + name; }

TEST(IdentifyCommand, PrintsTypeAndSizeOrDashPerFile) {
  CliResult run = RunCli({"identify", Sample("image.png"), Sample("doc.pdf"), Sample("song.mp3")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, Sample("image.png") + "\tpng\t1567\n" + Sample("doc.pdf") + "\tpdf\t329\n" + Sample("song.mp3") +
                         "\tmp3\t2977\n");
}

TEST(IdentifyCommand, UnrecognisedAndMissingFiles) {
  TempDir dir;
  WriteFile(dir / "zeros.bin", std::vector<uint8_t>(4096, 0));
  WriteFile(dir / "empty.bin", {});
  std::string zeros = (dir / "zeros.bin").string(), empty = (dir / "empty.bin").string();
  std::string missing = (dir / "missing.jpg").string();
  CliResult run = RunCli({"identify", zeros, missing, empty});
  EXPECT_EQ(run.exitCode, 1);  // partly done
  EXPECT_EQ(run.out, zeros + "\tunrecognised\n" + empty + "\tunrecognised\n");
  EXPECT_NE(run.err.find("missing.jpg"), std::string::npos);
  EXPECT_EQ(RunCli({"identify", missing}).exitCode, 2);
}

}  // namespace
}  // namespace kestrel::test
