#include <cinttypes>
#include <cstdio>

#include "app/jobs/image_job.h"
#include "cli/commands.h"
#include "app/source.h"
#include "cli/deep_scan.h"
#include "cli/interrupt.h"
#include "cli/messages.h"
#include "cli/scan_session.h"
#include "cli/terminal_view.h"

namespace kestrel::cli {

namespace {

void PrintBadAreas(const ImageCopyOutcome& outcome, int32_t sectorBytes) {
  uint64_t sectors = outcome.badBytes / uint64_t(sectorBytes);
  std::printf("%" PRIu64 " unreadable sector%s (%" PRIu64 " bytes) written as zeros, in %zu area%s:\n", sectors,
              sectors == 1 ? "" : "s", outcome.badBytes, outcome.badAreas.size(),
              outcome.badAreas.size() == 1 ? "" : "s");
  for (const MapArea& area : outcome.badAreas) {
    std::printf("  bytes %" PRIu64 "-%" PRIu64 " (sectors %" PRIu64 "-%" PRIu64 ")\n", area.pos, area.end() - 1,
                area.pos / uint64_t(sectorBytes), (area.end() - 1) / uint64_t(sectorBytes));
  }
}

}  // namespace

void AddImageCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand(
      "image", "Copy a disk, a partition or an image file sector by sector into a raw image, through bad sectors");
  struct Options {
    std::string source;
    std::string destination;
    std::string map;
    int retries = 0;
    int32_t partition = -1;
  };
  auto options = std::make_shared<Options>();
  command->add_option("SOURCE", options->source, "Block device (disk or partition) or image file")->required();
  command->add_option("DEST", options->destination, "Image file to write")->required();
  command->add_option("--map", options->map,
                      "Rescue map (GNU ddrescue mapfile format); an existing one resumes the copy. "
                      "Default DEST.map");
  command->add_option("--retry", options->retries, "Read the unreadable areas this many more times")
      ->check(CLI::Range(0, 1000));
  command->add_option("--partition", options->partition,
                      "Only partition N of a whole disk or whole-disk image (as `kestrel-cli sources` numbers it)")
      ->check(CLI::NonNegativeNumber);
  command->callback([options, &exitCode] {
    ScanSource source;
    if (options->partition >= 0) {
      // The partition is found as scan and recover find it, with their messages.
      ScanArguments arguments;
      arguments.source = options->source;
      arguments.partition = options->partition;
      std::vector<ScanTarget> targets;
      if (!ResolveScanTargets(arguments, targets)) {
        exitCode = kExitUsage;
        return;
      }
      source = std::move(targets.front().source);
    } else if (int error = ResolveSource(options->source, source); error != 0) {
      PrintSourceError(options->source, error);
      exitCode = kExitUsage;
      return;
    }
    ImageJobRequest request;
    request.source = source.path;
    request.sourceIsImage = source.isImage;
    request.partition = source.partition;
    request.destination = options->destination;
    request.map = options->map;
    request.retries = options->retries;

    TerminalView view({"percent", "sectors", "rate", "elapsed", "time", "bad"});
    ImageJob job(view, LanguageTable::Instance(), request);
    InterruptGuard interrupt;
    job.Start();
    while (!job.WaitFor(std::chrono::milliseconds(50))) {
      if (interrupt.raised()) job.Cancel();
    }
    int result = job.Wait();
    const ImageCopyOutcome& outcome = job.outcome();
    std::string map = job.mapPath().string();
    if (result == kJobDone || result == kJobDoneWithBadSectors) {
      std::printf("copied %" PRIu64 " bytes to %s%s; map %s\n", outcome.bytesTotal, options->destination.c_str(),
                  outcome.resumed ? " (resumed)" : "", map.c_str());
      if (result == kJobDoneWithBadSectors) PrintBadAreas(outcome, job.bytesPerSector());
      exitCode = result == kJobDone ? kExitOk : kExitPartial;
    } else if (result == kJobCancelled) {
      std::fprintf(stderr,
                   "kestrel-cli: imaging interrupted; the map %s is saved. Run the same command again to resume.\n",
                   map.c_str());
      exitCode = kExitInterrupted;
    } else {
      std::fprintf(stderr, "kestrel-cli: %s: %s\n", outcome.failedPath.c_str(), outcome.reason.c_str());
      exitCode = kExitUsage;
    }
  });
}

}  // namespace kestrel::cli
