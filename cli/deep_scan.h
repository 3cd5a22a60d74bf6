// The terminal side of `scan --deep` and `recover --deep`: the resume
// question, a progress line with sectors, files and time left, Ctrl-C that
// stops the scan cleanly so that it can be resumed, and the messages after.
#pragma once

#include <filesystem>

#include "app/scan_session.h"
#include "cli/progress_line.h"

namespace kestrel::cli {

// Exit code of a deep scan stopped by Ctrl-C (its state saved).
inline constexpr int kExitInterrupted = 130;

// Hooks for app's RunScan: ask on the terminal whether to continue a saved
// scan of source (or say on stderr that it continues), stop on Ctrl-C while
// the pass runs, and draw the progress on line.
ScanHooks DeepScanHooks(const std::filesystem::path& source, ProgressLine& line);

// Says on stderr whether the stopped deep scan can be continued.
void PrintDeepScanStopped(bool stateSaved);

}  // namespace kestrel::cli
