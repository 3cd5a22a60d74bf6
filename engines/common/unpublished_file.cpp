#include "engines/common/unpublished_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <system_error>
#include <utility>

#include "platform/error_codes.h"

namespace kestrel {

namespace {

// Short and unique per process and file, so a 255-byte final name never makes
// its temporary too long, and two writers never share one.
std::filesystem::path TemporaryBeside(const std::filesystem::path& final) {
  static std::atomic<uint64_t> counter{0};
  std::string name = ".recovering-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  name += kUnpublishedSuffix;
  return final.parent_path() / name;
}

thread_local PublishNameChooser threadChooser;

}  // namespace

ScopedPublishNameChooser::ScopedPublishNameChooser(PublishNameChooser chooser)
    : previous_(std::exchange(threadChooser, std::move(chooser))) {}

ScopedPublishNameChooser::~ScopedPublishNameChooser() { threadChooser = std::move(previous_); }

std::filesystem::path ChoosePublishName(const std::filesystem::path& temporary, const std::filesystem::path& wanted,
                                        int outcome) {
  return threadChooser ? threadChooser(temporary, wanted, outcome) : wanted;
}

bool IsUnpublishedName(std::string_view name) {
  return name.size() > kUnpublishedSuffix.size() && name.front() == '.' && name.ends_with(kUnpublishedSuffix);
}

UnpublishedFile::UnpublishedFile(const std::filesystem::path& final) : temporary_(TemporaryBeside(final)) {
  fd_ = OpenFd(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644, openError_);
  if (openError_ != kSuccess) done_ = true;
}

UnpublishedFile::~UnpublishedFile() {
  if (!done_) ::unlink(temporary_.c_str());
}

int UnpublishedFile::Publish(UniqueFd fd, const std::filesystem::path& name) {
  if (done_) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  // The rename must not reach the disk before the bytes do.
  int result = ::fdatasync(fd.get()) == 0 ? kSuccess : LastError(IoDirection::kWrite);
  int closeError = fd.Close();
  if (result == kSuccess) result = closeError;
  if (result == kSuccess && ::rename(temporary_.c_str(), name.c_str()) != 0) result = LastError(IoDirection::kWrite);
  if (result != kSuccess) ::unlink(temporary_.c_str());
  done_ = true;
  return result;
}

void UnpublishedFile::Discard(UniqueFd fd) {
  fd.Close(false);
  if (!done_) ::unlink(temporary_.c_str());
  done_ = true;
}

uint64_t RemoveUnpublishedFiles(const std::filesystem::path& root) {
  uint64_t removed = 0;
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(root, std::filesystem::directory_options::skip_permission_denied,
                                                   ec);
  for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!IsUnpublishedName(it->path().filename().string())) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::error_code removeError;
    if (std::filesystem::remove(it->path(), removeError)) ++removed;
  }
  return removed;
}

}  // namespace kestrel
