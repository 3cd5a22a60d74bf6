// An engine without a source for the app tests: a folder tree held in
// memory, and RecoverItem outcomes chosen per file name, so the logic above
// the engine interface can be driven into every case.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engines/common/preview_file.h"
#include "engines/file_recovery_parse.h"
#include "platform/error_codes.h"

namespace kestrel::test {

class FakeEngine final : public IFileRecoveryParse {
 public:
  // How RecoverItem treats a name: the default writes the file and reports 100 %.
  struct Recovery {
    bool report = true;          // ends with the call at 100 %
    int reportedError = kSuccess;
    int returned = kSuccess;
    bool write = true;           // creates the destination file
  };

  // Adds a record under folder (null: the root) and returns it.
  FoundFileRecord Add(const FoundFileRecord* folder, const std::string& name, bool isDirectory) {
    FoundFileRecord record;
    record.SetName(name);
    record.isDirectory = isDirectory ? 1 : 0;
    record.itemKey = nextKey_++;
    children_[folder ? folder->itemKey : 0].push_back(record);
    parents_[record.itemKey] = folder ? folder->itemKey : 0;
    return record;
  }
  // Makes folder list child again (a loop in the index).
  void Link(const FoundFileRecord& folder, const FoundFileRecord& child) {
    children_[folder.itemKey].push_back(child);
  }

  std::map<std::string, Recovery> recoveries;
  // Bytes a preview of the named file extracts.
  std::map<std::string, std::vector<uint8_t>> contents;
  int searchResult = 1;
  std::string lastSearch;
  std::vector<std::filesystem::path> destinations;

  int OpenImage(const std::filesystem::path&, uint16_t) override { return kSuccess; }
  int OpenPartition(int32_t, uint64_t, uint64_t, uint16_t) override { return kSuccess; }
  int SetCallbacks(ScanProgressCallback, ItemProgressCallback item, void* user, int32_t scale) override {
    item_ = item;
    user_ = user;
    scale_ = scale;
    return kSuccess;
  }
  int Scan(const std::optional<std::string>&) override { return kSuccess; }
  int ListChildren(const FoundFileRecord* dir, int32_t, std::vector<FoundFileRecord>& out) override {
    out = children_[dir ? dir->itemKey : 0];
    return listError_;
  }
  int CountFiles(const FoundFileRecord*, int32_t, int64_t&) override { return kErrInvalidParameter; }
  uint64_t GetFoundCount() override { return nextKey_ - 1; }
  int GetItemPath(const FoundFileRecord* record, std::string& out) override {
    out.clear();
    for (uint32_t key = parents_[record->itemKey]; key != 0; key = parents_[key]) {
      out = NameOf(key) + "/" + out;
    }
    return kSuccess;
  }
  int RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination, int32_t) override {
    destinations.push_back(destination);
    Recovery how = recoveries[std::string(record->Name())];
    if (how.write) {
      std::filesystem::create_directories(destination.parent_path());
      FILE* file = fopen(destination.c_str(), "wb");
      if (file) fclose(file);
    }
    if (item_) {
      item_(user_, 50 * 100 / scale_, scale_, kSuccess, destination);
      if (how.report) item_(user_, 100 * 100 / scale_, scale_, how.reportedError, destination);
    }
    return how.returned;
  }
  int NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int SetSearchCallback(SearchProgressCallback, void*) override { return kSuccess; }
  int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) override {
    lastSearch = std::string(extensions);
    for (auto& [folder, list] : children_) {
      for (const auto& record : list) {
        std::string name(record.Name());
        size_t dot = name.rfind('.');
        if (!record.IsDirectory() && dot != std::string::npos &&
            extensions.find("*" + name.substr(dot) + "|") != std::string_view::npos) {
          out.push_back(record);
        }
      }
    }
    return searchResult;
  }
  int BuildClusterMap() override { return 0; }
  // Pictures and media to the temporary preview file, like the real engines;
  // anything else into the buffer, at most bufferSize bytes of it.
  int ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) override {
    auto found = contents.find(std::string(record->Name()));
    if (found == contents.end()) return kErrInvalidParameter;
    const std::vector<uint8_t>& bytes = found->second;
    if (callback && callback(user, 50, 0) == kCancelled) return kCancelled;
    if (const char* fileName = PreviewFileName(record->Name())) {
      UniqueFd fd;
      if (int error = OpenPreviewFile(fileName, tempPath, fd); error != kSuccess) return error;
      if (::write(fd.get(), bytes.data(), bytes.size()) != ssize_t(bytes.size())) return kErrWriteFault;
    } else {
      bufferSize = uint32_t(std::min<size_t>(bufferSize, bytes.size()));
      buffer.assign(bytes.begin(), bytes.begin() + bufferSize);
    }
    return callback ? callback(user, 100, 0) : kSuccess;
  }

  void FailListing(int error) { listError_ = error; }

 private:
  std::string NameOf(uint32_t key) {
    for (auto& [folder, list] : children_) {
      for (const auto& record : list) {
        if (record.itemKey == key) return std::string(record.Name());
      }
    }
    return {};
  }

  std::map<uint32_t, std::vector<FoundFileRecord>> children_;
  std::map<uint32_t, uint32_t> parents_;
  uint32_t nextKey_ = 1;
  int listError_ = kSuccess;
  ItemProgressCallback item_ = nullptr;
  void* user_ = nullptr;
  int32_t scale_ = 100;
};

}  // namespace kestrel::test
