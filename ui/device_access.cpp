#include "ui/device_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <cerrno>

#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace kestrel::ui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
// Authorisation can wait on the user typing a password.
constexpr int kAuthorisationTimeoutMs = 120000;

// Waits for a reply while the window keeps painting.
QDBusMessage CallAndWait(const QDBusConnection& bus, const QDBusMessage& call) {
  QDBusPendingCall pending = bus.asyncCall(call, kAuthorisationTimeoutMs);
  QDBusPendingCallWatcher watcher(pending);
  if (!watcher.isFinished()) {
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  return pending.reply();
}

// UDisks2's object for a /dev node: asked of the manager, else derived from
// the node's name as UDisks names its objects.
QString BlockObjectOf(const QDBusConnection& bus, const QString& device) {
  QDBusMessage resolve = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/UDisks2/Manager"),
                                                        QStringLiteral("org.freedesktop.UDisks2.Manager"),
                                                        QStringLiteral("ResolveDevice"));
  QVariantMap spec{{QStringLiteral("path"), device}};
  resolve << spec << QVariantMap();
  const QDBusMessage reply = CallAndWait(bus, resolve);
  if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
    const auto paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().first());
    if (!paths.isEmpty()) return paths.first().path();
  }
  QString name = device.section(QLatin1Char('/'), -1);
  QString escaped;
  for (QChar c : name) escaped += c.isLetterOrNumber() ? QString(c) : QStringLiteral("_%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
  return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + escaped;
}

}  // namespace

int OpenThroughUdisks(const QDBusConnection& bus, const QString& device, QString* error) {
  if (!bus.isConnected()) {
    if (error) *error = QStringLiteral("the system bus is not available");
    return -1;
  }
  QDBusMessage open = QDBusMessage::createMethodCall(kService, BlockObjectOf(bus, device),
                                                     QStringLiteral("org.freedesktop.UDisks2.Block"),
                                                     QStringLiteral("OpenForBackup"));
  open << QVariantMap();
  const QDBusMessage reply = CallAndWait(bus, open);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    if (error) {
      // A cancelled password prompt is the user's answer, not a fault.
      const bool dismissed = reply.errorName().endsWith(QLatin1String("NotAuthorizedDismissed"));
      *error = dismissed ? QString()
                         : reply.errorMessage().isEmpty() ? QStringLiteral("UDisks gave no descriptor") : reply.errorMessage();
    }
    return -1;
  }
  const auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
  if (!descriptor.isValid()) {
    if (error) *error = QStringLiteral("UDisks gave no descriptor");
    return -1;
  }
  // The reply owns its descriptor; keep a copy of our own.
  return ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

bool EnsureDiskReadable(const std::filesystem::path& devicePath, QString* error, const QDBusConnection& bus) {
  const int fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  const int code = LastError();
  if (errno != EACCES && errno != EPERM) {
    if (error) *error = QStringLiteral("%1: %2").arg(QString::fromStdString(devicePath.string()), QString::fromStdString(ErrorText(code)));
    return false;
  }
  QString reason;
  const int granted = OpenThroughUdisks(bus, QString::fromStdString(devicePath.string()), &reason);
  if (granted >= 0) {
    GrantDriveDescriptor(devicePath, granted);
    return true;
  }
  if (error)
    *error = QStringLiteral("%1 cannot be read: you may not open it, and the system did not grant access%2.")
                 .arg(QString::fromStdString(devicePath.string()), reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + QLatin1Char(')'));
  return false;
}

}  // namespace kestrel::ui
