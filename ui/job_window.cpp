#include "ui/job_window.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/form_loader.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace kestrel::ui {

JobWindow::JobWindow(QWidget* owner, const QString& layout, std::string_view section, int width, int height)
    : QDialog(owner) {
  QWidget* form = LoadForm(layout, this);
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(8, 8, 8, 8);
  box->addWidget(form);
  ApplySection(this, section);
  setWindowTitle(QStringLiteral("Kestrel"));
  setModal(true);
  setMinimumWidth(width);
  resize(width, height);

  for (const char* name : {"cancelbtn", "CancelBtn", "closebtn"})
    if (auto* button = Control<QPushButton>(this, name))
      connect(button, &QPushButton::clicked, this, &JobWindow::OnCancelClicked);
  if (auto* finish = Control<QPushButton>(this, "FinishBtn")) {
    finish->hide();
    connect(finish, &QPushButton::clicked, this, [this] { done(kJobDone); });
  }
  if (auto* details = Control<QTreeWidget>(this, "DetailList")) {
    details->hide();
    // Names are short, reasons long: the name keeps its width, the reason
    // takes the rest, and both show whole in their tooltips.
    details->header()->setStretchLastSection(true);
    details->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    details->setColumnWidth(0, 200);
  }
  if (auto* detailBtn = Control<QPushButton>(this, "DetailBtn"))
    connect(detailBtn, &QPushButton::clicked, this, &JobWindow::ToggleDetails);
  // Shown by the job once it has something to say in them.
  for (const char* hidden : {"rate", "error"})
    if (auto* label = Control<QLabel>(this, hidden)) label->hide();
}

JobWindow::~JobWindow() {
  // The job holds a reference to this view: its worker must be gone first.
  if (job_) {
    job_->Cancel();
    job_->Wait();
  }
}

int JobWindow::Run(const std::function<std::unique_ptr<Job>(IJobView&)>& makeJob) {
  job_ = makeJob(*this);
  if (!job_) return kJobFailed;
  job_->Start();
  if (revealLater_) {
    // User input waits while the window is hidden; a question the worker
    // asks meanwhile runs its own modal loop and takes input as usual.
    QEventLoop hidden;
    connect(this, &JobWindow::revealRequested, &hidden, &QEventLoop::quit);
    connect(this, &JobWindow::jobClosed, &hidden, &QEventLoop::quit);
    hidden.exec(QEventLoop::ExcludeUserInputEvents);
    if (closedByJob_) return job_->Wait();
  }
  const int windowResult = exec();
  const int jobResult = job_->Wait();
  // A window closed by its own buttons (Finish) reports its result; one the
  // worker closed reports the job's.
  return closedByJob_ ? jobResult : windowResult;
}

void JobWindow::Reveal() {
  QMetaObject::invokeMethod(this, &JobWindow::revealRequested, Qt::QueuedConnection);
}

void JobWindow::ApplyText(const QString& control, const QString& text) {
  QObject* target = findChild<QObject*>(control);
  if (auto* label = qobject_cast<QLabel*>(target)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QPushButton*>(target)) {
    button->setText(text);
  } else if (auto* list = qobject_cast<QTreeWidget*>(target)) {
    // One detail row per text: "ok|failed<TAB>path<TAB>status"; failures
    // are listed above the successes, in red.
    QStringList columns = text.split(QLatin1Char('\t'));
    const bool failed = columns.value(0) == QLatin1String("failed");
    if (columns.size() > 2) columns.removeFirst();
    const QString path = columns.value(0);
    columns[0] = path.section(QLatin1Char('/'), -1);
    auto* row = new QTreeWidgetItem(columns);
    row->setToolTip(0, path);
    row->setToolTip(1, columns.value(1));
    if (failed) {
      for (int c = 0; c < row->columnCount(); ++c) row->setForeground(c, QColor(0xD0, 0x20, 0x20));
      list->insertTopLevelItem(0, row);
    } else {
      list->addTopLevelItem(row);
    }
  }
}

void JobWindow::SetText(std::string_view control, const std::string& text) {
  QMetaObject::invokeMethod(
      this, [this, name = QString::fromUtf8(control.data(), control.size()), value = QString::fromStdString(text)] {
        ApplyText(name, value);
      },
      Qt::QueuedConnection);
}

void JobWindow::SetValue(std::string_view control, int value) {
  QMetaObject::invokeMethod(
      this, [this, name = QString::fromUtf8(control.data(), control.size()), value] {
        if (auto* bar = findChild<QProgressBar*>(name)) bar->setValue(value);
      },
      Qt::QueuedConnection);
}

void JobWindow::SetVisible(std::string_view control, bool visible) {
  QMetaObject::invokeMethod(
      this, [this, name = QString::fromUtf8(control.data(), control.size()), visible] {
        if (auto* widget = findChild<QWidget*>(name)) widget->setVisible(visible);
      },
      Qt::QueuedConnection);
}

bool JobWindow::Ask(const std::string& question) {
  const QString text = QString::fromStdString(question);
  if (QThread::currentThread() == thread())
    return ShowMessageBox(BoxKind::kQuestion, this, text, 350, 150) == kBoxOk;
  // A worker's question (a saved deep scan to resume): the worker waits for
  // the answer while the GUI thread shows the box, over the main window
  // while this one is still hidden.
  bool yes = false;
  QMetaObject::invokeMethod(
      this,
      [this, text, &yes] {
        QWidget* owner = isVisible() || !parentWidget() ? static_cast<QWidget*>(this) : parentWidget();
        yes = ShowMessageBox(BoxKind::kQuestion, owner, text, 350, 150) == kBoxOk;
      },
      Qt::BlockingQueuedConnection);
  return yes;
}

void JobWindow::Close(int result) {
  QMetaObject::invokeMethod(
      this,
      [this, result] {
        closedByJob_ = true;
        emit jobClosed(result);
        // A window with a Finish button stays open on success so the user
        // can read the outcome; the job has shown Finish by then.
        auto* finish = Control<QPushButton>(this, "FinishBtn");
        if (finish && finish->isVisible() && result == kJobDone) return;
        done(result);
      },
      Qt::QueuedConnection);
}

void JobWindow::OnCancelClicked() {
  auto* finish = Control<QPushButton>(this, "FinishBtn");
  if (finish && finish->isVisible()) {
    done(kJobDone);
    return;
  }
  if (!job_ || job_->finished()) return;
  // Waits for the worker after a yes; the worker's close arrives queued.
  job_->AskToCancel();
}

void JobWindow::reject() { OnCancelClicked(); }

void JobWindow::ToggleDetails() {
  auto* list = Control<QTreeWidget>(this, "DetailList");
  if (!list) return;
  detailsShown_ = !detailsShown_;
  if (detailsShown_) {
    compactSize_ = size();
    list->show();
    resize(compactSize_ + QSize(150, 300));
  } else {
    list->hide();
    resize(compactSize_);
  }
}

}  // namespace kestrel::ui
