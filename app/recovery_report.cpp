#include "app/recovery_report.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <fstream>

#include <fcntl.h>

#include <nlohmann/json.hpp>

#include "app/file_sha256.h"
#include "catalogue/categories.h"
#include "platform/file_io.h"

namespace kestrel {
namespace {


using Json = nlohmann::ordered_json;

Json TimeOrNull(uint64_t filetime) {
  std::string text = IsoTimeText(filetime);
  return text.empty() ? Json(nullptr) : Json(text);
}

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json FileJson(const RecoveryReportFile& file) {
  const FoundFileRecord& r = file.record;
  const RecoveredFile& result = file.result;
  bool carved = r.engineKind == uint32_t(EngineKind::kCarving);
  Json source;
  source["engine"] = std::string(EngineKindWord(r.engineKind));
  std::string name(r.Name());
  if (carved) {
    source["path"] = nullptr;
    source["carved_sector"] = r.entrySector;
  } else {
    // Engines give the folder path with or without its closing '/'.
    std::string folder = file.sourcePath;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    source["path"] = folder + name;
    source["carved_sector"] = nullptr;
  }
  source["partition_start_sector"] = r.partitionStart;
  source["deleted"] = r.isDeleted != 0;

  Json check;
  check["result"] = std::string(IntegrityVerdictWord(result.check.verdict));
  check["reason"] = result.check.reason;
  check["offset"] = result.check.damaged() ? Json(result.check.offset) : Json(nullptr);

  Json out;
  out["id"] = FoundRecordId(r);
  out["name"] = name;
  out["source"] = source;
  out["destination"] = TextOrNull(AbsoluteText(result.path));
  out["expected_size"] = result.expectedSize;
  out["written_size"] = result.writtenSize;
  out["outcome"] = std::string(FileOutcomeWord(result.outcome));
  out["reason"] = TextOrNull(result.reason);
  out["error_code"] = result.error;
  out["check"] = check;
  out["sha256"] = TextOrNull(result.sha256);
  out["times"] = {{"modified", TimeOrNull(r.modified)},
                  {"accessed", TimeOrNull(r.accessed)},
                  {"created", TimeOrNull(r.created)},
                  {"recovered", file.finishedAt}};
  return out;
}

Json SourceJson(const RecoveryReportSource& source) {
  return {{"path", source.path}, {"size", source.size}, {"kind", source.kind}, {"scan", source.scan}};
}

bool SameSource(const Json& doc, const RecoveryReportSource& source) {
  const Json* s = doc.contains("source") ? &doc["source"] : nullptr;
  if (!s || !s->is_object() || s->value("size", uint64_t(0)) != source.size) return false;
  // Reports of earlier versions hold the path as it was typed.
  std::string path = s->value("path", std::string());
  return path == source.path || AbsoluteText(path) == source.path;
}

FileOutcome OutcomeFromWord(const std::string& word) {
  for (FileOutcome outcome : {FileOutcome::kRecovered, FileOutcome::kDamaged, FileOutcome::kPartial}) {
    if (word == FileOutcomeWord(outcome)) return outcome;
  }
  return FileOutcome::kFailed;
}

IntegrityVerdict VerdictFromWord(const std::string& word) {
  for (IntegrityVerdict verdict : {IntegrityVerdict::kIntact, IntegrityVerdict::kDamaged}) {
    if (word == IntegrityVerdictWord(verdict)) return verdict;
  }
  return IntegrityVerdict::kUnknown;
}

std::string TextOrEmpty(const Json& value) { return value.is_string() ? value.get<std::string>() : std::string(); }

void AppendLine(int fd, const Json& line) {
  if (fd < 0) return;
  std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  // One write per line on an O_APPEND descriptor: a kill leaves whole lines
  // and at most one cut last line, which the reader skips.
  WriteAll(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

std::filesystem::path JournalPathFor(const std::filesystem::path& reportPath) {
  std::filesystem::path journal = reportPath;
  journal += ".journal";
  return journal;
}

void RecoveryReport::Add(RecoveryReportFile file) {
  AppendLine(journal_.get(), FileJson(file));
  files_.push_back(std::move(file));
}

void RecoveryReport::Note(const RecoveryReportFile& file) { AppendLine(journal_.get(), FileJson(file)); }

int RecoveryReport::StartJournal(const std::filesystem::path& path) {
  journalPath_ = path;
  int error = 0;
  journal_ = OpenFd(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644, error);
  if (error != 0) return error;
  Json header;
  header["format"] = std::string(kRecoveryReportFormat) + "-journal";
  header["source"] = SourceJson(source_);
  AppendLine(journal_.get(), header);
  for (const auto& file : files_) AppendLine(journal_.get(), FileJson(file));
  return 0;
}

void RecoveryReport::EndJournal() {
  if (journal_.get() < 0) return;
  journal_.Close(false);
  std::error_code ec;
  std::filesystem::remove(journalPath_, ec);
}

void PreviousRecovery::Take(const std::string& line, const RecoveryReportSource& source) {
  (void)source;
  Json file = Json::parse(line, nullptr, false);
  if (!file.is_object() || !file.contains("id") || !file["id"].is_string()) return;
  RecoveredFile result;
  result.outcome = OutcomeFromWord(TextOrEmpty(file.value("outcome", Json())));
  result.path = TextOrEmpty(file.value("destination", Json()));
  result.expectedSize = file.value("expected_size", uint64_t(0));
  result.writtenSize = file.value("written_size", uint64_t(0));
  result.reason = TextOrEmpty(file.value("reason", Json()));
  result.error = file.value("error_code", 0);
  result.sha256 = TextOrEmpty(file.value("sha256", Json()));
  if (file.contains("check") && file["check"].is_object()) {
    result.check.verdict = VerdictFromWord(TextOrEmpty(file["check"].value("result", Json())));
    result.check.reason = TextOrEmpty(file["check"].value("reason", Json()));
    result.check.offset = file["check"].value("offset", Json()).is_number() ? file["check"]["offset"].get<uint64_t>() : 0;
  }
  std::string id = file["id"];
  if (result.path.empty() || result.sha256.empty()) {
    byId_.erase(id);
    return;
  }
  names_[id] = TextOrEmpty(file.value("name", Json()));
  byId_[id] = std::move(result);
}

void PreviousRecovery::Load(const std::filesystem::path& reportPath, const RecoveryReportSource& source) {
  byId_.clear();
  names_.clear();
  std::ifstream report(reportPath);
  if (report) {
    Json doc = Json::parse(report, nullptr, false);
    if (doc.is_object() && doc.value("format", std::string()) == kRecoveryReportFormat && SameSource(doc, source) &&
        doc.contains("files") && doc["files"].is_array()) {
      for (const Json& file : doc["files"]) Take(file.dump(), source);
    }
  }
  // The journal is newer than the report beside it: its lines win.
  std::ifstream journal(JournalPathFor(reportPath));
  std::string line;
  if (!journal || !std::getline(journal, line)) return;
  Json header = Json::parse(line, nullptr, false);
  if (!header.is_object() || !SameSource(header, source)) return;
  while (std::getline(journal, line)) Take(line, source);
}

std::optional<RecoveredFile> PreviousRecovery::StillThere(const FoundFileRecord& record) const {
  std::string id = FoundRecordId(record);
  auto it = byId_.find(id);
  if (it == byId_.end()) return std::nullopt;
  auto name = names_.find(id);
  if (name == names_.end() || name->second != record.Name()) return std::nullopt;
  const RecoveredFile& earlier = it->second;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(earlier.path, ec) ||
      std::filesystem::file_size(earlier.path, ec) != earlier.writtenSize || ec) {
    return std::nullopt;
  }
  std::string digest;
  if (Sha256OfFile(earlier.path, digest) != 0 || digest != earlier.sha256) return std::nullopt;
  return earlier;
}

std::string FoundRecordId(const FoundFileRecord& record) {
  std::string kind(EngineKindWord(record.engineKind));
  std::replace(kind.begin(), kind.end(), ' ', '-');
  std::transform(kind.begin(), kind.end(), kind.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return kind + ":" + std::to_string(record.partitionStart) + ":" + std::to_string(record.entrySector) + ":" +
         std::to_string(record.itemKey);
}

std::string AbsoluteText(const std::filesystem::path& path) {
  if (path.empty()) return std::string();
  std::error_code ec;
  std::filesystem::path whole = std::filesystem::absolute(path, ec);
  return ec ? path.string() : whole.lexically_normal().string();
}

std::string NowIsoText() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

RecoveryReport::RecoveryReport(RecoveryReportSource source, std::filesystem::path destination)
    : source_(std::move(source)), destination_(std::move(destination)), startedAt_(NowIsoText()) {}

std::string RecoveryReport::ToJson() const {
  Json doc;
  doc["format"] = std::string(kRecoveryReportFormat);
  doc["version"] = kRecoveryReportVersion;
  doc["source"] = SourceJson(source_);
  doc["destination"] = destination_.string();
  doc["started"] = startedAt_;
  doc["finished"] = NowIsoText();
  uint64_t counts[4] = {0, 0, 0, 0};
  for (const auto& file : files_) ++counts[static_cast<int>(file.result.outcome)];
  doc["totals"] = {{"recovered", counts[0]},
                   {"failed", counts[1] + counts[2] + counts[3]},
                   {"damaged", counts[1]},
                   {"partial", counts[2]}};
  doc["files"] = Json::array();
  for (const auto& file : files_) doc["files"].push_back(FileJson(file));
  return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int RecoveryReport::Write(const std::filesystem::path& path) const {
  std::string text = ToJson();
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  ReplacementFile file(path, temporary);
  if (file.openError() != 0) return file.openError();
  int error = WriteAll(file.fd(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (error != 0) return error;
  return file.Commit();
}

}  // namespace kestrel
