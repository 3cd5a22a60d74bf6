#include "cli/deep_scan.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include "catalogue/categories.h"
#include "cli/scan_session.h"
#include "engines/deep/deep_recovery.h"
#include "platform/error_codes.h"

namespace kestrel::cli {

namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

struct DeepProgress {
  ProgressLine line;
  int lastPercent = -1;
  uint64_t lastDone = UINT64_MAX;
};

int DeepScanProgress(void* user, int32_t progress, int32_t scale, int32_t remaining, uint64_t done, uint64_t total,
                     uint64_t found, int32_t) {
  if (gInterrupted) return kCancelled;
  auto* state = static_cast<DeepProgress*>(user);
  int percent = int(int64_t(progress) * scale / 100);
  if (percent > 100) percent = 100;
  // A line per block would flood the terminal: redraw on visible change only.
  uint64_t coarse = done >> 14;
  if (percent == state->lastPercent && coarse == state->lastDone) return 0;
  state->lastPercent = percent;
  state->lastDone = coarse;
  std::string text = "Deep scan: " + std::to_string(percent) + "%";
  if (total != 0) {
    text += "  sectors " + std::to_string(done) + " of " + std::to_string(total) + "  files found " +
            std::to_string(found);
  }
  if (remaining >= 0) text += "  about " + DurationText(remaining) + " left";
  state->line.Show(text);
  return 0;
}

// y/n on the terminal; anything but "n" resumes.
bool AskResume(const std::filesystem::path& path) {
  std::fprintf(stderr,
               "A deep scan of %s was interrupted before it finished. Continue it where it stopped? [Y/n] ",
               path.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return true;
  return !(answer.starts_with("n") || answer.starts_with("N"));
}

}  // namespace

int RunDeepScan(const Source& source, ResumeChoice choice, std::unique_ptr<IFileRecoveryParse>& engine) {
  engine = CreateEngine(source, true);
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  if (!deep) {
    std::vector<uint8_t> probe;
    int error = ReadSourceProbe(source, probe);
    PrintSourceError(source.path, error != kSuccess ? error : kErrReadFault);
    engine.reset();
    return kExitUsage;
  }
  if (deep->HasResumableScan()) {
    bool resume = true;
    if (choice == ResumeChoice::kRestart) {
      resume = false;
    } else if (choice == ResumeChoice::kAsk) {
      if (isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1) {
        resume = AskResume(source.path);
      } else {
        std::fprintf(stderr,
                     "kestrel-cli: resuming the interrupted deep scan of %s (give --restart to start afresh)\n",
                     source.path.c_str());
      }
    }
    if (!resume) deep->DiscardSavedScan();
  }

  gInterrupted = false;
  struct sigaction action {}, previous {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);
  DeepProgress progress;
  engine->SetCallbacks(DeepScanProgress, nullptr, &progress, 100);
  int result = engine->Scan(std::nullopt);
  progress.line.Clear();
  engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
  sigaction(SIGINT, &previous, nullptr);

  if (result == kCancelled) {
    if (deep->lastScanSaved()) {
      std::fprintf(stderr,
                   "kestrel-cli: deep scan interrupted; its state is saved. Run the same command again (or with "
                   "--resume) to continue it, or with --restart to start afresh.\n");
    } else {
      std::fprintf(stderr, "kestrel-cli: deep scan interrupted before its sector pass began; nothing to resume.\n");
    }
    engine.reset();
    return kExitInterrupted;
  }
  if (result != kSuccess) {
    PrintSourceError(source.path, result);
    engine.reset();
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace kestrel::cli
