#include "app/recovered_file_outcome.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

#include "app/file_sha256.h"
#include "app/recovery_destination.h"
#include "catalogue/categories.h"
#include "engines/common/found_file_output.h"
#include "platform/error_codes.h"

namespace kestrel {
namespace {

std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

std::string_view FileOutcomeWord(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::kRecovered: return "recovered";
    case FileOutcome::kDamaged: return "damaged";
    case FileOutcome::kPartial: return "partial";
    case FileOutcome::kFailed: break;
  }
  return "failed";
}

struct timespec FileTimeToTimespec(uint64_t filetime) {
  struct timespec out {};
  constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970-01-01 as a FILETIME
  if (filetime == 0) {
    out.tv_nsec = UTIME_OMIT;
    return out;
  }
  int64_t since = static_cast<int64_t>(filetime) - static_cast<int64_t>(kUnixEpoch);
  int64_t seconds = since / 10'000'000, rest = since % 10'000'000;
  if (rest < 0) {
    rest += 10'000'000;
    --seconds;
  }
  out.tv_sec = static_cast<time_t>(seconds);
  out.tv_nsec = static_cast<long>(rest * 100);
  return out;
}

IntegrityResult WithPlacementVerdict(IntegrityResult check, const FoundFileRecord& record) {
  if (check.verdict != IntegrityVerdict::kUnknown || record.wholeFileCheck() != WholeFileCheck::kFailed) return check;
  return IntegrityResult{IntegrityVerdict::kDamaged, 0,
                         "another file starts inside every placement of its clusters the scan could find"};
}

RecoveredFile JudgeRecoveredFile(const FoundFileRecord& record, const std::filesystem::path& written,
                                 int engineError) {
  RecoveredFile file;
  file.expectedSize = record.size;
  file.error = engineError;
  std::error_code ec;
  bool exists = std::filesystem::is_regular_file(written, ec);
  file.writtenSize = exists ? std::filesystem::file_size(written, ec) : 0;
  if (ec) file.writtenSize = 0;
  if (exists) file.path = written;

  std::string extension = ExtensionOf(record.Name());
  if (exists && file.writtenSize > 0) file.check = CheckFileIntegrity(written, extension);
  else file.check.reason = "nothing was written to check";

  file.check = WithPlacementVerdict(std::move(file.check), record);
  bool complete = engineError == kSuccess && exists && file.writtenSize == record.size;
  if (complete && !file.check.damaged()) {
    file.outcome = FileOutcome::kRecovered;
  } else if (complete) {
    file.outcome = FileOutcome::kDamaged;
    file.reason = "damaged: " + file.check.reason;
  } else if (exists && file.writtenSize > 0) {
    file.outcome = FileOutcome::kPartial;
    std::string cause = engineError == kSuccess || engineError == kErrHandleEof
                            ? "the rest was overwritten or its record is damaged"
                            : ErrorText(engineError);
    int code = engineError == kSuccess ? kErrHandleEof : engineError;
    file.reason = "incomplete: only " + Grouped(file.writtenSize) + " of " + Grouped(record.size) +
                  " bytes could be recovered; " + cause + " (" + std::to_string(code) + ")";
  } else {
    file.outcome = FileOutcome::kFailed;
    int code = engineError == kSuccess ? kErrHandleEof : engineError;
    file.reason = ErrorText(code) + " (" + std::to_string(code) + ")";
    if (record.size > 0 && code == kErrHandleEof) {
      file.reason = "incomplete: none of " + Grouped(record.size) + " bytes could be recovered (" +
                    std::to_string(code) + ")";
    }
  }
  return file;
}

std::string OutcomeFileName(std::string_view name, FileOutcome outcome) {
  if (outcome != FileOutcome::kDamaged && outcome != FileOutcome::kPartial) return std::string(name);
  std::string mark = "." + std::string(FileOutcomeWord(outcome));
  if (name.find(mark + ".") != std::string_view::npos || name.ends_with(mark)) return std::string(name);
  return MarkedName(std::string(name), FileOutcomeWord(outcome)).string();
}

std::filesystem::path OutcomeName(const RecoveredFile& file, const std::filesystem::path& wanted) {
  std::string name = wanted.filename().string();
  std::string marked = OutcomeFileName(name, file.outcome);
  if (marked == name) return wanted;
  return FreeDestination(wanted.parent_path() / marked);
}

void FinishRecoveredFile(RecoveredFile& file, const FoundFileRecord& record) {
  if (file.path.empty()) return;
  if (file.sha256.empty()) Sha256OfFile(file.path, file.sha256);
  struct timespec times[2] = {FileTimeToTimespec(record.accessed), FileTimeToTimespec(record.modified)};
  // A file without times keeps the time it was written; failing to set them
  // loses nothing recovered, so it is not an error.
  ::utimensat(AT_FDCWD, file.path.c_str(), times, 0);
}

RecoveredFile SettleRecoveredFile(const FoundFileRecord& record, const std::filesystem::path& destination,
                                  int engineError) {
  RecoveredFile file = JudgeRecoveredFile(record, destination, engineError);
  if (!file.path.empty()) {
    std::filesystem::path named = OutcomeName(file, destination);
    if (named != destination && std::rename(destination.c_str(), named.c_str()) == 0) file.path = named;
  }
  FinishRecoveredFile(file, record);
  return file;
}

}  // namespace kestrel
