#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace kestrel::cli {

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

}  // namespace kestrel::cli
