// A file a deep scan finds both through its file-system record and by
// carving is one file: the carved copy that starts at the first sector of a
// named file of the same type repeats it, and only the named one (with its
// name, folder and times) is listed, counted and recovered.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/found_file_record.h"

namespace kestrel {

// Where a found file's data starts (absolute sector on the source) and the
// extension of its name: all the merge needs of a record, kept small, since
// a large disk has millions of them.
struct FileStart {
  uint64_t sector = 0;
  std::string extension;
};

// True when a file carved as carvedExtension, at the first sector of a file
// named with namedExtension, is that file: the same type by content, or a
// camera's thumbnail (.thm), which is a JPEG. A different type there is
// another file that took over the named one's clusters, and is kept.
bool CarvedCopyOf(std::string_view namedExtension, std::string_view carvedExtension);

// The carved records that repeat a named file, known by their first sector.
// Only an exact start counts: a carved file that begins inside a named file's
// extent may be a file embedded in it (a photo in a document) and is kept.
class CarvedRepeats {
 public:
  void Build(std::vector<FileStart> named, const std::vector<FileStart>& carved);
  // carved: a record of the carving engine.
  bool Repeats(const FoundFileRecord& carved) const;
  bool Repeats(uint64_t carvedFirstSector) const;
  // How many of the carved records given to Build repeat a named file.
  uint64_t count() const { return repeated_; }

 private:
  std::vector<uint64_t> sectors_;  // sorted, each once
  uint64_t repeated_ = 0;
};

}  // namespace kestrel
