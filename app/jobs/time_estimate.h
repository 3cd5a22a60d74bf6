// Elapsed time, transfer rate and time left for a running job. The estimate
// is first made after a few seconds (before that the rate says nothing) and
// then refreshed at the same interval, so the shown figure does not jitter.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace kestrel {

class TimeEstimate {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kInterval{5000};

  // clock: steady_clock::now unless a test supplies its own.
  explicit TimeEstimate(Clock clock = {});

  // Starts the clock; units done so far (a resumed copy) do not count towards the rate.
  void Start(uint64_t alreadyDone = 0);
  // Feeds the units done so far out of total.
  void Update(uint64_t done, uint64_t total);

  // Seconds left, or -1 while there is no estimate yet.
  int64_t remainingSeconds() const { return remaining_; }
  double elapsedSeconds() const;
  // Units per second since Start (0 before any time has passed).
  double rate() const;

 private:
  Clock clock_;
  std::chrono::steady_clock::time_point start_{};
  std::chrono::steady_clock::time_point lastEstimate_{};
  uint64_t base_ = 0;
  uint64_t done_ = 0;
  int64_t remaining_ = -1;
};

}  // namespace kestrel
