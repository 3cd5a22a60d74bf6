// The terminal's view of a job: the texts of its progress controls joined on
// one line on stderr (redrawn in place while stderr is a terminal), questions
// answered on the terminal, and the close result kept for the command.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/jobs/job_view.h"
#include "cli/progress_line.h"

namespace kestrel::cli {

class TerminalView : public IJobView {
 public:
  // controls: the names whose texts make the line, in order.
  explicit TerminalView(std::vector<std::string> controls);

  void SetText(std::string_view control, const std::string& text) override;
  void SetValue(std::string_view, int) override {}
  void SetVisible(std::string_view control, bool visible) override;
  // ask when the command set it; otherwise "<question> [Y/n] " on stderr and
  // an answer from stdin, or, without a terminal, yes without asking.
  bool Ask(const std::string& question) override;
  std::function<bool(const std::string& question)> ask;
  // Rows added to a list control ("DetailList") go here, with the line cleared.
  std::function<void(const std::string& row)> onRow;
  void Close(int result) override;

  int result() const { return result_; }

 private:
  void Redraw(bool force);

  std::mutex mutex_;
  std::vector<std::string> controls_;
  std::map<std::string, std::string, std::less<>> texts_;
  std::map<std::string, bool, std::less<>> hidden_;
  ProgressLine line_;
  std::string shown_;
  std::chrono::steady_clock::time_point lastDraw_{};
  int result_ = 0;
};

}  // namespace kestrel::cli
