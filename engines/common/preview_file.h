// Where a preview goes: pictures to "tmp.jpg" and audio or video to "tmp.avi"
// in the scan-log root, anything else into the caller's buffer.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/unique_fd.h"

namespace kestrel {

// "tmp.jpg", "tmp.avi", or null when the found file named name is previewed
// into the caller's buffer.
const char* PreviewFileName(std::string_view name);

// Creates the scan-log root, deletes an earlier preview file of that name and
// opens a new, empty one for writing. On success sets path and fd; 0 or the error.
int OpenPreviewFile(const char* fileName, std::filesystem::path& path, UniqueFd& fd);

}  // namespace kestrel
