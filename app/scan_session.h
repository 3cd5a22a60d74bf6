// Running one scan of a resolved source: the engine from the factory, the
// deep scan's resume question, progress and stop through the front end's
// hooks, and an outcome a front end turns into its own messages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "engines/file_recovery_parse.h"
#include "engines/scan_source.h"

namespace kestrel {

// What to do with a saved, unfinished deep scan of the source.
enum class ResumeChoice { kAsk, kResume, kRestart };

struct ScanOptions {
  bool deep = false;
  ResumeChoice resume = ResumeChoice::kAsk;  // deep scans only
  // Open the finished scan (fast or deep, as deep says) of an unchanged
  // source (app/finished_scans.h) instead of scanning it again.
  bool reuseFinished = false;
};

struct ScanProgress {
  int32_t percent = 0;            // as the engine reports it; a deep scan's may pass 100
  int32_t remainingSeconds = -1;  // -1 when unknown
  uint64_t sectorsDone = 0;       // the deep pass's counters; 0 from fast engines
  uint64_t sectorsTotal = 0;
  uint64_t filesFound = 0;
};

// Every hook may be empty.
struct ScanHooks {
  // Deep scans with choice kAsk, when a saved unfinished scan of the source
  // exists: true continues it, false starts afresh.
  std::function<bool()> askResume;
  // Around the engine's pass only (after the resume question): a front end
  // that lets the user stop a scan arms its stop control here.
  std::function<void()> passStarting;
  std::function<void()> passEnded;
  // Each progress report; false stops the scan.
  std::function<bool(const ScanProgress&)> progress;
};

enum class ScanStatus {
  kDone,          // scanned; the engine holds the found records
  kUnreadable,    // the source could not be opened or probed: error says why
  kNoFileSystem,  // fast scan: no file system we parse
  kFailed,        // the engine's scan failed: error
  kStopped,       // progress asked to stop
};

struct ScanOutcome {
  ScanStatus status = ScanStatus::kDone;
  int error = 0;            // Win32-numbered, for kUnreadable and kFailed
  bool stateSaved = false;  // kStopped deep scans: the pass saved where it stopped, so it can be resumed
  bool reused = false;      // kDone: a finished scan's store was opened, nothing was scanned
};

// Creates the engine (the deep composite for deep scans) from the factory and
// scans. engine is set for kDone and kStopped (holding what was found before
// the stop) and null otherwise. Every finished scan is remembered for reuse.
ScanOutcome RunScan(const ScanSource& source, const ScanOptions& options, const ScanHooks& hooks,
                    std::unique_ptr<IFileRecoveryParse>& engine);

}  // namespace kestrel
