// Reading a disk through UDisks2: a mock UDisks2 on a private bus
// (python3-dbusmock) hands out a descriptor of an image file, and the bytes
// read through it are the image's.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

#include "ui/device_access.h"
#include "ui_test_support.h"

using namespace kestrel::ui;
using namespace kestrel::ui::testing;

class UdisksTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
      QSKIP("dbus-daemon is not installed");
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0) QSKIP("python3-dbusmock is not installed");

    bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address=1")});
    QVERIFY(bus_.waitForReadyRead(10000));
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    QVERIFY(!address_.isEmpty());

    image_ = UnpackImage(QStringLiteral("fat12-deleted.img"), dir_.path());
    QVERIFY(!image_.isEmpty());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    mock_.setProcessEnvironment(env);
    mock_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock_.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                 QStringLiteral(KESTREL_TEST_SOURCE_DIR "/udisks2_mock.py"), QStringLiteral("-p"),
                 QStringLiteral("{\"device\": \"/dev/sdz\", \"backing\": \"%1\"}").arg(image_)});
    QVERIFY(mock_.waitForStarted());
    connection_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, QStringLiteral("mockbus")));
    QVERIFY(connection_->isConnected());
    // The mock owns its name once it is ready.
    for (int i = 0; i < 100 && !connection_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2")); ++i)
      QTest::qWait(50);
    QVERIFY(connection_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2")));
  }

  void openForBackupHandsOutTheDevicesBytes() {
    QString error;
    const int fd = OpenThroughUdisks(*connection_, QStringLiteral("/dev/sdz"), &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    QFile image(image_);
    QVERIFY(image.open(QIODevice::ReadOnly));
    const QByteArray expected = image.read(65536);
    QByteArray got(65536, '\0');
    QCOMPARE(::pread(fd, got.data(), got.size(), 0), ssize_t(got.size()));
    QCOMPARE(got, expected);
    // Read-only: the descriptor refuses writes.
    QVERIFY(::pwrite(fd, "x", 1, 0) < 0);
    ::close(fd);
  }

  void anUnknownDeviceIsRefusedWithAReason() {
    QString error;
    QCOMPARE(OpenThroughUdisks(*connection_, QStringLiteral("/dev/sdy"), &error), -1);
    QVERIFY(!error.isEmpty());
  }

  void cleanupTestCase() {
    connection_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("mockbus"));
    mock_.kill();
    mock_.waitForFinished();
    bus_.kill();
    bus_.waitForFinished();
  }

 private:
  QTemporaryDir dir_;
  QProcess bus_, mock_;
  QString address_, image_;
  std::unique_ptr<QDBusConnection> connection_;
};

QTEST_MAIN(UdisksTest)
#include "udisks_test.moc"
