#include "ui/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace kestrel::ui {
namespace {

QString RuntimeFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder;
}

// Per user: two users on one machine each get their own window.
QString SocketName(const QString& key) { return QStringLiteral("%1-%2").arg(key).arg(::getuid()); }

}  // namespace

SingleInstance::SingleInstance(const QString& key) : key_(key) {}

SingleInstance::~SingleInstance() { server_.close(); }

bool SingleInstance::Claim() {
  lock_ = std::make_unique<QLockFile>(RuntimeFolder() + QLatin1Char('/') + SocketName(key_) + QStringLiteral(".lock"));
  // A lock left by a crashed instance is stale once its process is gone.
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(100)) return false;
  // Our lock: any socket left behind by a crash is ours to replace.
  QLocalServer::removeServer(SocketName(key_));
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (socket->readAll().startsWith("raise")) {
          socket->write("ok\n");
          socket->flush();
          emit raiseRequested();
        }
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(SocketName(key_));
  return true;
}

bool SingleInstance::RaiseFirst(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(SocketName(key_));
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write("raise\n");
  // flush() hands everything to the socket; waitForBytesWritten would then
  // report "nothing left to write" as a failure.
  socket.flush();
  return socket.waitForReadyRead(timeoutMs) && socket.readAll().startsWith("ok");
}

}  // namespace kestrel::ui
