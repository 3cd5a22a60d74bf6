// The one interface through which jobs and the deep composite drive every
// recovery engine. Operations return Win32-numbered codes (platform/error_codes.h)
// or kCancelled; nothing throws across it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engines/found_file_record.h"

namespace kestrel {

// progress x scale / 100 is the percent to show; remaining is seconds or -1;
// done/total/found are the deep engines' counters (0 from fast engines).
// A non-zero return stops the scan and becomes Scan's result.
using ScanProgressCallback = int (*)(void* user, int32_t progress, int32_t scale, int32_t remaining,
                                     uint64_t done, uint64_t total, uint64_t found, int32_t reserved);
// percent of one item's bytes written; every item that is not cancelled ends
// with one call at 100 (errorCode 0 on success).
using ItemProgressCallback = int (*)(void* user, int32_t percent, int32_t scale, int32_t errorCode,
                                     const std::filesystem::path& path);
using SearchProgressCallback = int (*)(void* user, int32_t percent, int32_t reserved);
using PreviewProgressCallback = int (*)(void* user, int32_t percent, int32_t result);

class IFileRecoveryParse {
 public:
  virtual ~IFileRecoveryParse() = default;

  virtual int OpenImage(const std::filesystem::path& image, uint16_t letter) = 0;
  virtual int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                            uint16_t letter) = 0;
  virtual int SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user,
                           int32_t scale) = 0;
  // With a store name: reopen that saved store in the current scan folder
  // instead of reading the source.
  virtual int Scan(const std::optional<std::string>& storeName) = 0;
  // dir null means the root (level must then be 0).
  virtual int ListChildren(const FoundFileRecord* dir, int32_t level,
                           std::vector<FoundFileRecord>& out) = 0;
  virtual int CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) = 0;
  virtual uint64_t GetFoundCount() = 0;
  // Ancestors' names joined root side first, each followed by '/'; "" in the root.
  virtual int GetItemPath(const FoundFileRecord* record, std::string& out) = 0;
  virtual int RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                          int32_t rootDepth) = 0;
  // 1 when implemented (start/length then name the next free run, length 0 at
  // the end), 0 otherwise.
  virtual int NextFreeExtent(uint64_t& start, uint64_t& length) = 0;
  virtual int SetSearchCallback(SearchProgressCallback callback, void* user) = 0;
  // extensions: patterns like "*.jpg|*.png|"; 1 when the log could be read.
  virtual int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) = 0;
  virtual int BuildClusterMap() = 0;
  // Pictures, audio and video go to a temporary file named in tempPath; other
  // types into buffer. bufferSize: in, the most bytes wanted; out, bytes delivered.
  virtual int ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                             std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                             PreviewProgressCallback callback, void* user) = 0;
};

// Path separators in a path, the last character not counted (a trailing
// separator does not make a level). Both '/' and '\' count.
int32_t CountSeparators(std::string_view path);

}  // namespace kestrel
