#include "cli/messages.h"

#include <cstdio>

#include "app/source.h"
#include "platform/error_codes.h"

namespace kestrel::cli {

void PrintSourceError(const std::filesystem::path& path, int code) {
  if (std::string problem = SourceProblemText(path, code); !problem.empty()) {
    std::fprintf(stderr, "kestrel-cli: %s: %s (%d)\n", path.c_str(), problem.c_str(), code);
    return;
  }
  std::fprintf(stderr, "kestrel-cli: %s: %s (%d)\n", path.c_str(), ErrorText(code).c_str(), code);
}

}  // namespace kestrel::cli
