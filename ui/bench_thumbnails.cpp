// kestrel-bench-thumbnails IMAGE: the thumbnail grid of the real main window
// over every photo a scan of IMAGE finds (tools/bench-thumbnails.sh makes one
// with 10,000): time to the first full screen of thumbnails, a scroll that
// waits for every screen to fill, the way back to the top (from the disk
// cache), a fast flick through the whole grid, the longest GUI-thread stall
// of each, and memory.
// Run it offscreen or under Xvfb; it is not a test.
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QScrollBar>
#include <cstdio>
#include <filesystem>

#include "ui/bench_support.h"
#include "ui/main_window.h"
#include "ui/thumbnails.h"

using namespace kestrel;
using namespace kestrel::ui;
using namespace kestrel::ui::bench;

namespace {

// The rows whose cells the grid shows now.
std::vector<int> VisibleRows(QListView* grid, int rowCount) {
  std::vector<int> rows;
  const QRect shown = grid->viewport()->rect();
  const QModelIndex top = grid->indexAt(QPoint(grid->gridSize().width() / 2, 4));
  for (int row = top.isValid() ? top.row() : 0; row < rowCount; ++row) {
    const QRect cell = grid->visualRect(grid->model()->index(row, grid->modelColumn()));
    if (cell.top() > shown.bottom()) break;
    if (cell.intersects(shown)) rows.push_back(row);
  }
  return rows;
}

// Runs the event loop until every visible row has its thumbnail; false after a minute.
bool WaitForScreen(MainWindow& window, QListView* grid) {
  ResultsModel* model = window.resultsModel();
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < 60000) {
    bool all = true;
    for (int row : VisibleRows(grid, model->rowCount()))
      if (!window.thumbnails()->Get(model->RecordAt(row), row)) {
        all = false;
        break;
      }
    if (all) return true;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return false;
}

uint64_t FolderFiles(const std::filesystem::path& folder, uint64_t* bytes) {
  uint64_t files = 0;
  *bytes = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    ++files;
    *bytes += entry.file_size(ec);
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: kestrel-bench-thumbnails IMAGE\n");
    return 2;
  }
  MainWindow window(false);
  window.SetMode(0);
  window.AddImage(QString::fromLocal8Bit(argv[1]));
  window.resize(1000, 640);
  window.show();
  Pump(200);
  QElapsedTimer timer;
  timer.start();
  if (!window.ScanSelected() || !window.SelectTypeNode(QStringLiteral("jpg"))) {
    std::fprintf(stderr, "bench: the scan found no JPEG photos\n");
    return 1;
  }
  ResultsModel* model = window.resultsModel();
  const int rows = model->rowCount();
  std::printf("scan and list: %d photos in %.0f ms, memory %.0f MB\n", rows, timer.nsecsElapsed() / 1e6,
              StatusKb("VmRSS:") / 1024.0);
  auto* grid = window.findChild<QListView*>(QStringLiteral("ThumbnailGrid"));
  StallMeter meter;

  // The grid switched on: the first screen, every thumbnail made from the image.
  meter.Start();
  timer.start();
  window.ShowThumbnails(true);
  QApplication::processEvents();
  if (!WaitForScreen(window, grid)) return 1;
  grid->viewport()->repaint();
  const size_t perScreen = VisibleRows(grid, rows).size();
  std::printf("first screen of thumbnails (%zu cells): %.0f ms (%s)\n", perScreen, timer.nsecsElapsed() / 1e6,
              qPrintable(meter.Stop()));

  QScrollBar* bar = grid->verticalScrollBar();
  const int page = std::max(1, bar->pageStep());
  // Top to bottom, each screen waited for until all its thumbnails show:
  // the time to see every photo, each made from the image, and the memory that costs.
  const uint64_t madeBefore = window.thumbnails()->made();
  meter.Start();
  timer.start();
  for (int value = 0;; value = std::min(value + page, bar->maximum())) {
    bar->setValue(value);
    if (!WaitForScreen(window, grid)) return 1;
    grid->viewport()->repaint();
    if (value == bar->maximum()) break;
  }
  const double allMs = timer.nsecsElapsed() / 1e6;
  const uint64_t made = window.thumbnails()->made() - madeBefore;
  std::printf("every screen filled, top to bottom: %.0f ms for %llu thumbnails made (%.2f ms each) (%s)\n", allMs,
              static_cast<unsigned long long>(made), made ? allMs / double(made) : 0.0, qPrintable(meter.Stop()));

  // Back at the top: those thumbnails left memory long ago and come from the disk cache.
  meter.Start();
  timer.start();
  bar->setValue(0);
  if (!WaitForScreen(window, grid)) return 1;
  grid->viewport()->repaint();
  std::printf("back to the top, first screen again: %.0f ms (%s)\n", timer.nsecsElapsed() / 1e6,
              qPrintable(meter.Stop()));

  // Flicking through the whole grid a screen at a time without waiting:
  // what the GUI thread costs while thumbnails are asked for and dropped.
  bar->setValue(0);
  Pump(50);
  meter.Start();
  timer.start();
  int screens = 0;
  for (int value = 0;; value = std::min(value + page, bar->maximum()), ++screens) {
    bar->setValue(value);
    grid->viewport()->repaint();
    QApplication::processEvents();
    if (value == bar->maximum()) break;
  }
  std::printf("fast scroll to the end, %d screens: %.0f ms (%s)\n", screens, timer.nsecsElapsed() / 1e6,
              qPrintable(meter.Stop()));

  uint64_t cacheBytes = 0;
  const uint64_t cached = FolderFiles(window.thumbnails()->folder(), &cacheBytes);
  std::printf("disk cache: %llu thumbnails, %.1f MB\n", static_cast<unsigned long long>(cached), cacheBytes / 1e6);
  std::printf("memory: %.0f MB now, peak %.0f MB\n", StatusKb("VmRSS:") / 1024.0, StatusKb("VmHWM:") / 1024.0);
  return 0;
}
