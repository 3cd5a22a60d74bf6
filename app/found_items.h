// The records a finished scan found, gathered from the engine's folder tree,
// and the summary a front end shows of them: files and folders, files by
// category.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/found_file_record.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

// One found record with where it was found.
struct FoundItem {
  FoundFileRecord record;
  std::string folder;  // GetItemPath: ancestors joined with '/', each followed by '/'
  int32_t level = 0;   // depth of the folder holding it (root 0)
};

// Every record the engine lists (folders and files), folders walked breadth
// first from the root. A folder met again at the same depth (a loop in the
// index) is not walked twice, and the walk stops 1024 levels deep.
// 0 or the first listing error.
int CollectFound(IFileRecoveryParse& engine, std::vector<FoundItem>& out);

// The recovery categories in the order a summary shows them.
inline constexpr std::array<std::string_view, 6> kSummaryCategories = {"photo",   "audio",   "video",
                                                                       "document", "archive", "others"};

struct ScanSummary {
  uint64_t files = 0;
  uint64_t folders = 0;
  std::array<uint64_t, kSummaryCategories.size()> filesByCategory{};  // in kSummaryCategories order
};

// Folders counted apart; each file counted once, under FileCategory of its name.
ScanSummary SummariseFound(const std::vector<FoundItem>& found);

}  // namespace kestrel
