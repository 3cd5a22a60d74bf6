#include "app/found_items.h"

#include <algorithm>
#include <deque>
#include <set>
#include <utility>

#include "catalogue/categories.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

constexpr int32_t kMaxFolderDepth = 1024;

}  // namespace

int CollectFound(IFileRecoveryParse& engine, std::vector<FoundItem>& out) {
  struct Folder {
    bool isRoot;
    FoundFileRecord record;
    int32_t level;
  };
  std::deque<Folder> queue{{true, {}, 0}};
  std::set<std::pair<uint64_t, int32_t>> seen;  // (engine, folder id), level
  while (!queue.empty()) {
    Folder folder = queue.front();
    queue.pop_front();
    std::vector<FoundFileRecord> children;
    int error = engine.ListChildren(folder.isRoot ? nullptr : &folder.record, folder.level, children);
    if (error != kSuccess) return error;
    for (const FoundFileRecord& child : children) {
      FoundItem item;
      item.record = child;
      item.level = folder.level;
      engine.GetItemPath(&child, item.folder);
      out.push_back(item);
      // Folder keys carry their depth; one met twice is a loop in the index.
      if (child.IsDirectory() && folder.level + 1 < kMaxFolderDepth &&
          seen.insert({uint64_t(child.engineKind) << 32 | child.itemKey, folder.level + 1}).second) {
        queue.push_back({false, child, folder.level + 1});
      }
    }
  }
  return kSuccess;
}

ScanSummary SummariseFound(const std::vector<FoundItem>& found) {
  ScanSummary summary;
  for (const FoundItem& item : found) {
    if (item.record.IsDirectory()) {
      ++summary.folders;
      continue;
    }
    ++summary.files;
    std::string_view category = FileCategory(item.record.Name());
    auto at = std::find(kSummaryCategories.begin(), kSummaryCategories.end(), category);
    if (at != kSummaryCategories.end()) ++summary.filesByCategory[at - kSummaryCategories.begin()];
  }
  return summary;
}

}  // namespace kestrel
