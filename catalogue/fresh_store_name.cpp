#include "catalogue/fresh_store_name.h"

namespace kestrel {

std::string FreshStoreName(const std::string& base, const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::exists(folder / base, ec)) return base;
  for (int n = 2;; ++n) {
    std::string candidate = base + "_" + std::to_string(n);
    if (!std::filesystem::exists(folder / candidate, ec)) return candidate;
  }
}

}  // namespace kestrel
