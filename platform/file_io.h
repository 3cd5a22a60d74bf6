// Small file-writing helpers shared by everything that writes recovered files,
// previews and Kestrel's own stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace kestrel {

// Writes all count bytes, continuing short and interrupted writes: 0, the
// write error, or 29 when the system accepts nothing.
int WriteAll(int fd, const uint8_t* data, size_t count);

// Creates folder and the folders above it; an existing folder (or an empty
// path) is no error.
int CreateFolders(const std::filesystem::path& folder);

}  // namespace kestrel
