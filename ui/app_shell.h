// Start-up checks and shutdown chores of the desktop application: the image
// plugins the window needs, the players Kestrel started, the temporary
// preview files.
#pragma once

#include <QString>
#include <QStringList>

namespace kestrel::ui {

// The formats among JPEG, PNG, GIF and BMP that Qt cannot read here.
QStringList MissingImageFormats();

// The command that plays audio and video: "Command" of the "Player" section
// of config.ini, "xdg-open" when it names none.
QString PlayerCommand();

// Starts the player on file as a child process of ours and keeps it by its
// PID. False, with error, when it cannot be started.
bool StartPlayer(const QString& file, QString* error = nullptr);
// Ends every player we started, with what it started in turn, by its process
// group (never another program of the same name); returns how many players
// still had something running.
int EndPlayerProcesses();

// Removes the temporary preview files in the scan-log folder.
void RemovePreviewFiles();

}  // namespace kestrel::ui
