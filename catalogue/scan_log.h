// The disk-backed store of one engine's found records: the records file (346
// bytes per record, record n at (n - 1) x 346), the folder relations
// ("<name>_Relation", text) and the folder names ("<name>_DirInfo", 268-byte
// entries). Records are buffered 200 at a time and read back from disk; only
// the relation index and the folder-name table stay in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/progress.h"
#include "catalogue/found_file_record.h"

namespace kestrel {

inline constexpr size_t kScanLogBufferRecords = 200;
inline constexpr size_t kScanLogBufferBytes = kScanLogBufferRecords * kFoundFileRecordBytes;  // 69,200
inline constexpr size_t kDirInfoEntryBytes = 268;

// One row of the folder-name table (_DirInfo): folder id, its record, its name.
struct DirInfoEntry {
  uint32_t folderId = 0;
  uint32_t recordNumber = 0;
  std::string name;  // at most 259 bytes on disk
};

class ScanLog {
 public:
  ScanLog();
  ~ScanLog();  // Close()
  ScanLog(const ScanLog&) = delete;
  ScanLog& operator=(const ScanLog&) = delete;

  // Opens (or creates) the store `name` in folder, creating the folder. An
  // existing store is continued: new records go after the last whole record,
  // its relations and folder names are loaded (what parses; damage is never
  // fatal). 0 or the error code.
  int Open(const std::string& name, const std::filesystem::path& folder);
  // The same in CurrentScanFolder() (catalogue/scan_log_paths.h).
  int Open(const std::string& name);

  // Copies record into the write buffer as the next record, setting its
  // recordIndex to the record number (position in the file, 1-based). When the
  // buffer is full it is written out first. 0, the write error, or 112 when
  // the store already holds 2^32 - 1 records.
  int AppendRecord(FoundFileRecord& record);
  // Writes record again in place of the one numbered record.recordIndex (a
  // scan that learns more about a file after listing it); 87 when there is none.
  int RewriteRecord(const FoundFileRecord& record);

  // Adds recordNumber to the children of parentKey (a DirectoryKey::Packed()).
  // For a folder record also give its own folder id and name (goes to _DirInfo).
  void LinkChild(uint64_t parentKey, uint32_t recordNumber, uint32_t folderId = 0,
                 std::optional<std::string_view> folderName = std::nullopt);

  // Writes buffered records, then rewrites _Relation and _DirInfo when they
  // changed. 0 or the first write error.
  int SaveIndex();

  // Right after Open of an existing store: keeps its first `records` records
  // and drops the rest, with every relation and folder name that refers to
  // them (a resumed scan goes on from a saved point; what was written after
  // it would be found again). Takes effect on disk at the next SaveIndex.
  // 0, 87 once records were appended, or the truncation error.
  int DiscardRecordsAfter(uint64_t records);

  // Children of a folder key, sorted (files first, then case-insensitive name).
  // Key 0 lists the smallest key (the scanned root). Files whose content check
  // failed are left out when they are photos. 0 or the read error.
  int ListFolder(uint64_t key, std::vector<FoundFileRecord>& out);

  // File records in the subtree of key (breadth first, no photo filter).
  int CountFilesUnder(uint64_t key, int64_t& count);

  // The folders above record, nearest first, up to (not including) the scanned
  // root. 87 when a folder of the chain cannot be found (out keeps what was found).
  int GetAncestors(const FoundFileRecord& record, std::vector<FoundFileRecord>& out);
  // GetAncestors joined root side first, each name followed by '/'; "" in the root.
  int GetItemPath(const FoundFileRecord& record, std::string& out);

  // Every file record whose lowercased extension occurs in extensions (e.g.
  // "*.jpg|*.mp3|", a substring test), except photos whose content check
  // failed; sorted like ListFolder. Returns 1 when done, 0 when the records
  // file cannot be opened, the callback's non-zero value when it stopped the
  // search (out then holds what was found so far), or a read error code.
  int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out);
  // Progress callback of SearchByExtension: percent of the records file read.
  void SetSearchCallback(SearchProgressCallback callback, void* user);

  // Records appended through this object (0 right after Open of an existing store).
  uint64_t RecordCount() const { return appended_; }
  // Records in the store, including those found on disk at Open.
  uint64_t TotalRecords() const { return baseRecords_ + appended_; }

  // SaveIndex, then release everything. Returns SaveIndex's result. Idempotent.
  int Close();

  bool IsOpen() const { return recordsFd_ >= 0; }
  const std::filesystem::path& recordsPath() const { return recordsPath_; }
  const std::map<uint64_t, std::vector<uint32_t>>& relations() const { return relations_; }
  const std::vector<DirInfoEntry>& folderNames() const { return folderNames_; }

  // The _Relation text of an index, and its parser (malformed pieces skipped).
  static std::string FormatRelations(const std::map<uint64_t, std::vector<uint32_t>>& relations);
  static std::map<uint64_t, std::vector<uint32_t>> ParseRelations(std::string_view text);

 private:
  int FlushRecords();
  int ReadRecord(uint32_t number, FoundFileRecord& out, bool& present);
  const std::vector<uint32_t>* ListOf(uint64_t key, uint64_t& usedKey) const;
  int WriteRelations();
  int WriteDirInfo();
  void BuildParentIndex();

  std::vector<uint8_t> buffer_;     // the write buffer, kScanLogBufferBytes
  size_t bufferUsed_ = 0;
  uint64_t appended_ = 0;           // records appended through this object
  uint64_t baseRecords_ = 0;        // whole records in the file at Open
  uint64_t flushedBytes_ = 0;       // bytes of records written to the file by this object
  int recordsFd_ = -1;
  int relationFd_ = -1;
  int dirInfoFd_ = -1;
  SearchProgressCallback searchCallback_ = nullptr;
  void* searchUser_ = nullptr;
  std::filesystem::path recordsPath_;
  std::filesystem::path relationPath_;
  std::filesystem::path dirInfoPath_;
  std::map<uint64_t, std::vector<uint32_t>> relations_;
  std::vector<DirInfoEntry> folderNames_;
  bool indexDirty_ = false;
  // record number -> first key whose list holds it; built on demand for GetAncestors.
  std::vector<uint64_t> parentOf_;
  // (folder id, position in folderNames_), sorted: finds a folder's names without a table walk.
  std::vector<std::pair<uint32_t, uint32_t>> folderIndex_;
  bool parentIndexValid_ = false;
};

// File-before-folder, then case-insensitive (ASCII) byte order of names: the
// order of every listing and search result. Stable sort.
void SortFoundRecords(std::vector<FoundFileRecord>& records);
void SortFoundRecords(std::vector<FoundFileRecord>::iterator first, std::vector<FoundFileRecord>::iterator last);

}  // namespace kestrel
