// kestrel-cli: the scripting front end. Argument parsing only; the work is in libkestrel.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"

namespace {

// The subcommands' names, "probe, identify, ...", or whether word is one of them.
std::string CommandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    names += (names.empty() ? "" : ", ") + command->get_name();
  }
  return names;
}

bool IsCommand(const CLI::App& app, const std::string& word) {
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (command->get_name() == word) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Kestrel: find and recover deleted and lost files", "kestrel-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("kestrel-cli ") + KESTREL_VERSION);
  int exitCode = kestrel::cli::kExitOk;
  kestrel::cli::AddProbeCommand(app, exitCode);
  kestrel::cli::AddIdentifyCommand(app, exitCode);
  kestrel::cli::AddScanCommand(app, exitCode);
  kestrel::cli::AddRecoverCommand(app, exitCode);
  kestrel::cli::AddSourcesCommand(app, exitCode);
  kestrel::cli::AddImageCommand(app, exitCode);
  kestrel::cli::AddMountCommand(app, exitCode);
  // CLI11 would only say that a subcommand is required; name the word it did not know.
  if (argc > 1 && argv[1][0] != '-' && !IsCommand(app, argv[1])) {
    std::fprintf(stderr, "kestrel-cli: unknown command \"%s\"; the commands are %s (--help says more)\n", argv[1],
                 CommandNames(app).c_str());
    return kestrel::cli::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kestrel::cli::kExitUsage;
  }
  return exitCode;
}
