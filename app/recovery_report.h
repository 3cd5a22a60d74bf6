// The recovery report: one JSON file per recover run, naming for every file
// where it came from, where it went, what was written and what the content
// check found, so the user can see what is trustworthy and a later run can
// skip what is already done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/recovered_file_outcome.h"
#include "catalogue/found_file_record.h"
#include "platform/unique_fd.h"

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

  void Add(RecoveryReportFile file);
  const std::vector<RecoveryReportFile>& files() const { return files_; }

  // Keeps a journal at path while the run works: its source first, then one
  // line per file (Note and Add), so a run killed midway leaves a record of
  // every file it wrote. 0 or the error.
  int StartJournal(const std::filesystem::path& path);
  // A file about to be published under file.result.path, into the journal only.
  void Note(const RecoveryReportFile& file);
  // Removes the journal (once the report itself is written).
  void EndJournal();

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
  std::filesystem::path journalPath_;
  UniqueFd journal_;
};

// The journal beside a report: "<report>.journal".
std::filesystem::path JournalPathFor(const std::filesystem::path& reportPath);

// What an earlier run of the same source into the same destination wrote, from
// its report and the journal a killed run left: a rerun skips every file whose
// bytes are still there as recorded instead of writing a second copy.
class PreviousRecovery {
 public:
  // Reads reportPath and its journal; only entries written for this source
  // (same path and size) count. Missing or unreadable files give no entries.
  void Load(const std::filesystem::path& reportPath, const RecoveryReportSource& source);
  // The earlier result for this record (same id and name) when its file is
  // still there with the recorded size and SHA-256.
  std::optional<RecoveredFile> StillThere(const FoundFileRecord& record) const;
  size_t size() const { return byId_.size(); }

 private:
  void Take(const std::string& line, const RecoveryReportSource& source);
  std::map<std::string, RecoveredFile> byId_;
  std::map<std::string, std::string> names_;
};

// path made whole and normal, as the report names files and images: a rerun
// typed from another working folder must still find what an earlier run
// wrote. Empty for an empty path; as given when it cannot be made whole.
std::string AbsoluteText(const std::filesystem::path& path);

// The current time as ISO 8601 UTC, "2026-12-09T16:42:21Z".
std::string NowIsoText();

}  // namespace kestrel
