#include "app/found_tree.h"

#include "app/recovery_destination.h"
#include "catalogue/categories.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

constexpr int32_t kMaxFolderDepth = 1024;
constexpr uint64_t kNoFolder = 0;

}  // namespace

FoundTree::FoundTree(IFileRecoveryParse& engine, ItemStreamGate& gate, Selection selection, OutcomeJudge judge)
    : engine_(engine), gate_(gate), selection_(std::move(selection)), judge_(std::move(judge)) {
  FoundTreeNode root;
  root.isFolder = true;
  nodes_.push_back(std::move(root));
}

const FoundTreeNode* FoundTree::Node(uint64_t id) const {
  return id >= 1 && id <= nodes_.size() ? &nodes_[id - 1] : nullptr;
}

uint64_t FoundTree::Create(FoundTreeNode node) {
  nodes_.push_back(std::move(node));
  return nodes_.size();
}

void FoundTree::Link(uint64_t parent, uint64_t id) {
  FoundTreeNode& folder = nodes_[parent - 1];
  FoundTreeNode& child = nodes_[id - 1];
  child.name = FreeName(child.name, [&folder](const std::string& name) { return folder.byName.count(name) != 0; });
  folder.byName.emplace(child.name, id);
  folder.children.push_back(id);
}

uint64_t FoundTree::Folder(uint64_t parent, const std::string& name) {
  FoundTreeNode& folder = nodes_[parent - 1];
  if (auto at = folder.byName.find(name); at != folder.byName.end()) return at->second;
  FoundTreeNode node;
  node.name = name;
  node.isFolder = true;
  node.loaded = true;  // filled as the root's listing places carved files
  uint64_t id = Create(std::move(node));
  Link(parent, id);
  return id;
}

// With a selection: a file it takes, or a folder holding one.
bool FoundTree::Keeps(uint64_t id) {
  if (selection_.empty()) return true;
  if (nodes_[id - 1].isFolder) {
    const std::vector<uint64_t>* children = nullptr;
    return Children(id, children) == kSuccess && !children->empty();
  }
  const FoundTreeNode& node = nodes_[id - 1];
  if (!selection_.Takes(node.path, node.record)) return false;
  if (!selection_.onlyIntact) return true;
  std::lock_guard lock(gate_.lock());
  gate_.StopActive();
  return ContentIntact(engine_, node.record);
}

int FoundTree::Load(uint64_t id) {
  if (nodes_[id - 1].loaded) return kSuccess;
  std::vector<FoundFileRecord> records;
  if (!nodes_[id - 1].walked) {
    std::lock_guard lock(gate_.lock());
    gate_.StopActive();
    const FoundTreeNode& folder = nodes_[id - 1];
    int error = engine_.ListChildren(id == kRoot ? nullptr : &folder.record, folder.level, records);
    if (error != kSuccess) return error;
  }
  nodes_[id - 1].loaded = true;
  const std::string prefix = id == kRoot ? std::string() : nodes_[id - 1].path + "/";
  const int32_t childLevel = nodes_[id - 1].level + 1;
  uint64_t carved = kNoFolder;
  for (const FoundFileRecord& record : records) {
    FoundTreeNode node;
    node.name = SafeComponent(record.Name());
    node.isFolder = record.IsDirectory();
    node.hasRecord = true;
    node.record = record;
    // Carved files have no folder: their path is their name, as listings show it.
    bool isCarved = record.engineKind == uint32_t(EngineKind::kCarving) && !node.isFolder;
    node.path = isCarved ? std::string(record.Name()) : prefix + std::string(record.Name());
    if (node.isFolder) {
      node.level = childLevel;
      // Folder keys carry their depth; one met twice is a loop in the index.
      node.walked = childLevel >= kMaxFolderDepth ||
                    !walked_.insert({uint64_t(record.engineKind) << 32 | record.itemKey, childLevel}).second;
    }
    uint64_t child = Create(std::move(node));
    if (!Keeps(child)) continue;
    if (!nodes_[child - 1].isFolder && judge_) {
      std::lock_guard lock(gate_.lock());
      gate_.StopActive();
      nodes_[child - 1].name = OutcomeFileName(nodes_[child - 1].name, judge_(record));
    }
    uint64_t parent = id;
    if (isCarved) {
      if (carved == kNoFolder) carved = Folder(kRoot, "carved");
      parent = Folder(carved, std::string(FileCategory(record.Name())));
    }
    Link(parent, child);
  }
  return kSuccess;
}

int FoundTree::Children(uint64_t id, const std::vector<uint64_t>*& out) {
  if (id < 1 || id > nodes_.size()) return kErrFileNotFound;
  if (!nodes_[id - 1].isFolder) return kErrInvalidParameter;
  if (int error = Load(id); error != kSuccess) return error;
  out = &nodes_[id - 1].children;
  return kSuccess;
}

int FoundTree::Lookup(uint64_t parent, std::string_view name, uint64_t& child) {
  const std::vector<uint64_t>* children = nullptr;
  if (int error = Children(parent, children); error != kSuccess) return error;
  const FoundTreeNode& folder = nodes_[parent - 1];
  auto at = folder.byName.find(std::string(name));
  if (at == folder.byName.end()) return kErrFileNotFound;
  child = at->second;
  return kSuccess;
}

}  // namespace kestrel
