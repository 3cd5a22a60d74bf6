// The _Relation text of a saved scan: parsed, written again, and parsed back
// to the same map.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalogue/scan_log.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto relations = ScanLog::ParseRelations(std::string_view(reinterpret_cast<const char*>(data), size));
  auto again = ScanLog::ParseRelations(ScanLog::FormatRelations(relations));
  if (again != relations) __builtin_trap();
  return 0;
}
