// The window side of the language table: texts as QString, message texts
// with their printf-style fields filled, and a language section applied to
// every named control of a window at once.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <string_view>

namespace kestrel::ui {

QString Text(std::string_view section, std::string_view key);
// A text of the "Messages" section.
QString Msg(std::string_view id);

// Fills the %s, %d, %u, %c and %I64u fields of a message text in order with
// args ("%%" is a percent sign). Extra fields stay empty, extra args are
// dropped: a language file with a wrong field count shows a short text, never
// garbage.
QString FormatMsg(const QString& format, const QStringList& args);

// Sets the text of every control of root whose object name is a key of the
// section: labels, buttons, group boxes, actions and tree-widget columns.
// Keys without a control are skipped; an empty text leaves the layout's own.
void ApplySection(QObject* root, std::string_view section);

}  // namespace kestrel::ui
