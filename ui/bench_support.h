// What the window benchmarks measure: the longest stall of the GUI thread,
// memory from /proc/self/status, and running the event loop for a while.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <ctime>

namespace kestrel::ui::bench {

inline qint64 ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The longest gap between ticks of a 1 ms timer: how long the GUI thread
// went without handling events. Wall-clock gaps include time the thread was
// not scheduled at all (a busy machine); the CPU time the GUI thread spent
// inside the longest gap is what the window's own code costs.
class StallMeter : public QObject {
 public:
  StallMeter() {
    timer_.setInterval(1);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  }
  void Start() {
    worst_ = worstCpu_ = 0;
    clock_.start();
    last_ = clock_.nsecsElapsed();
    lastCpu_ = ThreadCpuNs();
    timer_.start();
  }
  // Counts the time since the last tick too: a call that blocks the thread
  // until Stop is a stall as well.
  QString Stop() {
    timer_.stop();
    Tick();
    return QStringLiteral("longest stall %1 ms wall, %2 ms GUI-thread CPU").arg(worst_ / 1e6, 0, 'f', 0).arg(worstCpu_ / 1e6, 0, 'f', 0);
  }

 private:
  void Tick() {
    const qint64 now = clock_.nsecsElapsed(), cpu = ThreadCpuNs();
    worst_ = std::max(worst_, now - last_);
    worstCpu_ = std::max(worstCpu_, cpu - lastCpu_);
    last_ = now;
    lastCpu_ = cpu;
  }
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0, worst_ = 0, lastCpu_ = 0, worstCpu_ = 0;
};

inline long StatusKb(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field)) return line.mid(int(strlen(field))).trimmed().split(' ').value(0).toLong();
  return -1;
}

inline void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace kestrel::ui::bench
