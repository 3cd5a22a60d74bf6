#include "ui/app_shell.h"

#include <unistd.h>

#include <QImageReader>
#include <QProcess>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "app/language_table.h"

#include "catalogue/scan_log_paths.h"
#include "platform/process_group.h"

namespace kestrel::ui {
namespace {

// A player we started leads a process group of its own, so what it starts
// (xdg-open hands the file to the real player and exits) is in that group
// too and is ended with it. Only members started after the player are
// signalled: a group number the system has since given to others is left alone.
struct Player {
  std::unique_ptr<QProcess> process;
  pid_t group = 0;
  uint64_t startedSince = 0;
};

std::vector<Player>& Players() {
  static std::vector<Player> players;
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
  player->setChildProcessModifier([] { ::setpgid(0, 0); });
  player->start();
  if (!player->waitForStarted(5000)) {
    if (error) *error = player->errorString();
    return false;
  }
  // Players whose whole group has ended are forgotten.
  std::erase_if(Players(), [](const Player& p) {
    return p.process->state() == QProcess::NotRunning && LiveGroupMembers(p.group, p.startedSince).empty();
  });
  // The leader is not reaped before the event loop hears of its end, so its
  // start time is still readable even when it has already exited.
  const pid_t group = pid_t(player->processId());
  const uint64_t since = ProcessStartTicks(group);
  Players().push_back({std::move(player), group, since});
  return true;
}

int EndPlayerProcesses() {
  int ended = 0;
  for (Player& player : Players()) {
    if (EndProcessGroup(player.group, player.startedSince)) ++ended;
    // The leader is our child: reap it so its PID is free again.
    if (player.process->state() != QProcess::NotRunning && !player.process->waitForFinished(1000)) {
      player.process->kill();
      player.process->waitForFinished(1000);
    }
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
