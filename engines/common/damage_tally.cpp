#include "engines/common/damage_tally.h"

#include <algorithm>

namespace kestrel {

void DamageTally::Note(uint64_t offset, std::string_view reason) noexcept {
  ++count_;
  if (kept_ >= sites_.size()) return;
  Site& site = sites_[kept_++];
  site.offset = offset;
  size_t length = std::min(reason.size(), site.reason.size() - 1);
  std::copy_n(reason.data(), length, site.reason.data());
  site.reason[length] = '\0';
}

ScanDamage DamageTally::damage() const {
  ScanDamage out;
  out.count = count_;
  for (size_t i = 0; i < kept_; ++i) out.first.push_back({sites_[i].offset, sites_[i].reason.data()});
  return out;
}

void AppendDamage(ScanDamage& into, const ScanDamage& more) {
  into.count += more.count;
  for (const DamageSite& site : more.first) {
    if (into.first.size() >= ScanDamage::kSitesKept) break;
    into.first.push_back(site);
  }
}

}  // namespace kestrel
