// The terminal side of `scan --deep` and `recover --deep`: the resume
// question and the messages after a scan stopped by Ctrl-C.
#pragma once

#include <filesystem>


namespace kestrel::cli {

// Exit code of a deep scan stopped by Ctrl-C (its state saved).
inline constexpr int kExitInterrupted = 130;

// Asks on the terminal whether to continue the saved scan of source, or,
// without a terminal, says on stderr that it continues. True continues it.
bool AskResumeOnTerminal(const std::filesystem::path& source);

// Says on stderr whether the stopped deep scan can be continued.
void PrintDeepScanStopped(bool stateSaved);

}  // namespace kestrel::cli
