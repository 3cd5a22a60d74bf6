#include <cstdio>
#include <string>

#include "app/recover_session.h"
#include "app/same_device.h"
#include "app/type_filter.h"
#include "cli/commands.h"
#include "cli/deep_scan.h"
#include "cli/messages.h"
#include "cli/progress_line.h"
#include "cli/scan_session.h"
#include "cli/selection_arguments.h"

namespace kestrel::cli {

namespace {

// "Recovering i/N: name P%" while each item is written, and a line on stderr
// for each item that failed.
RecoverHooks TerminalHooks(ProgressLine& line, std::string& label) {
  RecoverHooks hooks;
  hooks.itemStarting = [&label](size_t index, size_t total, const FoundItem& item, const std::filesystem::path&) {
    label = "Recovering " + std::to_string(index) + "/" + std::to_string(total) + ": " +
            std::string(item.record.Name());
  };
  hooks.itemProgress = [&line, &label](int32_t percent) {
    line.Show(label + " " + std::to_string(percent) + "%");
    return true;
  };
  hooks.itemDone = [&line](const FoundItem& item, const std::filesystem::path& destination, int outcome) {
    line.Clear();
    if (outcome == 0) return;
    std::fprintf(stderr, "failed: %s: %s\n", destination.c_str(),
                 FailureText(outcome, item.record, destination).c_str());
  };
  return hooks;
}

}  // namespace

void AddRecoverCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("recover", "Scan a source and copy the deleted files found to a folder");
  struct Options {
    ScanArguments scan;
    SelectionArguments selection;
    std::string destination;
    std::string types;
    bool keepPaths = false;
    bool allowSameDevice = false;
  };
  auto options = std::make_shared<Options>();
  AddScanArguments(*command, options->scan);
  command->add_option("DEST", options->destination, "Folder that receives the recovered files")->required();
  command->add_option("--types", options->types,
                      "Extensions (jpg,png,...) or photo, audio, video, all; default photo, audio and video");
  command->add_flag("--keep-paths", options->keepPaths,
                    "Write DEST/<folder path>/<name> instead of DEST/<category>/<name>");
  command->add_flag("--allow-same-device", options->allowSameDevice,
                    "Allow DEST on the disk being recovered from (may overwrite what is recovered)");
  AddSelectionArguments(*command, options->selection);
  command->callback([options, &exitCode] {
    Selection selection;
    if (!ResolveSelection(options->selection, selection)) {
      exitCode = kExitUsage;
      return;
    }
    TypeFilter filter;
    // A selection without --types takes files of every type, as `scan --list`
    // with the same selection shows them.
    if (!selection.empty() && options->types.empty()) {
      filter.all = true;
    } else if (!ParseTypeFilter(options->types, filter)) {
      std::fprintf(stderr, "kestrel-cli: --types: give extensions (jpg,png), photo, audio, video or all\n");
      exitCode = kExitUsage;
      return;
    }
    std::vector<ScanTarget> targets;
    if (!ResolveScanTargets(options->scan, targets)) {
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
    if (int error = PrepareDestinationFolder(destination); error != 0) {
      PrintSourceError(destination, error);
      exitCode = kExitUsage;
      return;
    }
    RecoveryTally total;
    size_t scanned = 0;
    int lastFailure = kExitOk;
    for (const ScanTarget& target : targets) {
      std::filesystem::path root = destination;
      if (perPartition) {
        std::printf("# %s\n", target.heading.c_str());
        std::fflush(stdout);
        root /= "partition-" + std::to_string(target.partitionNumber);
        if (int error = PrepareDestinationFolder(root); error != 0) {
          PrintSourceError(root, error);
          exitCode = kExitUsage;
          return;
        }
      }
      std::unique_ptr<IFileRecoveryParse> engine;
      int code = RunScan(target.source, options->scan.options(), engine);
      if (code == kExitInterrupted) {
        exitCode = code;
        return;
      }
      std::vector<FoundItem> matches;
      if (code == kExitOk) {
        if (int error = SelectForRecovery(*engine, filter, options->keepPaths || !selection.empty(), matches);
            error != 0) {
          PrintSourceError(options->scan.source, error);
          code = kExitUsage;
        } else if (!selection.empty()) {
          matches = SelectFound(*engine, matches, selection);
        }
      }
      if (code != kExitOk) {
        lastFailure = code;
        continue;
      }
      ++scanned;
      ProgressLine line;
      std::string label;
      RecoveryTally tally = RecoverItems(*engine, matches, root, options->keepPaths, TerminalHooks(line, label));
      line.Clear();
      total.recovered += tally.recovered;
      total.failed += tally.failed;
    }
    if (scanned == 0) {
      exitCode = lastFailure;
      return;
    }
    std::printf("recovered %llu, failed %llu\n", static_cast<unsigned long long>(total.recovered),
                static_cast<unsigned long long>(total.failed));
    exitCode = total.failed == 0 && scanned == targets.size() ? kExitOk : kExitPartial;
  });
}

}  // namespace kestrel::cli
