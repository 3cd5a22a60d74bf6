#include "ui/preview.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/jobs/preview_job.h"
#include "catalogue/categories.h"
#include "ui/form_loader.h"
#include "ui/job_window.h"
#include "ui/picture_view.h"
#include "ui/texts.h"
#include "ui/thumbnails.h"

namespace kestrel::ui {
namespace {

constexpr int kShowProgressAfterMs = 400;  // quick extractions show no window at all
constexpr size_t kPreviewLineBytes = 1024;

QString NameOf(const FoundFileRecord& record) {
  return QString::fromUtf8(record.Name().data(), qsizetype(record.Name().size()));
}

}  // namespace

PreviewData ExtractForPreview(QWidget* owner, IFileRecoveryParse& engine, const FoundFileRecord& record) {
  PreviewData data;
  JobWindow window(owner, QStringLiteral("PreviewProcessWnd"), "PreviewProcessWnd", 360, 150);
  window.StayHiddenUntilRevealed();
  QTimer::singleShot(kShowProgressAfterMs, &window, [&window] { window.Reveal(); });
  const int result = window.Run([&](IJobView& view) {
    return std::make_unique<PreviewJob>(view, LanguageTable::Instance(), engine, record);
  });
  auto* job = static_cast<PreviewJob*>(window.job());
  data.cancelled = result == kJobCancelled;
  data.error = job->error();
  data.tempPath = QString::fromStdString(job->tempPath().string());
  data.buffer = job->buffer();
  data.bytes = job->bufferBytes();
  return data;
}

QString PreviewBufferText(const uint8_t* data, size_t size) {
  QString text;
  text.reserve(qsizetype(size + 2 * (size / kPreviewLineBytes) + 2));
  for (size_t i = 0; i < size; ++i) {
    text += data[i] == 0 ? QChar(u'.') : QChar(char16_t(data[i]));
    if ((i + 1) % kPreviewLineBytes == 0) text += QStringLiteral("\r\n");
  }
  if (!text.endsWith(QStringLiteral("\r\n"))) text += QStringLiteral("\r\n");
  return text;
}

PreviewWindow::PreviewWindow(QWidget* owner, std::vector<PreviewEntry> entries,
                             std::function<void(const PreviewEntry&)> recover)
    : QDialog(owner), entries_(std::move(entries)), recover_(std::move(recover)) {
  setObjectName(QStringLiteral("PreviewWnd"));
  QWidget* form = LoadForm(QStringLiteral("PreviewWnd"), this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(form);
  ApplySection(this, "PreviewWnd");
  setWindowTitle(QStringLiteral("Kestrel"));
  resize(760, 560);
  stack_ = Control<QStackedWidget>(this, "PreviewStack");
  picture_ = Control<QLabel>(this, "PreviewPicture");
  text_ = Control<QPlainTextEdit>(this, "PreviewEdit");
  if (auto* prev = Control<QAbstractButton>(this, "PrevBtn"))
    connect(prev, &QAbstractButton::clicked, this, &PreviewWindow::Previous);
  if (auto* next = Control<QAbstractButton>(this, "NextBtn"))
    connect(next, &QAbstractButton::clicked, this, &PreviewWindow::Next);
  if (auto* close = Control<QPushButton>(this, "CancelBtn")) connect(close, &QPushButton::clicked, this, [this] { done(2); });
  if (auto* recoverBtn = Control<QPushButton>(this, "RecoveryBtn"))
    connect(recoverBtn, &QPushButton::clicked, this, [this] {
      if (recover_ && current_ >= 0) recover_(entries_[current_]);
    });
}

PreviewWindow::~PreviewWindow() {
  // The picture's temporary file goes with the window; a media file may
  // still be open in a player and stays.
  if (!tempPath_.isEmpty()) QFile::remove(tempPath_);
}

bool PreviewWindow::showingPicture() const { return stack_ && stack_->currentWidget() == picture_ && picture_->pixmap().width() > 0; }

QString PreviewWindow::shownText() const {
  if (stack_ && stack_->currentWidget() == text_) return text_->toPlainText();
  return picture_ ? picture_->text() : QString();
}

void PreviewWindow::Step(bool forward) {
  std::vector<std::string_view> names;
  names.reserve(entries_.size());
  for (const PreviewEntry& entry : entries_) names.push_back(entry.record.Name());
  const int next = NextPhotoIndex(names, current_, forward);
  if (next >= 0) ShowEntry(next);
}

void PreviewWindow::ShowEntry(int index) {
  if (index < 0 || index >= int(entries_.size()) || !entries_[index].engine) return;
  current_ = index;
  const PreviewEntry& entry = entries_[index];
  if (auto* name = Control<QLabel>(this, "FileName")) name->setText(NameOf(entry.record));
  if (picture_) picture_->clear();
  if (text_) text_->clear();
  std::lock_guard engineLock(EngineAccessLock());
  const PreviewData data = ExtractForPreview(this, *entry.engine, entry.record);
  if (data.cancelled) return;
  Display(data);
}

void PreviewWindow::Display(const PreviewData& data) {
  const bool bufferMode = data.error == 0 && data.tempPath.isEmpty();
  // Stepping goes over photos; a file shown as text has nothing to step in.
  for (const char* bar : {"PrevBar", "NextBar"})
    if (auto* widget = Control<QWidget>(this, bar)) widget->setVisible(!bufferMode);
  if (bufferMode) {
    text_->setPlainText(PreviewBufferText(data.buffer.data(), data.bytes));
    stack_->setCurrentWidget(text_);
    emit entryShown(current_, false);
    return;
  }
  stack_->setCurrentWidget(picture_);
  if (!data.tempPath.isEmpty()) tempPath_ = data.tempPath;
  const bool shown = data.error == 0 && ShowPictureIn(picture_, data.tempPath);
  if (!shown) picture_->setText(QStringLiteral("\r\nCan not preview the picture!\r\n"));
  emit entryShown(current_, shown);
}

}  // namespace kestrel::ui
