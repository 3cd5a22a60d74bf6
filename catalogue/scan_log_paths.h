// Where scan logs live and how their stores are named: the scan-log root, the
// numbered scan folders, the four store-name patterns and finding a saved
// store again by its prefix.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel {

// $XDG_DATA_HOME/Kestrel/ScanLog ($HOME/.local/share/... when XDG_DATA_HOME is
// unset or relative). Read from the environment on every call; not created.
std::filesystem::path ScanLogRoot();

// root/<n>/ : scan folder number n.
std::filesystem::path ScanFolderPath(const std::filesystem::path& root, uint64_t number);

// The folder new stores open in: the matched saved scan's folder after a
// successful Find*Scan, else the newest numbered scan folder. Uses the
// process-wide history (loaded on first use).
std::filesystem::path CurrentScanFolder();

// Takes the next scan folder number for a new deep scan, forgets any matched
// saved scan and deletes a leftover folder of that number.
void StartNewScanFolder();

// Store-name prefixes; a saved scan's stores are found again by these.
inline constexpr std::string_view kFastStorePrefix = "Fast_";
inline constexpr std::string_view kProFatStorePrefix = "Pro_Fat_";
inline constexpr std::string_view kProNtfsStorePrefix = "Pro_Ntfs_";
inline constexpr std::string_view kFileTypeStorePrefix = "File_Type_";
inline constexpr std::string_view kProExfatStorePrefix = "Pro_Exfat_";

// prefix + first sector + year month day hour (plain decimal) + minute right-
// aligned in two characters: sector 2048 at 2026-12-07 09:05 gives
// "Fast_2048_20261279 5". `when` is local time.
std::string FastStoreName(int64_t firstSector, const std::tm& when);      // fast FAT/NTFS
std::string ProFatStoreName(int64_t firstSector, const std::tm& when);    // deep FAT member
std::string ProNtfsStoreName(int64_t firstSector, const std::tm& when);   // deep NTFS member
std::string FileTypeStoreName(int64_t firstSector, const std::tm& when);  // carving member
std::string ProExfatStoreName(int64_t firstSector, const std::tm& when);  // deep exFAT member
// The current local time, for the builders above.
std::tm LocalTimeNow();

// Name of the first file in folder whose name contains prefix (case-sensitive);
// names beginning with "." are skipped. Returns 1 and sets name, or 0.
int FindStoreByPrefix(std::string_view prefix, std::string& name, const std::filesystem::path& folder);

}  // namespace kestrel
