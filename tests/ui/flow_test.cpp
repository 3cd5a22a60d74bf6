// The whole window flow on the bundled FAT32 card image: load, scan, the
// results by kind with the right counts, tick, recover byte-exact; a
// cancelled scan; the same-disk question; image destination checks; and a
// language switch.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QHelpEvent>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <map>
#include <set>

#include "app/language_table.h"
#include "catalogue/categories.h"
#include "engines/engine_factory.h"
#include "ui/job_window.h"
#include "ui/main_window.h"
#include "ui/thumbnails.h"
#include "ui/message_box.h"
#include "ui/preview.h"
#include "ui/texts.h"
#include "ui_test_support.h"

using namespace kestrel;
using namespace kestrel::ui;
using namespace kestrel::ui::testing;

namespace {

struct ExpectedFile {
  QString status, sha256, path;
};

// The files the image-making script deleted on fat32-deleted.img.
std::vector<ExpectedFile> ExpectedOnCard() {
  std::vector<ExpectedFile> out;
  QFile file(QStringLiteral(KESTREL_TEST_DATA_DIR "/fat-expected.txt"));
  if (!file.open(QIODevice::ReadOnly)) return out;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const QList<QByteArray> f = line.split('\t');
    if (f.size() == 5 && f[0] == "fat32-deleted.img")
      out.push_back({QString::fromUtf8(f[1]), QString::fromUtf8(f[3]), QString::fromUtf8(f[4])});
  }
  return out;
}

QString LabelText(QWidget* root, const char* name) {
  auto* label = root->findChild<QLabel*>(QString::fromLatin1(name));
  return label ? label->text() : QString();
}

// The block device holding path, from mountinfo; "" when it is not one.
QString DeviceHolding(const QString& path) {
  QFile mounts(QStringLiteral("/proc/self/mountinfo"));
  if (!mounts.open(QIODevice::ReadOnly)) return {};
  QString best, bestMount;
  for (const QByteArray& line : mounts.readAll().split('\n')) {
    const QList<QByteArray> f = line.split(' ');
    const int dash = f.indexOf("-");
    if (dash < 0 || dash + 2 >= f.size()) continue;
    const QString mount = QString::fromUtf8(f[4]);
    const QString source = QString::fromUtf8(f[dash + 2]);
    if ((path == mount || path.startsWith(mount == QLatin1String("/") ? mount : mount + QLatin1Char('/'))) &&
        mount.size() >= bestMount.size()) {
      bestMount = mount;
      best = source;
    }
  }
  return best.startsWith(QLatin1String("/dev/")) ? best : QString();
}

// The card with a gigabyte of zeros behind it: a deep pass over it takes
// long enough for a cancel to land mid-pass.
QString PaddedCopy(const QString& image, const QString& out) {
  QFile::remove(out);
  if (!QFile::copy(image, out)) return {};
  QFile file(out);
  if (!file.open(QIODevice::ReadWrite) || !file.resize(qint64(1) << 30)) return {};
  return out;
}

// Recovers the ticked files into folder as a user would: the folder chosen in
// the chooser, Finish clicked once the recovery window offers it. The texts of
// the message boxes it met come back.
QStringList RecoverTickedInto(MainWindow& window, const QString& folder) {
  FileChoosers choosers = NativeFileChoosers();
  choosers.recoveryFolder = [folder](QWidget*) { return folder; };
  window.SetFileChoosers(choosers);
  ModalHand hand;
  hand.onWindow = [](QWidget* modal) {
    auto* finish = modal->findChild<QPushButton*>(QStringLiteral("FinishBtn"));
    if (finish && finish->isVisible()) finish->click();
  };
  window.RecoverTicked();
  return hand.boxTexts;
}

bool AnyJobWindowVisible() {
  for (QWidget* top : QApplication::topLevelWidgets())
    if (qobject_cast<JobWindow*>(top) && top->isVisible()) return true;
  return false;
}

}  // namespace

class FlowTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    root_ = UseTemporaryUserFolders();
    image_ = UnpackImage(QStringLiteral("fat32-deleted.img"), root_);
    QVERIFY(!image_.isEmpty());
  }

  void scanListsKindsWithTheirCountsAndRecoversByteExact() {
    MainWindow window(false);
    window.SetMode(0);
    window.ShowPage(kPageSources);
    window.AddImage(image_);
    QVERIFY(window.ScanSelected());
    QCOMPARE(window.page(), int(kPageResults));

    // Counts per category and per type, from the list of what was deleted.
    std::map<QString, int> expectedTypes;
    int expectedPhotos = 0, expectedAudio = 0, expectedVideo = 0;
    for (const ExpectedFile& file : ExpectedOnCard()) {
      if (file.status == QLatin1String("absent")) continue;
      const std::string ext = ExtensionOf(file.path.toStdString());
      if (ExtensionInList(ext, kPhotoExtensions)) ++expectedPhotos;
      else if (ExtensionInList(ext, kAudioExtensions)) ++expectedAudio;
      else if (ExtensionInList(ext, kVideoExtensions)) ++expectedVideo;
      else continue;
      ++expectedTypes[QString::fromStdString(ext)];
    }
    QVERIFY(expectedPhotos > 3);
    QTreeWidget* tree = window.typeTree();
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("%1 (%2)").arg(Msg("MSG0807")).arg(expectedPhotos));
    QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("%1 (%2)").arg(Msg("MSG0808")).arg(expectedAudio));
    QCOMPARE(tree->topLevelItem(2)->text(0), QStringLiteral("%1 (%2)").arg(Msg("MSG0809")).arg(expectedVideo));
    QVERIFY(window.SelectTypeNode(QStringLiteral("jpg")));
    QCOMPARE(window.resultsModel()->rowCount(), expectedTypes[QStringLiteral("jpg")]);
    // Choosing an intact photo shows it in the pane.
    QSignalSpy previews(&window, &MainWindow::previewShown);
    int beachRow = -1;
    for (int row = 0; row < window.resultsModel()->rowCount(); ++row)
      if (window.resultsModel()->results()->records[window.resultsModel()->RecordAt(row)].Name() == "Beach Day.jpg")
        beachRow = row;
    window.fileList()->selectRow(beachRow);
    QCOMPARE(previews.size(), 1);
    QCOMPARE(previews.at(0).at(0).toBool(), true);
    QVERIFY(!window.findChild<QLabel*>(QStringLiteral("PreviewEdit"))->pixmap().isNull());

    // Opened, it shows in the preview window, modal over the main window so
    // that nothing there (a new scan) can free the engine it reads through.
    {
      bool modalWithPicture = false;
      ModalHand hand;
      hand.onWindow = [&](QWidget* modal) {
        auto* preview = qobject_cast<PreviewWindow*>(modal);
        if (!preview || !preview->showingPicture()) return;
        modalWithPicture = true;
        preview->done(0);
      };
      // A window that never turns modal is closed from here: the test fails instead of hanging.
      QTimer fallback;
      fallback.setSingleShot(true);
      connect(&fallback, &QTimer::timeout, &window, [&] {
        if (window.previewWindow()) window.previewWindow()->done(0);
      });
      fallback.start(5000);
      window.OpenPreview(beachRow);
      QVERIFY(modalWithPicture);
      QVERIFY(!window.previewWindow());
    }

    // Ticking the photo category ticks every photo; the summary follows.
    tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QCOMPARE(int(window.resultsModel()->tickedCount()), expectedPhotos);
    QVERIFY(LabelText(&window, "SelectedFileInfo").contains(QString::number(expectedPhotos)));
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("BtnRecover"))->isEnabled());

    QTemporaryDir destination;
    const QStringList boxTexts = RecoverTickedInto(window, destination.path());

    int intactPhotos = 0;
    for (const ExpectedFile& file : ExpectedOnCard()) {
      const std::string ext = ExtensionOf(file.path.toStdString());
      if (file.status != QLatin1String("intact") || !ExtensionInList(ext, kPhotoExtensions)) continue;
      ++intactPhotos;
      const QString name = file.path.section(QLatin1Char('/'), -1);
      QCOMPARE(Sha256OfFile(destination.path() + QStringLiteral("/photo/") + name), file.sha256);
    }
    QVERIFY(intactPhotos >= 5);
    QVERIFY(boxTexts.isEmpty());  // an image source never asks about the disk
  }

  void cancelledScanStopsTheWorkerAndShowsWhatWasFound() {
    const QString big = PaddedCopy(image_, root_ + QStringLiteral("/big.img"));
    QVERIFY(!big.isEmpty());
    MainWindow window(false);
    window.SetMode(0);
    window.AddImage(big);
    window.ShowPage(kPageFileTypes);  // the file-type page starts a deep scan
    ModalHand hand;
    hand.Answer({QStringLiteral("okbtn")});
    bool clicked = false;
    hand.onWindow = [&](QWidget* modal) {
      auto* cancel = modal->findChild<QPushButton*>(QStringLiteral("cancelbtn"));
      if (!clicked && cancel && modal->findChild<QLabel*>(QStringLiteral("totalfile"))) {
        clicked = true;
        // Queued: the cancel question runs its own loop, which must not sit
        // inside this poll.
        QMetaObject::invokeMethod(cancel, &QPushButton::click, Qt::QueuedConnection);
      }
    };
    window.ScanSelected();
    QVERIFY(clicked);
    QCOMPARE(hand.boxTexts.value(0), Msg("MSG0709"));
    QVERIFY(window.lastScanCancelled());
    QCOMPARE(window.page(), int(kPageResults));
  }

  void interruptedDeepScanIsOfferedAgainBeforeItsWindowShows() {
    // A gigabyte without a file system: the deep pass reads all of it.
    const QString big = root_ + QStringLiteral("/resume.img");
    QFile blank(big);
    QVERIFY(blank.open(QIODevice::WriteOnly) && blank.resize(qint64(1) << 30));
    blank.close();
    MainWindow window(false);
    window.SetMode(0);
    window.AddImage(big);
    window.ShowPage(kPageFileTypes);
    ModalHand hand;
    // Stop the first scan once its deep pass counts sectors, so its state is saved.
    bool cancelQueued = false;
    hand.onWindow = [&](QWidget* modal) {
      auto* cancel = modal->findChild<QPushButton*>(QStringLiteral("cancelbtn"));
      auto* sectors = modal->findChild<QLabel*>(QStringLiteral("sectors"));
      if (!cancelQueued && cancel && sectors && sectors->isVisible()) {
        cancelQueued = true;
        QMetaObject::invokeMethod(cancel, &QPushButton::click, Qt::QueuedConnection);
      }
    };
    window.ScanSelected();
    QVERIFY(window.lastScanCancelled());
    QCOMPARE(hand.boxTexts, QStringList{Msg("MSG0709")});

    // The second deep scan asks first, over the main window, its own window
    // still hidden; "no" starts afresh, and that scan is stopped too.
    bool jobWindowShownDuringQuestion = true;
    hand.onBox = [&](QWidget* box) {
      if (qobject_cast<MessageBoxDialog*>(box)->messageText() == Msg("MSG1206")) {
        jobWindowShownDuringQuestion = AnyJobWindowVisible();
        QCOMPARE(box->parentWidget(), static_cast<QWidget*>(&window));
      }
    };
    hand.Answer({QStringLiteral("cancelbtn"), QStringLiteral("okbtn")});
    cancelQueued = false;
    window.ShowPage(kPageFileTypes);
    window.ScanSelected();
    QCOMPARE(hand.boxTexts, QStringList({Msg("MSG0709"), Msg("MSG1206"), Msg("MSG0709")}));
    QVERIFY(!jobWindowShownDuringQuestion);
  }

  void partitionedImageListsItsPartitionsAndRecoversFromEach() {
    const QString disk = UnpackImage(QStringLiteral("disk-mbr.img"), root_);
    QVERIFY(!disk.isEmpty());
    MainWindow window(false);
    window.SetMode(0);
    window.ShowPage(kPageSources);
    SourceItem* image = window.AddImage(disk);
    QCOMPARE(window.selectedSource(), image);
    QStringList partitions;
    for (const auto& item : window.sources())
      if (item->parent == image) partitions << QStringLiteral("%1 %2").arg(item->entryNumber).arg(item->fileSystem);
    QCOMPARE(partitions, QStringList({QStringLiteral("1 FAT32"), QStringLiteral("5 NTFS"), QStringLiteral("6 FAT32")}));
    auto* imageRow = window.findChild<QTreeWidget*>(QStringLiteral("DiskList"))->currentItem();
    QCOMPARE(imageRow->childCount(), 3);

    // The image row scans every partition; each deleted two photos.
    QVERIFY(window.ScanSelected());
    QVERIFY(window.SelectTypeNode(QStringLiteral("jpg")));
    QCOMPARE(window.resultsModel()->rowCount(), 6);
    QCOMPARE(int(window.resultsModel()->results()->engines.size()), 3);
    std::multiset<qint64> sizes;
    for (uint32_t record : window.resultsModel()->rows()) sizes.insert(window.resultsModel()->results()->records[record].size);

    window.typeTree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QTemporaryDir destination;
    RecoverTickedInto(window, destination.path());
    // Same names on three partitions: six files, each read through its own
    // partition's engine (a wrong engine reads other sectors: no JPEG).
    const QFileInfoList written = QDir(destination.path() + QStringLiteral("/photo")).entryInfoList(QDir::Files);
    QCOMPARE(written.size(), 6);
    std::multiset<qint64> writtenSizes;
    for (const QFileInfo& info : written) {
      QFile file(info.filePath());
      QVERIFY(file.open(QIODevice::ReadOnly));
      const QByteArray bytes = file.readAll();
      QVERIFY2(bytes.startsWith("\xFF\xD8\xFF") && bytes.endsWith("\xFF\xD9"), qPrintable(info.fileName()));
      writtenSizes.insert(bytes.size());
    }
    QVERIFY(writtenSizes == sizes);
  }

  void typeBoxesFollowTheTicksOfTheirFiles() {
    MainWindow window(false);
    window.SetMode(0);
    window.AddImage(image_);
    QVERIFY(window.ScanSelected());
    QVERIFY(window.SelectTypeNode(QStringLiteral("jpg")));
    QTreeWidgetItem* photos = window.typeTree()->topLevelItem(0);
    QTreeWidgetItem* jpg = window.typeTree()->currentItem();
    QVERIFY(photos->childCount() > 1);  // other photo types besides jpg
    ResultsModel* model = window.resultsModel();
    QVERIFY(model->rowCount() > 1);

    model->setData(model->index(0, kColTick), Qt::Checked, Qt::CheckStateRole);
    QCOMPARE(jpg->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(photos->checkState(0), Qt::PartiallyChecked);
    window.findChild<QCheckBox*>(QStringLiteral("CheckAll"))->click();
    QCOMPARE(jpg->checkState(0), Qt::Checked);
    QCOMPARE(photos->checkState(0), Qt::PartiallyChecked);
    // A partly ticked category ticked by the user takes every file below it.
    photos->setCheckState(0, Qt::Checked);
    for (int i = 0; i < photos->childCount(); ++i) QCOMPARE(photos->child(i)->checkState(0), Qt::Checked);
    model->setData(model->index(0, kColTick), Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(jpg->checkState(0), Qt::PartiallyChecked);
    photos->setCheckState(0, Qt::Unchecked);
    QCOMPARE(jpg->checkState(0), Qt::Unchecked);
    QCOMPARE(model->tickedCount(), uint64_t(0));

    // Dates in ISO form, whatever the language.
    bool sawDate = false;
    for (int row = 0; row < model->rowCount(); ++row) {
      const QString modified = model->data(model->index(row, kColModified), Qt::DisplayRole).toString();
      if (modified.trimmed() == QLatin1String("----")) continue;
      sawDate = true;
      QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$")).match(modified).hasMatch(),
               qPrintable(modified));
    }
    QVERIFY(sawDate);
  }

  void thumbnailsMatchTheirPhotosAndMarkTheDamagedOne() {
    std::filesystem::path folder;
    {
      MainWindow window(false);
      window.SetMode(0);
      window.AddImage(image_);
      window.resize(900, 600);
      window.show();
      QVERIFY(window.ScanSelected());
      QVERIFY(window.SelectTypeNode(QStringLiteral("jpg")));
      window.ShowThumbnails(true);
      ResultsModel* model = window.resultsModel();
      ThumbnailStore* store = window.thumbnails();
      folder = store->folder();
      // Every photo on screen gets its thumbnail in the background.
      auto thumbOf = [&](int row) { return store->Get(model->RecordAt(row), row); };
      QTRY_VERIFY_WITH_TIMEOUT(
          [&] {
            for (int row = 0; row < model->rowCount(); ++row)
              if (!thumbOf(row)) return false;
            return true;
          }(),
          10000);
      QVERIFY(!std::filesystem::is_empty(folder));  // cached beside the scan logs
      QTemporaryDir originals;
      bool sawIntact = false, sawDamaged = false;
      for (int row = 0; row < model->rowCount(); ++row) {
        const FoundFileRecord& record = model->results()->records[model->RecordAt(row)];
        const auto thumb = thumbOf(row);
        if (record.Name() == "Reused Photo.jpg") {
          QCOMPARE(thumb->verdict, IntegrityVerdict::kDamaged);  // partly overwritten
          // Hovering the cell says what its red mark means, in the check's words.
          auto* grid = window.findChild<QListView*>(QStringLiteral("ThumbnailGrid"));
          const QPoint centre = grid->visualRect(model->index(row, kColName)).center();
          QHelpEvent hover(QEvent::ToolTip, centre, grid->viewport()->mapToGlobal(centre));
          QApplication::sendEvent(grid->viewport(), &hover);
          QVERIFY2(QToolTip::text().contains(QStringLiteral("not a valid JPEG")), qPrintable(QToolTip::text()));
          QVERIFY(QToolTip::text().startsWith(QStringLiteral("Reused Photo.jpg\n")));
          sawDamaged = true;
          continue;
        }
        if (thumb->verdict != IntegrityVerdict::kIntact) continue;
        sawIntact = true;
        // The thumbnail is the recovered photo, scaled into the cell.
        IFileRecoveryParse* engine = model->results()->engines[model->results()->sourceOf[model->RecordAt(row)]];
        const std::filesystem::path out = std::filesystem::path(originals.path().toStdString()) / std::to_string(row);
        QCOMPARE(engine->RecoverItem(&record, out, 0), 0);
        const QImage original(QString::fromStdString(out.string()));
        QVERIFY(!original.isNull());
        const QImage expected = original.scaled(ThumbnailStore::kSide, ThumbnailStore::kSide, Qt::KeepAspectRatio,
                                                Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
        const QImage got = thumb->image.convertToFormat(QImage::Format_RGB32);
        QCOMPARE(got.size(), expected.size());
        qint64 difference = 0;
        for (int y = 0; y < got.height(); ++y)
          for (int x = 0; x < got.width(); ++x) {
            const QRgb a = got.pixel(x, y), b = expected.pixel(x, y);
            difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
          }
        QVERIFY2(difference / (3 * got.width() * got.height()) < 12, record.Name().data());
      }
      QVERIFY(sawIntact);
      QVERIFY(sawDamaged);
    }
    QVERIFY(!std::filesystem::exists(folder));  // the cache goes with the results
  }

  void recoveryFolderOnAScannedDiskAsksFirst() {
    QTemporaryDir destination;
    const QString device = DeviceHolding(QDir(destination.path()).canonicalPath());
    if (device.isEmpty()) QSKIP("the temporary folder does not lie on a block device here");
    MainWindow window(false);
    auto source = std::make_unique<SourceItem>();
    source->kind = SourceItem::Kind::kPartition;
    source->path = device.toStdString();
    source->scan.engine = CreateEngineForKind(FileSystemKind::kFat, false);  // as if scanned
    window.AddSource(std::move(source));
    ModalHand hand;
    hand.Answer({QStringLiteral("cancelbtn"), QStringLiteral("okbtn")});
    QVERIFY(!window.ConfirmRecoveryFolder(destination.path()));
    QVERIFY(window.ConfirmRecoveryFolder(destination.path()));
    QCOMPARE(hand.boxTexts, QStringList({Msg("MSG0805"), Msg("MSG0805")}));
    QCOMPARE(hand.boxKinds.value(0), int(BoxKind::kConfirm));
  }

  void imageTooLargeForTheDestinationAsksForAnotherPlace() {
    MainWindow window(false);
    window.SetMode(1);
    window.ShowPage(kPageSources);
    auto source = std::make_unique<SourceItem>();
    source->kind = SourceItem::Kind::kPartition;
    source->disk = -1;  // no real disk behind it: nothing to open
    source->entryNumber = 1;
    source->path = "/dev/null";
    source->totalBytes = uint64_t(1) << 55;  // more than any test machine has free
    source->sectorCount = source->totalBytes / 512;
    window.AddSource(std::move(source));
    int asked = 0;
    QStringList proposals;
    FileChoosers choosers = NativeFileChoosers();
    choosers.imageDestination = [&](QWidget*, const QString& proposed) {
      proposals << proposed;
      return ++asked == 1 ? root_ + QStringLiteral("/copy.img") : QString();
    };
    window.SetFileChoosers(choosers);
    ModalHand hand;
    window.CreateImageOfSelected();
    QVERIFY2(asked == 2, qPrintable(hand.boxTexts.join(QLatin1Char('|'))));
    QCOMPARE(hand.boxTexts, QStringList{Msg("MSG0221")});
    QVERIFY(proposals.value(0).startsWith(QStringLiteral("1 (")));
    QVERIFY(!QFile::exists(root_ + QStringLiteral("/copy.img")));
  }

  void imageModeWithoutASourceSaysSo() {
    MainWindow window(false);
    window.SetMode(1);
    window.ShowPage(kPageSources);
    ModalHand hand;
    window.CreateImageOfSelected();
    QCOMPARE(hand.boxTexts, QStringList{Msg("MSG0216")});
  }

  void languageSwitchChangesEveryVisibleText() {
    const auto languages = LanguageTable::Instance().Languages();
    if (languages.size() < 2) QSKIP("only one language installed");
    MainWindow window(false);
    window.SetMode(0);
    window.ShowPage(kPageSources);
    auto buttonText = [&](const char* name) { return window.findChild<QAbstractButton*>(QString::fromLatin1(name))->text(); };
    auto menuText = [&](const char* name) { return window.findChild<QAction*>(QString::fromLatin1(name))->text(); };
    auto header = [&](int column) { return window.fileList()->model()->headerData(column, Qt::Horizontal).toString(); };
    const QStringList buttons{QStringLiteral("BtnScan"), QStringLiteral("BtnPrev"), QStringLiteral("BtnLoadImage"),
                              QStringLiteral("BtnAdvanceScan"), QStringLiteral("TabScan"), QStringLiteral("BtnRecoverMode")};
    auto snapshot = [&] {
      QStringList texts{LabelText(&window, "ToolbarText1"), LabelText(&window, "TxtStatus"), menuText("item_help"),
                        menuText("item_exit"), header(kColSize), header(kColModified),
                        window.findChild<QTreeWidget*>(QStringLiteral("DiskList"))->headerItem()->text(1)};
      for (const QString& name : buttons) texts << buttonText(name.toLatin1().constData());
      return texts;
    };
    const QStringList english = snapshot();
    for (const QString& text : english) QVERIFY2(!text.isEmpty(), qPrintable(english.join(QLatin1Char('|'))));
    const QString other = QString::fromStdString(languages[1].first);
    window.SwitchLanguage(other);
    QCOMPARE(QString::fromStdString(LanguageTable::Instance().Current()), other);
    QCOMPARE(LabelText(&window, "ToolbarText1"), Msg("MSG0503"));
    const QStringList switched = snapshot();
    for (int i = 0; i < english.size(); ++i)
      QVERIFY2(switched[i] != english[i], qPrintable(QStringLiteral("unchanged: ") + english[i]));
    // Boxes take their buttons from the new language too.
    ModalHand hand;
    QString yes;
    hand.onBox = [&](QWidget* box) { yes = box->findChild<QPushButton*>(QStringLiteral("okbtn"))->text(); };
    ShowMessageBox(BoxKind::kQuestion, &window, QStringLiteral("?"), 300, 130);
    QCOMPARE(yes, Text("MessageBox", "yesbtn"));
    window.SwitchLanguage(QString::fromStdString(languages[0].first));
    QCOMPARE(snapshot(), english);
  }

 private:
  QString root_;
  QString image_;
};

QTEST_MAIN(FlowTest)
#include "flow_test.moc"
