// A job's progress window: a modal dialog built from the job's layout that
// implements the job view. Changes from the worker are queued onto the GUI
// thread with the window as their guard object, so a closed window never
// receives a late update; cancel buttons and closing the window put the
// job's cancel question.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string_view>

#include "app/jobs/job.h"
#include "app/jobs/job_view.h"

namespace kestrel::ui {

class JobWindow : public QDialog, public IJobView {
  Q_OBJECT
 public:
  // layout: the .ui under xml/; section: its language section.
  JobWindow(QWidget* owner, const QString& layout, std::string_view section, int width, int height);
  ~JobWindow() override;

  // Creates the job with this window as its view, starts it, runs the window
  // modally until the job closes it, and returns the job's result.
  int Run(const std::function<std::unique_ptr<Job>(IJobView&)>& makeJob);

  // Keeps the window hidden after Run starts the job until Reveal (from any
  // thread) or the job's end: a scan settles its saved-scan question, asked
  // over the main window, before its progress is shown.
  void StayHiddenUntilRevealed() { revealLater_ = true; }
  void Reveal();

  void SetText(std::string_view control, const std::string& text) override;
  void SetValue(std::string_view control, int value) override;
  void SetVisible(std::string_view control, bool visible) override;
  bool Ask(const std::string& question) override;
  void Close(int result) override;

  Job* job() const { return job_.get(); }

 signals:
  void jobClosed(int result);
  void revealRequested();

 protected:
  void reject() override;  // Esc or the window's close button

 private:
  void OnCancelClicked();
  void ApplyText(const QString& control, const QString& text);
  void ToggleDetails();

  std::unique_ptr<Job> job_;
  bool closedByJob_ = false;
  bool detailsShown_ = false;
  bool revealLater_ = false;
  QSize compactSize_;
};

}  // namespace kestrel::ui
