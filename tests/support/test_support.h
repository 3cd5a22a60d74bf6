// Shared helpers for tests: unpacked test images, temporary folders, running the CLI.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrel::test {

// tests/data/<name>.gz unpacked once per test process into a temporary folder.
std::filesystem::path TestImage(const std::string& name);

// A fresh folder removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs kestrel-cli with the arguments (no shell quoting issues: passed as argv).
CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
// Starts it without waiting: stdin from /dev/null, stdout and stderr into
// the files. The child's process id.
pid_t StartCli(const std::vector<std::string>& args, const std::filesystem::path& outPath,
               const std::filesystem::path& errPath, const std::vector<std::string>& env = {});
// The lines of `scan --list` output, each split at its tabs into columns.
std::vector<std::vector<std::string>> ListRows(const std::string& listing);

// A recover run that wrote everything it found, where the only failures are
// files its content check found damaged: exit 0, or exit 1 with every
// "failed:" line a "damaged:" one. Some test images hold files whose bytes
// are deliberately not valid files of their type.
bool RecoveredAllButDamaged(const CliResult& result);
// "a/b.damaged.jpg" or "a/b.partial.jpg" -> "a/b.jpg".
std::string WithoutOutcomeMark(std::string path);

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
std::string Sha256Hex(const std::filesystem::path& path);

// tests/data/<image>-expected.txt (sha256sum lines "<sha>  <path>") as
// path (as recovered with --keep-paths) -> sha256.
std::map<std::string, std::string> ExpectedHashes(const std::string& image);

// One row of a tab-separated list an image script wrote beside its images
// (fat-expected.txt, exfat-expected.txt): image, status, size, SHA-256, path.
struct ExpectedFile {
  std::string status;  // intact, partial, absent, fragmented ...
  uint64_t size = 0;
  std::string sha256;
  std::string path;
};
// The rows of tests/data/<list> that belong to image.
std::vector<ExpectedFile> ExpectedFiles(const std::string& list, const std::string& image);

}  // namespace kestrel::test
