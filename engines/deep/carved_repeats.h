// A file a deep scan finds twice is one file, listed, counted and recovered
// once: a carved copy that starts at the first sector of a named file of the
// same type repeats it, and so does a deep member's record of a file the
// fast pass found deleted with the same first sector and size (the files of
// a deleted folder, met again in its own sectors as a lost folder). The
// fast pass's record keeps its name, real folder and times.
#pragma once

#include <compare>
#include <cstddef>
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

// One node of a deep member's folder tree, as the repeat rule needs it.
struct MemberNode {
  uint32_t recordIndex = 0;
  bool folder = false;
  size_t parent = SIZE_MAX;  // index of its folder among the nodes; SIZE_MAX at the top
  uint64_t sector = 0;       // a file's absolute first data sector ...
  uint64_t size = 0;         // ... and size; both 0 when it has none
};

// A deleted file of the fast pass: where its data starts and how long it is.
struct FileSpan {
  uint64_t sector = 0;
  uint64_t size = 0;
  auto operator<=>(const FileSpan&) const = default;
};

// The records of one deep member that repeat deleted files of the fast
// pass. Only an exact match of first sector and size counts: a record that
// differs in either may be another file and is kept. A folder is left out
// when it holds entries and every one of them is left out, so no empty lost
// folder remains.
class MemberRepeats {
 public:
  // nodes: the member's tree, every folder before its entries.
  void Build(const std::vector<MemberNode>& nodes, std::vector<FileSpan> fastDeleted);
  bool Repeats(uint32_t recordIndex) const;
  // How many files (not folders) are left out.
  uint64_t fileCount() const { return files_; }

 private:
  std::vector<uint32_t> records_;  // sorted
  uint64_t files_ = 0;
};

}  // namespace kestrel
