// Which found files the user wants: path patterns, size and date bounds, and
// intact content. One rule for every front end, so that a listing with a
// selection shows exactly the files a recovery with it writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/found_items.h"
#include "carve/integrity/integrity_check.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

struct Selection {
  // Globs over the path inside the volume ("DCIM/**/*.jpg"): '*' and '?'
  // stay inside one folder, "**" crosses folders, case is ignored. A file is
  // taken when its path, or the path of a folder above it, matches one.
  std::vector<std::string> patterns;
  std::optional<uint64_t> minSize;         // bytes, inclusive
  std::optional<uint64_t> maxSize;         // bytes, inclusive
  std::optional<uint64_t> modifiedAfter;   // FILETIME, inclusive
  std::optional<uint64_t> modifiedBefore;  // FILETIME, exclusive
  // Leave out files whose content check finds them damaged, or whose bytes
  // cannot be read; files of a type without a check are kept.
  bool onlyIntact = false;

  bool empty() const {
    return patterns.empty() && !minSize && !maxSize && !modifiedAfter && !modifiedBefore && !onlyIntact;
  }
  // Everything but the content check: path (folder + name, "a/b/c.jpg"),
  // size and time. A file with no recorded time fails any date bound.
  bool Takes(std::string_view path, const FoundFileRecord& record) const;
};

// True when the whole of path matches pattern (rules as in Selection).
bool GlobMatches(std::string_view pattern, std::string_view path);

// "4096", "10K", "1.5M", "2G" (also "KB", "KiB"; powers of 1024) as bytes;
// false for anything else or a value past 2^64.
bool ParseByteCount(std::string_view text, uint64_t& bytes);

// "2024-07-31" (midnight) or "2024-07-31T18:05[:30]" (also with a space) as
// a FILETIME, read as the found records store their times (no zone shift);
// false for anything else or an impossible date.
bool ParseIsoTime(std::string_view text, uint64_t& filetime);

// The content check of a found file's type run on its bytes, read through
// its engine: intact, damaged (with where and why; bytes that cannot be read
// count as damage), or unknown when no check exists for the type. unread,
// when given, is set when some of its bytes could not be read.
IntegrityResult CheckFoundContent(IFileRecoveryParse& engine, const FoundFileRecord& record, bool* unread = nullptr);

// Whether a found file passes CheckFoundContent: false when damaged or
// unreadable; true when intact or no check exists for the type.
bool ContentIntact(IFileRecoveryParse& engine, const FoundFileRecord& record);

// The files of found that selection takes, in their order; folders are
// dropped.
std::vector<FoundItem> SelectFound(IFileRecoveryParse& engine, const std::vector<FoundItem>& found,
                                   const Selection& selection);

}  // namespace kestrel
