#include "app/recovery_report.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include <nlohmann/json.hpp>

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
  out["destination"] = TextOrNull(result.path.string());
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

}  // namespace

std::string FoundRecordId(const FoundFileRecord& record) {
  std::string kind(EngineKindWord(record.engineKind));
  std::replace(kind.begin(), kind.end(), ' ', '-');
  std::transform(kind.begin(), kind.end(), kind.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return kind + ":" + std::to_string(record.partitionStart) + ":" + std::to_string(record.entrySector) + ":" +
         std::to_string(record.itemKey);
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
  doc["source"] = {{"path", source_.path}, {"size", source_.size}, {"kind", source_.kind}, {"scan", source_.scan}};
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
