#include "cli/scan_session.h"

#include <cstdio>
#include <optional>

#include <CLI/CLI.hpp>

#include "app/jobs/scan_job.h"
#include "app/source.h"
#include "app/source_partitions.h"
#include "app/truncation_check.h"
#include "cli/deep_scan.h"
#include "cli/messages.h"
#include "cli/interrupt.h"
#include "cli/terminal_view.h"

namespace kestrel::cli {

namespace {

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
  return ScanOptions{deep,
                     restart  ? ResumeChoice::kRestart
                     : resume ? ResumeChoice::kResume
                              : ResumeChoice::kAsk,
                     // --restart asks for a fresh deep scan, whatever was saved
                     reuse && !(deep && restart)};
}

void AddReuseFlag(CLI::App& command, ScanArguments& arguments) {
  arguments.reuse = false;
  arguments.rescanHint = "leave out --reuse-scan to scan it again";
  command.add_flag("--reuse-scan", arguments.reuse,
                   "When the image SOURCE was scanned (fast, or deep with --deep) before and has not changed since "
                   "(its size, modification time and inode), use that scan instead of scanning again; a device is "
                   "always scanned");
}

void AddRescanFlag(CLI::App& command, ScanArguments& arguments) {
  arguments.reuse = true;
  arguments.rescanHint = "give --rescan to scan it again";
  command.add_flag_callback(
      "--rescan", [&arguments] { arguments.reuse = false; },
      "Scan SOURCE again even when it has not changed since its last finished scan (which is otherwise reused; "
      "with --deep, its last deep scan)");
}

void AddScanArguments(CLI::App& command, ScanArguments& arguments) {
  command.add_option("SOURCE", arguments.source, "Image file or block device")->required();
  command.add_option("--partition", arguments.partition,
                     "Only partition N of a whole disk or whole-disk image (as `kestrel-cli sources` numbers it)")
      ->check(CLI::NonNegativeNumber);
  auto* deepFlag = command.add_flag("--deep", arguments.deep,
                   "Deep scan: every sector (or every free cluster) for lost folders, lost MFT records and "
                   "files known by their content");
  // --resume and --restart only mean something to a deep scan; alone they are a mistake, not ignored.
  auto* resumeFlag = command.add_flag("--resume", arguments.resume,
                                      "Deep scan: continue the saved unfinished deep scan of SOURCE")
                         ->needs(deepFlag);
  command.add_flag("--restart", arguments.restart, "Deep scan: discard a saved unfinished deep scan and start afresh")
      ->excludes(resumeFlag)
      ->needs(deepFlag);
}

bool ResolveScanTargets(const ScanArguments& arguments, std::vector<ScanTarget>& targets) {
  targets.clear();
  SourceVolumes listed;
  int error = ListSourceVolumes(arguments.source, listed);
  if (error == 0 && arguments.partition >= 0 && !listed.partitioned) {
    std::fprintf(stderr, "kestrel-cli: %s: --partition: the source holds no partition table\n",
                 arguments.source.c_str());
    return false;
  }
  // A deep scan of the whole disk reads every sector, the free stretches and
  // lost partitions included, so it takes the disk apart only when asked to.
  bool byPartition = arguments.partition >= 0 || !arguments.deep;
  if (error == 0 && listed.partitioned && byPartition) {
    for (const auto& volume : listed.volumes) {
      if (arguments.partition >= 0 && volume.partitionNumber != arguments.partition) continue;
      ScanTarget target;
      ResolveListedVolume(arguments.source, listed.disk, volume, target.source);
      target.partitionNumber = volume.partitionNumber;
      target.heading = PartitionHeading(volume);
      targets.push_back(std::move(target));
    }
    if (targets.empty()) {
      std::fprintf(stderr, "kestrel-cli: %s: no partition %d (kestrel-cli sources %s lists them)\n",
                   arguments.source.c_str(), arguments.partition, arguments.source.c_str());
      return false;
    }
    return true;
  }
  ScanTarget target;
  if (error == 0) error = ResolveSource(arguments.source, target.source);
  if (error != 0) {
    PrintSourceError(arguments.source, error);
    return false;
  }
  targets.push_back(std::move(target));
  return true;
}

std::string PartitionHeading(const PartitionDescriptor& volume) {
  std::string text = "partition " + std::to_string(volume.partitionNumber) + ":";
  text += " " + (volume.fileSystemName.empty() ? std::string("unknown") : volume.fileSystemName);
  if (!volume.label.empty()) text += " " + volume.label;
  text += ", sectors " + std::to_string(volume.firstSector) + "-" +
          std::to_string(volume.firstSector + volume.sectorCount - 1);
  return text;
}

int RunScan(const ScanSource& source, const ScanArguments& arguments, std::unique_ptr<IFileRecoveryParse>& engine) {
  const ScanOptions options = arguments.options();
  if (source.boot.copy == BootCopy::kFatBackup || source.boot.copy == BootCopy::kNtfsBackup) {
    std::fprintf(stderr, "kestrel-cli: %s: the boot sector is damaged; reading %s instead\n", source.path.c_str(),
                 DescribeBootCopy(source.boot, uint32_t(source.sectorBytes)).c_str());
  }
  WarnIfShort(source);
  ScanEntry entry{source, nullptr, {}};
  TerminalView view({"percent", "sectors", "totalfile", "rate", "elapsed", "time"});
  view.ask = [&source](const std::string&) { return AskResumeOnTerminal(source.path); };
  ScanJob job(view, LanguageTable::Instance(), {&entry}, options);
  // Ctrl-C stops a deep scan's pass cleanly (its state is saved); elsewhere
  // it ends the program as it always did.
  std::optional<InterruptGuard> interrupt;
  if (options.deep) {
    job.passStarting = [&interrupt] { interrupt.emplace(); };
    job.passEnded = [&interrupt] { interrupt.reset(); };
  }
  job.Start();
  while (!job.WaitFor(std::chrono::milliseconds(50))) {
    if (InterruptGuard::raised()) job.Cancel();
  }
  job.Wait();
  engine = std::move(entry.engine);
  const ScanOutcome& outcome = entry.outcome;
  switch (outcome.status) {
    case ScanStatus::kDone:
      if (outcome.reused) {
        std::fprintf(stderr, "kestrel-cli: %s has not changed since its last scan: reusing that scan (%s)\n",
                     source.path.c_str(), arguments.rescanHint.c_str());
      }
      return kExitOk;
    case ScanStatus::kNoFileSystem:
      std::fprintf(stderr, "kestrel-cli: %s: no FAT or NTFS file system found to scan\n", source.path.c_str());
      if (!options.deep) PrintDeepScanHint();
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
  if (!options.deep) PrintDeepScanHint();
  return kExitUsage;
}

void PrintDeepScanHint() {
  std::fprintf(stderr,
               "kestrel-cli: a deep scan reads every sector and finds files by their content even where the file "
               "system is gone; run the same command with --deep\n");
}

}  // namespace kestrel::cli
