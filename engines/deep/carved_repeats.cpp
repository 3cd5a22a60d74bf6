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

void MemberRepeats::Build(const std::vector<MemberNode>& nodes, std::vector<FileSpan> fastDeleted) {
  records_.clear();
  files_ = 0;
  std::sort(fastDeleted.begin(), fastDeleted.end());
  std::vector<uint32_t> entries(nodes.size(), 0), entriesOut(nodes.size(), 0);
  // Entries come after their folder: walked backwards, a folder's entries are
  // all judged before the folder is.
  for (size_t i = nodes.size(); i-- > 0;) {
    const MemberNode& n = nodes[i];
    bool out = n.folder ? entries[i] > 0 && entries[i] == entriesOut[i]
                        : n.size > 0 && std::binary_search(fastDeleted.begin(), fastDeleted.end(),
                                                           FileSpan{n.sector, n.size});
    if (out) {
      records_.push_back(n.recordIndex);
      if (!n.folder) ++files_;
    }
    if (n.parent < nodes.size()) {
      ++entries[n.parent];
      entriesOut[n.parent] += out ? 1 : 0;
    }
  }
  std::sort(records_.begin(), records_.end());
}

bool MemberRepeats::Repeats(uint32_t recordIndex) const {
  return std::binary_search(records_.begin(), records_.end(), recordIndex);
}

}  // namespace kestrel
