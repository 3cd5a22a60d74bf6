// A long operation run on one worker thread behind a view: the base that
// every job (scan, search, recover, image) shares. It owns the thread, the
// progress lock and the cancel handshake.
//
// Cancel handshake: the window thread holds the progress lock for as long as
// the cancel question is open, so the worker stands still at its next
// progress update and then makes that update; nothing is skipped. On the
// affirmative answer the flag is set under the lock, the next update returns
// kCancelled, the engine hands that back, and the worker closes the view.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "app/jobs/job_view.h"
#include "app/language_table.h"
#include "platform/error_codes.h"

namespace kestrel {

// Whether a progress update is worth drawing: the percent moved, or a few
// hundred milliseconds passed. Drawing a window or a terminal for every 64 KiB
// block costs more than the work it shows on a fast source.
class RedrawThrottle {
 public:
  bool Due(int percent, bool force = false);

 private:
  int lastPercent_ = -1;
  std::chrono::steady_clock::time_point lastShown_{};
};

class Job {
 public:
  Job(IJobView& view, LanguageTable& texts);
  virtual ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Starts the worker. Call once.
  void Start();
  // Blocks until the worker has closed the view; its result.
  int Wait();
  // True once the worker has closed the view.
  bool finished() const { return workerDone_; }
  // Waits at most timeout for the worker; true when it has finished.
  bool WaitFor(std::chrono::milliseconds timeout);

  // Window thread, the user pressed cancel: asks the job's cancel question
  // while holding the progress lock; on yes requests the stop and waits for
  // the worker. True when the job was cancelled.
  bool AskToCancel();
  // Requests the stop without a question (Ctrl-C on a terminal) and returns at once.
  void Cancel();

 protected:
  // The worker's body; returns the window result the view is closed with.
  virtual int Run() = 0;
  // Message id of the cancel question.
  virtual std::string_view cancelQuestionId() const = 0;

  // For progress callbacks on the worker: runs update under the progress
  // lock and returns 0, or returns kCancelled (update not run) once a cancel
  // has been confirmed.
  template <typename Update>
  int Report(Update&& update) {
    std::lock_guard lock(progressLock_);
    if (cancelRequested_) return kCancelled;
    update();
    return 0;
  }
  bool cancelRequested();

  // Text of a message id from the "Messages" section.
  std::string Msg(std::string_view id) { return texts_.Text("Messages", id); }

  IJobView& view_;
  LanguageTable& texts_;

 private:
  void WorkerMain();

  std::mutex progressLock_;
  bool cancelRequested_ = false;  // written only under progressLock_
  std::atomic<bool> workerDone_{false};
  std::mutex doneMutex_;
  std::condition_variable doneChanged_;
  std::thread worker_;
  int result_ = 0;
};

}  // namespace kestrel
