#include "ui_test_support.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include "ui/message_box.h"

namespace kestrel::ui::testing {

QString UseTemporaryUserFolders() {
  static QTemporaryDir folder;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
    const QString path = folder.path() + QLatin1Char('/') + QString::fromLatin1(name);
    QDir().mkpath(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv(name, path.toLocal8Bit());
  }
  return folder.path();
}

QString UnpackImage(const QString& name, const QString& folder) {
  const QString out = folder + QLatin1Char('/') + name;
  QProcess gzip;
  gzip.setStandardOutputFile(out);
  gzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), QStringLiteral(KESTREL_TEST_DATA_DIR "/") + name + QStringLiteral(".gz")});
  gzip.waitForFinished(30000);
  return gzip.exitCode() == 0 ? out : QString();
}

QString Sha256OfFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  return QString::fromLatin1(hash.result().toHex());
}

ModalHand::ModalHand() {
  timer_.setInterval(20);
  connect(&timer_, &QTimer::timeout, this, &ModalHand::Poll);
  timer_.start();
}

void ModalHand::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal) return;
  if (auto* box = qobject_cast<MessageBoxDialog*>(modal)) {
    if (box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    if (onBox) onBox(box);
    boxTexts << box->messageText();
    boxKinds << box->kind();
    const QString button = answers_.isEmpty() ? QStringLiteral("okbtn") : answers_.takeFirst();
    auto* target = box->findChild<QPushButton*>(button);
    // A box without the expected button is closed, not left hanging: the
    // test then fails on its recorded texts instead of timing out.
    if (button == QLatin1String("close") || !target) {
      box->reject();
    } else {
      target->click();
    }
    return;
  }
  if (onWindow) onWindow(modal);
}

}  // namespace kestrel::ui::testing
