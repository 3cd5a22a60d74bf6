#include "engines/common/tree_recovery.h"

#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

#include "fs/fat/fat_dir.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"

namespace kestrel {

namespace {

// Keeps the first error; a stop (negative) is handled by the caller before.
void KeepFirst(int& result, int error) {
  if (result == kSuccess && error != kSuccess) result = error;
}

uint64_t VisitKey(const FoundFileRecord& folder) { return uint64_t(folder.recordIndex) << 32 | folder.itemKey; }

}  // namespace

int RecoverTree(IFileRecoveryParse& engine, const FoundFileRecord* record, const std::filesystem::path& destination,
                int32_t rootDepth, ItemProgressCallback item, void* user, const FileWriter& writeFile) {
  if (!record) return kErrInvalidParameter;
  if (!record->IsDirectory()) {
    if (destination.has_parent_path()) {
      if (int error = CreateFolders(destination.parent_path()); error != kSuccess) {
        if (item) item(user, 100, 100, error, destination);
        return error;
      }
    }
    return writeFile(*record, destination);
  }
  // No folder to put the tree in (CreateFolders takes an empty path as done).
  if (destination.empty()) return kErrInvalidParameter;
  if (int error = CreateFolders(destination); error != kSuccess) return error;

  struct Pending {
    FoundFileRecord folder;
    std::filesystem::path path;
  };
  std::deque<Pending> queue{{*record, destination}};
  std::unordered_set<uint64_t> visited;
  int result = kSuccess;
  while (!queue.empty()) {
    Pending current = std::move(queue.front());
    queue.pop_front();
    if (!visited.insert(VisitKey(current.folder)).second) continue;
    int32_t level = CountSeparators(current.path.string()) - rootDepth;
    if (level < 0 || level > kMaxTreeDepth) {
      KeepFirst(result, kErrInvalidParameter);
      continue;
    }
    std::vector<FoundFileRecord> children;
    if (int error = engine.ListChildren(&current.folder, level, children); error != kSuccess) {
      if (error < 0) return error;
      KeepFirst(result, error);
      continue;
    }
    for (const FoundFileRecord& child : children) {
      std::filesystem::path path = current.path / SafeFileName(std::string(child.Name()));
      if (child.IsDirectory()) {
        // Its files are still tried (and each reports its own failure).
        KeepFirst(result, CreateFolders(path));
        queue.push_back({child, std::move(path)});
        continue;
      }
      int written = writeFile(child, path);
      if (written < 0) return written;
      KeepFirst(result, written);
    }
  }
  return result;
}

}  // namespace kestrel
