// The history of saved scans ("config" in the scan-log root), which lets a deep
// scan be resumed after the program was closed. The file is an 8-byte counter
// followed by 1,120-byte entries; paths are UTF-16LE in 520-byte fields.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <vector>

namespace kestrel {

inline constexpr size_t kScanHistoryEntryBytes = 1120;
inline constexpr size_t kHistoryPathBytes = 520;  // 259 UTF-16 units + NUL

// Where a deep scan stood: the current range, the position inside it and the counters.
struct ScanResumeState {
  uint64_t rangeStart = 0;
  uint64_t rangeLength = 0;
  uint64_t rangePosition = 0;
  uint64_t sectorsDone = 0;
  uint64_t filesFound = 0;
  friend bool operator==(const ScanResumeState&, const ScanResumeState&) = default;
};

// Which source a saved scan belongs to. Partition sources are matched by drive
// number, first sector and sector count and validated by free bytes; image
// sources by path, validated by the image's modification time.
struct ScanSourceIdentity {
  int32_t driveNumber = -1;
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;
  uint64_t freeBytes = 0;               // partitions: free bytes of the volume now
  std::filesystem::path imagePath;      // empty for partitions
};

struct ScanHistoryEntry {
  int32_t driveNumber = 0;
  uint32_t reserved = 0;
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;
  ScanResumeState resume;
  uint64_t freeBytes = 0;
  uint64_t imageWriteTime = 0;          // FILETIME of the image's last write
  std::filesystem::path imagePath;
  std::filesystem::path scanFolder;     // ends with '/'

  // False when a path does not fit its 520-byte field (it is never cut short:
  // a shortened scan folder would name a different folder).
  bool Serialize(std::span<uint8_t, kScanHistoryEntryBytes> out) const;
  static ScanHistoryEntry Deserialize(std::span<const uint8_t, kScanHistoryEntryBytes> in);
};

// Free bytes of the file system holding path (statvfs); 0 when unknown.
uint64_t VolumeFreeBytes(const std::filesystem::path& path);
// Last-write time of a file as FILETIME (100 ns since 1601); 0 when unknown.
uint64_t FileWriteTime(const std::filesystem::path& path);

class ScanHistory {
 public:
  // A history rooted at a scan-log root (tests use their own; the program uses Process()).
  explicit ScanHistory(std::filesystem::path root);

  // The process-wide history over ScanLogRoot(), loaded on first use.
  static ScanHistory& Process();

  // Reads root/config (completing an interrupted save from config.tmp first).
  // Missing or empty: empty history, 0. Otherwise 0 or the read error.
  int LoadHistory();
  // Writes config.tmp, flushes it and renames it over config. 0 or the error;
  // config is untouched unless the new file was written completely.
  int SaveHistory();

  // matchedFolder when a saved scan was matched, else root/<scanCounter>/.
  std::filesystem::path CurrentScanFolder() const;
  // scanCounter + 1, forget the match, delete a leftover folder of that number.
  void StartNewScanFolder();
  // Drops the first entry for folder and deletes the folder with its contents
  // (only folders inside the scan-log root are ever deleted). Does not save.
  void DeleteSavedScan(const std::filesystem::path& folder);

  // 1 and the entry when the source has a saved scan still valid (same free
  // bytes); a stale one is deleted and 0 returned; 0 when none exists.
  int FindSavedPartitionScan(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                             uint64_t currentFreeBytes, ScanHistoryEntry& out);
  // The same for an image, validated by its current modification time.
  int FindSavedImageScan(const std::filesystem::path& imagePath, ScanHistoryEntry& out);

  // Updates the source's entry with the resume state or appends a new entry,
  // then saves. 0 or the error (87 when a path is too long for its field).
  int RecordScanProgress(const ScanSourceIdentity& source, const ScanResumeState& state,
                         const std::filesystem::path& scanFolder);

  uint64_t scanCounter() const { return scanCounter_; }
  const std::vector<ScanHistoryEntry>& entries() const { return entries_; }
  const std::filesystem::path& rootFolder() const { return root_; }
  bool resumeMatched() const { return resumeMatched_; }
  const std::filesystem::path& matchedFolder() const { return matchedFolder_; }

 private:
  void DeleteSavedScanLocked(const std::filesystem::path& folder);
  int SaveHistoryLocked();
  // The end of a Find*: a still-valid entry is matched (1, out set); a stale
  // one is deleted with its folder and any match forgotten (0).
  int TakeOrDropLocked(const ScanHistoryEntry& entry, bool stillValid, ScanHistoryEntry& out);

  mutable std::mutex mutex_;
  std::filesystem::path root_;
  uint64_t scanCounter_ = 0;
  std::vector<ScanHistoryEntry> entries_;
  bool resumeMatched_ = false;
  std::filesystem::path matchedFolder_;
};

}  // namespace kestrel
