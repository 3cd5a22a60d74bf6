// A recovered file is written under a hidden temporary name in its own
// folder and only renamed to its real name once it is complete and flushed,
// so a run killed mid-file (or a power cut) never leaves a half-written file
// under a real name; the next run into that folder removes the leftovers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

#include "platform/unique_fd.h"

namespace kestrel {

// Every temporary ends with this; nothing recovered is ever named so.
inline constexpr std::string_view kUnpublishedSuffix = ".kestrel-part";

// True for a name that a recovery wrote as its temporary.
bool IsUnpublishedName(std::string_view name);

// The file being written for final: created (exclusively) under a temporary
// name beside it. Destroyed without Publish, the temporary is removed.
class UnpublishedFile {
 public:
  explicit UnpublishedFile(const std::filesystem::path& final);
  ~UnpublishedFile();
  UnpublishedFile(const UnpublishedFile&) = delete;
  UnpublishedFile& operator=(const UnpublishedFile&) = delete;

  // 0 or why the temporary could not be created.
  int openError() const { return openError_; }
  // The open temporary, handed to the writer; Publish and Discard take it back.
  UniqueFd TakeFd() { return std::move(fd_); }
  const std::filesystem::path& temporary() const { return temporary_; }

  // Flushes fd (the temporary's descriptor, given back by the writer) to the
  // disk, closes it and renames the temporary to name. 0 or the first error;
  // on an error the temporary is removed.
  int Publish(UniqueFd fd, const std::filesystem::path& name);
  // Closes fd and removes the temporary.
  void Discard(UniqueFd fd);

 private:
  std::filesystem::path temporary_;
  UniqueFd fd_;
  int openError_ = 0;
  bool done_ = false;
};

// Chooses, once a file is written and before it is renamed, the name it is
// published under: given its temporary (complete and readable), the name it
// was meant for, and the writer's outcome (0, or kErrHandleEof for a file
// whose end was lost). Returns that name or another free one beside it (a
// name that says the file is damaged). A front end sets one for the files
// written on its thread, so a file's outcome is decided before any name of
// it appears.
using PublishNameChooser = std::function<std::filesystem::path(
    const std::filesystem::path& temporary, const std::filesystem::path& wanted, int outcome)>;

// Sets the chooser of this thread while it lives; the one before comes back after.
class ScopedPublishNameChooser {
 public:
  explicit ScopedPublishNameChooser(PublishNameChooser chooser);
  ~ScopedPublishNameChooser();
  ScopedPublishNameChooser(const ScopedPublishNameChooser&) = delete;
  ScopedPublishNameChooser& operator=(const ScopedPublishNameChooser&) = delete;

 private:
  PublishNameChooser previous_;
};

// The name this thread's chooser gives, or wanted when none is set.
std::filesystem::path ChoosePublishName(const std::filesystem::path& temporary, const std::filesystem::path& wanted,
                                        int outcome);

// Removes every leftover temporary in root and the folders below it (symbolic
// links not followed). The number removed.
uint64_t RemoveUnpublishedFiles(const std::filesystem::path& root);

}  // namespace kestrel
