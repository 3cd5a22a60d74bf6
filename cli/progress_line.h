// A progress line redrawn in place on stderr, only while stderr is a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace kestrel::cli {

// "\r<text>" on stderr while stderr is a terminal; Clear() ends the line.
class ProgressLine {
 public:
  ProgressLine();
  bool active() const { return active_; }
  void Show(const std::string& text);
  void Clear();

 private:
  bool active_ = false;
  size_t shown_ = 0;
};

}  // namespace kestrel::cli
