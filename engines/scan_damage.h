// What a scan could not read: records or blocks whose parsing failed, counted
// per scan with the first few places and why. Engines that parse offer it
// beside IFileRecoveryParse; a caller asks with dynamic_cast.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct DamageSite {
  uint64_t offset = 0;  // byte offset on the source (disk or image), not the volume
  std::string reason;
};

struct ScanDamage {
  static constexpr size_t kSitesKept = 8;
  uint64_t count = 0;
  std::vector<DamageSite> first;  // the first kSitesKept, in the order met
};

class IScanDamage {
 public:
  virtual ~IScanDamage() = default;
  // The tally of the last Scan (empty before one).
  virtual ScanDamage Damage() const = 0;
};

}  // namespace kestrel
