#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/found_items.h"
#include "app/selection.h"
#include "catalogue/categories.h"
#include "cli/commands.h"
#include "cli/deep_scan.h"
#include "cli/messages.h"
#include "cli/scan_session.h"
#include "cli/selection_arguments.h"
#include "engines/found_item_details.h"
#include "engines/scan_damage.h"

namespace kestrel::cli {

namespace {

// Found names are UTF-8 but may hold anything; keep one record per line.
std::string TsvField(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return out;
}

// How a file's data is stored, when its engine can tell: "encrypted" (copied
// as stored, still encrypted), "compressed", "sparse", joined by ','; "-" otherwise.
std::string StorageText(IFileRecoveryParse& engine, const FoundFileRecord& record) {
  auto* details = dynamic_cast<IFoundItemDetails*>(&engine);
  uint32_t flags = details && !record.IsDirectory() ? details->ItemFlags(record) : 0;
  std::string text;
  if (flags & kItemEncrypted) text += "encrypted,";
  if (flags & kItemCompressed) text += "compressed,";
  if (flags & kItemSparse) text += "sparse,";
  if (text.empty()) return "-";
  text.pop_back();
  return text;
}


// With --check, the content check of every found file, in found's order
// (folders get an unknown result and are not read); empty without it.
using ContentChecks = std::vector<IntegrityResult>;

ContentChecks CheckFoundFiles(IFileRecoveryParse& engine, const std::vector<FoundItem>& found) {
  ContentChecks checks(found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    if (!found[i].record.IsDirectory()) checks[i] = CheckFoundContent(engine, found[i].record);
  }
  return checks;
}

// The list's check column: the full content check when one ran, otherwise
// the whole-file check the scan itself made.
std::string CheckWord(const FoundFileRecord& record, const ContentChecks& checks, size_t index) {
  if (checks.empty()) return std::string(WholeFileCheckWord(record.wholeFileCheck()));
  switch (checks[index].verdict) {
    case IntegrityVerdict::kIntact: return "passed";
    case IntegrityVerdict::kDamaged: return "failed";
    case IntegrityVerdict::kUnknown: break;
  }
  return "-";
}

uint64_t DamagedCount(const ContentChecks& checks) {
  uint64_t count = 0;
  for (const IntegrityResult& check : checks) count += check.damaged() ? 1 : 0;
  return count;
}

nlohmann::ordered_json IsoTimeOrNull(uint64_t filetime) {
  std::string text = IsoTimeText(filetime);
  return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

// The absolute sector where a file's data starts, where the record tells it:
// the first cluster of a FAT or exFAT file, the hit of a carved one; null
// for NTFS records, whose data runs only the engine reads.
nlohmann::ordered_json FirstSectorOrNull(const FoundFileRecord& r, int32_t sectorBytes) {
  auto kind = EngineKind(r.engineKind);
  if (kind == EngineKind::kCarving) return r.entrySector;
  bool clustered = kind == EngineKind::kFastFat || kind == EngineKind::kDeepFat || kind == EngineKind::kFastExfat ||
                   kind == EngineKind::kDeepExfat;
  if (!clustered || r.IsDirectory() || r.itemKey < 2 || r.clusterBytes <= 0 || sectorBytes <= 0) return nullptr;
  return r.partitionStart + r.dataStart + uint64_t(r.itemKey - 2) * uint64_t(r.clusterBytes / sectorBytes);
}

// The summary (and with list, the records) of one scanned volume as JSON.
nlohmann::ordered_json ScanDocument(IFileRecoveryParse& engine, const std::vector<FoundItem>& found, bool list,
                                    const ScanTarget& target, const ContentChecks& checks) {
  ScanSummary summary = SummariseFound(found);
  nlohmann::ordered_json doc;
  doc["files"] = summary.files;
  doc["folders"] = summary.folders;
  for (size_t i = 0; i < kSummaryCategories.size(); ++i) {
    doc["categories"][std::string(kSummaryCategories[i])] = summary.filesByCategory[i];
  }
  if (!checks.empty()) doc["damagedFiles"] = DamagedCount(checks);
  // Records or blocks the scan could not parse: how many, and where and why
  // for the first few (offsets in bytes on the source). Engines that parse
  // nothing report none.
  ScanDamage damage;
  if (auto* tally = dynamic_cast<IScanDamage*>(&engine)) damage = tally->Damage();
  doc["damage"]["count"] = damage.count;
  doc["damage"]["first"] = nlohmann::ordered_json::array();
  for (const DamageSite& site : damage.first) {
    doc["damage"]["first"].push_back({{"offset", site.offset}, {"reason", site.reason}});
  }
  if (!list) return doc;
  doc["records"] = nlohmann::ordered_json::array();
  for (size_t i = 0; i < found.size(); ++i) {
    const FoundItem& item = found[i];
    const FoundFileRecord& r = item.record;
    doc["records"].push_back({{"path", item.folder},
                              {"name", std::string(r.Name())},
                              {"size", r.size},
                              {"modified", TimeText(r.modified)},
                              {"deleted", r.isDeleted},
                              {"contentValid", unsigned(r.FirstBlockValid())},
                              {"engineKind", r.engineKind},
                              {"isDirectory", r.isDirectory},
                              {"storage", StorageText(engine, r)},
                              {"folder", r.IsDirectory()},
                              {"times",
                               {{"modified", IsoTimeOrNull(r.modified)},
                                {"created", IsoTimeOrNull(r.created)},
                                {"accessed", IsoTimeOrNull(r.accessed)}}},
                              {"category", r.IsDirectory() ? nlohmann::ordered_json(nullptr)
                                                           : nlohmann::ordered_json(FileCategory(r.Name()))},
                              {"extension", ExtensionOf(r.Name())},
                              {"engine", EngineKindWord(r.engineKind)},
                              {"contentCheck", r.FirstBlockValid() ? "passed" : "failed"},
                              {"firstSector", FirstSectorOrNull(r, target.source.sectorBytes)},
                              {"layout", std::string(DataLayoutWord(r.layout()))},
                              {"check", CheckWord(r, checks, i)}});
    if (target.partitionNumber > 0) doc["records"].back()["partition"] = target.partitionNumber;
    if (!checks.empty()) {
      // Why the check judged as it did; where the damage starts when it did.
      const IntegrityResult& check = checks[i];
      auto& record = doc["records"].back();
      record["checkReason"] = r.IsDirectory() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(check.reason);
      record["checkOffset"] = check.damaged() ? nlohmann::ordered_json(check.offset) : nlohmann::ordered_json(nullptr);
    }
  }
  return doc;
}

void PrintScanText(IFileRecoveryParse& engine, const std::vector<FoundItem>& found, bool list,
                   const ContentChecks& checks) {
  if (list) {
    for (size_t i = 0; i < found.size(); ++i) {
      const FoundItem& item = found[i];
      const FoundFileRecord& r = item.record;
      std::printf("%s\t%s\t%llu\t%s\t%u\t%u\t%u\t%s\t%s\t%s\n", TsvField(item.folder).c_str(),
                  TsvField(r.Name()).c_str(), static_cast<unsigned long long>(r.size), TimeText(r.modified).c_str(),
                  r.isDeleted, unsigned(r.FirstBlockValid()), r.engineKind, StorageText(engine, r).c_str(),
                  std::string(DataLayoutWord(r.layout())).c_str(),
                  CheckWord(r, checks, i).c_str());
    }
    return;
  }
  ScanSummary summary = SummariseFound(found);
  std::printf("Found %llu files in %llu folders\n", static_cast<unsigned long long>(summary.files),
              static_cast<unsigned long long>(summary.folders));
  for (size_t i = 0; i < kSummaryCategories.size(); ++i) {
    std::printf("  %-9s %llu\n", std::string(kSummaryCategories[i]).c_str(),
                static_cast<unsigned long long>(summary.filesByCategory[i]));
  }
  if (!checks.empty()) {
    std::printf("Damaged files: %llu\n", static_cast<unsigned long long>(DamagedCount(checks)));
  }
}

}  // namespace

void AddScanCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("scan", "Fast-scan a source and summarise the deleted files found");
  struct Options {
    ScanArguments scan;
    SelectionArguments selection;
    bool list = false;
    bool json = false;
    bool check = false;
  };
  auto options = std::make_shared<Options>();
  AddScanArguments(*command, options->scan);
  AddReuseFlag(*command, options->scan);
  command->add_flag("--list", options->list,
                    "One found record per line: path, name, size, modified, deleted, contentValid, engineKind, "
                    "storage (encrypted/compressed/sparse or -), layout (how the data was placed: chain, contiguous, "
                    "around-live, inferred or -), check (the whole-file content check: passed, failed or -)");
  command->add_flag("--json", options->json, "Print the summary (and the list) as JSON");
  command->add_flag("--check", options->check,
                    "Read every found file and check its content by its format: the check column becomes passed "
                    "(intact), failed (damaged) or - (no check for the type), JSON records gain checkReason and "
                    "checkOffset, and the summary counts the damaged files");
  AddSelectionArguments(*command, options->selection);
  command->callback([options, &exitCode] {
    // With a selection only the files it takes are shown: exactly what
    // `recover` with the same selection writes.
    Selection selection;
    std::vector<ScanTarget> targets;
    if (!ResolveSelectionAndTargets(options->selection, options->scan, selection, targets)) {
      exitCode = kExitUsage;
      return;
    }
    // A partitioned source scanned whole: every partition under its own heading.
    bool headings = options->scan.partition < 0 && targets.front().partitionNumber > 0;
    nlohmann::ordered_json partitions = nlohmann::ordered_json::array();
    size_t scanned = 0;
    int lastFailure = kExitOk;
    for (ScanTarget& target : targets) {
      if (headings && !options->json) std::printf("# %s\n", target.heading.c_str());
      std::fflush(stdout);
      std::unique_ptr<IFileRecoveryParse> engine;
      int code = RunScan(target.source, options->scan, engine);
      if (code == kExitInterrupted) {
        exitCode = code;
        return;
      }
      std::vector<FoundItem> found;
      if (code == kExitOk) {
        if (int error = CollectFound(*engine, found); error != 0) {
          PrintSourceError(options->scan.source, error);
          code = kExitUsage;
        }
      }
      if (code != kExitOk) {
        lastFailure = code;
        continue;
      }
      ++scanned;
      if (!selection.empty()) found = SelectFound(*engine, found, selection);
      ContentChecks checks = options->check ? CheckFoundFiles(*engine, found) : ContentChecks();
      if (options->json) {
        nlohmann::ordered_json doc = ScanDocument(*engine, found, options->list, target, checks);
        if (!headings) {
          nlohmann::ordered_json whole;
          whole["source"] = options->scan.source;
          whole.update(doc);
          std::printf("%s\n", whole.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        } else {
          nlohmann::ordered_json part;
          part["partition"] = target.partitionNumber;
          part["heading"] = target.heading;
          part.update(doc);
          partitions.push_back(std::move(part));
        }
      } else {
        PrintScanText(*engine, found, options->list, checks);
      }
      if (!options->scan.deep && SummariseFound(found).files == 0) PrintDeepScanHint();
    }
    if (headings && options->json) {
      nlohmann::ordered_json whole;
      whole["source"] = options->scan.source;
      whole["partitions"] = std::move(partitions);
      std::printf("%s\n", whole.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    }
    // Some partitions scanned and some not is a partial result, and says so.
    exitCode = scanned == targets.size() ? kExitOk : scanned == 0 ? lastFailure : kExitPartial;
  });
}

}  // namespace kestrel::cli
