// A source shorter than the file system it holds (a partial dd or ddrescue
// copy, a cut download) still scans, but every file stored past its end can
// only fail: front ends say so before the scan instead of leaving the user to
// guess.
#pragma once

#include <cstdint>
#include <optional>

#include "engines/scan_source.h"
#include "platform/byte_view.h"

namespace kestrel {

// Length in bytes the FAT or NTFS boot sector at the start of probe declares
// for its volume; nothing for other contents.
std::optional<uint64_t> DeclaredVolumeBytes(ByteView probe);

struct ShortSource {
  uint64_t available = 0;  // bytes the source holds
  uint64_t declared = 0;   // bytes its file system spans
};

// Set when source holds fewer bytes than its volume declares; nothing when
// it holds them all, or its probe could not be read or declares no length.
std::optional<ShortSource> FindShortSource(const ScanSource& source);

}  // namespace kestrel
