#include "app/language_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "support/test_support.h"

namespace kestrel {
namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
  test::WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::filesystem::path& path) {
  auto bytes = test::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(LanguageTableTest, ReadsLanguagesInFileOrderAndLooksUpTexts) {
  test::TempDir dir;
  WriteText(dir / "config.ini",
            "[DefaultLanguage]\nDefault=Dutch\n\n[Languages]\nEnglish=English\nDutch=Nederlands\nGerman=Deutsch\n");
  WriteText(dir / "Dutch.ini", "[Messages]\nMSG0301=Voortgang:\nMSG0301=second ignored\nno equals sign\n");
  LanguageTable table(dir / "config.ini", dir.path());
  EXPECT_EQ(table.Current(), "Dutch");
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(table.Languages(), (Pairs{{"English", "English"}, {"Dutch", "Nederlands"}, {"German", "Deutsch"}}));
  EXPECT_EQ(table.Text("Messages", "MSG0301"), "Voortgang:");
  EXPECT_EQ(table.Text("Messages", "no equals sign"), "no equals sign");
  // A missing id reads as empty and is added to its section.
  EXPECT_EQ(table.Text("Messages", "MSG9999"), "");
  EXPECT_EQ(table.Section("Messages").count("MSG9999"), 1u);
}

TEST(LanguageTableTest, MissingConfigMeansEnglishAndNoLanguages) {
  test::TempDir dir;
  LanguageTable table(dir / "config.ini", KESTREL_LANG_DIR);
  EXPECT_EQ(table.Current(), "English");
  EXPECT_TRUE(table.Languages().empty());
  EXPECT_FALSE(table.Text("Messages", "MSG0301").empty());
}

TEST(LanguageTableTest, SwitchingWritesTheChoiceAndReloads) {
  test::TempDir dir;
  std::filesystem::copy_file(std::filesystem::path(KESTREL_LANG_DIR) / "config.ini", dir / "config.ini");
  LanguageTable table(dir / "config.ini", KESTREL_LANG_DIR);
  std::string english = table.Text("Messages", "MSG0709");
  ASSERT_EQ(table.SetLanguage("German"), 0);
  EXPECT_EQ(table.Current(), "German");
  EXPECT_NE(table.Text("Messages", "MSG0709"), english);
  EXPECT_FALSE(table.Text("Messages", "MSG0709").empty());
  // The choice survives a restart, and the rest of the file is kept.
  LanguageTable again(dir / "config.ini", KESTREL_LANG_DIR);
  EXPECT_EQ(again.Current(), "German");
  EXPECT_EQ(again.Languages().size(), 2u);
  EXPECT_NE(ReadText(dir / "config.ini").find("German=Deutsch"), std::string::npos);
  // A language without a file empties every text.
  ASSERT_EQ(table.SetLanguage("Klingon"), 0);
  EXPECT_EQ(table.Text("Messages", "MSG0709"), "");
}

// Every shipped language defines the same keys as English, none empty except
// where English is empty too: a text missing in a translation would show as nothing.
TEST(LanguageTableTest, ShippedLanguagesAreComplete) {
  std::filesystem::path folder = KESTREL_LANG_DIR;
  IniSections english = ParseIni(ReadText(folder / "English.ini"));
  IniSections config = ParseIni(ReadText(folder / "config.ini"));
  ASSERT_FALSE(config["Languages"].empty());
  for (const auto& [name, shown] : config["Languages"]) {
    IniSections other = ParseIni(ReadText(folder / (name + ".ini")));
    for (const auto& [section, keys] : english) {
      for (const auto& [key, text] : keys) {
        auto found = other[section].find(key);
        ASSERT_NE(found, other[section].end()) << name << ": [" << section << "] " << key;
        EXPECT_EQ(found->second.empty(), text.empty()) << name << ": [" << section << "] " << key;
      }
    }
    EXPECT_EQ(other.size(), english.size()) << name;
  }
  // The message ids the program uses are all there.
  for (const char* id : {"MSG0217", "MSG0218", "MSG0219", "MSG0220", "MSG0221", "MSG0301", "MSG0302", "MSG0303",
                         "MSG0304", "MSG0305", "MSG0306", "MSG0307", "MSG0308", "MSG0702", "MSG0703", "MSG0704",
                         "MSG0705", "MSG0706", "MSG0707", "MSG0708", "MSG0709", "MSG1101", "MSG1102", "MSG1103",
                         "MSG1204", "MSG1205", "MSG1206"}) {
    EXPECT_FALSE(english["Messages"][id].empty()) << id;
  }
}

TEST(LanguageTableTest, FillInReplacesPlaceholdersInOrderAndNeverReadsPastItsArguments) {
  EXPECT_EQ(FillIn("%d of %d done: %d recovered, %d failed", {"3", "5", "2", "1"}),
            "3 of 5 done: 2 recovered, 1 failed");
  EXPECT_EQ(FillIn("100%% %s %s %n", {"a"}), "100% a  %n");
}

}  // namespace
}  // namespace kestrel
