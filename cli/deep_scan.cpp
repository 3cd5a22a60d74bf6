#include "cli/deep_scan.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "catalogue/categories.h"

namespace kestrel::cli {

namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

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

struct DeepTerminal {
  ProgressLine* line = nullptr;
  int lastPercent = -1;
  uint64_t lastDone = UINT64_MAX;
  struct sigaction previous {};
};

bool ShowProgress(DeepTerminal& state, const ScanProgress& report) {
  if (gInterrupted) return false;
  int percent = report.percent > 100 ? 100 : report.percent;
  // A line per block would flood the terminal: redraw on visible change only.
  uint64_t coarse = report.sectorsDone >> 14;
  if (percent == state.lastPercent && coarse == state.lastDone) return true;
  state.lastPercent = percent;
  state.lastDone = coarse;
  std::string text = "Deep scan: " + std::to_string(percent) + "%";
  if (report.sectorsTotal != 0) {
    text += "  sectors " + std::to_string(report.sectorsDone) + " of " + std::to_string(report.sectorsTotal) +
            "  files found " + std::to_string(report.filesFound);
  }
  if (report.remainingSeconds >= 0) text += "  about " + DurationText(report.remainingSeconds) + " left";
  state.line->Show(text);
  return true;
}

}  // namespace

ScanHooks DeepScanHooks(const std::filesystem::path& source, ProgressLine& line) {
  auto state = std::make_shared<DeepTerminal>();
  state->line = &line;
  ScanHooks hooks;
  hooks.askResume = [source] {
    if (isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1) return AskResume(source);
    std::fprintf(stderr, "kestrel-cli: resuming the interrupted deep scan of %s (give --restart to start afresh)\n",
                 source.c_str());
    return true;
  };
  hooks.passStarting = [state] {
    gInterrupted = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &state->previous);
  };
  hooks.passEnded = [state] { sigaction(SIGINT, &state->previous, nullptr); };
  hooks.progress = [state](const ScanProgress& report) { return ShowProgress(*state, report); };
  return hooks;
}

void PrintDeepScanStopped(bool stateSaved) {
  if (stateSaved) {
    std::fprintf(stderr,
                 "kestrel-cli: deep scan interrupted; its state is saved. Run the same command again (or with "
                 "--resume) to continue it, or with --restart to start afresh.\n");
  } else {
    std::fprintf(stderr, "kestrel-cli: deep scan interrupted before its sector pass began; nothing to resume.\n");
  }
}

}  // namespace kestrel::cli
