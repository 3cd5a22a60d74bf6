// A job view for tests: records every change in order, answers questions
// through a function the test supplies, and remembers the close result.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/jobs/job_view.h"

namespace kestrel::test {

class RecordingView : public IJobView {
 public:
  std::function<bool(const std::string&)> answer = [](const std::string&) { return false; };

  void SetText(std::string_view control, const std::string& text) override {
    std::lock_guard lock(mutex_);
    texts_[std::string(control)].push_back(text);
  }
  void SetValue(std::string_view control, int value) override {
    std::lock_guard lock(mutex_);
    values_[std::string(control)].push_back(value);
  }
  void SetVisible(std::string_view control, bool visible) override {
    std::lock_guard lock(mutex_);
    visible_[std::string(control)] = visible;
  }
  bool Ask(const std::string& question) override {
    {
      std::lock_guard lock(mutex_);
      questions_.push_back(question);
    }
    return answer(question);
  }
  void Close(int result) override {
    std::lock_guard lock(mutex_);
    closed_.push_back(result);
  }

  std::vector<std::string> texts(const std::string& control) {
    std::lock_guard lock(mutex_);
    return texts_[control];
  }
  std::vector<int> values(const std::string& control) {
    std::lock_guard lock(mutex_);
    return values_[control];
  }
  bool visible(const std::string& control) {
    std::lock_guard lock(mutex_);
    return visible_[control];
  }
  std::vector<std::string> questions() {
    std::lock_guard lock(mutex_);
    return questions_;
  }
  std::vector<int> closed() {
    std::lock_guard lock(mutex_);
    return closed_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> texts_;
  std::map<std::string, std::vector<int>> values_;
  std::map<std::string, bool> visible_;
  std::vector<std::string> questions_;
  std::vector<int> closed_;
};

}  // namespace kestrel::test
