#include "engines/fast/fast_ext_recovery.h"

#include "platform/error_codes.h"

namespace kestrel {

int CFastExtRecovery::OpenImage(const std::filesystem::path&, uint16_t) { return kSuccess; }

int CFastExtRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t) {
  firstSector_ = firstSector;
  sectorCount_ = sectorCount;
  return OpenPhysicalDrive(device_, driveNumber);
}

}  // namespace kestrel
