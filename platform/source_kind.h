// Which files can be read as a source: a regular file (an image) or a block
// device. Anything else is refused before a read could block on it or read
// bytes that are no volume (a FIFO, a socket, /dev/zero, a folder).
#pragma once

#include <sys/types.h>

#include <filesystem>

#include "platform/unique_fd.h"

namespace kestrel {

// nullptr for a regular file or a block device, else what the file is in
// words: "a folder", "a FIFO (named pipe)", "a socket", "a character device".
const char* RefusedSourceKind(mode_t mode);

// The code a refused kind is reported with: 5 for a folder (as before), 50
// (not supported) for the others.
int RefusedSourceError(mode_t mode);

// Opens path read-only without waiting (open on a FIFO would block until a
// writer came), checks its type with fstat, and only then makes reads
// blocking. error: 0, the open error, or RefusedSourceError.
UniqueFd OpenSourceFd(const std::filesystem::path& path, int& error);

}  // namespace kestrel
