#include "catalogue/scan_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "catalogue/scan_log_paths.h"
#include "platform/byte_view.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/utf8.h"

namespace kestrel {

namespace {

constexpr uint64_t kFiletimeUnixOffsetSeconds = 11644473600ULL;

// Writes a path as NUL-terminated UTF-16LE into a 520-byte field.
bool PutPathField(uint8_t* field, const std::filesystem::path& path) {
  std::memset(field, 0, kHistoryPathBytes);
  std::u16string units;
  if (!Utf8ToUtf16(path.string(), units)) return false;
  if ((units.size() + 1) * 2 > kHistoryPathBytes) return false;
  for (size_t i = 0; i < units.size(); ++i) PutLe16(field + 2 * i, units[i]);
  return true;
}

// Reads a UTF-16LE field up to its NUL (or its end, in a damaged file).
std::filesystem::path GetPathField(ByteView field) {
  size_t units = 0;
  while (2 * units + 1 < field.size() && field.le16(2 * units) != 0) ++units;
  return std::filesystem::path(Utf16LeToUtf8(field.Sub(0, 2 * units)));
}

// Folder paths compared without regard to a trailing separator or "." parts.
std::string FolderKey(const std::filesystem::path& folder) {
  std::string text = folder.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

bool ScanHistoryEntry::Serialize(std::span<uint8_t, kScanHistoryEntryBytes> out) const {
  uint8_t* p = out.data();
  std::memset(p, 0, kScanHistoryEntryBytes);
  PutLe32(p + 0, static_cast<uint32_t>(driveNumber));
  PutLe32(p + 4, reserved);
  PutLe64(p + 8, firstSector);
  PutLe64(p + 16, sectorCount);
  PutLe64(p + 24, resume.rangeStart);
  PutLe64(p + 32, resume.rangeLength);
  PutLe64(p + 40, resume.rangePosition);
  PutLe64(p + 48, resume.sectorsDone);
  PutLe64(p + 56, resume.filesFound);
  PutLe64(p + 64, freeBytes);
  PutLe64(p + 72, imageWriteTime);
  return PutPathField(p + 80, imagePath) && PutPathField(p + 600, scanFolder);
}

ScanHistoryEntry ScanHistoryEntry::Deserialize(std::span<const uint8_t, kScanHistoryEntryBytes> in) {
  ByteView v(in.data(), in.size());
  ScanHistoryEntry e;
  e.driveNumber = static_cast<int32_t>(v.le32(0));
  e.reserved = v.le32(4);
  e.firstSector = v.le64(8);
  e.sectorCount = v.le64(16);
  e.resume = {v.le64(24), v.le64(32), v.le64(40), v.le64(48), v.le64(56)};
  e.freeBytes = v.le64(64);
  e.imageWriteTime = v.le64(72);
  e.imagePath = GetPathField(v.Sub(80, kHistoryPathBytes));
  e.scanFolder = GetPathField(v.Sub(600, kHistoryPathBytes));
  return e;
}

uint64_t VolumeFreeBytes(const std::filesystem::path& path) {
  struct statvfs st{};
  if (::statvfs(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

uint64_t FileWriteTime(const std::filesystem::path& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return 0;
  if (st.st_mtim.tv_sec < -static_cast<int64_t>(kFiletimeUnixOffsetSeconds)) return 0;
  return (static_cast<uint64_t>(st.st_mtim.tv_sec + static_cast<int64_t>(kFiletimeUnixOffsetSeconds))) * 10'000'000ULL +
         static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
}

ScanHistory::ScanHistory(std::filesystem::path root) : root_(std::move(root)) {}

ScanHistory& ScanHistory::Process() {
  static ScanHistory* history = [] {
    auto* h = new ScanHistory(ScanLogRoot());
    h->LoadHistory();
    return h;
  }();
  return *history;
}

int ScanHistory::LoadHistory() {
  std::lock_guard lock(mutex_);
  scanCounter_ = 0;
  entries_.clear();
  resumeMatched_ = false;
  matchedFolder_.clear();
  const auto config = root_ / "config";
  const auto temporary = root_ / "config.tmp";
  std::error_code ec;
  // A save stopped between writing the new file and renaming it: finish it.
  if (!std::filesystem::exists(config, ec) && std::filesystem::is_regular_file(temporary, ec)) {
    ::rename(temporary.c_str(), config.c_str());
  }
  int fd = ::open(config.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? kSuccess : LastError();
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  int result = kSuccess;
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      result = LastError();
      break;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  if (result != kSuccess) return result;
  ByteView v(bytes);
  if (v.size() < 8) return kSuccess;  // empty or damaged: an empty history
  scanCounter_ = v.le64(0);
  for (size_t offset = 8; v.Has(offset, kScanHistoryEntryBytes); offset += kScanHistoryEntryBytes) {
    entries_.push_back(ScanHistoryEntry::Deserialize(
        std::span<const uint8_t, kScanHistoryEntryBytes>(bytes.data() + offset, kScanHistoryEntryBytes)));
  }
  return kSuccess;
}

int ScanHistory::SaveHistory() {
  std::lock_guard lock(mutex_);
  return SaveHistoryLocked();
}

int ScanHistory::SaveHistoryLocked() {
  std::error_code ec;
  std::filesystem::create_directories(root_, ec);
  std::vector<uint8_t> bytes(8 + entries_.size() * kScanHistoryEntryBytes);
  PutLe64(bytes.data(), scanCounter_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    auto slot = std::span<uint8_t, kScanHistoryEntryBytes>(bytes.data() + 8 + i * kScanHistoryEntryBytes,
                                                           kScanHistoryEntryBytes);
    // Entries are checked when added; one that still does not fit is written
    // with empty paths rather than cut short.
    if (!entries_[i].Serialize(slot)) std::memset(slot.data() + 80, 0, 2 * kHistoryPathBytes);
  }
  const auto config = root_ / "config";
  const auto temporary = root_ / "config.tmp";
  // config is replaced in one step: there is always a complete history.
  ReplacementFile file(config, temporary, 0600);
  if (file.openError() != kSuccess) return file.openError();
  if (int result = WriteAll(file.fd(), bytes.data(), bytes.size()); result != kSuccess) return result;
  if (int result = file.Commit(); result != kSuccess) return result;
  if (int dir = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return kSuccess;
}

std::filesystem::path ScanHistory::CurrentScanFolder() const {
  std::lock_guard lock(mutex_);
  if (resumeMatched_) return matchedFolder_;
  return ScanFolderPath(root_, scanCounter_);
}

void ScanHistory::StartNewScanFolder() {
  std::lock_guard lock(mutex_);
  scanCounter_ += 1;
  resumeMatched_ = false;
  matchedFolder_.clear();
  DeleteSavedScanLocked(ScanFolderPath(root_, scanCounter_));
}

void ScanHistory::DeleteSavedScan(const std::filesystem::path& folder) {
  std::lock_guard lock(mutex_);
  DeleteSavedScanLocked(folder);
}

void ScanHistory::DeleteSavedScanLocked(const std::filesystem::path& folder) {
  const std::string key = FolderKey(folder);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (FolderKey(it->scanFolder) == key) {
      entries_.erase(it);
      break;
    }
  }
  // The folder text may come from a damaged history file: delete only a
  // numbered scan folder directly inside the scan-log root, never anything else.
  const std::filesystem::path normal(key);
  const std::string leaf = normal.filename().string();
  if (leaf.empty() || leaf.find_first_not_of("0123456789") != std::string::npos) return;
  if (FolderKey(normal.parent_path()) != FolderKey(root_)) return;
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(normal, ec))) {
    std::filesystem::remove_all(normal, ec);
  }
}

int ScanHistory::FindSavedPartitionScan(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                        uint64_t currentFreeBytes, ScanHistoryEntry& out) {
  std::lock_guard lock(mutex_);
  for (const auto& entry : entries_) {
    if (!entry.imagePath.empty() || entry.driveNumber != driveNumber || entry.firstSector != firstSector ||
        entry.sectorCount != sectorCount) {
      continue;
    }
    // Other free space means the volume changed since that scan: its results no longer describe it.
    return TakeOrDropLocked(entry, entry.freeBytes == currentFreeBytes, out);
  }
  return 0;
}

int ScanHistory::FindSavedImageScan(const std::filesystem::path& imagePath, ScanHistoryEntry& out) {
  std::lock_guard lock(mutex_);
  if (imagePath.empty()) return 0;
  for (const auto& entry : entries_) {
    if (entry.imagePath != imagePath) continue;
    return TakeOrDropLocked(entry, entry.imageWriteTime == FileWriteTime(imagePath), out);
  }
  return 0;
}

int ScanHistory::TakeOrDropLocked(const ScanHistoryEntry& entry, bool stillValid, ScanHistoryEntry& out) {
  if (stillValid) {
    resumeMatched_ = true;
    matchedFolder_ = entry.scanFolder;
    out = entry;
    return 1;
  }
  // A copy: deleting drops the entry the reference points at.
  const auto folder = entry.scanFolder;
  DeleteSavedScanLocked(folder);
  resumeMatched_ = false;
  matchedFolder_.clear();
  return 0;
}

int ScanHistory::RecordScanProgress(const ScanSourceIdentity& source, const ScanResumeState& state,
                                    const std::filesystem::path& scanFolder) {
  std::lock_guard lock(mutex_);
  ScanHistoryEntry* found = nullptr;
  for (auto& entry : entries_) {
    const bool same = source.imagePath.empty()
                          ? entry.imagePath.empty() && entry.driveNumber == source.driveNumber &&
                                entry.firstSector == source.firstSector &&
                                entry.sectorCount == source.sectorCount && entry.freeBytes == source.freeBytes
                          : entry.imagePath == source.imagePath;
    if (same) {
      found = &entry;
      break;
    }
  }
  if (found != nullptr) {
    found->resume = state;
  } else {
    ScanHistoryEntry entry;
    entry.driveNumber = source.driveNumber;
    entry.firstSector = source.firstSector;
    entry.sectorCount = source.sectorCount;
    entry.resume = state;
    if (source.imagePath.empty()) {
      entry.freeBytes = source.freeBytes;
    } else {
      entry.imagePath = source.imagePath;
      entry.imageWriteTime = FileWriteTime(source.imagePath);
    }
    entry.scanFolder = scanFolder;
    if (!entry.scanFolder.empty() && !entry.scanFolder.string().ends_with('/')) entry.scanFolder /= "";
    uint8_t probe[kScanHistoryEntryBytes];
    if (!entry.Serialize(probe)) return kErrInvalidParameter;
    entries_.push_back(std::move(entry));
  }
  return SaveHistoryLocked();
}

}  // namespace kestrel
