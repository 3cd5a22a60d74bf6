// The record every engine lists for a folder whose own entry is gone but whose
// files were found: "LostFolder<n>", n the folder's key on its volume.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/found_file_record.h"

namespace kestrel {

std::string LostFolderName(uint64_t key);

// A folder record named LostFolderName(key), keyed key, of engine kind,
// with no cluster size known (clusterBytes -1) until the engine sets one.
FoundFileRecord LostFolderRecord(EngineKind kind, uint16_t letter, uint64_t key, uint64_t partitionStart);

}  // namespace kestrel
