// What a job sees of its window: named controls it can fill in, a question it
// can put to the user, and a close carrying the job's result. The Qt window,
// the CLI's terminal line and the tests' recorder each implement it.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Window results shared by every job (each job documents which it uses).
inline constexpr int kJobDone = 1;               // finished (or a scan/search stopped after a cancel)
inline constexpr int kJobCancelled = 2;          // stopped by a confirmed cancel
inline constexpr int kJobFailed = 3;             // an error ended the job; see the "error" control
inline constexpr int kJobDoneWithBadSectors = 4;  // image complete, unreadable sectors written as zeros

class IJobView {
 public:
  virtual ~IJobView() = default;
  // Called on the worker thread (and, for the cancel question, the window
  // thread); an implementation hands the change to its own UI thread.
  virtual void SetText(std::string_view control, const std::string& text) = 0;
  virtual void SetValue(std::string_view control, int value) = 0;
  virtual void SetVisible(std::string_view control, bool visible) = 0;
  // Puts a yes/no question and blocks the calling thread until it is answered:
  // true for the affirmative answer. A window thread may call it; so may a
  // worker (the deep scan's resume question), which then waits for the answer.
  virtual bool Ask(const std::string& question) = 0;
  // The job is over; called once, from the worker, as its last act. Must not
  // wait for the window thread.
  virtual void Close(int result) = 0;
};

}  // namespace kestrel
