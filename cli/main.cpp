// kestrel-cli: the scripting front end. Argument parsing only; the work is in libkestrel.
#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/messages.h"

int main(int argc, char** argv) {
  CLI::App app{"Kestrel: find and recover deleted and lost files", "kestrel-cli"};
  app.require_subcommand(1);
  int exitCode = kestrel::cli::kExitOk;
  kestrel::cli::AddProbeCommand(app, exitCode);
  kestrel::cli::AddIdentifyCommand(app, exitCode);
  kestrel::cli::AddScanCommand(app, exitCode);
  kestrel::cli::AddRecoverCommand(app, exitCode);
  kestrel::cli::AddSourcesCommand(app, exitCode);
  kestrel::cli::AddImageCommand(app, exitCode);
  kestrel::cli::AddMountCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kestrel::cli::kExitUsage;
  }
  return exitCode;
}
