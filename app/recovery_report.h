// The recovery report: one JSON file per recover run, naming for every file
// where it came from, where it went, what was written and what the content
// check found, so the user can see what is trustworthy and a later run can
// skip what is already done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/recovered_file_outcome.h"
#include "catalogue/found_file_record.h"

namespace kestrel {

inline constexpr std::string_view kRecoveryReportName = "recovery-report.json";
inline constexpr std::string_view kRecoveryReportFormat = "kestrel-recovery-report";
inline constexpr int kRecoveryReportVersion = 1;

// A found record's identity across runs over the same source: the engine
// kind, the volume's first sector, the sector of the record's metadata (the
// hit sector for a carved file) and the engine's key (first cluster, MFT
// record number). The same scan of the same source gives the same id.
std::string FoundRecordId(const FoundFileRecord& record);

struct RecoveryReportSource {
  std::string path;       // as given on the command line
  uint64_t size = 0;      // bytes of the image or device
  std::string kind;       // "image" or "device"
  std::string scan;       // "fast" or "deep"
};

struct RecoveryReportFile {
  FoundFileRecord record;
  std::string sourcePath;  // folder path on the source ("" at the root); unused for carved files
  RecoveredFile result;
  std::string finishedAt;  // ISO 8601 UTC, when its outcome was settled
};

class RecoveryReport {
 public:
  RecoveryReport(RecoveryReportSource source, std::filesystem::path destination);

  void Add(RecoveryReportFile file) { files_.push_back(std::move(file)); }
  const std::vector<RecoveryReportFile>& files() const { return files_; }

  // The whole report as JSON text.
  std::string ToJson() const;
  // Writes it to path (a temporary renamed over, so a crash leaves the old
  // report or the new one): 0 or the error.
  int Write(const std::filesystem::path& path) const;

 private:
  RecoveryReportSource source_;
  std::filesystem::path destination_;
  std::string startedAt_;
  std::vector<RecoveryReportFile> files_;
};

// The current time as ISO 8601 UTC, "2026-12-09T16:42:21Z".
std::string NowIsoText();

}  // namespace kestrel
