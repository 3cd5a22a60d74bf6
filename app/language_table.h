// The user-visible texts of every window, job and message box, looked up by
// section and key in the current language's file, and the user's choice of
// language kept in config.ini. Lookups may come from job threads; loading and
// switching happen while no job runs.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

// One profile (INI) file: "[Section]" lines, then "key=text" lines. A line
// without '=' is a key equal to the whole line with the line as its text; a
// key repeated in one section keeps its first text; lines starting with ';'
// are comments.
using IniSections = std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;
// Sections and their lines in file order, for the language list.
IniSections ParseIni(std::string_view text, std::vector<std::pair<std::string, std::vector<std::string>>>* ordered = nullptr);

class LanguageTable {
 public:
  // config: the user's config.ini; languageFolder: where "<name>.ini" lie.
  LanguageTable(std::filesystem::path config, std::filesystem::path languageFolder);

  // The process-wide table: the user's config.ini in $XDG_CONFIG_HOME/Kestrel
  // (seeded from the shipped default when missing), the language files from
  // "lang" beside the executable (a build tree) or under the install prefix.
  static LanguageTable& Instance();

  // The text under (section, key); a missing key is added with an empty text,
  // so a missing message shows as nothing rather than failing.
  std::string Text(std::string_view section, std::string_view key);
  // A copy of a section (empty when the file has none).
  std::map<std::string, std::string, std::less<>> Section(std::string_view section);

  // (name, menu text) of every installed language, in config.ini's order.
  std::vector<std::pair<std::string, std::string>> Languages() const;
  std::string Current() const;
  // Writes name to config.ini as the current language and reloads from the file.
  // 0, or the error of writing config.ini (the table is then left as it was).
  int SetLanguage(const std::string& name);

  const std::filesystem::path& configPath() const { return config_; }

 private:
  void LoadConfig();
  void LoadLanguage();

  std::filesystem::path config_;
  std::filesystem::path folder_;
  mutable std::mutex mutex_;
  std::string current_ = "English";
  std::vector<std::pair<std::string, std::string>> languages_;
  IniSections table_;
};

// A text with its "%s", "%d" and "%c" filled in by args, in order (a missing
// argument leaves the placeholder empty); "%%" is '%'. Texts come from files
// the user may edit, so they are never handed to printf as a format.
std::string FillIn(std::string_view text, std::initializer_list<std::string> args);

// Where the shipped language files lie: "<executable folder>/lang" when it
// holds config.ini (a build tree), else "<prefix>/share/kestrel/lang".
std::filesystem::path ShippedLanguageFolder();
// $XDG_CONFIG_HOME/Kestrel/config.ini (default ~/.config).
std::filesystem::path UserConfigPath();

}  // namespace kestrel
