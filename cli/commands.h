// Each subcommand registers itself on the application; main only dispatches.
#pragma once

#include <CLI/CLI.hpp>

namespace kestrel::cli {

// Registers the subcommand; the callback stores the exit code in exitCode.
void AddProbeCommand(CLI::App& app, int& exitCode);
void AddIdentifyCommand(CLI::App& app, int& exitCode);
void AddScanCommand(CLI::App& app, int& exitCode);
void AddRecoverCommand(CLI::App& app, int& exitCode);
void AddSourcesCommand(CLI::App& app, int& exitCode);
void AddImageCommand(CLI::App& app, int& exitCode);
void AddMountCommand(CLI::App& app, int& exitCode);

}  // namespace kestrel::cli
