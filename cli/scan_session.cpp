#include "cli/scan_session.h"

#include <unistd.h>

#include <cstdio>
#include <deque>
#include <set>

#include <CLI/CLI.hpp>

#include "cli/truncation_check.h"
#include "platform/error_codes.h"

namespace kestrel::cli {

namespace {

constexpr int32_t kMaxFolderDepth = 1024;

int ScanProgress(void* user, int32_t progress, int32_t scale, int32_t remaining, uint64_t, uint64_t, uint64_t,
                 int32_t) {
  auto* line = static_cast<ProgressLine*>(user);
  int32_t percent = int32_t(int64_t(progress) * scale / 100);
  std::string text = "Scanning: " + std::to_string(percent) + "%";
  if (remaining > 0) text += " (about " + std::to_string(remaining) + " s left)";
  line->Show(text);
  return 0;
}

}  // namespace

ScanOptions ScanArguments::options() const {
  return ScanOptions{deep, restart  ? ResumeChoice::kRestart
                           : resume ? ResumeChoice::kResume
                                    : ResumeChoice::kAsk};
}

void AddScanArguments(CLI::App& command, ScanArguments& arguments) {
  command.add_option("SOURCE", arguments.source, "Image file or block device")->required();
  command.add_flag("--deep", arguments.deep,
                   "Deep scan: every sector (or every free cluster) for lost folders, lost MFT records and "
                   "files known by their content");
  auto* resumeFlag = command.add_flag("--resume", arguments.resume,
                                      "Deep scan: continue the saved unfinished deep scan of SOURCE");
  command.add_flag("--restart", arguments.restart, "Deep scan: discard a saved unfinished deep scan and start afresh")
      ->excludes(resumeFlag);
}

bool ResolveScanSource(const ScanArguments& arguments, Source& source) {
  int error = ResolveSource(arguments.source, source);
  if (error == 0) return true;
  PrintSourceError(arguments.source, error);
  return false;
}

ProgressLine::ProgressLine() : active_(isatty(STDERR_FILENO) == 1) {}

void ProgressLine::Show(const std::string& text) {
  if (!active_) return;
  std::string padded = text;
  if (padded.size() < shown_) padded.append(shown_ - padded.size(), ' ');
  std::fprintf(stderr, "\r%s", padded.c_str());
  std::fflush(stderr);
  shown_ = text.size();
}

void ProgressLine::Clear() {
  if (!active_ || shown_ == 0) return;
  std::fprintf(stderr, "\r%s\r", std::string(shown_, ' ').c_str());
  std::fflush(stderr);
  shown_ = 0;
}

int RunScan(const Source& source, const ScanOptions& options, std::unique_ptr<IFileRecoveryParse>& engine) {
  WarnIfShorterThanVolume(source);
  if (options.deep) return RunDeepScan(source, options.resume, engine);
  engine = CreateEngine(source, options.deep);
  if (!engine) {
    std::vector<uint8_t> probe;
    int error = ReadSourceProbe(source, probe);
    if (error != kSuccess) {
      PrintSourceError(source.path, error);
    } else {
      std::fprintf(stderr, "kestrel-cli: %s: no FAT or NTFS file system found to scan\n", source.path.c_str());
    }
    return kExitUsage;
  }
  ProgressLine line;
  engine->SetCallbacks(ScanProgress, nullptr, &line, 100);
  int result = engine->Scan(std::nullopt);
  line.Clear();
  engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
  if (result != kSuccess) {
    PrintSourceError(source.path, result);
    engine.reset();
    return kExitUsage;
  }
  return kExitOk;
}

int CollectFound(IFileRecoveryParse& engine, std::vector<FoundItem>& out) {
  struct Folder {
    bool isRoot;
    FoundFileRecord record;
    int32_t level;
  };
  std::deque<Folder> queue{{true, {}, 0}};
  std::set<std::pair<uint64_t, int32_t>> seen;  // (engine, folder id), level
  while (!queue.empty()) {
    Folder folder = queue.front();
    queue.pop_front();
    std::vector<FoundFileRecord> children;
    int error = engine.ListChildren(folder.isRoot ? nullptr : &folder.record, folder.level, children);
    if (error != kSuccess) return error;
    for (const FoundFileRecord& child : children) {
      FoundItem item;
      item.record = child;
      item.level = folder.level;
      engine.GetItemPath(&child, item.folder);
      out.push_back(item);
      // Folder keys carry their depth; one met twice is a loop in the index.
      if (child.IsDirectory() && folder.level + 1 < kMaxFolderDepth &&
          seen.insert({uint64_t(child.engineKind) << 32 | child.itemKey, folder.level + 1}).second) {
        queue.push_back({false, child, folder.level + 1});
      }
    }
  }
  return kSuccess;
}

}  // namespace kestrel::cli
