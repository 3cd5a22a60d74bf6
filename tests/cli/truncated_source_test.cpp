#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kestrel {
namespace {

// A partial copy of a card still scans, but the user is told up front that
// files past the copy's end cannot come back; a whole copy gets no warning.
TEST(TruncatedSource, ScanWarnsWhenTheImageIsShorterThanItsFileSystem) {
  for (const char* image : {"fat16-deleted.img", "ntfs-main.img"}) {
    SCOPED_TRACE(image);
    test::TempDir dir;
    auto whole = test::ReadFile(test::TestImage(image));
    auto env = std::vector<std::string>{"XDG_DATA_HOME=" + (dir / "data").string()};

    auto intact = test::RunCli({"scan", test::TestImage(image).string()}, env);
    EXPECT_EQ(intact.exitCode, 0) << intact.err;
    EXPECT_EQ(intact.err.find("warning"), std::string::npos) << intact.err;

    std::vector<uint8_t> half(whole.begin(), whole.begin() + whole.size() / 2);
    test::WriteFile(dir / "half.img", half);
    auto cut = test::RunCli({"scan", (dir / "half.img").string()}, env);
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    std::string expected = "kestrel-cli: warning: " + (dir / "half.img").string() + " holds " +
                           std::to_string(half.size()) + " of the ";
    EXPECT_EQ(cut.err.rfind(expected, 0), 0u) << cut.err;
    EXPECT_NE(cut.err.find("files stored past its end cannot be recovered"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrel
