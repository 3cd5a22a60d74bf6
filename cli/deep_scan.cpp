#include "cli/deep_scan.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>


namespace kestrel::cli {

namespace {

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

bool AskResumeOnTerminal(const std::filesystem::path& source) {
  if (isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1) return AskResume(source);
  std::fprintf(stderr, "kestrel-cli: resuming the interrupted deep scan of %s (give --restart to start afresh)\n",
               source.c_str());
  return true;
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
