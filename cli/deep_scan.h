// `scan --deep` and `recover --deep`: the deep composite with its resume
// question, a progress line with sectors, files and time left, and Ctrl-C
// that stops the scan cleanly so that it can be resumed.
#pragma once

#include <memory>

#include "cli/source.h"
#include "engines/file_recovery_parse.h"

namespace kestrel::cli {

// What to do with a saved, unfinished deep scan of the source.
enum class ResumeChoice { kAsk, kResume, kRestart };

// Exit code of a deep scan stopped by Ctrl-C (its state saved).
inline constexpr int kExitInterrupted = 130;

// Creates the deep engine, settles the resume question and scans. Prints its
// own messages; returns kExitOk (engine set), kExitUsage or kExitInterrupted.
int RunDeepScan(const Source& source, ResumeChoice choice, std::unique_ptr<IFileRecoveryParse>& engine);

}  // namespace kestrel::cli
