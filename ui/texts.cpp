#include "ui/texts.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTreeWidget>

#include "app/language_table.h"

namespace kestrel::ui {

QString Text(std::string_view section, std::string_view key) {
  return QString::fromStdString(LanguageTable::Instance().Text(section, key));
}

QString Msg(std::string_view id) { return Text("Messages", id); }

QString FormatMsg(const QString& format, const QStringList& args) {
  static const QRegularExpression field(QStringLiteral("%(%|I64u|I64d|ls|lu|ld|llu|lld|[sducS])"));
  QString out;
  qsizetype last = 0;
  int next = 0;
  auto it = field.globalMatch(format);
  while (it.hasNext()) {
    auto match = it.next();
    out += format.mid(last, match.capturedStart() - last);
    if (match.captured(1) == QLatin1String("%")) {
      out += QLatin1Char('%');
    } else if (next < args.size()) {
      out += args[next++];
    }
    last = match.capturedEnd();
  }
  out += format.mid(last);
  return out;
}

static void SetControlText(QObject* control, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    group->setTitle(text);
  } else if (auto* action = qobject_cast<QAction*>(control)) {
    action->setText(text);
  } else if (auto* menu = qobject_cast<QMenu*>(control)) {
    menu->setTitle(text);
  } else if (auto* tree = qobject_cast<QTreeWidget*>(control)) {
    // Column titles, separated by '|'.
    const QStringList titles = text.split(QLatin1Char('|'));
    for (int i = 0; i < titles.size() && i < tree->columnCount(); ++i)
      tree->headerItem()->setText(i, titles[i]);
  } else if (auto* widget = qobject_cast<QWidget*>(control); widget && widget->isWindow()) {
    widget->setWindowTitle(text);
  }
}

void ApplySection(QObject* root, std::string_view section) {
  const auto texts = LanguageTable::Instance().Section(section);
  for (const auto& [key, value] : texts) {
    if (value.empty()) continue;
    const QString name = QString::fromStdString(key);
    const QString text = QString::fromStdString(value);
    if (root->objectName() == name) SetControlText(root, text);
    for (QObject* control : root->findChildren<QObject*>(name)) SetControlText(control, text);
  }
}

}  // namespace kestrel::ui
