// The thumbnail grid over more photos than one screen holds: wherever it is
// scrolled, every cell on screen gets its thumbnail.
#include <QBuffer>
#include <QImage>
#include <QListView>
#include <QScrollBar>
#include <QTest>

#include "support/fake_engine.h"
#include "ui/main_window.h"
#include "ui/thumbnails.h"
#include "ui_test_support.h"

using namespace kestrel;
using namespace kestrel::ui;
using namespace kestrel::ui::testing;

class ThumbnailGridTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { UseTemporaryUserFolders(); }

  void everyCellOnScreenGetsItsThumbnailAtAnyScrollPosition() {
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(0x3080C0);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "JPEG"));
    test::FakeEngine engine;
    auto results = std::make_shared<ResultSet>();
    for (int i = 0; i < 300; ++i) {
      const std::string name = "photo" + std::to_string(i) + ".jpg";
      engine.contents[name] = std::vector<uint8_t>(jpeg.begin(), jpeg.end());
      results->records.push_back(engine.Add(nullptr, name, false));
    }
    results->sourceOf.assign(results->records.size(), 0);
    results->engines = {&engine};

    MainWindow window(false);
    window.resize(900, 600);
    window.show();
    window.ShowResults(results);
    QVERIFY(window.SelectTypeNode(QStringLiteral("jpg")));
    window.ShowThumbnails(true);
    auto* grid = window.findChild<QListView*>(QStringLiteral("ThumbnailGrid"));
    ResultsModel* model = window.resultsModel();
    QScrollBar* bar = grid->verticalScrollBar();
    const int line = grid->gridSize().height();
    QVERIFY(bar->maximum() > 6 * line);
    // The top edge at several heights within a line of cells, and at each
    // pixel of the last few, where the spacing between two lines lies.
    std::vector<int> offsets = {0, line / 3, 2 * line / 3};
    for (int offset = line - 12; offset < line; ++offset) offsets.push_back(offset);
    for (int offset : offsets) {
      bar->setValue(5 * line + offset);
      window.thumbnails()->Reset(results);  // none made yet for this position
      const QRect shown = grid->viewport()->rect();
      int onScreen = 0;
      for (int row = 0; row < model->rowCount(); ++row) {
        if (!grid->visualRect(model->index(row, kColName)).intersects(shown)) continue;
        ++onScreen;
        QTRY_VERIFY2_WITH_TIMEOUT(window.thumbnails()->Get(model->RecordAt(row), row) != nullptr,
                                  qPrintable(QStringLiteral("row %1 at offset %2").arg(row).arg(offset)), 3000);
      }
      QVERIFY(onScreen > 0);
    }
  }
};

QTEST_MAIN(ThumbnailGridTest)
#include "thumbnail_grid_test.moc"
