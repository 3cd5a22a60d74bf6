#include "cli/messages.h"

#include <cstdio>

#include "platform/error_codes.h"

namespace kestrel::cli {

void PrintSourceError(const std::filesystem::path& path, int code) {
  std::fprintf(stderr, "kestrel-cli: %s: %s (%d)\n", path.c_str(), ErrorText(code).c_str(), code);
}

}  // namespace kestrel::cli
