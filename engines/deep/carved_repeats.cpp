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

void CarvedRepeats::Build(std::vector<FileStart> named, const std::vector<FileStart>& carved) {
  sectors_.clear();
  repeated_ = 0;
  // Sorted once, each carved file looked up by binary search: a large disk
  // has millions of both.
  std::sort(named.begin(), named.end(), [](const FileStart& a, const FileStart& b) { return a.sector < b.sector; });
  for (const FileStart& c : carved) {
    auto first = std::lower_bound(named.begin(), named.end(), c.sector,
                                  [](const FileStart& n, uint64_t sector) { return n.sector < sector; });
    for (auto it = first; it != named.end() && it->sector == c.sector; ++it) {
      if (CarvedCopyOf(it->extension, c.extension)) {
        sectors_.push_back(c.sector);
        ++repeated_;
        break;
      }
    }
  }
  std::sort(sectors_.begin(), sectors_.end());
  sectors_.erase(std::unique(sectors_.begin(), sectors_.end()), sectors_.end());
}

bool CarvedRepeats::Repeats(const FoundFileRecord& carved) const {
  return !carved.IsDirectory() && Repeats(carved.entrySector);
}

bool CarvedRepeats::Repeats(uint64_t carvedFirstSector) const {
  return std::binary_search(sectors_.begin(), sectors_.end(), carvedFirstSector);
}

}  // namespace kestrel
