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

#include "ui/bench_support.h"
#include "ui/main_window.h"

using namespace kestrel;
using namespace kestrel::ui;
using namespace kestrel::ui::bench;

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
