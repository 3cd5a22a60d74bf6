// Small file-writing helpers shared by everything that writes recovered files,
// previews and Kestrel's own stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include <filesystem>
#include <vector>

namespace kestrel {

// Writes all count bytes, continuing short and interrupted writes: 0, the
// write error, or 29 when the system accepts nothing.
int WriteAll(int fd, const uint8_t* data, size_t count);

// Writes all count bytes at offset, continuing short and interrupted writes:
// 0, the write error, or 29 when the system accepts nothing.
int PwriteAll(int fd, const uint8_t* data, size_t count, uint64_t offset);

// Reads up to count bytes at offset, continuing short and interrupted reads;
// got is what arrived (less only at the end of the file). 0 or the read error.
int PreadAll(int fd, uint8_t* data, size_t count, uint64_t offset, size_t& got);

// Reads the whole of the file open on fd (as long as fstat says) into out,
// continuing short and interrupted reads; a file that turns out shorter
// leaves out at what arrived. 0, the read error or 8 (no memory).
int ReadWholeFile(int fd, std::vector<uint8_t>& out);

// A file replaced whole: the new contents are written to a temporary file,
// pushed to the disk and renamed over the target, so a crash leaves the old
// contents or the new ones, never a torn mix. The temporary is removed unless
// Commit succeeds.
class ReplacementFile {
 public:
  ReplacementFile(std::filesystem::path target, std::filesystem::path temporary, mode_t mode = 0644);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  int fd() const { return fd_; }
  // 0, or why the temporary could not be created.
  int openError() const { return openError_; }
  // Syncs, closes and renames the temporary over the target: 0 or the error.
  int Commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  int fd_ = -1;
  int openError_ = 0;
};

// Creates folder and the folders above it; an existing folder (or an empty
// path) is no error.
int CreateFolders(const std::filesystem::path& folder);

}  // namespace kestrel
