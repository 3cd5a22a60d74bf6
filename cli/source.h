// What the user named on the command line: an image file or a block device
// (whole disk or partition), resolved to the values the factory takes.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engines/file_recovery_parse.h"
#include "platform/disk_table.h"

namespace kestrel::cli {

struct Source {
  std::filesystem::path path;
  bool isImage = true;
  PartitionLocation partition;  // block devices only
};

// Win32-numbered error: 2 missing, 5 a folder or no permission.
int ResolveSource(const std::filesystem::path& path, Source& out);
int ReadSourceProbe(const Source& source, std::vector<uint8_t>& probe);
std::unique_ptr<IFileRecoveryParse> CreateEngine(const Source& source, bool deep);

// "kestrel-cli: <path>: <error text> (<code>)" on stderr.
void PrintSourceError(const std::filesystem::path& path, int code);

inline constexpr int kExitOk = 0;
inline constexpr int kExitPartial = 1;
inline constexpr int kExitUsage = 2;

}  // namespace kestrel::cli
