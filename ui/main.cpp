// kestrel: the desktop application's entry. Start-up in order: crash
// handler, single instance, image plugins, main window; at exit the players
// Kestrel started and the temporary preview files go.
#include <QApplication>
#include <QMessageBox>

#include "ui/app_shell.h"
#include "ui/crash_report.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/single_instance.h"

int main(int argc, char** argv) {
  kestrel::ui::InstallCrashHandler();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrel"));
  QApplication::setApplicationVersion(QStringLiteral(KESTREL_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("io.github.kestrel.Kestrel"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.svg")));

  kestrel::ui::SingleInstance instance(qEnvironmentVariable("KESTREL_INSTANCE_KEY", QStringLiteral("kestrel")));
  if (!instance.Claim()) {
    // The first window comes forward; when it cannot be reached, say so.
    if (!instance.RaiseFirst())
      kestrel::ui::ShowMessageBox(kestrel::ui::BoxKind::kInformation, nullptr, QStringLiteral("Kestrel is running."),
                                  350, 150);
    return 0;
  }

  const QStringList missing = kestrel::ui::MissingImageFormats();
  if (!missing.isEmpty()) {
    QMessageBox::information(nullptr, QStringLiteral("Information"),
                             QStringLiteral("Image format support failed to load (%1), the application can not complete "
                                            "initialization!")
                                 .arg(missing.join(QStringLiteral(", "))));
    return 0;
  }

  kestrel::ui::MainWindow window;
  QObject::connect(&instance, &kestrel::ui::SingleInstance::raiseRequested, &window, [&window] {
    window.showNormal();
    window.raise();
    window.activateWindow();
  });
  // Images named on the command line are listed ready to scan.
  const QStringList arguments = QApplication::arguments().mid(1);
  for (const QString& image : arguments) window.AddImage(image);
  if (!arguments.isEmpty()) {
    window.SetMode(0);
    window.ShowPage(kestrel::ui::kPageSources);
  }
  window.show();
  const int status = app.exec();

  kestrel::ui::EndPlayerProcesses();
  kestrel::ui::RemovePreviewFiles();
  return status;
}
