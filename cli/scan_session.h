// Running a scan from the command line, shared by `scan` and `recover`:
// SOURCE and the deep-scan flags, the source resolved once, the truncation
// warning, a progress line on stderr while it is a terminal, and the scan's
// outcome as messages and an exit code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/scan_session.h"
#include "engines/file_recovery_parse.h"
#include "engines/scan_source.h"
#include "platform/disk_list.h"

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
  int32_t partition = -1;   // --partition N; -1: every partition of a partitioned source
  // Open the finished scan of an unchanged source instead of scanning;
  // rescanHint says how to turn that off.
  bool reuse = false;
  std::string rescanHint;
  ScanOptions options() const;
};

// One volume to scan: the source itself, or one partition of a disk or image.
struct ScanTarget {
  ScanSource source;
  int32_t partitionNumber = 0;   // 0: the source is the volume
  std::string heading;           // "partition 5: NTFS MBRNTFS, sectors 75776-83967"; empty for a volume
};

// Adds SOURCE (required), --partition, --deep, --resume and --restart to command.
void AddScanArguments(CLI::App& command, ScanArguments& arguments);

// scan and recover: --reuse-scan turns reuse on.
void AddReuseFlag(CLI::App& command, ScanArguments& arguments);
// mount reuses by default: --rescan turns it off.
void AddRescanFlag(CLI::App& command, ScanArguments& arguments);

// Resolves arguments.source into the volumes to scan: the partition
// --partition names, every partition of a partitioned disk or image in
// order (fast scans; a deep scan takes the whole disk), or the source itself. Prints why and returns false when it cannot
// be used.
bool ResolveScanTargets(const ScanArguments& arguments, std::vector<ScanTarget>& targets);
std::string PartitionHeading(const PartitionDescriptor& volume);

// Warns when the source is short of its volume, then creates the engine and
// scans. Prints its own message on failure and returns the exit code
// (kExitOk, kExitUsage or kExitInterrupted); engine is set on success. A
// reused scan is said in one line, with arguments.rescanHint.
int RunScan(const ScanSource& source, const ScanArguments& arguments, std::unique_ptr<IFileRecoveryParse>& engine);

// After a fast scan that failed or found nothing: what a deep scan does and how to run it.
void PrintDeepScanHint();

}  // namespace kestrel::cli
