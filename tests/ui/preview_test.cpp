// Preview: pictures shown upright and at the size shown, an undecodable
// picture turned into the cannot-preview text, other files as text (the
// first 20 MiB of a longer one), stepping over the photos of the list with
// wrapping, and "recover this file" handing over the shown file.
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "catalogue/scan_log_paths.h"
#include "support/fake_engine.h"
#include "ui/picture_view.h"
#include "ui/preview.h"
#include "ui_test_support.h"

using namespace kestrel;
using namespace kestrel::ui;
using namespace kestrel::ui::testing;

namespace {

// A picture with four differently coloured quarters, so orientation and
// scaling can be checked by the colour at each corner.
QImage Quarters(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.setPixel(x, y, x < width / 2 ? (y < height / 2 ? 0xFF0000 : 0x00FF00) : (y < height / 2 ? 0x0000FF : 0xFFFF00));
  return image;
}

std::vector<uint8_t> Encoded(const QImage& image, const char* format, int exifOrientation = 0) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.write(image);
  if (exifOrientation != 0) {
    // An APP1 EXIF segment right after SOI with one IFD entry: Orientation.
    QByteArray exif("Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\0\0\0\0\0\0\0", 32);
    exif[25] = char(exifOrientation);
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((exif.size() + 2) >> 8)).append(char((exif.size() + 2) & 0xFF)).append(exif);
    bytes.insert(2, segment);
  }
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool Near(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) < 60 && std::abs(qGreen(a) - qGreen(b)) < 60 && std::abs(qBlue(a) - qBlue(b)) < 60;
}

}  // namespace

class PreviewTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { UseTemporaryUserFolders(); }

  void pictureIsDecodedUprightAndNoLargerThanShown() {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/turned.jpg");
    // Stored 400x200, marked "turn 90 degrees clockwise to show".
    const std::vector<uint8_t> bytes = Encoded(Quarters(400, 200), "jpeg", 6);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    file.close();
    const QImage shown = DecodePictureToFit(path, QSize(50, 50));
    QCOMPARE(shown.size(), QSize(25, 50));  // upright: tall, fitted into the box
    // Turned clockwise, the stored bottom-left (green) comes to the top left.
    QVERIFY(Near(shown.pixel(2, 2), 0x00FF00));
    QVERIFY(Near(shown.pixel(22, 47), 0x0000FF));

    QString error;
    QFile::resize(path, 0);
    QVERIFY(DecodePictureToFit(path, QSize(50, 50), &error).isNull());
    QVERIFY(!error.isEmpty());
  }

  void previewShowsPicturesAndSaysWhenOneCannotBeShown() {
    test::FakeEngine engine;
    std::vector<PreviewEntry> entries;
    auto add = [&](const char* name, std::vector<uint8_t> bytes) {
      engine.contents[name] = std::move(bytes);
      entries.push_back({engine.Add(nullptr, name, false), &engine});
    };
    add("photo.jpg", Encoded(Quarters(640, 480), "jpeg"));
    add("shot.png", Encoded(Quarters(64, 48), "png"));
    // A JPEG whose frame header has a length of zero: no decoder gets past it.
    add("broken.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x00, 0x08, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xD9});
    PreviewWindow window(nullptr, entries, {});
    window.resize(500, 400);
    window.show();

    window.ShowEntry(0);
    QVERIFY(window.showingPicture());
    const QPixmap jpeg = window.findChild<QLabel*>(QStringLiteral("PreviewPicture"))->pixmap();
    QVERIFY(jpeg.width() <= 500 && jpeg.width() > 100);
    QCOMPARE(jpeg.width() * 3, jpeg.height() * 4);  // the photo's own shape
    const QImage jpegImage = jpeg.toImage();
    QVERIFY(Near(jpegImage.pixel(3, 3), 0xFF0000));
    QVERIFY(Near(jpegImage.pixel(jpeg.width() - 3, jpeg.height() - 3), 0xFFFF00));

    window.ShowEntry(1);
    QVERIFY(window.showingPicture());
    const QImage png = window.findChild<QLabel*>(QStringLiteral("PreviewPicture"))->pixmap().toImage();
    QCOMPARE(png.size(), QSize(64, 48));  // small pictures are not blown up
    QCOMPARE(png.pixel(60, 2) & 0xFFFFFF, 0x0000FFu);

    window.ShowEntry(0);
    const std::filesystem::path temporary = ScanLogRoot() / "tmp.jpg";
    QVERIFY(std::filesystem::exists(temporary));  // in the scan-log folder, not beside the user's files
    window.ShowEntry(2);
    QVERIFY(!window.showingPicture());
    QCOMPARE(window.shownText(), QStringLiteral("\r\nCan not preview the picture!\r\n"));
  }

  void closingThePreviewRemovesItsPictureFile() {
    test::FakeEngine engine;
    engine.contents["photo.jpg"] = Encoded(Quarters(16, 16), "jpeg");
    {
      PreviewWindow window(nullptr, {{engine.Add(nullptr, "photo.jpg", false), &engine}}, {});
      window.ShowEntry(0);
      QVERIFY(std::filesystem::exists(ScanLogRoot() / "tmp.jpg"));
    }
    QVERIFY(!std::filesystem::exists(ScanLogRoot() / "tmp.jpg"));
  }

  void nextAndPreviousWrapOverThePhotosOnly() {
    test::FakeEngine engine;
    std::vector<PreviewEntry> entries;
    for (const char* name : {"a.jpg", "b.png", "notes.txt", "c.jpg"}) {
      engine.contents[name] = std::string_view(name).ends_with(".txt") ? std::vector<uint8_t>{'h', 'i', 0, '!'}
                                                                       : Encoded(Quarters(8, 8), "png");
      entries.push_back({engine.Add(nullptr, name, false), &engine});
    }
    std::vector<std::string> recovered;
    PreviewWindow window(nullptr, entries, [&](const PreviewEntry& entry) { recovered.emplace_back(entry.record.Name()); });
    window.ShowEntry(3);
    window.Next();
    QCOMPARE(window.current(), 0);  // the last photo wraps to the first
    window.Previous();
    QCOMPARE(window.current(), 3);
    window.Previous();
    QCOMPARE(window.current(), 1);  // the text file is stepped over

    // A text file shows as text, without the stepping bars.
    window.ShowEntry(2);
    QCOMPARE(window.shownText(), QStringLiteral("hi.!\n"));  // the pane keeps one line break per line
    QVERIFY(window.findChild<QWidget*>(QStringLiteral("NextBar"))->isHidden());
    window.Next();
    QCOMPARE(window.current(), 3);
    QVERIFY(!window.findChild<QWidget*>(QStringLiteral("NextBar"))->isHidden());

    window.findChild<QPushButton*>(QStringLiteral("RecoveryBtn"))->click();
    QCOMPARE(recovered, std::vector<std::string>{"c.jpg"});
  }

  void longDocumentShowsItsFirst20MiBAsText() {
    test::FakeEngine engine;
    std::vector<uint8_t> document(30u << 20, 'x');
    document[0] = 0;               // a zero byte shows as "."
    document[(20u << 20) - 1] = 'E';  // the last byte shown
    document[20u << 20] = 'Z';        // the first byte left out
    engine.contents["big.doc"] = std::move(document);
    PreviewWindow window(nullptr, {{engine.Add(nullptr, "big.doc", false), &engine}}, {});
    window.ShowEntry(0);
    auto* text = window.findChild<QPlainTextEdit*>(QStringLiteral("PreviewEdit"));
    // 20 MiB in lines of 1,024 bytes.
    const QTextDocument* shown = text->document();
    QVERIFY(shown->blockCount() >= 20 * 1024 && shown->blockCount() <= 20 * 1024 + 1);
    QVERIFY(shown->firstBlock().text().startsWith(QStringLiteral(".xxx")));
    QCOMPARE(shown->firstBlock().text().size(), 1024);
    QVERIFY(shown->findBlockByNumber(20 * 1024 - 1).text().startsWith(QStringLiteral("xxx")));
    QVERIFY(shown->findBlockByNumber(20 * 1024 - 1).text().contains(QLatin1Char('E')));
    QVERIFY(!text->toPlainText().contains(QLatin1Char('Z')));
  }

  void bufferTextFormat() {
    const uint8_t bytes[] = {'a', 0, 0xE9, 'b'};
    QCOMPARE(PreviewBufferText(bytes, 4), QString::fromUtf16(u"a.\u00E9b\r\n"));
    std::vector<uint8_t> line(1024, 'q');
    const QString one = PreviewBufferText(line.data(), line.size());
    QCOMPARE(one.size(), 1026);  // no second line break after the full line
    QVERIFY(one.endsWith(QStringLiteral("q\r\n")));
    line.push_back('r');
    QVERIFY(PreviewBufferText(line.data(), line.size()).endsWith(QStringLiteral("q\r\nr\r\n")));
  }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
