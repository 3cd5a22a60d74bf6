// Looking at a found file before recovering it: the extraction job behind its
// small progress window, the text form of a file that is not a picture, and
// the preview window that steps through the photos of the current list.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "catalogue/found_file_record.h"
#include "engines/file_recovery_parse.h"

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

namespace kestrel::ui {

struct PreviewData {
  bool cancelled = false;
  int error = 0;             // the engine's answer; nothing usable when not 0
  QString tempPath;          // pictures and media; empty when the data is in buffer
  std::vector<uint8_t> buffer;
  uint32_t bytes = 0;        // used part of buffer
};

// Extracts record through engine. The progress window (with its cancel)
// appears only when the extraction takes longer than a moment.
PreviewData ExtractForPreview(QWidget* owner, IFileRecoveryParse& engine, const FoundFileRecord& record);

// The text form of a buffer: each byte one character of that code, a zero
// byte as ".", a line break after every 1,024 bytes and at the end.
QString PreviewBufferText(const uint8_t* data, size_t size);

// One entry of the preview window's list.
struct PreviewEntry {
  FoundFileRecord record;
  IFileRecoveryParse* engine = nullptr;
};

class PreviewWindow : public QDialog {
  Q_OBJECT
 public:
  // entries: the files of the current list, in list order; recover: runs the
  // recovery of one entry (single-item mode).
  PreviewWindow(QWidget* owner, std::vector<PreviewEntry> entries, std::function<void(const PreviewEntry&)> recover);
  ~PreviewWindow() override;

  // Extracts entry index and shows it (picture, text, or the cannot-preview text).
  void ShowEntry(int index);
  void Next() { Step(true); }
  void Previous() { Step(false); }
  int current() const { return current_; }
  bool showingPicture() const;
  QString shownText() const;

 signals:
  void entryShown(int index, bool picture);

 private:
  void Step(bool forward);
  void Display(const PreviewData& data);

  std::vector<PreviewEntry> entries_;
  std::function<void(const PreviewEntry&)> recover_;
  int current_ = -1;
  QString tempPath_;  // the picture shown, removed when the window closes
  QStackedWidget* stack_ = nullptr;
  QLabel* picture_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
};

}  // namespace kestrel::ui
