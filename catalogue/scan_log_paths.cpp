#include "catalogue/scan_log_paths.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "catalogue/scan_history.h"

namespace kestrel {

std::filesystem::path ScanLogRoot() {
  std::filesystem::path base;
  // XDG says a relative XDG_DATA_HOME is invalid and must be ignored.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return base / "Kestrel" / "ScanLog";
}

std::filesystem::path ScanFolderPath(const std::filesystem::path& root, uint64_t number) {
  // The trailing separator is part of the stored folder text.
  return root / std::to_string(number) / "";
}

std::filesystem::path CurrentScanFolder() { return ScanHistory::Process().CurrentScanFolder(); }

void StartNewScanFolder() { ScanHistory::Process().StartNewScanFolder(); }

namespace {

std::string StoreName(std::string_view prefix, int64_t firstSector, const std::tm& when) {
  char text[128];
  std::snprintf(text, sizeof text, "%.*s%lld_%d%d%d%d%2d", static_cast<int>(prefix.size()), prefix.data(),
                static_cast<long long>(firstSector), when.tm_year + 1900, when.tm_mon + 1, when.tm_mday,
                when.tm_hour, when.tm_min);
  return text;
}

bool IsStoreCompanion(std::string_view name) {
  return name.ends_with("_Relation") || name.ends_with("_DirInfo");
}

}  // namespace

std::string FastStoreName(int64_t firstSector, const std::tm& when) {
  return StoreName(kFastStorePrefix, firstSector, when);
}
std::string ProFatStoreName(int64_t firstSector, const std::tm& when) {
  return StoreName(kProFatStorePrefix, firstSector, when);
}
std::string ProNtfsStoreName(int64_t firstSector, const std::tm& when) {
  return StoreName(kProNtfsStorePrefix, firstSector, when);
}
std::string ProExfatStoreName(int64_t firstSector, const std::tm& when) {
  return StoreName(kProExfatStorePrefix, firstSector, when);
}
std::string FileTypeStoreName(int64_t firstSector, const std::tm& when) {
  return StoreName(kFileTypeStorePrefix, firstSector, when);
}

std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm out{};
  localtime_r(&now, &out);
  return out;
}

int FindStoreByPrefix(std::string_view prefix, std::string& name, const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return 0;
  // Linux lists a folder in no useful order, and a store's companions contain
  // its prefix too: taking the first hit could hand back "X_Relation" as a
  // records file. Only records files count, and the smallest name wins, as
  // NTFS's sorted listing made it before.
  bool found = false;
  std::string best;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string entry = it->path().filename().string();
    if (entry.empty() || entry[0] == '.') continue;
    if (entry.find(prefix) == std::string::npos) continue;
    if (IsStoreCompanion(entry)) continue;
    if (!found || entry < best) best = entry;
    found = true;
  }
  if (!found) return 0;
  name = best;
  return 1;
}

}  // namespace kestrel
