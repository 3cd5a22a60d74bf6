#include "ui/app_shell.h"

#include <signal.h>

#include <QImageReader>
#include <mutex>
#include <vector>

#include "catalogue/scan_log_paths.h"

namespace kestrel::ui {
namespace {

std::mutex g_playersMutex;
std::vector<qint64> g_players;

}  // namespace

QStringList MissingImageFormats() {
  const QList<QByteArray> supported = QImageReader::supportedImageFormats();
  QStringList missing;
  for (const char* format : {"jpeg", "png", "gif", "bmp"})
    if (!supported.contains(QByteArray(format))) missing << QString::fromLatin1(format).toUpper();
  return missing;
}

void RegisterPlayerProcess(qint64 pid) {
  std::lock_guard lock(g_playersMutex);
  g_players.push_back(pid);
}

int EndPlayerProcesses() {
  std::lock_guard lock(g_playersMutex);
  int ended = 0;
  for (qint64 pid : g_players)
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), SIGTERM) == 0) ++ended;
  g_players.clear();
  return ended;
}

void RemovePreviewFiles() {
  std::error_code ec;
  const std::filesystem::path folder = ScanLogRoot();
  for (const char* name : {"tmp.jpg", "tmp.avi"}) std::filesystem::remove(folder / name, ec);
}

}  // namespace kestrel::ui
