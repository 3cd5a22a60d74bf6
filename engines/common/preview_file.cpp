#include "engines/common/preview_file.h"

#include <fcntl.h>

#include <system_error>

#include "catalogue/categories.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel {

const char* PreviewFileName(std::string_view name) {
  std::string extension = ExtensionOf(name);
  if (ExtensionInList(extension, kAudioExtensions) || ExtensionInList(extension, kVideoExtensions)) {
    return "tmp.avi";
  }
  if (ExtensionInList(extension, kPhotoExtensions)) return "tmp.jpg";
  return nullptr;
}

int OpenPreviewFile(const char* fileName, std::filesystem::path& path, UniqueFd& fd) {
  std::filesystem::path folder = ScanLogRoot();
  if (int error = CreateFolders(folder); error != kSuccess) return error;
  std::filesystem::path target = folder / fileName;
  std::error_code ec;
  std::filesystem::remove(target, ec);
  int error = kSuccess;
  UniqueFd opened = OpenFd(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600, error);
  if (error != kSuccess) return error;
  path = std::move(target);
  fd = std::move(opened);
  return kSuccess;
}

}  // namespace kestrel
