// Start-up and shutdown: one instance per user (a second start raises the
// first and exits 0), the crash report and its name, and the image plugins.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "app/language_table.h"
#include "ui/app_shell.h"
#include "ui/crash_report.h"
#include "ui/single_instance.h"
#include "ui_test_support.h"

using namespace kestrel::ui;
using namespace kestrel::ui::testing;

class StartupTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { UseTemporaryUserFolders(); }

  void secondStartRaisesTheFirstAndExitsZero() {
    const QString key = QStringLiteral("kestrel-test-%1").arg(::getpid());
    SingleInstance first(key);
    QVERIFY(first.Claim());
    SingleInstance again(key);
    QVERIFY(!again.Claim());

    QSignalSpy raised(&first, &SingleInstance::raiseRequested);
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KESTREL_INSTANCE_KEY"), key);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(KESTREL_GUI_PATH), {});
    QVERIFY(raised.wait(10000));
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
  }

  void lockOfAVanishedInstanceDoesNotBlockTheNext() {
    const QString key = QStringLiteral("kestrel-stale-%1").arg(::getpid());
    const pid_t child = ::fork();
    if (child == 0) {
      SingleInstance dying(key);
      ::_exit(dying.Claim() ? 0 : 1);  // leaves its lock file behind
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    QCOMPARE(WEXITSTATUS(status), 0);
    SingleInstance next(key);
    QVERIFY(next.Claim());
  }

  void crashReportNameHasNoPadding() {
    std::tm when{};
    when.tm_year = 2018 - 1900;
    when.tm_mon = 1;
    when.tm_mday = 3;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 7;
    QCOMPARE(QString::fromStdString(CrashReportName(when)), QStringLiteral("2018-2-3&9-5-7.dmp"));
  }

  void aCrashWritesABacktraceIntoDError() {
    QTemporaryDir folder;
    const pid_t child = ::fork();
    if (child == 0) {
      if (::chdir(folder.path().toLocal8Bit().constData()) != 0) ::_exit(3);
      InstallCrashHandler();
      ::raise(SIGSEGV);
      ::_exit(4);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), SIGSEGV);
    const QStringList reports = QDir(folder.path() + QStringLiteral("/D-Error")).entryList({QStringLiteral("*.dmp")});
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports[0].contains(QLatin1Char('&')));
    QFile report(folder.path() + QStringLiteral("/D-Error/") + reports[0]);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    QVERIFY(text.contains("signal 11"));
    QVERIFY(text.contains("Backtrace"));
    QVERIFY(text.count('\n') > 3);  // frames, not just the heading
  }

  void pictureFormatsTheWindowNeedsAreThere() { QCOMPARE(MissingImageFormats(), QStringList()); }

  void playerIsTheConfiguredCommandAndOnlyWhatItStartedIsEnded() {
    QTemporaryDir folder;
    const QString note = folder.path() + QStringLiteral("/played");
    // A player the configured command runs itself: it notes its PID and argument.
    UsePlayerScript(folder, QStringLiteral("echo \"$$ $1\" > '%1.tmp' && mv '%1.tmp' '%1'\nexec sleep 30\n").arg(note));
    QVERIFY(StartPlayer(QStringLiteral("/tmp/clip.avi")));
    QStringList fields = ReadNote(note);
    QCOMPARE(fields.value(1), QStringLiteral("/tmp/clip.avi"));
    const pid_t pid = fields.value(0).toInt();
    QVERIFY(Running(pid));

    QProcess other;  // the same program, not started as a player
    other.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(other.waitForStarted());
    QCOMPARE(EndPlayerProcesses(), 1);
    QVERIFY(!Running(pid));
    QVERIFY(::kill(pid, 0) != 0);  // our child, reaped
    QCOMPARE(other.state(), QProcess::Running);
    QCOMPARE(EndPlayerProcesses(), 0);  // nothing left to end

    // A launcher like xdg-open: starts the real player and exits at once, so
    // the player is not our child; it is ended with the launcher's group.
    QFile::remove(note);
    UsePlayerScript(folder, QStringLiteral("sleep 30 &\necho \"$! $1\" > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(note));
    QVERIFY(StartPlayer(QStringLiteral("/tmp/song.mp3")));
    fields = ReadNote(note);
    QCOMPARE(fields.value(1), QStringLiteral("/tmp/song.mp3"));
    const pid_t grandchild = fields.value(0).toInt();
    QVERIFY(Running(grandchild));
    QTest::qWait(200);  // the launcher has exited by now
    QCOMPARE(EndPlayerProcesses(), 1);
    QVERIFY(!Running(grandchild));
    QCOMPARE(other.state(), QProcess::Running);
    other.kill();
    other.waitForFinished();
  }

 private:
  // Makes a shell script with body the configured player command.
  static void UsePlayerScript(const QTemporaryDir& folder, const QString& body) {
    const QString script = folder.path() + QStringLiteral("/player.sh");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write((QStringLiteral("#!/bin/sh\n") + body).toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(QString::fromStdString(kestrel::LanguageTable::Instance().configPath().string()));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QString settings = QString::fromUtf8(config.readAll());
    config.close();
    settings.remove(QRegularExpression(QStringLiteral("\\[Player\\][^\\[]*")));
    settings += QStringLiteral("\n[Player]\nCommand=%1\n").arg(script);
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
    config.write(settings.toUtf8());
    config.close();
    QCOMPARE(PlayerCommand(), script);
  }

  static QStringList ReadNote(const QString& note) {
    if (!QTest::qWaitFor([&] { return QFile::exists(note); }, 5000)) return {};
    QFile played(note);
    if (!played.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(played.readAll().trimmed()).split(QLatin1Char(' '));
  }

  // Running, not a zombie: an orphan is reaped by whoever adopted it, which
  // in a container may be never.
  static bool Running(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) != "Z";
  }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
