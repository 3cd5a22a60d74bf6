#include "app/language_table.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/file_io.h"

#ifndef KESTREL_DATA_DIR
#define KESTREL_DATA_DIR "/usr/local/share/kestrel"
#endif

namespace kestrel {

namespace {

std::string Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  std::string text = out.str();
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);  // editors on other systems add a BOM
  return text;
}

}  // namespace

IniSections ParseIni(std::string_view text, std::vector<std::pair<std::string, std::vector<std::string>>>* ordered) {
  IniSections sections;
  std::string current;
  bool inSection = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = Trim(std::string_view(line).substr(1, line.size() - 2));
      inSection = true;
      sections[current];
      if (ordered) ordered->push_back({current, {}});
      continue;
    }
    if (!inSection) continue;
    size_t equals = line.find('=');
    std::string key = equals == std::string::npos ? line : Trim(std::string_view(line).substr(0, equals));
    std::string value = equals == std::string::npos ? line : Trim(std::string_view(line).substr(equals + 1));
    sections[current].emplace(key, value);
    if (ordered) ordered->back().second.push_back(line);
  }
  return sections;
}

LanguageTable::LanguageTable(std::filesystem::path config, std::filesystem::path languageFolder)
    : config_(std::move(config)), folder_(std::move(languageFolder)) {
  LoadConfig();
  LoadLanguage();
}

void LanguageTable::LoadConfig() {
  std::vector<std::pair<std::string, std::vector<std::string>>> ordered;
  IniSections config = ParseIni(ReadText(config_), &ordered);
  current_ = "English";
  if (auto section = config.find("DefaultLanguage"); section != config.end()) {
    if (auto key = section->second.find("Default"); key != section->second.end() && !key->second.empty()) {
      current_ = key->second;
    }
  }
  languages_.clear();
  for (const auto& [name, lines] : ordered) {
    if (name != "Languages") continue;
    for (const std::string& line : lines) {
      size_t equals = line.find('=');
      if (equals == std::string::npos) {
        languages_.push_back({line, line});
      } else {
        languages_.push_back({Trim(std::string_view(line).substr(0, equals)),
                              Trim(std::string_view(line).substr(equals + 1))});
      }
    }
  }
}

void LanguageTable::LoadLanguage() {
  // Re-fill in place: a missing file leaves every lookup empty.
  table_ = ParseIni(ReadText(folder_ / (current_ + ".ini")));
}

std::string LanguageTable::Text(std::string_view section, std::string_view key) {
  std::lock_guard lock(mutex_);
  auto& keys = table_[std::string(section)];
  auto found = keys.find(key);
  if (found == keys.end()) found = keys.emplace(std::string(key), std::string()).first;
  return found->second;
}

std::map<std::string, std::string, std::less<>> LanguageTable::Section(std::string_view section) {
  std::lock_guard lock(mutex_);
  return table_[std::string(section)];
}

std::vector<std::pair<std::string, std::string>> LanguageTable::Languages() const {
  std::lock_guard lock(mutex_);
  return languages_;
}

std::string LanguageTable::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

int LanguageTable::SetLanguage(const std::string& name) {
  std::lock_guard lock(mutex_);
  // Rewrite config.ini with Default=name, keeping every other line as it was.
  std::string text = ReadText(config_);
  std::string out;
  bool inDefault = false, written = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string raw(text.substr(start, end - start));
    std::string line = Trim(raw);
    start = end + 1;
    if (line.starts_with('[') && line.ends_with(']')) {
      if (inDefault && !written) {
        out += "Default=" + name + "\n";
        written = true;
      }
      inDefault = Trim(std::string_view(line).substr(1, line.size() - 2)) == "DefaultLanguage";
    } else if (inDefault && line.find('=') != std::string::npos &&
               Trim(std::string_view(line).substr(0, line.find('='))) == "Default") {
      if (!written) out += "Default=" + name + "\n";
      written = true;
      continue;
    }
    out += raw + "\n";
  }
  if (inDefault && !written) {
    out += "Default=" + name + "\n";
    written = true;
  }
  if (!written) out += "[DefaultLanguage]\nDefault=" + name + "\n";

  if (int error = CreateFolders(config_.parent_path()); error != 0) return error;
  ReplacementFile file(config_, config_.string() + ".tmp");
  if (file.openError() != 0) return file.openError();
  if (int error = WriteAll(file.fd(), reinterpret_cast<const uint8_t*>(out.data()), out.size()); error != 0) {
    return error;
  }
  if (int error = file.Commit(); error != 0) return error;
  LoadConfig();
  LoadLanguage();
  return 0;
}

std::string FillIn(std::string_view text, std::initializer_list<std::string> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      char kind = text[i + 1];
      if (kind == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (kind == 's' || kind == 'd' || kind == 'c') {
        if (next != args.end()) out += *next++;
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::filesystem::path ShippedLanguageFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    auto beside = exe.parent_path() / "lang";
    if (std::filesystem::exists(beside / "config.ini", ec)) return beside;
  }
  return std::filesystem::path(KESTREL_DATA_DIR) / "lang";
}

std::filesystem::path UserConfigPath() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = "/tmp";
  }
  return base / "Kestrel" / "config.ini";
}

LanguageTable& LanguageTable::Instance() {
  static LanguageTable table = [] {
    auto shipped = ShippedLanguageFolder();
    auto config = UserConfigPath();
    std::error_code ec;
    if (!std::filesystem::exists(config, ec)) {
      // Seed the user's file from the shipped default; if that fails the
      // shipped file is read directly (the choice of language then is not kept).
      if (CreateFolders(config.parent_path()) != 0 ||
          !std::filesystem::copy_file(shipped / "config.ini", config, ec)) {
        config = shipped / "config.ini";
      }
    }
    return LanguageTable(config, shipped);
  }();
  return table;
}

}  // namespace kestrel
