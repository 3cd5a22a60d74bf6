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

#include "catalogue/found_file_record.h"
#include "platform/progress.h"

namespace kestrel {

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
