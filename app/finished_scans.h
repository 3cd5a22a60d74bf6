// Finished fast scans remembered by source, so that a later run on the same,
// unchanged source opens the store that scan left instead of reading the
// source again. One small note per source under <scan-log root>/finished/.
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

// Notes store (a fast scan's records file) as the finished scan of source,
// replacing an earlier note. Failing to write the note loses nothing but the
// reuse, so it is not an error.
void RememberFinishedScan(const ScanSource& source, const std::filesystem::path& store);

// The store of source's finished scan when the source is unchanged since it
// was noted and the store is still there; nothing otherwise, and a note that
// no longer holds is removed.
std::optional<std::filesystem::path> FindFinishedScan(const ScanSource& source);

}  // namespace kestrel
