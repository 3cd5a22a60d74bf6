// Pictures for the preview pane and the preview window: decoded from a file
// with the camera's EXIF orientation applied and at the size they are shown,
// so a 50-megapixel photo costs what fits on the screen, not 200 MB; a file
// that does not decode is reported, for the cannot-preview text.
#pragma once

#include <QImage>
#include <QLabel>
#include <QSize>
#include <QString>

namespace kestrel::ui {

// The picture at path, upright, scaled down (never up) to fit within box.
// A null image when it cannot be decoded; error then says why.
QImage DecodePictureToFit(const QString& path, QSize box, QString* error = nullptr);

// Shows the picture at path in label, fitted to the label's size. False, and
// the label cleared, when it does not decode.
bool ShowPictureIn(QLabel* label, const QString& path);

}  // namespace kestrel::ui
