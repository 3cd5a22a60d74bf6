#include "engines/deep/carved_repeats.h"

#include <algorithm>

#include "carve/signatures.h"
#include "catalogue/categories.h"

namespace kestrel {

bool CarvedCopyOf(std::string_view namedExtension, std::string_view carvedExtension) {
  std::string named = LowerAscii(namedExtension);
  if (named == "thm") return LowerAscii(carvedExtension) == "jpg";
  return SameContentType(named, carvedExtension);
}

void CarvedRepeats::Build(std::vector<NamedStart> named, const std::vector<FoundFileRecord>& carved) {
  sectors_.clear();
  repeated_ = 0;
  // Sorted once, each carved file looked up by binary search: a large disk
  // has millions of both.
  std::sort(named.begin(), named.end(), [](const NamedStart& a, const NamedStart& b) { return a.sector < b.sector; });
  for (const FoundFileRecord& c : carved) {
    if (c.IsDirectory()) continue;
    auto first = std::lower_bound(named.begin(), named.end(), c.entrySector,
                                  [](const NamedStart& n, uint64_t sector) { return n.sector < sector; });
    std::string extension = ExtensionOf(c.Name());
    for (auto it = first; it != named.end() && it->sector == c.entrySector; ++it) {
      if (CarvedCopyOf(it->extension, extension)) {
        sectors_.push_back(c.entrySector);
        ++repeated_;
        break;
      }
    }
  }
  std::sort(sectors_.begin(), sectors_.end());
  sectors_.erase(std::unique(sectors_.begin(), sectors_.end()), sectors_.end());
}

bool CarvedRepeats::Repeats(const FoundFileRecord& carved) const {
  return !carved.IsDirectory() && std::binary_search(sectors_.begin(), sectors_.end(), carved.entrySector);
}

}  // namespace kestrel
