// SHA-256 of a file's bytes as lower-case hex, for the recovery report: a
// later run or the user can tell whether a written file is still what was written.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace kestrel {

// 0 and the 64-character digest, or the read error (digest left empty).
int Sha256OfFile(const std::filesystem::path& path, std::string& digest);
// The digest of size bytes at data; empty when it could not be computed.
std::string Sha256OfBytes(const void* data, size_t size);

}  // namespace kestrel
