// Ctrl-C while a long command runs: the first SIGINT is caught and only
// noted, so the command can stop its job cleanly (saving what it must);
// the previous handling is restored when the guard goes away.
#pragma once

#include <signal.h>

namespace kestrel::cli {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // True once Ctrl-C was pressed while the guard was in place.
  static bool raised();

 private:
  struct sigaction previous_ {};
};

}  // namespace kestrel::cli
