#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"
#include "platform/disk_list.h"

namespace kestrel::cli {

namespace {

const char* KindName(EntryKind kind) {
  switch (kind) {
    case EntryKind::kVolume: return "volume";
    case EntryKind::kGap: return "gap";
    case EntryKind::kWholeDisk: return "whole disk";
  }
  return "";
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

nlohmann::ordered_json EntryJson(const PartitionDescriptor& e) {
  return {{"entry", e.entryNumber},
          {"kind", KindName(e.kind)},
          {"partition", e.partitionNumber},
          {"type", e.type},
          {"fileSystem", e.fileSystemName},
          {"label", e.label},
          {"firstSector", e.firstSector},
          {"sectorCount", e.sectorCount},
          {"totalBytes", e.totalBytes},
          {"usedBytes", e.usedBytes},
          {"freeBytes", e.freeBytes},
          {"mountPoint", e.mountPoint.string()},
          {"device", e.device.string()}};
}

}  // namespace

void AddSourcesCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("sources", "List the disks, partitions and free stretches there are to scan");
  struct Options {
    std::vector<std::string> images;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  command->add_option("IMAGE", options->images, "Image files to list as disks of their own");
  command->add_flag("--json", options->json, "Print the list as JSON");
  command->callback([options, &exitCode] {
    EnumerationSettings settings;
    settings.images.assign(options->images.begin(), options->images.end());
    DiskList list;
    if (!RefreshDiskList(list, settings)) {
      std::fprintf(stderr, "kestrel-cli: cannot read %s\n", settings.mountInfo.c_str());
      exitCode = kExitUsage;
      return;
    }
    for (const auto& [path, error] : list.imageErrors) PrintSourceError(path, error);
    exitCode = list.imageErrors.empty() ? kExitOk : kExitPartial;

    if (options->json) {
      nlohmann::ordered_json doc = nlohmann::ordered_json::array();
      for (const auto& [number, disk] : list.disks) {
        nlohmann::ordered_json entries = nlohmann::ordered_json::array();
        for (const auto& entry : list.entries.at(number)) entries.push_back(EntryJson(entry));
        doc.push_back({{"disk", number},
                       {"device", disk.device.string()},
                       {"image", disk.isImage},
                       {"model", disk.model},
                       {"bytes", disk.bytes},
                       {"sectorBytes", disk.sectorBytes},
                       {"removable", disk.removable},
                       {"partitionTable", disk.tableKind},
                       {"entries", std::move(entries)}});
      }
      std::printf("%s\n", doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
      return;
    }
    for (const auto& [number, disk] : list.disks) {
      std::printf("disk %d\t%s\t%s\t%llu bytes\t%s%s%s\n", number, disk.device.c_str(), OrDash(disk.model).c_str(),
                  static_cast<unsigned long long>(disk.bytes), disk.removable ? "removable" : "fixed",
                  disk.tableKind.empty() ? "" : "\t", disk.tableKind.c_str());
      // entry, kind, partition, file system, label, first sector, sectors, total, used, free, mount point
      for (const auto& e : list.entries.at(number)) {
        std::printf("  %u\t%s\t%d\t%s\t%s\t%llu\t%llu\t%llu\t%llu\t%llu\t%s\n", e.entryNumber, KindName(e.kind),
                    e.partitionNumber, OrDash(e.fileSystemName).c_str(), OrDash(e.label).c_str(),
                    static_cast<unsigned long long>(e.firstSector), static_cast<unsigned long long>(e.sectorCount),
                    static_cast<unsigned long long>(e.totalBytes), static_cast<unsigned long long>(e.usedBytes),
                    static_cast<unsigned long long>(e.freeBytes), OrDash(e.mountPoint.string()).c_str());
      }
    }
  });
}

}  // namespace kestrel::cli
