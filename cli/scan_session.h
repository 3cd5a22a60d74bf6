// Running a scan from the command line, shared by `scan` and `recover`:
// SOURCE and the deep-scan flags, the source resolved once, the truncation
// warning, a progress line on stderr while it is a terminal, and the scan's
// outcome as messages and an exit code.
#pragma once

#include <memory>
#include <string>

#include "app/scan_session.h"
#include "engines/file_recovery_parse.h"
#include "engines/scan_source.h"

namespace CLI {
class App;
}  // namespace CLI

namespace kestrel::cli {

// What `scan` and `recover` take alike: SOURCE and the deep-scan flags.
struct ScanArguments {
  std::string source;
  bool deep = false;
  bool resume = false;
  bool restart = false;
  ScanOptions options() const;
};

// Adds SOURCE (required), --deep, --resume and --restart to command.
void AddScanArguments(CLI::App& command, ScanArguments& arguments);

// Resolves arguments.source; prints why and returns false when it cannot be used.
bool ResolveScanSource(const ScanArguments& arguments, ScanSource& source);

// Warns when the source is short of its volume, then creates the engine and
// scans. Prints its own message on failure and returns the exit code
// (kExitOk, kExitUsage or kExitInterrupted); engine is set on success.
int RunScan(const ScanSource& source, const ScanOptions& options, std::unique_ptr<IFileRecoveryParse>& engine);

}  // namespace kestrel::cli
