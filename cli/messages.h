// The CLI's exit codes and its one error line for a source or path.
#pragma once

#include <filesystem>

namespace kestrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitPartial = 1;
inline constexpr int kExitUsage = 2;

// "kestrel-cli: <path>: <error text> (<code>)" on stderr.
void PrintSourceError(const std::filesystem::path& path, int code);

}  // namespace kestrel::cli
