#include "cli/interrupt.h"

#include <atomic>

namespace kestrel::cli {

namespace {

std::atomic<bool> gRaised{false};

void OnInterrupt(int) { gRaised = true; }

}  // namespace

InterruptGuard::InterruptGuard() {
  gRaised = false;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous_);
}

InterruptGuard::~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }

bool InterruptGuard::raised() { return gRaised; }

}  // namespace kestrel::cli
