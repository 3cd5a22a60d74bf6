// One Kestrel per user session: the first instance holds a lock file and
// listens on a local socket; a second start finds the lock taken, asks the
// first to raise its window, and ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace kestrel::ui {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // key names the lock and the socket; tests pass their own.
  explicit SingleInstance(const QString& key = QStringLiteral("kestrel"));
  ~SingleInstance() override;

  // True when this process is the first: it then listens for later starts.
  bool Claim();
  // A later start: asks the first instance to show its window. True when it answered.
  bool RaiseFirst(int timeoutMs = 2000);

 signals:
  // The first instance got a request to come forward.
  void raiseRequested();

 private:
  QString key_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer server_;
};

}  // namespace kestrel::ui
