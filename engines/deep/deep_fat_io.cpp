// The deep FAT member's open and reading a found file back: its clusters are
// read one after another from the first, since a formatted or damaged volume
// has no allocation table to follow; a file placed on a volume whose table
// is known is read from the clusters its placement chose.
#include <system_error>

#include "engines/deep/deep_fat_recovery.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {
constexpr uint64_t kLargestCluster = 104857600;
}  // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery() = default;
CProfessionalFatRecovery::~CProfessionalFatRecovery() = default;

int CProfessionalFatRecovery::OpenImage(const std::filesystem::path& image, uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenImageSource(image, letter);
  if (error != kSuccess) return error;
  anchor_ = {};
  finishAnchor_ = {};
  return kSuccess;
}

int CProfessionalFatRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                            uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenPartitionSource(driveNumber, firstSector, sectorCount, letter);
  if (error != kSuccess) return error;
  anchor_ = {};
  finishAnchor_ = {};
  return kSuccess;
}

int CProfessionalFatRecovery::WriteData(const FoundFileRecord& record, DataSink& sink,
                                        const std::function<int(uint64_t)>& report) {
  uint64_t clusterBytes = uint64_t(record.clusterBytes);
  if (record.clusterBytes <= 0 || clusterBytes > kLargestCluster) return kErrWriteFault;
  if (clusterBytes % sectorBytes_) return kErrInvalidParameter;
  if (record.placement() != 0 && placement_.OnVolume(record)) return WritePlacedData(record, sink, report);
  uint64_t spc = clusterBytes / sectorBytes_;
  uint64_t sector = record.itemKey >= 2 ? record.partitionStart + record.dataStart + (record.itemKey - 2) * spc
                                        : record.partitionStart + (record.dataStart >= 32 ? record.dataStart - 32 : 0);
  std::vector<uint8_t> piece(kMaxReadPiece);
  uint64_t left = record.size;
  uint64_t done = 0;
  while (left > 0 && !sink.full()) {
    uint64_t wantBytes = std::min<uint64_t>(kMaxReadPiece, (left + sectorBytes_ - 1) / sectorBytes_ * sectorBytes_);
    int32_t got = 0;
    ReadSectors(int32_t(wantBytes / sectorBytes_), device_, piece.data(), sector, int32_t(sectorBytes_), &got);
    if (got <= 0) return kErrReadFault;
    uint64_t take = std::min<uint64_t>(uint64_t(got) * sectorBytes_, left);
    int error = sink.Write(piece.data(), size_t(take));
    if (error != kSuccess) return error;
    left -= take;
    done += take;
    sector += uint64_t(got);
    int answer = report(done);
    if (answer != 0) return answer;
  }
  return kSuccess;
}

}  // namespace kestrel
