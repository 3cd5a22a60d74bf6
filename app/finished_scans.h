// Finished scans remembered by source, so that a later run on the same,
// unchanged source opens what that scan left instead of reading the source
// again. One small note per source and kind of scan under
// <scan-log root>/finished/.
// A source counts as unchanged only when nothing that is cheap to check
// differs: an image file's size, modification time (to the nanosecond) and
// inode. A device is always scanned again: nothing cheap tells that it has
// not changed. When in doubt the source is scanned again.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "engines/scan_source.h"

namespace kestrel {

// A fast scan leaves one records file; a deep scan leaves a folder of stores
// and saved points. Each kind has its own note, so neither replaces the other.
enum class FinishedScanKind { kFast, kDeep };

// Notes saved (a fast scan's records file, a deep scan's folder) as the
// finished scan of that kind of source, replacing an earlier note. Failing to
// write the note loses nothing but the reuse, so it is not an error.
void RememberFinishedScan(const ScanSource& source, FinishedScanKind kind, const std::filesystem::path& saved);

// What the finished scan of that kind left, when the source is unchanged
// since it was noted and that is still there; nothing otherwise, and a note
// that no longer holds is removed.
std::optional<std::filesystem::path> FindFinishedScan(const ScanSource& source, FinishedScanKind kind);

}  // namespace kestrel
