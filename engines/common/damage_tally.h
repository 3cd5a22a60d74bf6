// The per-scan damage tally and the guard that feeds it: a record or block
// whose parsing throws is counted with its offset and reason, and the scan
// goes on with the next one. Nothing is dropped without a trace.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <string_view>

#include "engines/scan_damage.h"

namespace kestrel {

class DamageTally {
 public:
  // Allocates nothing, so it can note a failed allocation too.
  void Note(uint64_t offset, std::string_view reason) noexcept;
  void Clear() noexcept { count_ = 0, kept_ = 0; }
  uint64_t count() const { return count_; }
  ScanDamage damage() const;

 private:
  struct Site {
    uint64_t offset = 0;
    std::array<char, 96> reason{};  // cut to fit, always ends in '\0'
  };
  uint64_t count_ = 0;
  size_t kept_ = 0;
  std::array<Site, ScanDamage::kSitesKept> sites_{};
};

// more's count and sites after into's (the deep composite adds its members').
void AppendDamage(ScanDamage& into, const ScanDamage& more);

// body() for the record or block at offset (bytes on the source). If it
// throws, the exception is noted in tally and onThrow is returned instead:
// the caller goes on with the next record.
template <typename F, typename R>
R Tallied(DamageTally& tally, uint64_t offset, R onThrow, F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    tally.Note(offset, "out of memory");
  } catch (const std::exception& e) {
    tally.Note(offset, e.what());
  } catch (...) {
    tally.Note(offset, "unknown failure");
  }
  return onThrow;
}

}  // namespace kestrel

namespace kestrel {

// The IScanDamage of an engine that keeps one tally for its scans.
class TalliesDamage : public IScanDamage {
 public:
  ScanDamage Damage() const override { return damage_.damage(); }

 protected:
  DamageTally damage_;
};

}  // namespace kestrel
