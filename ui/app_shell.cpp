#include "ui/app_shell.h"

#include <QImageReader>
#include <QProcess>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "app/language_table.h"

#include "catalogue/scan_log_paths.h"

namespace kestrel::ui {
namespace {

// Our own children: a PID is only signalled while its QProcess says it runs,
// so a number the system has given to another program is never hit.
std::vector<std::unique_ptr<QProcess>>& Players() {
  static std::vector<std::unique_ptr<QProcess>> players;
  return players;
}

}  // namespace

QStringList MissingImageFormats() {
  const QList<QByteArray> supported = QImageReader::supportedImageFormats();
  QStringList missing;
  for (const char* format : {"jpeg", "png", "gif", "bmp"})
    if (!supported.contains(QByteArray(format))) missing << QString::fromLatin1(format).toUpper();
  return missing;
}

QString PlayerCommand() {
  const std::filesystem::path config = LanguageTable::Instance().configPath();
  std::ifstream in(config, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const IniSections sections = ParseIni(text.str());
  if (auto player = sections.find("Player"); player != sections.end())
    if (auto command = player->second.find("Command"); command != player->second.end() && !command->second.empty())
      return QString::fromStdString(command->second);
  return QStringLiteral("xdg-open");
}

bool StartPlayer(const QString& file, QString* error) {
  QStringList words = QProcess::splitCommand(PlayerCommand());
  if (words.isEmpty()) words << QStringLiteral("xdg-open");
  const QString program = words.takeFirst();
  auto player = std::make_unique<QProcess>();
  player->setProgram(program);
  player->setArguments(words << file);
  player->setProcessChannelMode(QProcess::ForwardedChannels);
  player->start();
  if (!player->waitForStarted(5000)) {
    if (error) *error = player->errorString();
    return false;
  }
  // Players that already ended are forgotten.
  std::erase_if(Players(), [](const auto& p) { return p->state() == QProcess::NotRunning; });
  Players().push_back(std::move(player));
  return true;
}

int EndPlayerProcesses() {
  int ended = 0;
  for (const auto& player : Players()) {
    if (player->state() != QProcess::Running) continue;
    player->terminate();  // SIGTERM to its PID
    if (!player->waitForFinished(2000)) {
      player->kill();
      player->waitForFinished(1000);
    }
    ++ended;
  }
  Players().clear();
  return ended;
}

void RemovePreviewFiles() {
  std::error_code ec;
  const std::filesystem::path folder = ScanLogRoot();
  for (const char* name : {"tmp.jpg", "tmp.avi"}) std::filesystem::remove(folder / name, ec);
}

}  // namespace kestrel::ui
