#include "catalogue/scan_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <system_error>
#include <unordered_set>

#include "catalogue/categories.h"
#include "catalogue/scan_log_paths.h"
#include "platform/byte_view.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel {

namespace {

constexpr uint64_t kNoParent = UINT64_MAX;
constexpr uint64_t kMaxRecords = UINT32_MAX;  // record numbers are 32-bit in the record itself

int CloseFd(int& fd) {
  int result = kSuccess;
  if (fd >= 0 && ::close(fd) != 0) result = LastError(IoDirection::kWrite);
  fd = -1;
  return result;
}

int OpenStoreFile(const std::filesystem::path& path, int& fd) {
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return fd < 0 ? LastError() : kSuccess;
}

// The index files are rewritten whole on every save, through a hidden
// temporary beside the store (the leading "." keeps store lookups from ever
// taking it); storeFd then points at the new file.
int ReplaceIndexFile(ReplacementFile& file, const std::filesystem::path& target, int& storeFd) {
  if (int result = file.Commit(); result != kSuccess) return result;
  if (storeFd >= 0) ::close(storeFd);
  return OpenStoreFile(target, storeFd);
}

std::filesystem::path IndexTemporary(const std::filesystem::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".tmp");
}


// _stricmp over bytes: ASCII letters folded to lower case, compared unsigned.
int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned ca = static_cast<uint8_t>(a[i]), cb = static_cast<uint8_t>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
    if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A photo whose content check failed is left out of listings and searches.
bool IsHiddenBadPhoto(const FoundFileRecord& record) {
  return !record.FirstBlockValid() && ExtensionInList(ExtensionOf(record.Name()), kPhotoExtensions);
}

std::string CutName(std::string_view text) {
  FoundFileRecord scratch;
  scratch.SetName(text);
  return std::string(scratch.Name());
}

bool ParseDecimal(std::string_view text, size_t& pos, uint64_t limit, uint64_t& value) {
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    const uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
    ++pos;
  }
  return pos > start;
}

}  // namespace

void SortFoundRecords(std::vector<FoundFileRecord>::iterator first, std::vector<FoundFileRecord>::iterator last) {
  std::stable_sort(first, last, [](const FoundFileRecord& a, const FoundFileRecord& b) {
    const bool aDir = a.IsDirectory(), bDir = b.IsDirectory();
    if (aDir != bDir) return !aDir;
    return CompareNoCase(a.Name(), b.Name()) < 0;
  });
}

void SortFoundRecords(std::vector<FoundFileRecord>& records) { SortFoundRecords(records.begin(), records.end()); }

ScanLog::ScanLog() = default;

ScanLog::~ScanLog() { Close(); }

int ScanLog::Open(const std::string& name) { return Open(name, CurrentScanFolder()); }

int ScanLog::Open(const std::string& name, const std::filesystem::path& folder) {
  Close();
  // A store name is one file name; anything else could open a file elsewhere.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return kErrInvalidParameter;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec && ec.value() != EEXIST) return ErrorFromErrno(ec.value(), IoDirection::kWrite);

  recordsPath_ = folder / name;
  relationPath_ = folder / (name + "_Relation");
  dirInfoPath_ = folder / (name + "_DirInfo");

  int result = OpenStoreFile(recordsPath_, recordsFd_);
  if (result == kSuccess) {
    struct stat st{};
    if (::fstat(recordsFd_, &st) != 0) {
      result = LastError();
    } else {
      // A torn last record (a crash mid-write) is overwritten by the next append.
      baseRecords_ = std::min<uint64_t>(static_cast<uint64_t>(st.st_size) / kFoundFileRecordBytes, kMaxRecords);
    }
  }
  if (result == kSuccess) result = OpenStoreFile(relationPath_, relationFd_);
  if (result == kSuccess) {
    std::vector<uint8_t> text;
    result = ReadWholeFile(relationFd_, text);
    if (result == kSuccess) {
      try {
        relations_ = ParseRelations(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
      } catch (const std::bad_alloc&) {
        result = kErrNotEnoughMemory;
      }
    }
  }
  if (result == kSuccess) {
    try {
      buffer_.assign(kScanLogBufferBytes, 0);
    } catch (const std::bad_alloc&) {
      result = kErrNotEnoughMemory;
    }
  }
  if (result == kSuccess) result = OpenStoreFile(dirInfoPath_, dirInfoFd_);
  if (result == kSuccess) {
    std::vector<uint8_t> table;
    result = ReadWholeFile(dirInfoFd_, table);
    ByteView v(table);
    for (size_t at = 0; result == kSuccess && v.Has(at, kDirInfoEntryBytes); at += kDirInfoEntryBytes) {
      DirInfoEntry entry;
      entry.folderId = v.le32(at);
      entry.recordNumber = v.le32(at + 4);
      const char* name = reinterpret_cast<const char*>(table.data() + at + 8);
      entry.name.assign(name, strnlen(name, kRecordNameBytes - 1));
      folderNames_.push_back(std::move(entry));
    }
  }
  if (result != kSuccess) {
    CloseFd(recordsFd_);
    CloseFd(relationFd_);
    CloseFd(dirInfoFd_);
    relations_.clear();
    folderNames_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
    baseRecords_ = 0;
  }
  return result;
}

int ScanLog::AppendRecord(FoundFileRecord& record) {
  if (recordsFd_ < 0) return kErrInvalidParameter;
  // Record numbers are 32-bit in the record; past that a record could not be found again.
  if (TotalRecords() >= kMaxRecords) return kErrDiskFull;
  if (bufferUsed_ + kFoundFileRecordBytes > buffer_.size()) {
    if (int result = FlushRecords(); result != kSuccess) return result;
  }
  record.recordIndex = static_cast<uint32_t>(TotalRecords() + 1);
  record.Serialize(std::span<uint8_t, kFoundFileRecordBytes>(buffer_.data() + bufferUsed_, kFoundFileRecordBytes));
  bufferUsed_ += kFoundFileRecordBytes;
  ++appended_;
  return kSuccess;
}

int ScanLog::RewriteRecord(const FoundFileRecord& record) {
  if (recordsFd_ < 0 || record.recordIndex == 0 || record.recordIndex > TotalRecords()) return kErrInvalidParameter;
  const uint64_t position = uint64_t(record.recordIndex - 1) * kFoundFileRecordBytes;
  const uint64_t onDisk = baseRecords_ * kFoundFileRecordBytes + flushedBytes_;
  if (position >= onDisk) {
    // Still in the write buffer.
    record.Serialize(std::span<uint8_t, kFoundFileRecordBytes>(buffer_.data() + (position - onDisk),
                                                               kFoundFileRecordBytes));
    return kSuccess;
  }
  uint8_t bytes[kFoundFileRecordBytes];
  record.Serialize(bytes);
  return PwriteAll(recordsFd_, bytes, sizeof bytes, position);
}

int ScanLog::DiscardRecordsAfter(uint64_t records) {
  if (recordsFd_ < 0 || appended_ != 0 || bufferUsed_ != 0) return kErrInvalidParameter;
  if (records >= baseRecords_) return kSuccess;
  if (::ftruncate(recordsFd_, static_cast<off_t>(records * kFoundFileRecordBytes)) != 0) {
    return LastError(IoDirection::kWrite);
  }
  baseRecords_ = records;
  for (auto it = relations_.begin(); it != relations_.end();) {
    std::erase_if(it->second, [&](uint32_t n) { return n > records; });
    it = it->second.empty() ? relations_.erase(it) : std::next(it);
  }
  std::erase_if(folderNames_, [&](const DirInfoEntry& e) { return e.recordNumber > records; });
  parentIndexValid_ = false;
  indexDirty_ = true;
  return kSuccess;
}

int ScanLog::FlushRecords() {
  if (bufferUsed_ == 0 || recordsFd_ < 0) return kSuccess;
  const uint64_t offset = baseRecords_ * kFoundFileRecordBytes + flushedBytes_;
  if (int result = PwriteAll(recordsFd_, buffer_.data(), bufferUsed_, offset); result != kSuccess) return result;
  flushedBytes_ += bufferUsed_;
  bufferUsed_ = 0;
  return kSuccess;
}

void ScanLog::LinkChild(uint64_t parentKey, uint32_t recordNumber, uint32_t folderId,
                        std::optional<std::string_view> folderName) {
  relations_[parentKey].push_back(recordNumber);
  if (folderName) {
    folderNames_.push_back({folderId, recordNumber, CutName(*folderName)});
    parentIndexValid_ = false;  // rebuilt on the next path lookup
  }
  indexDirty_ = true;
  if (parentIndexValid_) {
    // Keep "first key in ascending order wins" without rebuilding.
    if (recordNumber >= parentOf_.size()) parentOf_.resize(size_t(recordNumber) + 1, kNoParent);
    if (parentOf_[recordNumber] == kNoParent || parentKey < parentOf_[recordNumber]) {
      parentOf_[recordNumber] = parentKey;
    }
  }
}

int ScanLog::SaveIndex() {
  if (recordsFd_ < 0) return kSuccess;
  if (int result = FlushRecords(); result != kSuccess) return result;
  if (!indexDirty_) return kSuccess;
  if (int result = WriteRelations(); result != kSuccess) return result;
  if (int result = WriteDirInfo(); result != kSuccess) return result;
  indexDirty_ = false;
  return kSuccess;
}

std::string ScanLog::FormatRelations(const std::map<uint64_t, std::vector<uint32_t>>& relations) {
  std::string text;
  for (const auto& [key, list] : relations) {
    text += " | ";
    text += std::to_string(key);
    text += " - [";
    for (size_t i = 0; i < list.size(); ++i) {
      if (i > 0) text += ',';
      text += std::to_string(list[i]);
    }
    text += ']';
  }
  return text;
}

std::map<uint64_t, std::vector<uint32_t>> ScanLog::ParseRelations(std::string_view text) {
  // Each piece is " | KEY - [N,N,...]". A piece that does not parse whole is
  // dropped and the search goes on at the next " | ", so a torn or damaged
  // file still gives every intact folder.
  std::map<uint64_t, std::vector<uint32_t>> relations;
  size_t pos = 0;
  while (true) {
    const size_t bar = text.find(" | ", pos);
    if (bar == std::string_view::npos) break;
    pos = bar + 3;
    uint64_t key = 0;
    if (!ParseDecimal(text, pos, UINT64_MAX, key)) continue;
    if (text.substr(pos, 4) != " - [") continue;
    pos += 4;
    std::vector<uint32_t> list;
    bool ok = false;
    if (pos < text.size() && text[pos] == ']') {
      ok = true;
      ++pos;
    }
    while (!ok) {
      uint64_t number = 0;
      if (!ParseDecimal(text, pos, UINT32_MAX, number) || pos >= text.size()) break;
      list.push_back(static_cast<uint32_t>(number));
      if (text[pos] == ',') {
        ++pos;
      } else if (text[pos] == ']') {
        ++pos;
        ok = true;
      } else {
        break;
      }
    }
    if (ok) relations[key] = std::move(list);  // a later duplicate replaces the earlier list
  }
  return relations;
}

int ScanLog::WriteRelations() {
  ReplacementFile file(relationPath_, IndexTemporary(relationPath_));
  if (file.openError() != kSuccess) return file.openError();
  // Streamed in 64 KiB pieces so that saving needs no second copy of the index.
  std::string chunk;
  chunk.reserve(70000);
  uint64_t offset = 0;
  auto flush = [&]() -> int {
    int result = PwriteAll(file.fd(), reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(), offset);
    offset += chunk.size();
    chunk.clear();
    return result;
  };
  for (const auto& [key, list] : relations_) {
    chunk += " | ";
    chunk += std::to_string(key);
    chunk += " - [";
    for (size_t i = 0; i < list.size(); ++i) {
      if (i > 0) chunk += ',';
      chunk += std::to_string(list[i]);
      if (chunk.size() >= 65536) {
        if (int result = flush(); result != kSuccess) return result;
      }
    }
    chunk += ']';
  }
  if (int result = flush(); result != kSuccess) return result;
  // The replacement holds exactly the new text: no older, longer tail (from a
  // damaged or partly parsed store) survives to be read back as live pieces.
  return ReplaceIndexFile(file, relationPath_, relationFd_);
}

int ScanLog::WriteDirInfo() {
  ReplacementFile file(dirInfoPath_, IndexTemporary(dirInfoPath_));
  if (file.openError() != kSuccess) return file.openError();
  std::vector<uint8_t> block;
  block.reserve(256 * kDirInfoEntryBytes);
  uint64_t offset = 0;
  for (size_t i = 0; i < folderNames_.size(); ++i) {
    const DirInfoEntry& entry = folderNames_[i];
    const size_t at = block.size();
    block.resize(at + kDirInfoEntryBytes, 0);
    PutLe32(block.data() + at, entry.folderId);
    PutLe32(block.data() + at + 4, entry.recordNumber);
    std::memcpy(block.data() + at + 8, entry.name.data(), std::min(entry.name.size(), kRecordNameBytes - 1));
    if (block.size() >= 256 * kDirInfoEntryBytes || i + 1 == folderNames_.size()) {
      if (int result = PwriteAll(file.fd(), block.data(), block.size(), offset); result != kSuccess) return result;
      offset += block.size();
      block.clear();
    }
  }
  return ReplaceIndexFile(file, dirInfoPath_, dirInfoFd_);
}

int ScanLog::ReadRecord(uint32_t number, FoundFileRecord& out, bool& present) {
  present = false;
  if (number == 0 || number > TotalRecords() || recordsFd_ < 0) return kSuccess;
  const uint64_t position = uint64_t(number - 1) * kFoundFileRecordBytes;
  const uint64_t onDisk = baseRecords_ * kFoundFileRecordBytes + flushedBytes_;
  uint8_t bytes[kFoundFileRecordBytes];
  if (position >= onDisk) {
    // Still in the write buffer.
    const uint64_t at = position - onDisk;
    if (at + kFoundFileRecordBytes > bufferUsed_) return kSuccess;
    std::memcpy(bytes, buffer_.data() + at, kFoundFileRecordBytes);
  } else {
    size_t got = 0;
    if (int result = PreadAll(recordsFd_, bytes, sizeof bytes, position, got); result != kSuccess) return result;
    if (got != sizeof bytes) return kSuccess;  // file shorter than it was: the record is gone
  }
  out = FoundFileRecord::Deserialize(bytes);
  present = true;
  return kSuccess;
}

const std::vector<uint32_t>* ScanLog::ListOf(uint64_t key, uint64_t& usedKey) const {
  if (key == 0) {
    if (relations_.empty()) return nullptr;
    usedKey = relations_.begin()->first;
    return &relations_.begin()->second;
  }
  usedKey = key;
  auto it = relations_.find(key);
  return it == relations_.end() ? nullptr : &it->second;
}

int ScanLog::ListFolder(uint64_t key, std::vector<FoundFileRecord>& out) {
  uint64_t usedKey = 0;
  const std::vector<uint32_t>* list = ListOf(key, usedKey);
  if (list == nullptr) return kSuccess;
  const size_t first = out.size();
  for (uint32_t number : *list) {
    FoundFileRecord record;
    bool present = false;
    if (int result = ReadRecord(number, record, present); result != kSuccess) return result;
    // A number pointing past the records (damaged index) ends that entry only.
    if (!present || (!record.IsDirectory() && IsHiddenBadPhoto(record))) continue;
    out.push_back(record);
  }
  SortFoundRecords(out.begin() + static_cast<ptrdiff_t>(first), out.end());
  return kSuccess;
}

int ScanLog::CountFilesUnder(uint64_t key, int64_t& count) {
  count = 0;
  std::deque<uint64_t> queue{key};
  // Two folder records with one key, or a damaged index, must not make the
  // walk count a folder twice or run forever.
  std::unordered_set<uint64_t> seen;
  while (!queue.empty()) {
    const uint64_t next = queue.front();
    queue.pop_front();
    uint64_t usedKey = 0;
    const std::vector<uint32_t>* list = ListOf(next, usedKey);
    if (list == nullptr || !seen.insert(usedKey).second) continue;
    const uint64_t depth = usedKey >> 32;
    for (uint32_t number : *list) {
      FoundFileRecord record;
      bool present = false;
      if (int result = ReadRecord(number, record, present); result != kSuccess) return result;
      if (!present) continue;
      if (record.IsDirectory()) {
        if (depth < UINT32_MAX) queue.push_back(DirectoryKey{record.itemKey, uint32_t(depth + 1)}.Packed());
      } else {
        ++count;
      }
    }
  }
  return kSuccess;
}

void ScanLog::BuildParentIndex() {
  parentOf_.clear();
  for (const auto& [key, list] : relations_) {
    for (uint32_t number : list) {
      if (number >= parentOf_.size()) parentOf_.resize(size_t(number) + 1, kNoParent);
      if (parentOf_[number] == kNoParent) parentOf_[number] = key;  // keys ascend: first hit wins
    }
  }
  folderIndex_.clear();
  folderIndex_.reserve(folderNames_.size());
  for (size_t i = 0; i < folderNames_.size(); ++i) {
    folderIndex_.emplace_back(folderNames_[i].folderId, static_cast<uint32_t>(i));
  }
  std::sort(folderIndex_.begin(), folderIndex_.end());
  parentIndexValid_ = true;
}

int ScanLog::GetAncestors(const FoundFileRecord& record, std::vector<FoundFileRecord>& out) {
  if (relations_.empty()) return kSuccess;
  if (!parentIndexValid_) BuildParentIndex();
  const uint64_t rootKey = relations_.begin()->first;
  const uint32_t start = record.recordIndex;
  uint32_t current = start;
  std::unordered_set<uint32_t> visited{start};
  while (true) {
    if (current >= parentOf_.size() || parentOf_[current] == kNoParent) return kSuccess;
    const uint64_t parentKey = parentOf_[current];
    if (parentKey == rootKey) return kSuccess;
    const uint32_t folderId = static_cast<uint32_t>(parentKey);

    FoundFileRecord folder;
    bool found = false;
    // The first table entry for the id, except that one whose own record sits
    // one level above the parent key is preferred: FAT folder ids are cluster
    // numbers, and a lost folder at another depth may reuse one.
    const DirInfoEntry* chosen = nullptr;
    const uint64_t wantedDepth = (parentKey >> 32) == 0 ? 0 : (parentKey >> 32) - 1;
    for (auto it = std::lower_bound(folderIndex_.begin(), folderIndex_.end(), std::make_pair(folderId, 0u));
         it != folderIndex_.end() && it->first == folderId; ++it) {
      const DirInfoEntry& entry = folderNames_[it->second];
      if (chosen == nullptr) chosen = &entry;
      const uint32_t n = entry.recordNumber;
      if (n < parentOf_.size() && parentOf_[n] != kNoParent && (parentOf_[n] >> 32) == wantedDepth) {
        chosen = &entry;
        break;
      }
    }
    if (chosen != nullptr) {
      folder.isDirectory = 1;
      folder.itemKey = chosen->folderId;
      folder.recordIndex = chosen->recordNumber;
      folder.SetName(chosen->name);
      found = true;
    }
    if (!found) {
      // No name in the table: look for the folder's own record.
      for (uint64_t n = 1; n <= TotalRecords() && !found; ++n) {
        FoundFileRecord candidate;
        bool present = false;
        if (int result = ReadRecord(static_cast<uint32_t>(n), candidate, present); result != kSuccess) return result;
        if (present && candidate.IsDirectory() && candidate.itemKey == folderId) {
          folder = candidate;
          folder.recordIndex = static_cast<uint32_t>(n);
          found = true;
        }
      }
    }
    if (!found) return kErrInvalidParameter;
    if (folder.recordIndex == start) return kSuccess;
    // A loop in a damaged index: stop with the folders found so far.
    if (!visited.insert(folder.recordIndex).second) return kErrInvalidParameter;
    out.push_back(folder);
    current = folder.recordIndex;
  }
}

int ScanLog::GetItemPath(const FoundFileRecord& record, std::string& out) {
  out.clear();
  std::vector<FoundFileRecord> ancestors;
  const int result = GetAncestors(record, ancestors);
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
    out += it->Name();
    out += '/';
  }
  return result;
}

void ScanLog::SetSearchCallback(SearchProgressCallback callback, void* user) {
  searchCallback_ = callback;
  searchUser_ = user;
}

int ScanLog::SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) {
  if (recordsFd_ < 0) return 0;
  if (int result = SaveIndex(); result != kSuccess) return result;
  const std::string list = LowerAscii(extensions);
  // A second descriptor, so the search never disturbs the store's own reads.
  int fd = ::open(recordsPath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st{};
  const uint64_t fileSize = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  std::vector<uint8_t> block(kScanLogBufferBytes);
  const size_t first = out.size();
  uint64_t offset = 0;
  int result = 1;
  while (offset < fileSize) {
    size_t got = 0;
    if (int error = PreadAll(fd, block.data(), block.size(), offset, got); error != kSuccess) {
      result = error;
      break;
    }
    if (got == 0) break;
    for (size_t at = 0; at + kFoundFileRecordBytes <= got; at += kFoundFileRecordBytes) {
      ByteView v(block.data() + at, kFoundFileRecordBytes);
      if (v.le32(6) != 0) continue;  // folders are never search results
      FoundFileRecord record = FoundFileRecord::Deserialize(
          std::span<const uint8_t, kFoundFileRecordBytes>(block.data() + at, kFoundFileRecordBytes));
      const std::string ext = ExtensionOf(record.Name());
      if (ext.empty()) continue;
      if (!record.FirstBlockValid() && ExtensionInList(ext, kPhotoExtensions)) continue;
      if (ExtensionInList(ext, list)) out.push_back(record);
    }
    offset += got;
    if (searchCallback_ != nullptr) {
      const int percent = static_cast<int>(offset * 100 / fileSize);
      if (int stop = searchCallback_(searchUser_, percent, 0); stop != 0) {
        result = stop;
        break;
      }
    }
  }
  ::close(fd);
  SortFoundRecords(out.begin() + static_cast<ptrdiff_t>(first), out.end());
  return result;
}

int ScanLog::Close() {
  int result = kSuccess;
  if (recordsFd_ >= 0) {
    result = SaveIndex();
    if (int closed = CloseFd(recordsFd_); result == kSuccess) result = closed;
  }
  CloseFd(relationFd_);
  CloseFd(dirInfoFd_);
  buffer_.clear();
  buffer_.shrink_to_fit();
  bufferUsed_ = 0;
  appended_ = 0;
  baseRecords_ = 0;
  flushedBytes_ = 0;
  relations_.clear();
  folderNames_.clear();
  parentOf_.clear();
  parentOf_.shrink_to_fit();
  folderIndex_.clear();
  folderIndex_.shrink_to_fit();
  parentIndexValid_ = false;
  indexDirty_ = false;
  return result;
}

}  // namespace kestrel
