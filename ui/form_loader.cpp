#include "ui/form_loader.h"

#include <QFile>
#include <QUiLoader>
#include <QVBoxLayout>

namespace kestrel::ui {

QWidget* LoadForm(const QString& name, QWidget* parent) {
  QFile file(QStringLiteral(":/xml/%1.ui").arg(name));
  QWidget* form = nullptr;
  if (file.open(QIODevice::ReadOnly)) {
    QUiLoader loader;
    form = loader.load(&file, parent);
    if (!form) qWarning("layout %s: %s", qPrintable(name), qPrintable(loader.errorString()));
  } else {
    qWarning("layout %s is missing from the resource", qPrintable(name));
  }
  if (!form) form = new QWidget(parent);
  return form;
}

}  // namespace kestrel::ui
