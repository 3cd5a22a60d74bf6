// kestrel-screenshots: walks the real main window through every page on an
// image file and saves a PNG of each (tools/screenshots.sh runs it under Xvfb).
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include "catalogue/categories.h"
#include "ui/main_window.h"
#include "ui/preview.h"
#include "ui/thumbnails.h"

using namespace kestrel::ui;

namespace {

void Settle(int ms = 150) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Save(QWidget* widget, const QString& folder, const QString& name) {
  Settle();
  widget->grab().save(folder + QLatin1Char('/') + name);
  qInfo("saved %s", qPrintable(name));
}

void Click(QWidget* root, const char* name) {
  if (auto* button = root->findChild<QAbstractButton*>(QString::fromLatin1(name))) button->click();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    qWarning("usage: kestrel-screenshots IMAGE OUTPUT-FOLDER RECOVERY-FOLDER [PARTITIONED-IMAGE]");
    return 2;
  }
  const QString image = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  const QString recoverTo = QString::fromLocal8Bit(argv[3]);
  QDir().mkpath(out);

  MainWindow window;
  FileChoosers choosers;
  choosers.recoveryFolder = [recoverTo](QWidget*) { return recoverTo; };
  choosers.imageToLoad = [image](QWidget*) { return image; };
  choosers.imageDestination = [](QWidget*, const QString&) { return QString(); };
  window.SetFileChoosers(choosers);
  window.resize(1000, 640);
  window.show();
  Save(&window, out, QStringLiteral("1-home.png"));

  Click(&window, "BtnRecoverMode");
  // A partitioned disk image shows its partitions below it; the card is the one scanned.
  if (argc > 4) window.AddImage(QString::fromLocal8Bit(argv[4]));
  Click(&window, "BtnLoadImage");
  Save(&window, out, QStringLiteral("2-sources.png"));

  Click(&window, "BtnAdvanceScan");
  Click(&window, "OptPhotoFile");
  Save(&window, out, QStringLiteral("3-file-types.png"));
  Click(&window, "OptPhotoFile");
  Click(&window, "BtnPrev");

  // The job windows are modal; they close themselves when the scan is done.
  window.ScanSelected();
  // Tick the JPEG photos and show the first.
  window.SelectTypeNode(QStringLiteral("jpg"));
  ResultsModel* model = window.resultsModel();
  int photoRow = -1;
  for (int row = 0; row < model->rowCount(); ++row) {
    const auto name = model->results()->records[model->RecordAt(row)].Name();
    if (kestrel::ExtensionOf(name) == "jpg") {
      if (photoRow < 0) photoRow = row;
      model->SetTicked(model->RecordAt(row), true);
    }
  }
  if (photoRow >= 0) window.fileList()->selectRow(photoRow);
  Save(&window, out, QStringLiteral("4-results.png"));

  // The preview window runs modally: picture it once its photo is shown, then close it.
  QTimer previewPoll;
  previewPoll.setInterval(100);
  QObject::connect(&previewPoll, &QTimer::timeout, [&] {
    auto* preview = qobject_cast<PreviewWindow*>(QApplication::activeModalWidget());
    if (!preview || !preview->showingPicture()) return;
    previewPoll.stop();
    Save(preview, out, QStringLiteral("7-preview-window.png"));
    preview->done(0);
  });
  previewPoll.start();
  if (photoRow >= 0) window.OpenPreview(photoRow);

  // The grid, once every photo on screen has its thumbnail and mark.
  window.ShowThumbnails(true);
  QElapsedTimer waited;
  waited.start();
  auto allMade = [&] {
    for (int row = 0; row < model->rowCount(); ++row)
      if (!window.thumbnails()->Get(model->RecordAt(row), row)) return false;
    return true;
  };
  while (!allMade() && waited.elapsed() < 20000) Settle(100);
  Save(&window, out, QStringLiteral("8-thumbnails.png"));
  window.ShowThumbnails(false);

  // The recovery window stays open with Finish shown: picture it, then finish.
  QTimer poll;
  poll.setInterval(100);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    auto* finish = modal->findChild<QPushButton*>(QStringLiteral("FinishBtn"));
    if (finish && finish->isVisible()) {
      poll.stop();
      if (auto* details = modal->findChild<QPushButton*>(QStringLiteral("DetailBtn"))) details->click();
      Save(modal, out, QStringLiteral("5-recovery-done.png"));
      finish->click();
    }
  });
  poll.start();
  window.RecoverTicked();

  Click(&window, "BtnPrev");
  Click(&window, "BtnPrev");
  Click(&window, "BtnCreateImageMode");
  Save(&window, out, QStringLiteral("6-image-mode.png"));
  return 0;
}
