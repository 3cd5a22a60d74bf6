// A source shorter than the file system it holds (a partial dd or ddrescue
// copy, a cut download) still scans, but every file stored past its end can
// only fail: say so before the scan instead of leaving the user to guess.
#pragma once

#include <cstdint>
#include <optional>

#include "cli/source.h"
#include "platform/byte_view.h"

namespace kestrel::cli {

// Length in bytes the FAT or NTFS boot sector at the start of probe declares
// for its volume; nothing for other contents.
std::optional<uint64_t> DeclaredVolumeBytes(ByteView probe);

// Prints a warning on stderr when source is shorter than its volume declares.
void WarnIfShorterThanVolume(const Source& source);

}  // namespace kestrel::cli
