#include "app/jobs/job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/jobs/time_estimate.h"
#include "support/recording_view.h"
#include "support/test_support.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// A worker that reports 0..99 on "progress"; after the tenth report it waits
// until the test has the cancel question open, so the eleventh report is
// made while the question is showing.
class CountingJob : public Job {
 public:
  using Job::Job;
  std::atomic<bool> questionOpen{false};

 protected:
  int Run() override {
    for (int i = 0; i < 100; ++i) {
      if (i == 10) {
        while (!questionOpen) std::this_thread::sleep_for(1ms);
      }
      if (Report([&] { view_.SetValue("progress", i); }) == kCancelled) return kJobCancelled;
    }
    return kJobDone;
  }
  std::string_view cancelQuestionId() const override { return "MSG0709"; }
};

class JobTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  LanguageTable texts_{dir_ / "config.ini", KESTREL_LANG_DIR};
  test::RecordingView view_;
};

std::vector<int> Range(int from, int to) {
  std::vector<int> out;
  for (int i = from; i < to; ++i) out.push_back(i);
  return out;
}

TEST_F(JobTest, NegativeCancelAnswerHoldsTheWorkerAndLosesNoUpdate) {
  CountingJob job(view_, texts_);
  std::vector<int> seenWhileOpen;
  view_.answer = [&](const std::string&) {
    job.questionOpen = true;
    // The worker now tries its eleventh update; it must wait for the answer.
    std::this_thread::sleep_for(100ms);
    seenWhileOpen = view_.values("progress");
    return false;
  };
  job.Start();
  while (view_.values("progress").size() < 10) std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(job.AskToCancel());
  EXPECT_EQ(job.Wait(), kJobDone);
  EXPECT_EQ(seenWhileOpen, Range(0, 10));
  EXPECT_EQ(view_.values("progress"), Range(0, 100));
  EXPECT_EQ(view_.questions(), std::vector<std::string>{texts_.Text("Messages", "MSG0709")});
  EXPECT_EQ(view_.closed(), std::vector<int>{kJobDone});
}

TEST_F(JobTest, ConfirmedCancelStopsAtTheNextUpdateAndWaitsForTheWorker) {
  CountingJob job(view_, texts_);
  view_.answer = [&](const std::string&) {
    job.questionOpen = true;
    std::this_thread::sleep_for(20ms);
    return true;
  };
  job.Start();
  while (view_.values("progress").size() < 10) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(job.AskToCancel());
  // AskToCancel returns only once the worker has closed the view.
  EXPECT_TRUE(job.finished());
  EXPECT_EQ(view_.closed(), std::vector<int>{kJobCancelled});
  EXPECT_EQ(view_.values("progress"), Range(0, 10));
  EXPECT_EQ(job.Wait(), kJobCancelled);
}

TEST(TimeEstimateTest, NoEstimateBeforeFiveSecondsThenRefreshedEveryFive) {
  auto now = std::chrono::steady_clock::time_point{};
  TimeEstimate estimate([&] { return now; });
  estimate.Start();
  for (int ms = 0; ms < 5000; ms += 500) {
    now = std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(ms);
    estimate.Update(uint64_t(ms), 100000);
    EXPECT_EQ(estimate.remainingSeconds(), -1) << ms;
  }
  now = std::chrono::steady_clock::time_point{} + 5s;
  estimate.Update(5000, 100000);  // 1,000 units a second, 95,000 left
  EXPECT_EQ(estimate.remainingSeconds(), 95);
  EXPECT_DOUBLE_EQ(estimate.rate(), 1000.0);
  // Not refreshed before the next interval, even though the rate changed.
  now += 1s;
  estimate.Update(50000, 100000);
  EXPECT_EQ(estimate.remainingSeconds(), 95);
  now += 4s;
  estimate.Update(50000, 100000);  // 5,000 a second over 10 s
  EXPECT_EQ(estimate.remainingSeconds(), 10);
}

TEST(TimeEstimateTest, ResumedWorkDoesNotCountTowardsTheRate) {
  auto now = std::chrono::steady_clock::time_point{};
  TimeEstimate estimate([&] { return now; });
  estimate.Start(90000);  // 90 % was copied by an earlier run
  now += 5s;
  estimate.Update(95000, 100000);
  EXPECT_DOUBLE_EQ(estimate.rate(), 1000.0);
  EXPECT_EQ(estimate.remainingSeconds(), 5);
}

}  // namespace
}  // namespace kestrel
