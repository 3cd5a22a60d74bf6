// What an engine can tell about a found file beyond its fixed record: how its
// data is stored. Engines that know offer it beside IFileRecoveryParse; a
// caller asks with dynamic_cast and treats a missing interface as "nothing".
#pragma once

#include <cstdint>

#include "catalogue/found_file_record.h"

namespace kestrel {

inline constexpr uint32_t kItemEncrypted = 0x1;   // copied as stored: the bytes stay encrypted
inline constexpr uint32_t kItemCompressed = 0x2;  // decompressed on recovery
inline constexpr uint32_t kItemSparse = 0x4;      // holes written as zeros

class IFoundItemDetails {
 public:
  virtual ~IFoundItemDetails() = default;
  // kItem* bits for a file record of this engine; 0 when none apply or the
  // record cannot be read any more.
  virtual uint32_t ItemFlags(const FoundFileRecord& record) = 0;
};

}  // namespace kestrel
