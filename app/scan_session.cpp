#include "app/scan_session.h"

#include "app/finished_scans.h"
#include "engines/common/fast_engine_base.h"
#include "engines/deep/deep_recovery.h"
#include "engines/engine_factory.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

int ReportProgress(void* user, int32_t progress, int32_t scale, int32_t remaining, uint64_t done, uint64_t total,
                   uint64_t found, int32_t) {
  const auto* hooks = static_cast<const ScanHooks*>(user);
  if (!hooks->progress) return 0;
  ScanProgress report{int32_t(int64_t(progress) * scale / 100), remaining, done, total, found};
  return hooks->progress(report) ? 0 : kCancelled;
}

// Settles the resume question before the pass: a saved scan is continued
// unless the choice or the user says to start afresh.
void SettleResume(CProfessionalRecovery& deep, ResumeChoice choice, const ScanHooks& hooks) {
  if (!deep.HasResumableScan()) return;
  bool resume = true;
  if (choice == ResumeChoice::kRestart) {
    resume = false;
  } else if (choice == ResumeChoice::kAsk && hooks.askResume) {
    resume = hooks.askResume();
  }
  if (!resume) deep.DiscardSavedScan();
}

ScanOutcome Reused() {
  ScanOutcome outcome;
  outcome.reused = true;
  return outcome;
}

int RunPass(IFileRecoveryParse& engine, const ScanHooks& hooks) {
  if (hooks.passStarting) hooks.passStarting();
  // The callback only reads the hooks; the engine interface carries a plain void*.
  engine.SetCallbacks(ReportProgress, nullptr, const_cast<ScanHooks*>(&hooks), 100);
  int result = engine.Scan(std::nullopt);
  engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  if (hooks.passEnded) hooks.passEnded();
  return result;
}

}  // namespace

ScanOutcome RunScan(const ScanSource& source, const ScanOptions& options, const ScanHooks& hooks,
                    std::unique_ptr<IFileRecoveryParse>& engine) {
  engine = CreateEngineForSource(source, options.deep);
  if (!engine) {
    if (source.probeError != kSuccess) return {ScanStatus::kUnreadable, source.probeError};
    return {ScanStatus::kNoFileSystem};
  }
  CProfessionalRecovery* deep = nullptr;
  if (options.deep) {
    deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
    if (!deep) {
      engine.reset();
      return {ScanStatus::kUnreadable, kErrReadFault};
    }
    SettleResume(*deep, options.resume, hooks);
    if (options.reuseFinished && deep->HasFinishedScan()) {
      if (auto folder = FindFinishedScan(source, FinishedScanKind::kDeep);
          folder && deep->ReopenFinishedScan(*folder) == kSuccess) {
        return Reused();
      }
      // Whatever the failed reopen opened goes with that engine: the scan
      // starts from a fresh one, which replaces the finished scan.
      engine = CreateEngineForSource(source, true);
      deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
      if (!deep) {
        engine.reset();
        return {ScanStatus::kUnreadable, kErrReadFault};
      }
    }
  }
  auto* fast = dynamic_cast<CFastEngineBase*>(engine.get());
  if (fast && options.reuseFinished) {
    // A store that will not open is no reason to fail: the source is scanned.
    if (auto store = FindFinishedScan(source, FinishedScanKind::kFast);
        store && fast->ReopenFinishedScan(*store) == kSuccess) {
      return Reused();
    }
  }
  int result = RunPass(*engine, hooks);
  if (result == kSuccess) {
    if (fast && fast->log()) RememberFinishedScan(source, FinishedScanKind::kFast, fast->log()->recordsPath());
    if (deep) RememberFinishedScan(source, FinishedScanKind::kDeep, deep->scanFolder());
    return {};
  }
  // A stopped scan keeps its engine: what it found so far can still be
  // listed and recovered (a window shows it, as after a finished scan).
  if (result == kCancelled) return {ScanStatus::kStopped, kCancelled, deep && deep->lastScanSaved()};
  engine.reset();
  return {ScanStatus::kFailed, result};
}

}  // namespace kestrel
