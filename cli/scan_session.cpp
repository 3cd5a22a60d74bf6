#include "cli/scan_session.h"

#include <cstdio>

#include <CLI/CLI.hpp>

#include "app/source.h"
#include "app/truncation_check.h"
#include "cli/deep_scan.h"
#include "cli/messages.h"
#include "cli/progress_line.h"

namespace kestrel::cli {

namespace {

ScanHooks FastScanHooks(ProgressLine& line) {
  ScanHooks hooks;
  hooks.progress = [&line](const ScanProgress& report) {
    std::string text = "Scanning: " + std::to_string(report.percent) + "%";
    if (report.remainingSeconds > 0) text += " (about " + std::to_string(report.remainingSeconds) + " s left)";
    line.Show(text);
    return true;
  };
  return hooks;
}

void WarnIfShort(const ScanSource& source) {
  auto shortSource = FindShortSource(source);
  if (!shortSource) return;
  std::fprintf(stderr,
               "kestrel-cli: warning: %s holds %llu of the %llu bytes its file system spans "
               "(a partial copy?); files stored past its end cannot be recovered\n",
               source.path.c_str(), static_cast<unsigned long long>(shortSource->available),
               static_cast<unsigned long long>(shortSource->declared));
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

bool ResolveScanSource(const ScanArguments& arguments, ScanSource& source) {
  int error = ResolveSource(arguments.source, source);
  if (error == 0) return true;
  PrintSourceError(arguments.source, error);
  return false;
}

int RunScan(const ScanSource& source, const ScanOptions& options, std::unique_ptr<IFileRecoveryParse>& engine) {
  WarnIfShort(source);
  ProgressLine line;
  ScanHooks hooks = options.deep ? DeepScanHooks(source.path, line) : FastScanHooks(line);
  ScanOutcome outcome = kestrel::RunScan(source, options, hooks, engine);
  line.Clear();
  switch (outcome.status) {
    case ScanStatus::kDone: return kExitOk;
    case ScanStatus::kNoFileSystem:
      std::fprintf(stderr, "kestrel-cli: %s: no FAT or NTFS file system found to scan\n", source.path.c_str());
      return kExitUsage;
    case ScanStatus::kStopped:
      if (options.deep) {
        PrintDeepScanStopped(outcome.stateSaved);
        return kExitInterrupted;
      }
      break;
    case ScanStatus::kUnreadable:
    case ScanStatus::kFailed: break;
  }
  PrintSourceError(source.path, outcome.error);
  return kExitUsage;
}

}  // namespace kestrel::cli
