// The whole window flow on the bundled FAT32 card image: load, scan, the
// results by kind with the right counts, tick, recover byte-exact; a
// cancelled scan; the same-disk question; image destination checks; and a
// language switch.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <map>
#include <set>

#include "app/language_table.h"
#include "catalogue/categories.h"
#include "engines/engine_factory.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
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

    // Ticking the photo category ticks every photo; the summary follows.
    tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QCOMPARE(int(window.resultsModel()->tickedCount()), expectedPhotos);
    QVERIFY(LabelText(&window, "SelectedFileInfo").contains(QString::number(expectedPhotos)));
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("BtnRecover"))->isEnabled());

    QTemporaryDir destination;
    FileChoosers choosers = NativeFileChoosers();
    choosers.recoveryFolder = [&](QWidget*) { return destination.path(); };
    window.SetFileChoosers(choosers);
    ModalHand hand;
    hand.onWindow = [](QWidget* modal) {
      auto* finish = modal->findChild<QPushButton*>(QStringLiteral("FinishBtn"));
      if (finish && finish->isVisible()) finish->click();
    };
    window.RecoverTicked();

    int intactPhotos = 0;
    for (const ExpectedFile& file : ExpectedOnCard()) {
      const std::string ext = ExtensionOf(file.path.toStdString());
      if (file.status != QLatin1String("intact") || !ExtensionInList(ext, kPhotoExtensions)) continue;
      ++intactPhotos;
      const QString name = file.path.section(QLatin1Char('/'), -1);
      QCOMPARE(Sha256OfFile(destination.path() + QStringLiteral("/photo/") + name), file.sha256);
    }
    QVERIFY(intactPhotos >= 5);
    QVERIFY(hand.boxTexts.isEmpty());  // an image source never asks about the disk
  }

  void cancelledScanStopsTheWorkerAndShowsWhatWasFound() {
    // A gigabyte of zeros behind the card: the deep pass takes long enough
    // for the cancel to land mid-scan.
    const QString big = root_ + QStringLiteral("/big.img");
    QFile::remove(big);
    QVERIFY(QFile::copy(image_, big));
    QFile file(big);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(qint64(1) << 30));
    file.close();

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
    QElapsedTimer timer;
    timer.start();
    window.ScanSelected();
    QVERIFY(clicked);
    QCOMPARE(hand.boxTexts.value(0), Msg("MSG0709"));
    QVERIFY(window.lastScanCancelled());
    QCOMPARE(window.page(), int(kPageResults));
  }

  void recoveryFolderOnAScannedDiskAsksFirst() {
    QTemporaryDir destination;
    const QString device = DeviceHolding(QDir(destination.path()).canonicalPath());
    if (device.isEmpty()) QSKIP("the temporary folder does not lie on a block device here");
    MainWindow window(false);
    auto source = std::make_unique<SourceItem>();
    source->kind = SourceItem::Kind::kPartition;
    source->path = device.toStdString();
    source->engine = CreateEngineForKind(FileSystemKind::kFat, false);  // as if scanned
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
    const QString english = LabelText(&window, "ToolbarText1");
    const QString status = LabelText(&window, "TxtStatus");
    QVERIFY(!english.isEmpty());
    const QString other = QString::fromStdString(languages[1].first);
    window.SwitchLanguage(other);
    QCOMPARE(QString::fromStdString(LanguageTable::Instance().Current()), other);
    QCOMPARE(LabelText(&window, "ToolbarText1"), Msg("MSG0503"));
    QVERIFY(LabelText(&window, "ToolbarText1") != english);
    QVERIFY(LabelText(&window, "TxtStatus") != status);
    window.SwitchLanguage(QString::fromStdString(languages[0].first));
    QCOMPARE(LabelText(&window, "ToolbarText1"), english);
  }

 private:
  QString root_;
  QString image_;
};

QTEST_MAIN(FlowTest)
#include "flow_test.moc"
