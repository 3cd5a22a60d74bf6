// Message boxes and job windows: which layout and title each kind gets, what
// each way of closing answers, and the cancel handshake seen from the window.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/language_table.h"
#include "ui/job_window.h"
#include "ui/message_box.h"
#include "ui/texts.h"
#include "ui_test_support.h"

using namespace kestrel;
using namespace kestrel::ui;
using namespace kestrel::ui::testing;

namespace {

// Counts to steps, one progress update a millisecond, unless cancelled.
class CountingJob : public Job {
 public:
  CountingJob(IJobView& view, int steps) : Job(view, LanguageTable::Instance()), steps_(steps) {}
  std::atomic<int> reached{0};

 protected:
  int Run() override {
    for (int i = 1; i <= steps_; ++i) {
      if (Report([&] {
            view_.SetValue("progress", i * 100 / steps_);
            view_.SetText("percent", std::to_string(i));
          }) == kCancelled)
        return kJobCancelled;
      reached = i;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return kJobDone;
  }
  std::string_view cancelQuestionId() const override { return "MSG0709"; }

 private:
  int steps_;
};

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { UseTemporaryUserFolders(); }

  void eachKindHasItsLayoutAndTitle_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("titleId");
    QTest::addColumn<bool>("hasCancel");
    QTest::newRow("error") << 0 << "MessageBox_Error" << "MSG0401" << false;
    QTest::newRow("confirm") << 1 << "MessageBox_Confirm" << "MSG0402" << true;
    QTest::newRow("information") << 2 << "MessageBox_Information" << "MSG0403" << false;
    QTest::newRow("warning") << 3 << "MessageBox_Warning" << "MSG0405" << false;
    QTest::newRow("question") << 4 << "MessageBox_Question" << "MSG0404" << true;
    QTest::newRow("kind 7 is an error") << 7 << "MessageBox_Error" << "MSG0401" << false;
  }
  void eachKindHasItsLayoutAndTitle() {
    QFETCH(int, kind);
    QFETCH(QString, layout);
    QFETCH(QString, titleId);
    QFETCH(bool, hasCancel);
    MessageBoxDialog box(kind, nullptr, QStringLiteral("the message"), 300, 130);
    QVERIFY(box.findChild<QWidget*>(layout));
    const QString title = Msg(titleId.toStdString());
    QVERIFY(!title.isEmpty());
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("title"))->text(), title);
    QCOMPARE(box.messageText(), QStringLiteral("the message"));
    QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("cancelbtn")) != nullptr, hasCancel);
    QVERIFY(box.width() >= 300 && box.height() >= 130);
  }

  void answersAreOneForOkAndTwoOtherwise() {
    ModalHand hand;
    hand.Answer({QStringLiteral("okbtn"), QStringLiteral("cancelbtn"), QStringLiteral("close"), QStringLiteral("close")});
    QCOMPARE(ShowMessageBox(BoxKind::kQuestion, nullptr, QStringLiteral("a"), 350, 150), 1);
    QCOMPARE(ShowMessageBox(BoxKind::kQuestion, nullptr, QStringLiteral("b"), 350, 150), 2);
    QCOMPARE(ShowMessageBox(BoxKind::kQuestion, nullptr, QStringLiteral("c"), 350, 150), 2);
    QCOMPARE(ShowMessageBox(BoxKind::kInformation, nullptr, QStringLiteral("d"), 300, 130), 2);
    QCOMPARE(hand.boxTexts, QStringList({"a", "b", "c", "d"}));
  }

  void confirmedCancelStopsTheJobAndClosesWithTwo() {
    JobWindow window(nullptr, QStringLiteral("ScanProcessWnd"), "ScanWnd", 350, 200);
    ModalHand hand;
    hand.Answer({QStringLiteral("okbtn")});
    QTimer::singleShot(100, &window, [&] { window.findChild<QPushButton*>(QStringLiteral("cancelbtn"))->click(); });
    CountingJob* job = nullptr;
    const int result = window.Run([&](IJobView& view) {
      auto made = std::make_unique<CountingJob>(view, 100000);
      job = made.get();
      return made;
    });
    QCOMPARE(result, int(kJobCancelled));
    QCOMPARE(hand.boxTexts, QStringList{Msg("MSG0709")});
    QVERIFY(job->reached > 0 && job->reached < 100000);
  }

  void declinedCancelLetsTheJobFinishWithEveryUpdate() {
    JobWindow window(nullptr, QStringLiteral("ScanProcessWnd"), "ScanWnd", 350, 200);
    ModalHand hand;
    hand.Answer({QStringLiteral("cancelbtn")});
    QTimer::singleShot(50, &window, [&] { window.findChild<QPushButton*>(QStringLiteral("cancelbtn"))->click(); });
    const int result = window.Run([&](IJobView& view) { return std::make_unique<CountingJob>(view, 300); });
    QCOMPARE(result, int(kJobDone));
    QCOMPARE(hand.boxTexts.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(window.findChild<QProgressBar*>(QStringLiteral("progress"))->value(), 100);
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("percent"))->text(), QStringLiteral("300"));
  }

  void lateUpdatesAfterTheWindowIsGoneAreDropped() {
    // The worker outlives nothing: the window waits for it, and updates it
    // queued just before closing never reach a destroyed widget.
    auto* window = new JobWindow(nullptr, QStringLiteral("SearchProcessWnd"), "SearchProcessWnd", 350, 150);
    for (int i = 0; i < 100; ++i) window->SetText("percent", std::to_string(i));
    delete window;
    QCoreApplication::processEvents();  // would crash if a queued update outlived its window
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
