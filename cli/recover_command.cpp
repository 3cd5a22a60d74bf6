#include <cstdio>
#include <string>

#include "app/jobs/recover_job.h"
#include "app/recover_session.h"
#include "app/recovery_report.h"
#include "app/same_device.h"
#include "app/type_filter.h"
#include "cli/commands.h"
#include "cli/deep_scan.h"
#include "cli/interrupt.h"
#include "cli/messages.h"
#include "cli/scan_session.h"
#include "cli/selection_arguments.h"
#include "cli/terminal_view.h"

namespace kestrel::cli {

namespace {

// The job's rows for failed items, as the lines the command always printed:
// "failed: <path>: <reason>".
void PrintFailedRow(const std::string& row) {
  size_t first = row.find('\t');
  size_t last = row.rfind('\t');
  if (first == std::string::npos || last == first || row.compare(0, first, "failed") != 0) return;
  std::fprintf(stderr, "failed: %s: %s\n", row.substr(first + 1, last - first - 1).c_str(), row.c_str() + last + 1);
}

RecoveryReportSource ReportSource(const ScanArguments& arguments, const std::vector<ScanTarget>& targets) {
  RecoveryReportSource source;
  for (const ScanTarget& target : targets) source.size += target.source.length;
  bool image = targets.empty() || targets.front().source.isImage;
  source.kind = image ? "image" : "device";
  source.path = image ? AbsoluteText(arguments.source) : arguments.source;
  source.scan = arguments.deep ? "deep" : "fast";
  return source;
}

// Creates the destination folder, or says in words why it cannot be one.
bool PrepareDestinationOnTerminal(const std::filesystem::path& folder) {
  std::string problem;
  if (int error = PrepareDestinationFolder(folder, problem); error != 0) {
    std::fprintf(stderr, "kestrel-cli: %s: %s (%d)\n", folder.c_str(), problem.c_str(), error);
    return false;
  }
  return true;
}

// Writes the files of one volume through the recovery job; Ctrl-C stops it
// after the file being written.
RecoveryTally RecoverOnTerminal(IFileRecoveryParse& engine, std::vector<FoundItem> items,
                                const std::filesystem::path& root, bool keepPaths, RecoveryReport& report,
                                const PreviousRecovery& previous) {
  TerminalView view({"percent", "recovered", "current"});
  view.onRow = PrintFailedRow;
  RecoverJob job(view, LanguageTable::Instance(), engine, std::move(items), root, keepPaths);
  job.report = &report;
  job.previous = &previous;
  InterruptGuard interrupt;
  job.Start();
  while (!job.WaitFor(std::chrono::milliseconds(50))) {
    if (InterruptGuard::raised()) job.Cancel();
  }
  job.Wait();
  return job.tally();
}

}  // namespace

void AddRecoverCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("recover", "Scan a source and copy the deleted files found to a folder");
  struct Options {
    ScanArguments scan;
    SelectionArguments selection;
    std::string destination;
    std::string types;
    std::string report;
    bool keepPaths = false;
    bool allowSameDevice = false;
  };
  auto options = std::make_shared<Options>();
  AddScanArguments(*command, options->scan);
  AddReuseFlag(*command, options->scan);
  command->add_option("DEST", options->destination, "Folder that receives the recovered files")->required();
  auto* typesOption = command->add_option(
      "--types", options->types,
      "Extensions (jpg,png,...) or photo, audio, video, document, archive, others, all; default photo, audio "
      "and video");
  command->add_option("--report", options->report,
                      "Write the recovery report here instead of DEST/recovery-report.json");
  command->add_flag("--keep-paths", options->keepPaths,
                    "Write DEST/<folder path>/<name> instead of DEST/<category>/<name>");
  command->add_flag("--allow-same-device", options->allowSameDevice,
                    "Allow DEST on the disk being recovered from (may overwrite what is recovered)");
  AddSelectionArguments(*command, options->selection);
  command->callback([options, typesOption, &exitCode] {
    Selection selection;
    std::vector<ScanTarget> targets;
    if (!ResolveSelectionAndTargets(options->selection, options->scan, selection, targets)) {
      exitCode = kExitUsage;
      return;
    }
    TypeFilter filter;
    std::string unknown;
    bool emptyTypes = typesOption->count() > 0 && options->types.empty();
    // A selection without --types takes files of every type, as `scan --list`
    // with the same selection shows them.
    if (!selection.empty() && typesOption->count() == 0) {
      filter.all = true;
    } else if (emptyTypes || !ParseTypeFilter(options->types, filter, &unknown)) {
      std::string problem = unknown.empty() ? "no type given" : "unknown word \"" + unknown + "\"";
      std::fprintf(stderr, "kestrel-cli: --types: %s; known words: %s, or extensions such as jpg,pdf\n",
                   problem.c_str(), std::string(kTypeFilterWords).c_str());
      exitCode = kExitUsage;
      return;
    }
    // Several partitions at once: each one's files below DEST/partition-N/,
    // so the same path on two volumes never meets.
    bool perPartition = targets.size() > 1;
    std::filesystem::path destination = options->destination;
    for (const ScanTarget& target : targets) {
      if (!options->allowSameDevice && DestinationOnSourceDisk(target.source, destination)) {
        std::fprintf(stderr,
                     "kestrel-cli: %s is on the disk being recovered from; writing there can overwrite the "
                     "files being recovered. Choose a folder on another disk, or give --allow-same-device.\n",
                     options->destination.c_str());
        exitCode = kExitUsage;
        return;
      }
    }
    if (!PrepareDestinationOnTerminal(destination)) {
      exitCode = kExitUsage;
      return;
    }
    std::filesystem::path reportPath =
        options->report.empty() ? destination / kRecoveryReportName : std::filesystem::path(options->report);
    RecoveryReport report(ReportSource(options->scan, targets), destination);
    // A rerun into the same folder keeps what the earlier run wrote and is still intact.
    PreviousRecovery previous;
    previous.Load(reportPath, ReportSource(options->scan, targets));
    if (int error = report.StartJournal(JournalPathFor(reportPath)); error != 0) {
      std::fprintf(stderr, "kestrel-cli: %s: %s (%d)\n", JournalPathFor(reportPath).c_str(), ErrorText(error).c_str(),
                   error);
    }
    RecoveryTally total;
    uint64_t otherTypes = 0;
    size_t scanned = 0;
    int lastFailure = kExitOk;
    bool interrupted = false;
    bool fullDestination = false;
    for (const ScanTarget& target : targets) {
      std::filesystem::path root = destination;
      if (perPartition) {
        std::printf("# %s\n", target.heading.c_str());
        std::fflush(stdout);
        root /= "partition-" + std::to_string(target.partitionNumber);
        if (!PrepareDestinationOnTerminal(root)) {
          exitCode = kExitUsage;
          return;
        }
      }
      std::unique_ptr<IFileRecoveryParse> engine;
      int code = RunScan(target.source, options->scan, engine);
      if (code == kExitInterrupted) {
        exitCode = code;
        return;
      }
      std::vector<FoundItem> matches;
      if (code == kExitOk) {
        uint64_t skipped = 0;
        // Paths are always looked up: the report names where each file was.
        if (int error = SelectForRecovery(*engine, filter, true, matches, &skipped); error != 0) {
          PrintSourceError(options->scan.source, error);
          code = kExitUsage;
        } else if (!selection.empty()) {
          matches = SelectFound(*engine, matches, selection);
        }
        otherTypes += skipped;
      }
      if (code != kExitOk) {
        lastFailure = code;
        continue;
      }
      ++scanned;
      RecoveryTally tally = RecoverOnTerminal(*engine, std::move(matches), root, options->keepPaths, report, previous);
      total.recovered += tally.recovered;
      total.failed += tally.failed;
      total.kept += tally.kept;
      if (tally.stopped) {
        interrupted = true;
        break;
      }
      if (tally.stoppedByFullDestination) {
        std::fprintf(stderr,
                     "kestrel-cli: %s: no space left on the destination; stopped after %llu recovered, %llu not "
                     "tried\n",
                     root.c_str(), static_cast<unsigned long long>(total.recovered),
                     static_cast<unsigned long long>(tally.notAttempted));
        total.failed += tally.notAttempted;
        fullDestination = true;
        break;
      }
    }
    if (scanned == 0) {
      exitCode = lastFailure;
      return;
    }
    if (int error = report.Write(reportPath); error != 0) {
      std::fprintf(stderr, "kestrel-cli: %s: the recovery report could not be written: %s (%d)\n",
                   reportPath.c_str(), ErrorText(error).c_str(), error);
    } else {
      report.EndJournal();
    }
    if (total.kept > 0) {
      std::printf("%llu file(s) written by an earlier run into %s are unchanged and were not written again\n",
                  static_cast<unsigned long long>(total.kept), destination.c_str());
    }
    if (interrupted) {
      std::fprintf(stderr, "kestrel-cli: recovery interrupted; the files written so far are in %s\n",
                   destination.c_str());
    } else if (otherTypes > 0 && filter.IsDefault()) {
      std::printf("%llu other file(s) found are not photos, audio or video; give --types all to recover them\n",
                  static_cast<unsigned long long>(otherTypes));
    }
    std::printf("recovered %llu, failed %llu\n", static_cast<unsigned long long>(total.recovered),
                static_cast<unsigned long long>(total.failed));
    if (interrupted) {
      exitCode = kExitInterrupted;
      return;
    }
    exitCode = total.failed == 0 && scanned == targets.size() && !fullDestination ? kExitOk : kExitPartial;
  });
}

}  // namespace kestrel::cli
