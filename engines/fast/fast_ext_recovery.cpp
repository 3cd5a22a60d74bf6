#include "engines/fast/fast_ext_recovery.h"

#include "platform/error_codes.h"

namespace kestrel {

int CFastExtRecovery::OpenImage(const std::filesystem::path&, uint16_t) { return kSuccess; }

int CFastExtRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t) {
  firstSector_ = firstSector;
  sectorCount_ = sectorCount;
  return OpenPhysicalDrive(device_, driveNumber);
}

int CFastExtRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path&, int32_t) {
  return record ? kErrFileNotFound : kErrInvalidParameter;
}

int CFastExtRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path&, std::vector<uint8_t>&,
                                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) {
  bufferSize = 0;
  int result = record ? kErrFileNotFound : kErrInvalidParameter;
  if (callback) callback(user, 100, result);
  return result;
}

}  // namespace kestrel
