#include "app/jobs/job.h"

namespace kestrel {

bool RedrawThrottle::Due(int percent, bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && percent == lastPercent_ && now - lastShown_ < std::chrono::milliseconds(200)) return false;
  lastPercent_ = percent;
  lastShown_ = now;
  return true;
}

Job::Job(IJobView& view, LanguageTable& texts) : view_(view), texts_(texts) {}

Job::~Job() {
  if (worker_.joinable()) {
    Cancel();
    worker_.join();
  }
}

void Job::Start() { worker_ = std::thread(&Job::WorkerMain, this); }

void Job::WorkerMain() {
  int result = Run();
  {
    std::lock_guard lock(doneMutex_);
    result_ = result;
  }
  view_.Close(result);
  {
    std::lock_guard lock(doneMutex_);
    workerDone_ = true;
  }
  doneChanged_.notify_all();
}

int Job::Wait() {
  if (worker_.joinable()) worker_.join();
  std::lock_guard lock(doneMutex_);
  return result_;
}

bool Job::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(doneMutex_);
  return doneChanged_.wait_for(lock, timeout, [this] { return workerDone_.load(); });
}

bool Job::AskToCancel() {
  {
    std::lock_guard lock(progressLock_);
    if (workerDone_) return false;
    if (!view_.Ask(Msg(cancelQuestionId()))) return false;
    cancelRequested_ = true;
  }
  std::unique_lock lock(doneMutex_);
  doneChanged_.wait(lock, [this] { return workerDone_.load(); });
  return true;
}

void Job::Cancel() {
  std::lock_guard lock(progressLock_);
  cancelRequested_ = true;
}

bool Job::cancelRequested() {
  std::lock_guard lock(progressLock_);
  return cancelRequested_;
}

}  // namespace kestrel
