// A whole image in memory through the fast engine its probe picks: scan, walk
// the found tree (listing, counts, paths) and recover every file found. The
// scan log and the recovered files go to a private temporary folder.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engines/engine_factory.h"

using namespace kestrel;

namespace {

std::filesystem::path Workspace() {
  static std::filesystem::path folder = [] {
    char pattern[] = "/tmp/kestrel-fuzz-XXXXXX";
    std::filesystem::path made = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", (made / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (made / "config").c_str(), 1);
    return made;
  }();
  return folder;
}

void Walk(IFileRecoveryParse& engine, const FoundFileRecord* dir, int32_t level, const std::filesystem::path& out,
          int& budget) {
  std::vector<FoundFileRecord> children;
  if (engine.ListChildren(dir, level, children) != 0) return;
  int64_t count = 0;
  engine.CountFiles(dir, level, count);
  for (const FoundFileRecord& child : children) {
    if (--budget < 0) return;
    std::string path;
    engine.GetItemPath(&child, path);
    if (child.IsDirectory()) {
      if (level < 64) Walk(engine, &child, level + 1, out, budget);
    } else {
      engine.RecoverItem(&child, out, 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::filesystem::path work = Workspace();
  int fd = memfd_create("image", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != ssize_t(size)) {
    close(fd);
    return 0;
  }
  std::filesystem::path image = "/proc/self/fd/" + std::to_string(fd);
  std::filesystem::path out = work / "out";
  std::filesystem::create_directories(out);
  if (auto engine = CreateEngineForImage(image, 0, false)) {
    if (engine->Scan(std::nullopt) == 0) {
      int budget = 2000;
      Walk(*engine, nullptr, 0, out, budget);
      std::vector<FoundFileRecord> found;
      engine->SearchByExtension("*.jpg|*.txt|", found);
    }
  }
  close(fd);
  std::error_code ec;
  std::filesystem::remove_all(work / "out", ec);
  std::filesystem::remove_all(work / "data", ec);
  return 0;
}
