// Window layouts: Qt Designer files compiled into the resource under xml/,
// inflated with QUiLoader; code finds controls by their object names.
#pragma once

#include <QString>
#include <QWidget>

namespace kestrel::ui {

// Inflates ":/xml/<name>.ui" under parent. Never null: a layout missing from
// the resource is a build fault, reported on stderr with an empty widget.
QWidget* LoadForm(const QString& name, QWidget* parent = nullptr);

// The child named name, or null (controls a layout may leave out).
template <typename T>
T* Control(const QObject* root, const char* name) {
  return root->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace kestrel::ui
