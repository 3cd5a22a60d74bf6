// Recognisers for raw FAT directory sectors met anywhere on a source: the
// first sector of a directory ("." then "..") and a sector full of plausible
// directory entries that continues one. Used by the deep-scan pass.
#pragma once

#include "platform/byte_view.h"

namespace kestrel {

// "." and ".." as the first two entries, both directories of size 0.
bool IsDirectoryStartSector(ByteView sector);

// Every entry up to an end mark (after which the sector must be zeros) is a
// plausible entry with a sane name; long-name parts agree with the short
// entry that ends them. A sector beginning with an end mark is refused.
bool IsDirectoryContinuationSector(ByteView sector);

// The carving boundary: the first entry is in use or deleted and every entry
// up to an end mark is IsWellFormedEntry. Looser than the two above (see
// IsWellFormedEntry for why both exist).
bool LooksLikeDirectorySector(ByteView sector);

}  // namespace kestrel
