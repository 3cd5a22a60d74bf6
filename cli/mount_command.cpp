// kestrel-cli mount: the found files of a scan served as a read-only FUSE
// file system, each read going through the engine that found the file.
#define FUSE_USE_VERSION 34
#include <fuse_lowlevel.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/found_file_outcome.h"
#include "app/found_item_reader.h"
#include "app/found_tree.h"
#include "app/recovered_file_outcome.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/scan_session.h"
#include "cli/selection_arguments.h"
#include "engines/found_item_stream.h"
#include "platform/error_codes.h"

namespace kestrel::cli {

namespace {

// Nothing on the mount ever changes, so the kernel may keep names and
// attributes for as long as it likes.
constexpr double kCacheSeconds = 86400.0;
constexpr unsigned kLargestRead = 1u << 20;

struct MountState {
  IFileRecoveryParse* engine = nullptr;
  IFoundItemStream* stream = nullptr;
  ItemStreamGate gate;
  std::unique_ptr<FoundTree> tree;
};

MountState& State(fuse_req_t request) { return *static_cast<MountState*>(fuse_req_userdata(request)); }

int Errno(int error) {
  switch (error) {
    case kErrFileNotFound: return ENOENT;
    case kErrInvalidParameter: return ENOTDIR;
    case kErrNotEnoughMemory: return ENOMEM;
    default: return EIO;
  }
}

void FillAttributes(uint64_t id, const FoundTreeNode& node, struct stat& st) {
  st = {};
  st.st_ino = id;
  st.st_uid = getuid();
  st.st_gid = getgid();
  if (node.isFolder) {
    st.st_mode = S_IFDIR | 0555;
    st.st_nlink = 2;
  } else {
    st.st_mode = S_IFREG | 0444;
    st.st_nlink = 1;
    st.st_size = off_t(node.record.size);
    st.st_blocks = off_t((node.record.size + 511) / 512);
  }
  // The recorded times, as recovery sets them on the files it writes; none
  // recorded (carved files) shows as 1970-01-01.
  if (node.hasRecord && node.record.modified != 0) {
    st.st_mtim = FileTimeToTimespec(node.record.modified);
    st.st_ctim = st.st_mtim;
    st.st_atim = node.record.accessed != 0 ? FileTimeToTimespec(node.record.accessed) : st.st_mtim;
  }
}

void OnLookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
  MountState& state = State(request);
  uint64_t child = 0;
  if (int error = state.tree->Lookup(parent, name, child); error != kSuccess) {
    fuse_reply_err(request, Errno(error));
    return;
  }
  fuse_entry_param entry{};
  entry.ino = child;
  entry.attr_timeout = kCacheSeconds;
  entry.entry_timeout = kCacheSeconds;
  FillAttributes(child, *state.tree->Node(child), entry.attr);
  fuse_reply_entry(request, &entry);
}

void OnGetAttributes(fuse_req_t request, fuse_ino_t id, fuse_file_info*) {
  const FoundTreeNode* node = State(request).tree->Node(id);
  if (!node) {
    fuse_reply_err(request, ENOENT);
    return;
  }
  struct stat st;
  FillAttributes(id, *node, st);
  fuse_reply_attr(request, &st, kCacheSeconds);
}

void OnReadFolder(fuse_req_t request, fuse_ino_t id, size_t size, off_t offset, fuse_file_info*) {
  FoundTree& tree = *State(request).tree;
  const std::vector<uint64_t>* children = nullptr;
  if (int error = tree.Children(id, children); error != kSuccess) {
    fuse_reply_err(request, Errno(error));
    return;
  }
  // Entry i is ".", "..", then the children; the offset handed back names the next one.
  std::vector<char> buffer(size);
  size_t used = 0;
  for (size_t i = size_t(offset); i < children->size() + 2; ++i) {
    struct stat st = {};
    std::string name;
    if (i < 2) {
      name = i == 0 ? "." : "..";
      st.st_mode = S_IFDIR;
    } else {
      uint64_t child = (*children)[i - 2];
      const FoundTreeNode& node = *tree.Node(child);
      name = node.name;
      st.st_ino = child;
      st.st_mode = node.isFolder ? S_IFDIR : S_IFREG;
    }
    size_t entry = fuse_add_direntry(request, buffer.data() + used, size - used, name.c_str(), &st, off_t(i + 1));
    if (entry > size - used) break;
    used += entry;
  }
  fuse_reply_buf(request, buffer.data(), used);
}

void OnOpen(fuse_req_t request, fuse_ino_t id, fuse_file_info* info) {
  MountState& state = State(request);
  const FoundTreeNode* node = state.tree->Node(id);
  if (!node || node->isFolder) {
    fuse_reply_err(request, node ? EISDIR : ENOENT);
    return;
  }
  if ((info->flags & O_ACCMODE) != O_RDONLY) {
    fuse_reply_err(request, EROFS);
    return;
  }
  if (!state.stream) {
    fuse_reply_err(request, EIO);
    return;
  }
  auto* reader = new FoundItemReader(*state.stream, state.gate, node->record);
  info->fh = reinterpret_cast<uint64_t>(reader);
  info->keep_cache = 1;
  fuse_reply_open(request, info);
}

void OnRead(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, fuse_file_info* info) {
  auto* reader = reinterpret_cast<FoundItemReader*>(info->fh);
  std::vector<uint8_t> buffer(size);
  size_t got = 0;
  if (int error = reader->ReadAt(uint64_t(offset), buffer.data(), size, got); error != kSuccess) {
    fuse_reply_err(request, Errno(error));
    return;
  }
  fuse_reply_buf(request, reinterpret_cast<const char*>(buffer.data()), got);
}

void OnRelease(fuse_req_t request, fuse_ino_t, fuse_file_info* info) {
  delete reinterpret_cast<FoundItemReader*>(info->fh);
  fuse_reply_err(request, 0);
}

// Every change is refused, whatever the kernel lets through.
void OnSetAttributes(fuse_req_t request, fuse_ino_t, struct stat*, int, fuse_file_info*) {
  fuse_reply_err(request, EROFS);
}
void OnMakeNode(fuse_req_t request, fuse_ino_t, const char*, mode_t, dev_t) { fuse_reply_err(request, EROFS); }
void OnMakeFolder(fuse_req_t request, fuse_ino_t, const char*, mode_t) { fuse_reply_err(request, EROFS); }
void OnRemove(fuse_req_t request, fuse_ino_t, const char*) { fuse_reply_err(request, EROFS); }
void OnRename(fuse_req_t request, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned int) {
  fuse_reply_err(request, EROFS);
}
void OnCreate(fuse_req_t request, fuse_ino_t, const char*, mode_t, fuse_file_info*) { fuse_reply_err(request, EROFS); }
void OnWrite(fuse_req_t request, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) {
  fuse_reply_err(request, EROFS);
}

// Larger reads and read-ahead: each read wakes the stream once, so fewer,
// bigger requests move a large file faster.
void OnInit(void*, fuse_conn_info* connection) {
  connection->max_readahead = kLargestRead;
  connection->max_write = kLargestRead;  // libfuse sizes the kernel's request pages from it
}

fuse_lowlevel_ops Operations() {
  fuse_lowlevel_ops ops{};
  ops.init = OnInit;
  ops.lookup = OnLookup;
  ops.getattr = OnGetAttributes;
  ops.readdir = OnReadFolder;
  ops.open = OnOpen;
  ops.read = OnRead;
  ops.release = OnRelease;
  ops.setattr = OnSetAttributes;
  ops.mknod = OnMakeNode;
  ops.mkdir = OnMakeFolder;
  ops.unlink = OnRemove;
  ops.rmdir = OnRemove;
  ops.rename = OnRename;
  ops.create = OnCreate;
  ops.write = OnWrite;
  return ops;
}

// Serves the tree at mountPoint until it is unmounted or the process is
// interrupted. kExitOk, or kExitUsage with the reason printed.
int Serve(MountState& state, const std::string& source, const std::string& mountPoint) {
  // A comma in the source's name would split the option list.
  std::string shownName = source;
  for (char& c : shownName) {
    if (c == ',') c = '_';
  }
  std::string options = "-oro,default_permissions,fsname=kestrel:" + shownName + ",subtype=kestrel";
  std::vector<std::string> words = {"kestrel-cli", options};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  fuse_args args = FUSE_ARGS_INIT(int(argv.size()), argv.data());
  fuse_lowlevel_ops ops = Operations();
  fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, &state);
  // The session parses the options into its own state and may have copied the
  // argument list while doing so; the copy is ours to free.
  fuse_opt_free_args(&args);
  if (!session) {
    std::fprintf(stderr, "kestrel-cli: mount: FUSE could not start a session\n");
    return kExitUsage;
  }
  if (fuse_set_signal_handlers(session) != 0) {
    fuse_session_destroy(session);
    std::fprintf(stderr, "kestrel-cli: mount: could not set the signal handlers\n");
    return kExitUsage;
  }
  if (fuse_session_mount(session, mountPoint.c_str()) != 0) {
    fuse_remove_signal_handlers(session);
    fuse_session_destroy(session);
    std::fprintf(stderr,
                 "kestrel-cli: %s: could not mount there (is it an empty folder, and are /dev/fuse and "
                 "fusermount3 available?)\n",
                 mountPoint.c_str());
    return kExitUsage;
  }
  std::printf("mounted %s at %s (read-only); unmount with: fusermount3 -u %s\n", source.c_str(), mountPoint.c_str(),
              mountPoint.c_str());
  std::fflush(stdout);
  int loop = fuse_session_loop(session);
  fuse_session_unmount(session);
  fuse_remove_signal_handlers(session);
  fuse_session_destroy(session);
  // A signal ends the loop with its number; that is how Ctrl-C unmounts.
  return loop < 0 ? kExitUsage : kExitOk;
}

}  // namespace

void AddMountCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand(
      "mount", "Scan a source and show the files found as a read-only folder tree at MOUNTPOINT (FUSE)");
  struct Options {
    ScanArguments scan;
    SelectionArguments selection;
    std::string mountPoint;
    bool check = false;
  };
  auto options = std::make_shared<Options>();
  AddScanArguments(*command, options->scan);
  AddRescanFlag(*command, options->scan);
  command->add_option("MOUNTPOINT", options->mountPoint, "An empty folder to show the found files in")->required();
  AddSelectionArguments(*command, options->selection);
  command->add_flag("--check", options->check,
                    "Before mounting, read every found file and check its content as scan --check does, so that "
                    "every damaged file shows as name.damaged.ext (without it, only what the scan already knows "
                    "is marked: partial files, and files its own check failed)");
  command->callback([options, &exitCode] {
    Selection selection;
    std::vector<ScanTarget> targets;
    if (!ResolveSelectionAndTargets(options->selection, options->scan, selection, targets)) {
      exitCode = kExitUsage;
      return;
    }
    if (targets.size() > 1) {
      std::fprintf(stderr,
                   "kestrel-cli: %s holds %zu partitions; mount one with --partition N (kestrel-cli sources %s "
                   "lists them)\n",
                   options->scan.source.c_str(), targets.size(), options->scan.source.c_str());
      exitCode = kExitUsage;
      return;
    }
    std::unique_ptr<IFileRecoveryParse> engine;
    if (int code = RunScan(targets.front().source, options->scan, engine); code != kExitOk) {
      exitCode = code;
      return;
    }
    // Damaged and partial files go under the names recovery gives them.
    IFileRecoveryParse& scanned = *engine;
    OutcomeJudge judge = [&scanned](const FoundFileRecord& record) { return KnownOutcome(scanned, record); };
    CheckedOutcomes checked;
    if (options->check) {
      if (int error = checked.CheckAll(scanned); error != kSuccess) {
        PrintSourceError(options->scan.source, error);
        exitCode = kExitUsage;
        return;
      }
      std::fprintf(stderr, "checked %llu files: %llu damaged, %llu partial\n",
                   static_cast<unsigned long long>(checked.files()), static_cast<unsigned long long>(checked.damaged()),
                   static_cast<unsigned long long>(checked.partial()));
      judge = [&checked](const FoundFileRecord& record) { return checked.Of(record); };
    }
    MountState state;
    state.engine = engine.get();
    state.stream = dynamic_cast<IFoundItemStream*>(engine.get());
    state.tree = std::make_unique<FoundTree>(*engine, state.gate, selection, judge);
    exitCode = Serve(state, options->scan.source, options->mountPoint);
    // Readers still open hold the engine's stream; the tree and gate go first.
    state.tree.reset();
  });
}

}  // namespace kestrel::cli
