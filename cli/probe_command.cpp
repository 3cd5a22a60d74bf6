#include <cstdio>
#include <string>

#include "app/source.h"
#include "app/source_partitions.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "fs/volume_probe.h"

namespace kestrel::cli {

namespace {

void NoteBootCopy(const std::string& path, const ScanSource& source) {
  if (source.boot.copy != BootCopy::kFatBackup && source.boot.copy != BootCopy::kNtfsBackup) return;
  std::fprintf(stderr, "kestrel-cli: %s: the boot sector is damaged; reading %s instead\n", path.c_str(),
               DescribeBootCopy(source.boot, uint32_t(source.sectorBytes)).c_str());
}

}  // namespace

void AddProbeCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("probe", "Tell which file system a source holds");
  auto source = std::make_shared<std::string>();
  auto partition = std::make_shared<int32_t>(-1);
  command->add_option("SOURCE", *source, "Image file or block device")->required();
  command->add_option("--partition", *partition,
                      "Only partition N of a whole disk or whole-disk image (as `kestrel-cli sources` numbers it)")
      ->check(CLI::NonNegativeNumber);
  command->callback([source, partition, &exitCode] {
    SourceVolumes listed;
    int error = ListSourceVolumes(*source, listed);
    ScanSource resolved;
    if (error == 0 && listed.partitioned && *partition < 0) {
      // The table, then one line per partition: number, file system, first sector, sector count.
      std::printf("partition table %s\n", listed.disk.tableKind.empty() ? "kernel" : listed.disk.tableKind.c_str());
      for (const auto& volume : listed.volumes) {
        ResolveListedVolume(*source, listed.disk, volume, resolved);
        NoteBootCopy(*source, resolved);
        std::printf("%d\t%s\t%llu\t%llu\n", volume.partitionNumber, FileSystemKindName(resolved.kind).c_str(),
                    static_cast<unsigned long long>(volume.firstSector),
                    static_cast<unsigned long long>(volume.sectorCount));
      }
      exitCode = kExitOk;
      return;
    }
    if (error == 0 && *partition >= 0) {
      error = ResolveSourcePartition(*source, *partition, resolved);
    } else if (error == 0) {
      error = ResolveSource(*source, resolved);
    }
    if (error == 0) error = resolved.probeError;
    if (error != 0) {
      PrintSourceError(*source, error);
      exitCode = kExitUsage;
      return;
    }
    NoteBootCopy(*source, resolved);
    ByteView view(resolved.probe);
    std::printf("%s\n", FileSystemKindName(resolved.kind).c_str());
    if (IsBitLockerBootSector(view)) std::printf("BitLocker-encrypted volume: its files cannot be read without unlocking it\n");
    exitCode = kExitOk;
  });
}

}  // namespace kestrel::cli
