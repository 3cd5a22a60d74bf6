#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/found_items.h"
#include "catalogue/categories.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/scan_session.h"
#include "engines/found_item_details.h"

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

}  // namespace

void AddScanCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("scan", "Fast-scan a source and summarise the deleted files found");
  struct Options {
    ScanArguments scan;
    bool list = false;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  AddScanArguments(*command, options->scan);
  command->add_flag("--list", options->list,
                    "One found record per line: path, name, size, modified, deleted, contentValid, engineKind, "
                    "storage (encrypted/compressed/sparse or -)");
  command->add_flag("--json", options->json, "Print the summary (and the list) as JSON");
  command->callback([options, &exitCode] {
    ScanSource source;
    if (!ResolveScanSource(options->scan, source)) {
      exitCode = kExitUsage;
      return;
    }
    std::unique_ptr<IFileRecoveryParse> engine;
    exitCode = RunScan(source, options->scan.options(), engine);
    if (exitCode != kExitOk) return;
    std::vector<FoundItem> found;
    int error = CollectFound(*engine, found);
    if (error != 0) {
      PrintSourceError(options->scan.source, error);
      exitCode = kExitUsage;
      return;
    }
    ScanSummary summary = SummariseFound(found);
    if (options->json) {
      nlohmann::ordered_json doc;
      doc["source"] = options->scan.source;
      doc["files"] = summary.files;
      doc["folders"] = summary.folders;
      for (size_t i = 0; i < kSummaryCategories.size(); ++i) {
        doc["categories"][std::string(kSummaryCategories[i])] = summary.filesByCategory[i];
      }
      if (options->list) {
        doc["records"] = nlohmann::ordered_json::array();
        for (const FoundItem& item : found) {
          const FoundFileRecord& r = item.record;
          doc["records"].push_back({{"path", item.folder},
                                    {"name", std::string(r.Name())},
                                    {"size", r.size},
                                    {"modified", TimeText(r.modified)},
                                    {"deleted", r.isDeleted},
                                    {"contentValid", r.contentValid},
                                    {"engineKind", r.engineKind},
                                    {"isDirectory", r.isDirectory},
                                    {"storage", StorageText(*engine, r)}});
        }
      }
      std::printf("%s\n", doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
      return;
    }
    if (options->list) {
      for (const FoundItem& item : found) {
        const FoundFileRecord& r = item.record;
        std::printf("%s\t%s\t%llu\t%s\t%u\t%u\t%u\t%s\n", TsvField(item.folder).c_str(),
                    TsvField(r.Name()).c_str(), static_cast<unsigned long long>(r.size), TimeText(r.modified).c_str(),
                    r.isDeleted, r.contentValid, r.engineKind, StorageText(*engine, r).c_str());
      }
      return;
    }
    std::printf("Found %llu files in %llu folders\n", static_cast<unsigned long long>(summary.files),
                static_cast<unsigned long long>(summary.folders));
    for (size_t i = 0; i < kSummaryCategories.size(); ++i) {
      std::printf("  %-9s %llu\n", std::string(kSummaryCategories[i]).c_str(),
                  static_cast<unsigned long long>(summary.filesByCategory[i]));
    }
  });
}

}  // namespace kestrel::cli
