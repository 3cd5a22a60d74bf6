#include "engines/file_recovery_parse.h"

namespace kestrel {

int32_t CountSeparators(std::string_view path) {
  if (path.empty()) return 0;
  int32_t count = 0;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    if (path[i] == '/' || path[i] == '\\') ++count;
  }
  return count;
}

}  // namespace kestrel
