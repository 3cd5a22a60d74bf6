// The one modal box for every question, warning and notice: five kinds, each
// with its own layout and title, answered 1 (OK / yes) or 2 (no / closed).
#pragma once

#include <QDialog>
#include <QString>

namespace kestrel::ui {

enum class BoxKind { kError = 0, kConfirm = 1, kInformation = 2, kWarning = 3, kQuestion = 4 };

inline constexpr int kBoxOk = 1;
inline constexpr int kBoxNo = 2;

class MessageBoxDialog : public QDialog {
  Q_OBJECT
 public:
  // kind values above 4 show the Error box. width x height is the caller's size.
  MessageBoxDialog(int kind, QWidget* owner, const QString& text, int width, int height);
  int kind() const { return kind_; }
  QString messageText() const;

 private:
  int kind_;
};

// Shows the box modally, centred over owner; 1 for "okbtn", 2 for "cancelbtn"
// or closing the window.
int ShowMessageBox(int kind, QWidget* owner, const QString& text, int width, int height);
inline int ShowMessageBox(BoxKind kind, QWidget* owner, const QString& text, int width, int height) {
  return ShowMessageBox(static_cast<int>(kind), owner, text, width, height);
}

}  // namespace kestrel::ui
