#include <cstdio>
#include <string>

#include "app/source.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "fs/volume_probe.h"

namespace kestrel::cli {

void AddProbeCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("probe", "Tell which file system a source holds");
  auto source = std::make_shared<std::string>();
  command->add_option("SOURCE", *source, "Image file or block device")->required();
  command->callback([source, &exitCode] {
    ScanSource resolved;
    int error = ResolveSource(*source, resolved);
    if (error == 0) error = resolved.probeError;
    if (error != 0) {
      PrintSourceError(*source, error);
      exitCode = kExitUsage;
      return;
    }
    ByteView view(resolved.probe);
    std::printf("%s\n", FileSystemKindName(resolved.kind).c_str());
    if (IsBitLockerBootSector(view)) std::printf("BitLocker-encrypted volume: its files cannot be read without unlocking it\n");
    exitCode = kExitOk;
  });
}

}  // namespace kestrel::cli
