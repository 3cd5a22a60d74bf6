#include "ui/picture_view.h"

#include <QImageIOHandler>
#include <QImageReader>

namespace kestrel::ui {

QImage DecodePictureToFit(const QString& path, QSize box, QString* error) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  QSize stored = reader.size();
  // A quarter- or three-quarter-turned photo is shown with its sides swapped.
  const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
  if (stored.isValid() && !box.isEmpty()) {
    QSize shown = turned ? stored.transposed() : stored;
    if (shown.width() > box.width() || shown.height() > box.height()) {
      shown = shown.scaled(box, Qt::KeepAspectRatio);
      // The reader scales before it turns the picture upright.
      reader.setScaledSize((turned ? shown.transposed() : shown).expandedTo(QSize(1, 1)));
    }
  }
  QImage image = reader.read();
  if (image.isNull()) {
    if (error) *error = reader.errorString();
    return {};
  }
  // Formats that cannot scale while decoding still end up no larger than the box.
  if (!box.isEmpty() && (image.width() > box.width() || image.height() > box.height()))
    image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return image;
}

bool ShowPictureIn(QLabel* label, const QString& path) {
  const QSize box = (label->size() - QSize(8, 8)).expandedTo(QSize(16, 16));
  const QImage image = DecodePictureToFit(path, box);
  label->clear();
  if (image.isNull()) return false;
  label->setPixmap(QPixmap::fromImage(image));
  return true;
}

}  // namespace kestrel::ui
