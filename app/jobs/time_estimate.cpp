#include "app/jobs/time_estimate.h"

namespace kestrel {

TimeEstimate::TimeEstimate(Clock clock)
    : clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {}

void TimeEstimate::Start(uint64_t alreadyDone) {
  start_ = lastEstimate_ = clock_();
  base_ = done_ = alreadyDone;
  remaining_ = -1;
}

void TimeEstimate::Update(uint64_t done, uint64_t total) {
  done_ = done;
  auto now = clock_();
  if (now - lastEstimate_ < kInterval) return;
  lastEstimate_ = now;
  double perSecond = rate();
  uint64_t left = total > done ? total - done : 0;
  remaining_ = perSecond > 0 ? int64_t(double(left) / perSecond + 0.5) : -1;
}

double TimeEstimate::elapsedSeconds() const {
  return std::chrono::duration<double>(clock_() - start_).count();
}

double TimeEstimate::rate() const {
  double seconds = elapsedSeconds();
  return seconds > 0 && done_ > base_ ? double(done_ - base_) / seconds : 0.0;
}

}  // namespace kestrel
