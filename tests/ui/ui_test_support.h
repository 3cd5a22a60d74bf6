// Shared pieces of the desktop application's tests: private user folders,
// unpacked test images, and a hand that answers modal windows as they open.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace kestrel::ui::testing {

// Points XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at a fresh
// temporary folder for the life of the process. Call before any text lookup.
QString UseTemporaryUserFolders();

// Unpacks tests/data/<name>.gz into folder; the path of the image.
QString UnpackImage(const QString& name, const QString& folder);

QString Sha256OfFile(const QString& path);

// Watches for modal windows. Each message box that opens is recorded and
// answered with the next button of the queue ("okbtn" when it is empty);
// other modal windows go to onWindow.
class ModalHand : public QObject {
  Q_OBJECT
 public:
  ModalHand();
  void Answer(const QStringList& buttons) { answers_ = buttons; }
  // Called for every poll while a non-box modal window is up.
  std::function<void(QWidget*)> onWindow;
  // Called once per message box, before it is answered.
  std::function<void(QWidget*)> onBox;
  QStringList boxTexts;
  QList<int> boxKinds;

 private:
  void Poll();
  QTimer timer_;
  QStringList answers_;
};

}  // namespace kestrel::ui::testing
