#include "cli/terminal_view.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace kestrel::cli {

namespace {

// A terminal redrawn thousands of times a second slows the job it shows.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

TerminalView::TerminalView(std::vector<std::string> controls) : controls_(std::move(controls)) {}

void TerminalView::SetText(std::string_view control, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (control == "DetailList") {
    if (!onRow) return;
    line_.Clear();
    shown_.clear();
    onRow(text);
    return;
  }
  auto it = texts_.find(control);
  if (it == texts_.end()) {
    texts_.emplace(std::string(control), text);
  } else {
    it->second = text;
  }
  Redraw(false);
}

void TerminalView::SetVisible(std::string_view control, bool visible) {
  std::lock_guard lock(mutex_);
  hidden_[std::string(control)] = !visible;
  Redraw(false);
}

void TerminalView::Redraw(bool force) {
  if (!line_.active()) return;
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < kRedrawInterval) return;
  std::string text;
  for (const std::string& control : controls_) {
    auto it = texts_.find(control);
    auto hidden = hidden_.find(control);
    if (it == texts_.end() || it->second.empty() || (hidden != hidden_.end() && hidden->second)) continue;
    if (!text.empty()) text += "  ";
    text += it->second;
  }
  if (text == shown_) return;
  lastDraw_ = now;
  shown_ = text;
  line_.Show(text);
}

bool TerminalView::Ask(const std::string& question) {
  std::lock_guard lock(mutex_);
  line_.Clear();
  shown_.clear();
  if (ask) return ask(question);
  if (isatty(STDIN_FILENO) != 1 || isatty(STDERR_FILENO) != 1) return true;
  std::fprintf(stderr, "%s [Y/n] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return true;
  return !(answer.starts_with("n") || answer.starts_with("N"));
}

void TerminalView::Close(int result) {
  std::lock_guard lock(mutex_);
  result_ = result;
  line_.Clear();
  shown_.clear();
}

}  // namespace kestrel::cli
