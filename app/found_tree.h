// The found files of a finished scan as a browsable tree of unique names:
// found folders as the volume had them (lost folders under their own names),
// carved files under carved/<category>/. Folders are read from the engine
// only when first opened, so a large scan is never held whole. Damaged and
// partial files carry recovery's marks in their names.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/found_item_reader.h"
#include "app/recovered_file_outcome.h"
#include "app/selection.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

// What recovery would make of a found file (FileOutcome), asked once per
// file as its folder is first listed, always under the tree's gate.
using OutcomeJudge = std::function<FileOutcome(const FoundFileRecord&)>;

struct FoundTreeNode {
  std::string name;  // marked as recovery marks it, unique in its folder, safe as a path component
  bool isFolder = false;
  bool hasRecord = false;  // false: the root, "carved" and its category folders
  FoundFileRecord record;
  std::string path;   // the item's path in its volume ("a/b/c.jpg"), as selections see it
  int32_t level = 0;  // a found folder's depth: its children are listed at this level
  bool walked = false;  // a found folder whose key was already walked at this depth stays empty
  bool loaded = false;
  std::vector<uint64_t> children;
  std::unordered_map<std::string, uint64_t> byName;
};

class FoundTree {
 public:
  static constexpr uint64_t kRoot = 1;

  // engine must have finished its scan; every engine call is made under gate.
  FoundTree(IFileRecoveryParse& engine, ItemStreamGate& gate, Selection selection, OutcomeJudge judge);

  // The node, or null for an unknown id.
  const FoundTreeNode* Node(uint64_t id) const;
  // A folder's children (read from the engine the first time). 0, or the
  // engine's listing error; ENOTDIR-like kErrInvalidParameter for a file.
  int Children(uint64_t id, const std::vector<uint64_t>*& out);
  // The child of folder parent called name; 0, kErrFileNotFound, or a listing error.
  int Lookup(uint64_t parent, std::string_view name, uint64_t& child);

 private:
  uint64_t Create(FoundTreeNode node);
  // Into its folder under a name made unique there.
  void Link(uint64_t parent, uint64_t id);
  uint64_t Folder(uint64_t parent, const std::string& name);
  int Load(uint64_t id);
  bool Keeps(uint64_t id);

  IFileRecoveryParse& engine_;
  ItemStreamGate& gate_;
  Selection selection_;
  OutcomeJudge judge_;
  std::deque<FoundTreeNode> nodes_;  // id = index + 1; a deque keeps references stable
  std::set<std::pair<uint64_t, int32_t>> walked_;  // (engine, folder key), level
};

}  // namespace kestrel
