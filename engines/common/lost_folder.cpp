#include "engines/common/lost_folder.h"

namespace kestrel {

std::string LostFolderName(uint64_t key) { return "LostFolder" + std::to_string(key); }

FoundFileRecord LostFolderRecord(EngineKind kind, uint16_t letter, uint64_t key, uint64_t partitionStart) {
  FoundFileRecord folder;
  folder.driveLetter = letter;
  folder.engineKind = uint32_t(kind);
  folder.isDirectory = 1;
  folder.contentValid = 1;
  folder.itemKey = uint32_t(key);
  folder.clusterBytes = -1;
  folder.partitionStart = partitionStart;
  folder.SetName(LostFolderName(key));
  return folder;
}

}  // namespace kestrel
