#include "ui/message_box.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/form_loader.h"
#include "ui/texts.h"

namespace kestrel::ui {
namespace {

struct BoxStyle {
  const char* layout;
  const char* titleId;
  QStyle::StandardPixmap icon;
};

BoxStyle StyleOf(int kind) {
  switch (kind) {
    case 1: return {"MessageBox_Confirm", "MSG0402", QStyle::SP_MessageBoxQuestion};
    case 2: return {"MessageBox_Information", "MSG0403", QStyle::SP_MessageBoxInformation};
    case 3: return {"MessageBox_Warning", "MSG0405", QStyle::SP_MessageBoxWarning};
    case 4: return {"MessageBox_Question", "MSG0404", QStyle::SP_MessageBoxQuestion};
    default: return {"MessageBox_Error", "MSG0401", QStyle::SP_MessageBoxCritical};
  }
}

}  // namespace

MessageBoxDialog::MessageBoxDialog(int kind, QWidget* owner, const QString& text, int width, int height)
    : QDialog(owner), kind_(kind) {
  const BoxStyle style = StyleOf(kind);
  QWidget* form = LoadForm(QString::fromLatin1(style.layout), this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(form);
  ApplySection(this, "MessageBox");
  // A box that asks answers yes or no; one that tells is closed with OK.
  if (kind == 1 || kind == 4)
    if (auto* ok = Control<QPushButton>(this, "okbtn"); ok && !Text("MessageBox", "yesbtn").isEmpty())
      ok->setText(Text("MessageBox", "yesbtn"));

  const QString title = Msg(style.titleId);
  setWindowTitle(title.isEmpty() ? QStringLiteral("Kestrel") : title);
  if (auto* titleLabel = Control<QLabel>(this, "title")) {
    titleLabel->setText(title);
    titleLabel->setVisible(!title.isEmpty());
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
  }
  if (auto* message = Control<QLabel>(this, "message")) message->setText(text);
  if (auto* icon = Control<QLabel>(this, "icon")) icon->setPixmap(this->style()->standardIcon(style.icon).pixmap(40, 40));
  if (auto* ok = Control<QPushButton>(this, "okbtn")) connect(ok, &QPushButton::clicked, this, [this] { done(kBoxOk); });
  if (auto* cancel = Control<QPushButton>(this, "cancelbtn"))
    connect(cancel, &QPushButton::clicked, this, [this] { done(kBoxNo); });
  if (auto* close = Control<QPushButton>(this, "closebtn"))
    connect(close, &QPushButton::clicked, this, [this] { done(kBoxNo); });

  setModal(true);
  // The callers' sizes are the smallest a box may be; longer texts and
  // larger fonts grow it.
  setMinimumSize(width, height);
  resize(width, height);
}

QString MessageBoxDialog::messageText() const {
  auto* message = Control<QLabel>(this, "message");
  return message ? message->text() : QString();
}

int ShowMessageBox(int kind, QWidget* owner, const QString& text, int width, int height) {
  MessageBoxDialog box(kind, owner, text, width, height);
  const int result = box.exec();
  // Closing the window (Esc, the title bar) answers "no".
  return result == kBoxOk ? kBoxOk : kBoxNo;
}

}  // namespace kestrel::ui
