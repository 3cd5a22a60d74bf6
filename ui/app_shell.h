// Start-up checks and shutdown chores of the desktop application: the image
// plugins the window needs, the players Kestrel started, the temporary
// preview files.
#pragma once

#include <QString>
#include <QStringList>

namespace kestrel::ui {

// The formats among JPEG, PNG, GIF and BMP that Qt cannot read here.
QStringList MissingImageFormats();

// Players started for a preview register their PID; at exit only those are
// ended (never another program of the same name).
void RegisterPlayerProcess(qint64 pid);
// Ends every registered player that still runs; returns how many were signalled.
int EndPlayerProcesses();

// Removes the temporary preview files in the scan-log folder.
void RemovePreviewFiles();

}  // namespace kestrel::ui
