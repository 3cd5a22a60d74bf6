#include "cli/source.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/error_codes.h"
#include "engines/engine_factory.h"

namespace kestrel::cli {

int ResolveSource(const std::filesystem::path& path, Source& out) {
  out = Source{};
  out.path = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return LastError();
  if (S_ISDIR(st.st_mode)) return kErrAccessDenied;
  if (S_ISBLK(st.st_mode)) {
    out.isImage = false;
    return ResolveBlockDevice(path, out.partition);
  }
  return kSuccess;
}

int ReadSourceProbe(const Source& source, std::vector<uint8_t>& probe) {
  if (source.isImage) return ReadImageProbe(source.path, probe);
  return ReadPartitionProbe(source.partition.driveNumber, source.partition.firstSector, probe);
}

std::unique_ptr<IFileRecoveryParse> CreateEngine(const Source& source, bool deep) {
  if (source.isImage) return CreateEngineForImage(source.path, 0, deep);
  return CreateEngineForPartition(source.partition.driveNumber, source.partition.firstSector,
                                  source.partition.sectorCount, 0, deep);
}

void PrintSourceError(const std::filesystem::path& path, int code) {
  std::fprintf(stderr, "kestrel-cli: %s: %s (%d)\n", path.c_str(), ErrorText(code).c_str(), code);
}

}  // namespace kestrel::cli
