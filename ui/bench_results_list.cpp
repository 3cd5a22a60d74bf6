// kestrel-bench-results [N]: the results page with N found files (default
// 1,000,000) in the real main window: time to the first painted rows, sort
// times, tick-all, scrolling, the longest stall of the GUI thread during
// each, and memory. Run it offscreen or under Xvfb; it is not a test.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>
#include <random>

#include "ui/main_window.h"

using namespace kestrel;
using namespace kestrel::ui;

namespace {

qint64 ThreadCpuNs() {
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

long StatusKb(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field)) return line.mid(int(strlen(field))).trimmed().split(' ').value(0).toLong();
  return -1;
}

void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const size_t count = argc > 1 ? std::stoul(argv[1]) : 1000000;
  const long rssStart = StatusKb("VmRSS:");

  auto results = std::make_shared<ResultSet>();
  {
    std::mt19937 random(7);
    const char* const extensions[] = {"jpg", "jpg", "jpg", "png", "gif", "mp3", "avi", "mov", "bmp"};
    results->records.resize(count);
    for (size_t i = 0; i < count; ++i) {
      FoundFileRecord& record = results->records[i];
      char name[64];
      std::snprintf(name, sizeof name, "IMG_%07u.%s", unsigned(random() % 10000000), extensions[random() % 9]);
      record.SetName(name);
      record.size = random() % (8u << 20);
      record.modified = 130000000000000000ull + random();
      record.created = 130000000000000000ull + random();
      record.recordIndex = uint32_t(i + 1);
    }
    results->sourceOf.assign(count, 0);
    results->engines = {nullptr};
  }
  const long rssRecords = StatusKb("VmRSS:");

  MainWindow window(false);
  window.resize(1000, 640);
  window.show();
  Pump(200);
  StallMeter meter;
  std::printf("records: %zu (%.1f MB of records in memory)\n", count,
              double(count * sizeof(FoundFileRecord)) / 1e6);

  // First rows: the window groups the records into the type tree and lists
  // the first node; done when the list has painted.
  QElapsedTimer timer;
  meter.Start();
  timer.start();
  window.ShowResults(results);
  QApplication::processEvents();
  window.fileList()->viewport()->repaint();
  const double firstRowsMs = timer.nsecsElapsed() / 1e6;
  Pump(50);
  std::printf("first rows painted: %.0f ms (%s), %d rows in the first node\n", firstRowsMs,
              qPrintable(meter.Stop()), window.resultsModel()->rowCount());

  // The largest list: the whole photo category.
  meter.Start();
  timer.start();
  window.typeTree()->setCurrentItem(window.typeTree()->topLevelItem(0));
  QApplication::processEvents();
  window.fileList()->viewport()->repaint();
  std::printf("photo category listed (%d rows): %.0f ms (%s)\n",
              window.resultsModel()->rowCount(), timer.nsecsElapsed() / 1e6, qPrintable(meter.Stop()));

  for (int column : {kColName, kColSize, kColModified, kColName}) {
    QSignalSpy sorted(window.resultsModel(), &ResultsModel::sorted);
    meter.Start();
    timer.start();
    window.fileList()->horizontalHeader()->sectionClicked(column);
    sorted.wait(60000);
    window.fileList()->viewport()->repaint();
    std::printf("sort by %s: %.0f ms (%s)\n", ResultColumnName(column), timer.nsecsElapsed() / 1e6,
                qPrintable(meter.Stop()));
  }

  meter.Start();
  timer.start();
  window.findChild<QCheckBox*>(QStringLiteral("CheckAll"))->click();
  window.fileList()->viewport()->repaint();
  std::printf("tick all: %.0f ms (%s), %llu ticked\n", timer.nsecsElapsed() / 1e6, qPrintable(meter.Stop()),
              static_cast<unsigned long long>(window.resultsModel()->tickedCount()));

  meter.Start();
  timer.start();
  QScrollBar* bar = window.fileList()->verticalScrollBar();
  for (int step = 0; step <= 50; ++step) {
    bar->setValue(bar->maximum() * step / 50);
    window.fileList()->viewport()->repaint();
    QApplication::processEvents();
  }
  std::printf("scroll top to bottom in 50 jumps: %.0f ms (%s)\n", timer.nsecsElapsed() / 1e6,
              qPrintable(meter.Stop()));

  std::printf("memory: %.0f MB before, %.0f MB with the records, %.0f MB now, peak %.0f MB\n", rssStart / 1024.0,
              rssRecords / 1024.0, StatusKb("VmRSS:") / 1024.0, StatusKb("VmHWM:") / 1024.0);
  return 0;
}
