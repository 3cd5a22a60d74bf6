// Running a scan from the command line, shared by `scan` and `recover` (and
// any command that needs found records): the engine from the factory, a
// progress line on stderr while it is a terminal, and the found records
// gathered by walking the folder tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/deep_scan.h"
#include "cli/source.h"
#include "engines/file_recovery_parse.h"

namespace CLI {
class App;
}  // namespace CLI

namespace kestrel::cli {

struct ScanOptions {
  bool deep = false;
  ResumeChoice resume = ResumeChoice::kAsk;  // deep scans only
};

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
bool ResolveScanSource(const ScanArguments& arguments, Source& source);

// Resolves nothing: source must be resolved. Creates the engine and scans.
// Prints its own message on failure and returns the exit code (kExitOk or
// kExitUsage); engine is set on success.
int RunScan(const Source& source, const ScanOptions& options, std::unique_ptr<IFileRecoveryParse>& engine);

// One found record with where it was found.
struct FoundItem {
  FoundFileRecord record;
  std::string folder;  // GetItemPath: ancestors joined with '/', each followed by '/'
  int32_t level = 0;   // depth of the folder holding it (root 0)
};

// Every record the engine lists (folders and files), folders walked breadth
// first from the root. 0 or the first listing error.
int CollectFound(IFileRecoveryParse& engine, std::vector<FoundItem>& out);

// "\r<text>" on stderr while stderr is a terminal; Clear() ends the line.
class ProgressLine {
 public:
  ProgressLine();
  bool active() const { return active_; }
  void Show(const std::string& text);
  void Clear();

 private:
  bool active_ = false;
  size_t shown_ = 0;
};

}  // namespace kestrel::cli
